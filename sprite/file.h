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
// A save replaces the file whole or not at all: the lines are held until Close(), which hands
// them to the platform's native::Replacement. Until then nothing at the path changes, and a
// save dropped before Close() leaves everything as it was.
//
// Every step reports failure by throwing SpriteFileError, and a failure to reach the disk
// surfaces from Close(), never as a silent success.
class SpriteTextFile {
 public:
  // Checks that the file at `path` may be written and prepares its replacement; nothing at
  // `path` changes yet. Anything there that is not a regular file is refused at once.
  explicit SpriteTextFile(const std::filesystem::path& path);
  // Without a successful Close(), the target stays as it was and nothing is left behind.
  ~SpriteTextFile() = default;

  SpriteTextFile(const SpriteTextFile&) = delete;
  SpriteTextFile& operator=(const SpriteTextFile&) = delete;

  // A line break inside the text would split one line of the file into two and shift every
  // line after it, so such text is refused instead of written.
  void WriteLine(std::string_view text);

  // Puts the lines written so far in the target's place; once closed, further writes fail.
  void Close();

 private:
  native::Replacement replacement_;
  // The whole sprite is a few hundred bytes, so it is held here until Close(): a file written
  // in place is then emptied only when everything that replaces it is known.
  std::string content_;
  bool open_ = true;
};

}  // namespace kavoni
