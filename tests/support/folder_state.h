#pragma once

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "support/temp_dir.h"

namespace kavoni::testing {

// What a folder holds, one level deep: each entry's name, kind, permission bits and, for
// regular files, bytes. Two states compare equal only if a save changed nothing at all.
class FolderState {
 public:
  struct Entry {
    std::string name;
    std::filesystem::file_type type;
    std::filesystem::perms perms;
    std::string bytes;

    bool operator==(const Entry& other) const {
      return std::tie(name, type, perms, bytes) ==
             std::tie(other.name, other.type, other.perms, other.bytes);
    }
  };

  static FolderState Of(const std::filesystem::path& folder) {
    FolderState state;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
      const std::filesystem::file_status status = item.symlink_status();
      const std::u8string name = item.path().filename().u8string();
      Entry entry{std::string(name.begin(), name.end()), status.type(), status.permissions(), {}};
      if (status.type() == std::filesystem::file_type::regular) {
        entry.bytes = ReadBytes(item.path());
      }
      state.entries_.push_back(entry);
    }
    std::sort(state.entries_.begin(), state.entries_.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return state;
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const Entry& entry : entries_) {
      names.push_back(entry.name);
    }
    return names;
  }

  bool operator==(const FolderState& other) const { return entries_ == other.entries_; }

  friend void PrintTo(const FolderState& state, std::ostream* out) {
    for (const Entry& entry : state.entries_) {
      *out << "\n  " << entry.name << " (type " << static_cast<int>(entry.type) << ", mode "
           << std::oct << static_cast<unsigned>(entry.perms) << std::dec << ", "
           << entry.bytes.size() << " bytes)";
    }
  }

 private:
  std::vector<Entry> entries_;
};

}  // namespace kavoni::testing
