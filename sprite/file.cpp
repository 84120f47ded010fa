#include "sprite/file.h"

#include <cstdint>
#include <optional>
#include <random>
#include <system_error>
#include <utility>

namespace kavoni {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
// The longest file name that the common file systems take (bytes on POSIX, UTF-16 units on
// Windows).
constexpr std::size_t kMaxNameLength = 255;
// Every temporary file ends so, and starts with a full stop, hidden on POSIX.
constexpr std::string_view kTemporarySuffix = ".kavoni-save.tmp";
// Far longer than any save takes, so a temporary file this old belongs to no save under way.
constexpr std::chrono::minutes kAbandonedAfter{10};

std::string Hex(std::uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string digits(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4) {
    digits[static_cast<std::size_t>(i)] = kDigits[value & 0xf];
  }
  return digits;
}

// A name of its own for every save, in the target's folder so that the rename stays on one
// file system. Two saves of the same file, from two windows, each write and rename their own
// file, and nobody can make a save's name unusable by creating it first.
std::filesystem::path TemporaryNameFor(const std::filesystem::path& target) {
  std::random_device random;
  std::string unique = ".";
  unique.append(Hex((std::uint64_t{random()} << 32) ^ random())).append(kTemporarySuffix);
  const std::filesystem::path target_name = target.filename();
  std::filesystem::path name = ".";
  name += target_name;
  name += unique;
  if (name.native().size() > kMaxNameLength) {
    // A target whose name is near the limit still saves: its stand-in carries a short name
    // derived from the long one (FNV-1a).
    std::uint64_t hash = 14695981039346656037u;
    for (const auto unit : target_name.native()) {
      hash = (hash ^ static_cast<std::uint64_t>(unit)) * 1099511628211u;
    }
    name = ".";
    name += Hex(hash);
    name += unique;
  }
  return target.parent_path() / name;
}

// Compared in the system's own encoding, which holds every name that a folder can list.
bool IsTemporaryName(const std::filesystem::path& name) {
  const std::filesystem::path::string_type& text = name.native();
  const std::filesystem::path::string_type suffix =
      std::filesystem::path(kTemporarySuffix).native();
  return text.size() > suffix.size() && text.front() == '.' &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A save that was killed leaves its temporary file behind; the next save in the folder clears
// the user's own that are long abandoned, and never one that another save is writing now.
void ClearAbandonedTemporaries(const std::filesystem::path& folder) noexcept {
  std::error_code error;
  std::filesystem::directory_iterator entries(folder.empty() ? "." : folder, error);
  for (const std::filesystem::directory_iterator end; !error && entries != end;
       entries.increment(error)) {
    const std::filesystem::path& path = entries->path();
    if (IsTemporaryName(path.filename()) && native::IsAbandoned(path, kAbandonedAfter)) {
      native::RemoveIfPresent(path);
    }
  }
}

}  // namespace

SpriteTextFile::SpriteTextFile(const std::filesystem::path& path)
    : target_(native::FinalPath(path)) {
  try {
    if (std::optional<native::File> existing = native::OpenExistingForWriting(target_)) {
      target_file_ = std::move(*existing);
    }
    // Every other name of the file must see the new sprite too, which a rename cannot do.
    if (target_file_ && target_file_.LinkCount() > 1) {
      return;
    }
    temporary_ = TemporaryNameFor(target_);
    std::optional<native::File> temporary = native::CreateNew(temporary_);
    if (temporary && (!target_file_ || target_file_.LendAttributesTo(*temporary))) {
      temporary_file_ = std::move(*temporary);
      native::PrepareToReplace(target_file_);
      return;
    }
    // The folder takes no new files from this user, or the copy could not be given the file's
    // access: the file itself is written, once every line is known, as a plain open for
    // writing would.
    if (temporary) {
      temporary = std::nullopt;
      native::RemoveIfPresent(temporary_);
    }
    temporary_.clear();
    if (!target_file_) {
      throw SpriteFileError("this folder does not let the user create files");
    }
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
      WriteInPlace(target_file_);
      return;
    }
    temporary_file_.WriteAll(content_);
    temporary_file_.Sync();
    temporary_file_.Close();
    if (!native::Replace(temporary_, target_, target_file_)) {
      // A sticky folder, say, or an access list: the user may write the file but not replace
      // it. It is written through the handle that was checked when the save began, never
      // opened again by name, since the name may lead somewhere else by now.
      if (!target_file_) {
        throw SpriteFileError("this folder does not let the user save the file");
      }
      WriteInPlace(target_file_);
      native::RemoveIfPresent(temporary_);
    }
    temporary_.clear();
    target_file_ = native::File();
    ClearAbandonedTemporaries(target_.parent_path());
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
  temporary_file_ = native::File();
  target_file_ = native::File();
  if (!temporary_.empty()) {
    native::RemoveIfPresent(temporary_);
    temporary_.clear();
  }
}

}  // namespace kavoni
