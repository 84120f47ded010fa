#include "sprite/file.h"

#include <cerrno>
#include <cstring>

namespace kavoni {

namespace {
constexpr std::string_view kLineEnd = "\r\n";
}  // namespace

SpriteTextFile::SpriteTextFile(const std::string& path) : path_(path) {
  errno = 0;
  out_.open(path_, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!out_.is_open()) {
    Fail("cannot create");
  }
}

SpriteTextFile::~SpriteTextFile() {
  // Only reached still open on the failure path, where the first error has already been
  // raised; a second one from closing would add nothing.
  if (out_.is_open()) {
    out_.close();
  }
}

void SpriteTextFile::WriteLine(std::string_view text) {
  if (text.find_first_of("\r\n") != std::string_view::npos) {
    throw SpriteFileError("line break inside a line for " + path_);
  }
  if (!out_.is_open()) {
    throw SpriteFileError("write after close of " + path_);
  }
  errno = 0;
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  out_.write(kLineEnd.data(), static_cast<std::streamsize>(kLineEnd.size()));
  if (!out_) {
    Fail("cannot write");
  }
}

void SpriteTextFile::Close() {
  if (!out_.is_open()) {
    throw SpriteFileError("close of " + path_ + " which is not open");
  }
  errno = 0;
  out_.flush();
  if (!out_) {
    Fail("cannot flush");
  }
  out_.close();
  if (!out_) {
    Fail("cannot close");
  }
}

void SpriteTextFile::Fail(std::string_view what) const {
  std::string message(what);
  message += ' ';
  message += path_;
  if (errno != 0) {
    message += ": ";
    message += std::strerror(errno);
  }
  throw SpriteFileError(message);
}

}  // namespace kavoni
