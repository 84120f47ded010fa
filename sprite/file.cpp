#include "sprite/file.h"

#include <cstdint>
#include <optional>
#include <system_error>
#include <utility>

namespace kavoni {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
// As many links as the Linux kernel follows before it gives up with ELOOP.
constexpr int kMaxLinkHops = 40;
// The longest file name that the common file systems take (bytes on POSIX, UTF-16 units on
// Windows).
constexpr std::size_t kMaxNameLength = 255;

std::filesystem::path FollowLinks(const std::filesystem::path& path) {
  std::filesystem::path current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    std::error_code error;
    if (!std::filesystem::is_symlink(current, error)) {
      return current;
    }
    const std::filesystem::path next = std::filesystem::read_symlink(current, error);
    if (error) {
      throw SpriteFileError("cannot read the link: " + error.message());
    }
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  throw SpriteFileError("too many levels of links");
}

// One fixed name per target, in the target's own folder so that the rename stays on one file
// system. A save that could not remove its temporary file leaves it under a name that says
// whose it is, hidden on POSIX, and the next save over the same file clears it: leftovers can
// never pile up.
std::filesystem::path TemporaryNameFor(const std::filesystem::path& target) {
  const std::filesystem::path target_name = target.filename();
  std::filesystem::path name = ".";
  name += target_name;
  name += ".kavoni-save.tmp";
  if (name.native().size() > kMaxNameLength) {
    // A target whose name is near the limit still saves: its stand-in gets a short name
    // derived from the long one (FNV-1a).
    std::uint64_t hash = 14695981039346656037u;
    for (const auto unit : target_name.native()) {
      hash = (hash ^ static_cast<std::uint64_t>(unit)) * 1099511628211u;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string digits(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4) {
      digits[static_cast<std::size_t>(i)] = kHex[hash & 0xf];
    }
    name = ".kavoni-save-" + digits + ".tmp";
  }
  return target.parent_path() / name;
}

}  // namespace

SpriteTextFile::SpriteTextFile(const std::filesystem::path& path) : target_(FollowLinks(path)) {
  try {
    std::optional<native::File> existing = native::OpenExistingForWriting(target_);
    // Every other name of the file must see the new sprite too, which a rename cannot do.
    if (existing && existing->LinkCount() > 1) {
      out_ = std::move(*existing);
      return;
    }
    temporary_ = TemporaryNameFor(target_);
    native::RemoveIfPresent(temporary_);
    std::optional<native::File> temporary = native::CreateNew(temporary_);
    if (temporary && (!existing || existing->LendAttributesTo(*temporary))) {
      out_ = std::move(*temporary);
      return;
    }
    // The folder takes no new files from this user, or the copy could not be given the file's
    // permission bits: the file itself is written, once every line is known, as a plain open
    // for writing would.
    temporary = std::nullopt;
    native::RemoveIfPresent(temporary_);
    temporary_.clear();
    if (!existing) {
      throw SpriteFileError("this folder does not let the user create files");
    }
    out_ = std::move(*existing);
  } catch (...) {
    Discard();
    throw;
  }
}

SpriteTextFile::~SpriteTextFile() {
  if (open_) {
    Discard();
  }
}

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
  try {
    if (temporary_.empty()) {
      WriteInPlace(out_);
      return;
    }
    out_.WriteAll(content_);
    out_.Sync();
    out_.Close();
    if (!native::Replace(temporary_, target_)) {
      // A sticky folder, say: the user may write the file but not replace it.
      std::optional<native::File> target = native::OpenExistingForWriting(target_);
      if (!target) {
        throw SpriteFileError("the file went away while it was being saved");
      }
      WriteInPlace(*target);
      native::RemoveIfPresent(temporary_);
    }
    temporary_.clear();
    native::SyncFolder(target_.parent_path());
  } catch (...) {
    Discard();
    throw;
  }
}

void SpriteTextFile::WriteInPlace(native::File& file) const {
  file.Truncate();
  file.WriteAll(content_);
  file.Sync();
  file.Close();
}

void SpriteTextFile::Discard() noexcept {
  out_ = native::File();
  if (!temporary_.empty()) {
    native::RemoveIfPresent(temporary_);
    temporary_.clear();
  }
}

}  // namespace kavoni
