#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/temp_dir.h"
#include "window/win32/system_library.h"
#include "window/win32/windows_api.h"

namespace kavoni {
namespace {

std::wstring LowerCase(std::wstring text) {
  CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::wstring FileOf(HMODULE module) {
  std::wstring name(32768, L'\0');
  name.resize(GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size())));
  return name;
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  return folder;
}

// The current folder for the life of the object.
class InFolder {
 public:
  explicit InFolder(const std::filesystem::path& folder) {
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);
    before_ = before;
    if (!SetCurrentDirectoryW(folder.c_str())) {
      throw std::runtime_error("cannot change the current folder");
    }
  }
  ~InFolder() { SetCurrentDirectoryW(before_.c_str()); }
  InFolder(const InFolder&) = delete;
  InFolder& operator=(const InFolder&) = delete;

 private:
  std::wstring before_;
};

// Both ways that a system library is found: with the search flags (Windows 8 on, and Windows 7
// with KB2533623) and by the system folder's full path (Windows 7 without it).
class SystemLibraryTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    saved_ = SystemLibrarySearch();
    SystemLibrarySearch().search_flags = GetParam();
  }
  void TearDown() override { SystemLibrarySearch() = saved_; }

  LibrarySearch saved_{};
};

TEST_P(SystemLibraryTest, LoadsFromTheSystemFolder) {
  for (const wchar_t* name : {L"oleacc.dll", L"comdlg32.dll", L"shcore.dll"}) {
    SCOPED_TRACE(::testing::Message() << std::filesystem::path(name).string());
    const Library library = LoadSystemLibrary(name);
    ASSERT_TRUE(library);
    EXPECT_EQ(LowerCase(FileOf(library.get())), LowerCase(SystemFolder() + L"\\" + name));
  }
}

// A library of a name that the system folder does not hold, planted beside the program and in
// the current folder, where a plain LoadLibrary would find it, is refused.
TEST_P(SystemLibraryTest, NeverLoadsALibraryFromBesideTheProgramOrTheCurrentFolder) {
  const std::filesystem::path program = FileOf(nullptr);
  const std::filesystem::path beside = program.parent_path() / "kavoni_planted.dll";
  ASSERT_TRUE(std::filesystem::exists(beside)) << "the build puts it beside the tests";
  testing::TempDir folder;
  std::filesystem::copy_file(beside, folder / "kavoni_planted_here.dll");
  const InFolder in_folder(folder.path());
  for (const wchar_t* name : {L"kavoni_planted.dll", L"kavoni_planted_here.dll"}) {
    SCOPED_TRACE(::testing::Message() << std::filesystem::path(name).string());
    HMODULE plain = LoadLibraryW(name);
    ASSERT_NE(plain, nullptr) << "the planted library is where a plain load finds it";
    FreeLibrary(plain);
    EXPECT_THROW(LoadSystemLibrary(name), std::runtime_error);
  }
}

INSTANTIATE_TEST_SUITE_P(Ways, SystemLibraryTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "WithSearchFlags" : "ByFullPath");
                         });

}  // namespace
}  // namespace kavoni
