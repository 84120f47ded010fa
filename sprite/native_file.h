#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

// How a save puts new content in the place of a file, by each system's own rules. This header
// is the only door to the system's file calls; native_file_posix.cpp and native_file_windows.cpp
// (with the native_file_windows_*.cpp beside it) each hold one system's whole policy behind it:
// which links are followed, when the file is replaced by a rename and when it is written in place,
// what the new file keeps of the old one, and which leftovers of killed saves are cleared. Every
// failure throws SpriteFileError.
namespace kavoni::native {

class Replacement {
 public:
  // Finds the file that a save to `path` replaces and checks that this user may write it;
  // anything there that is not a regular file is refused at once, without waiting on it.
  // Nothing at `path` changes yet.
  explicit Replacement(const std::filesystem::path& path);
  // Without a successful Commit(), the file stays as it was and nothing is left beside it.
  ~Replacement();

  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Puts `content` in the file's place: whole or not at all, except where the file has to be
  // written in place (see the platform's side), and on the disk before it returns.
  void Commit(std::string_view content);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kavoni::native
