#pragma once

#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kavoni {

class SpriteFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The sprite text file, written line by line: every line ends in CR LF and its bytes go out
// exactly as given, whatever the platform's own line ends are.
//
// Every step reports failure by throwing SpriteFileError. A failure that only shows when the
// buffer reaches the disk (a full disk, say) surfaces from Close(), never as a silent success.
// The destructor closes a file that Close() did not, so the file is released on every path;
// lines written before a failure stay in the file.
class SpriteTextFile {
 public:
  // Creates the file, or empties it if it exists. The path is used as given.
  explicit SpriteTextFile(const std::string& path);
  ~SpriteTextFile();

  SpriteTextFile(const SpriteTextFile&) = delete;
  SpriteTextFile& operator=(const SpriteTextFile&) = delete;

  // A line break inside the text would split one line of the file into two and shift every
  // line after it, so such text is refused instead of written.
  void WriteLine(std::string_view text);

  // Flushes and closes; once closed, further writes fail.
  void Close();

 private:
  [[noreturn]] void Fail(std::string_view what) const;

  std::string path_;
  std::ofstream out_;
};

}  // namespace kavoni
