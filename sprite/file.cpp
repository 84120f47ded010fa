#include "sprite/file.h"

namespace kavoni {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

SpriteTextFile::SpriteTextFile(const std::filesystem::path& path) : replacement_(path) {}

void SpriteTextFile::WriteLine(std::string_view text) {
  if (text.find_first_of("\r\n") != std::string_view::npos) {
    throw SpriteFileError("line break inside a line");
  }
  if (!open_) {
    throw SpriteFileError("write after close");
  }
  content_ += text;
  content_ += kLineEnd;
}

void SpriteTextFile::Close() {
  if (!open_) {
    throw SpriteFileError("close of a file that is not open");
  }
  open_ = false;
  replacement_.Commit(content_);
}

}  // namespace kavoni
