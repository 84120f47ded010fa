#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sprite/native_file.h"

namespace kavoni {

class SpriteFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The sprite text file, written line by line: every line ends in CR LF and its bytes go out
// exactly as given, whatever the platform's own line ends are.
//
// A save replaces the file whole or not at all. The lines go to a temporary file of the save's
// own beside the target, which gets the target's access, is synced to the disk and is then
// renamed over the target in one step; on any failure the temporary file is removed and the
// target is left as it was. A link is followed and the file it points to is the one replaced.
// Where a rename would lose something (a file with several hard links, an access list that
// cannot be copied) or is not allowed (a folder the user may not create files in, or may not
// replace the file in), the file is written in place instead, through the handle opened when
// the save began, and only once every line is known.
//
// Every step reports failure by throwing SpriteFileError, and a failure to reach the disk
// surfaces from Close(), never as a silent success.
class SpriteTextFile {
 public:
  // Checks that the file at `path` may be written and prepares its replacement; nothing at
  // `path` changes yet. Anything there that is not a regular file is refused at once.
  explicit SpriteTextFile(const std::filesystem::path& path);
  // Without a successful Close(), the target stays as it was and nothing is left behind.
  ~SpriteTextFile();

  SpriteTextFile(const SpriteTextFile&) = delete;
  SpriteTextFile& operator=(const SpriteTextFile&) = delete;

  // A line break inside the text would split one line of the file into two and shift every
  // line after it, so such text is refused instead of written.
  void WriteLine(std::string_view text);

  // Puts the lines written so far in the target's place; once closed, further writes fail.
  void Close();

 private:
  void WriteInPlace(native::File& file) const;
  void Discard() noexcept;

  // The file that is replaced: the path given, with any links followed.
  std::filesystem::path target_;
  // The target as it was checked when the save began, if it was there: written in place
  // through this, never reopened by name.
  native::File target_file_;
  // Where the new content waits for the rename; empty when the target is written in place.
  std::filesystem::path temporary_;
  native::File temporary_file_;
  // The whole sprite is a few hundred bytes, so it is held here until Close(): a target
  // written in place is then emptied only when everything that replaces it is known.
  std::string content_;
  bool open_ = true;
};

}  // namespace kavoni
