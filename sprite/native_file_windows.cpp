// Saving on Windows: how a file is replaced, chosen for what the file is before anything is
// touched, and done. The new content goes to a temporary file beside the target, created for
// this user alone and shared with nobody while it is open, and given the target's marks (see
// native_file_windows_marks.cpp) before a byte is written; that file is then renamed over the
// target: by handle and with POSIX semantics where the volume has them (Windows 10 1809 and
// later, on NTFS), since sync clients, the search indexer and virus scanners hold files open and
// only that rename succeeds while they do; elsewhere with MoveFileExW, which any open handle on
// the target stops. A lock that goes away is waited for a moment.
//
// The file is written in place instead, through the handle opened and checked when the save
// began, where only that keeps what it is: other names (hard links), EFS encryption, an owner
// or compression that a new file could not be given, a folder where this user may not create
// files, a file this user may write but not delete, and a file that stays held. Any other
// failure fails the save and leaves the old file as it was: a passing error never changes the
// way of saving.
//
// Every path goes to the wide ("W") calls in the extended-length form, as the file system's own
// UTF-16, so any file name the user can type opens, however long its path, whatever the ANSI
// code page holds.
#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>

#include "sprite/file.h"
#include "sprite/native_file.h"
#include "sprite/native_file_windows_calls.h"
#include "sprite/native_file_windows_in_place.h"
#include "sprite/native_file_windows_leftovers.h"
#include "sprite/native_file_windows_marks.h"
#include "sprite/native_file_windows_paths.h"
#include "sprite/temporary_name.h"

namespace kavoni::native {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// NTFS, ReFS, exFAT and FAT32's long names all take 255 UTF-16 units.
constexpr std::size_t kNameMax = 255;

// The longest name that a temporary file in `folder` may have. In the extended-length form only
// the name's own limit applies; a folder that could not be put in that form (a device path)
// must leave the whole path within MAX_PATH.
std::size_t TemporaryNameLimit(const std::wstring& folder) {
  if (folder.starts_with(L"\\\\?\\")) {
    return kNameMax;
  }
  return folder.size() + 1 < MAX_PATH ? std::min(kNameMax, MAX_PATH - 1 - folder.size()) : 0;
}

// Opens the existing regular file at `path` for reading and writing without changing it, which
// proves the user may write it. Nothing there: an empty handle.
Handle OpenExisting(const std::wstring& path) {
  const DWORD attributes = Calls().get_file_attributes(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      return {};
    }
    Fail("cannot look at the file", error);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    Fail("not a regular file", ERROR_DIRECTORY);
  }
  // Windows refuses to write a read-only file, and so must the replacement, which could
  // otherwise rename straight over it. Asked here rather than left to the open below, which
  // lets a privileged process through on some file systems.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    Fail("the file is read-only", ERROR_ACCESS_DENIED);
  }
  // Reading the old content lets a write in place put it back; reading the access list lets it
  // be copied. The sharing flags let others work with the file meanwhile, and let it be renamed
  // over while this handle stays open. A file that may be written but not read is replaced as
  // ever; written in place, it fails before anything changes, as its old bytes cannot be kept.
  constexpr DWORD kAccess = GENERIC_WRITE | FILE_READ_ATTRIBUTES | READ_CONTROL;
  Handle file(Calls().create_file(path.c_str(), kAccess | GENERIC_READ, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  if (!file && GetLastError() == ERROR_ACCESS_DENIED) {
    file = Handle(Calls().create_file(path.c_str(), kAccess, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL));
  }
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      return {};
    }
    Fail("cannot open the file for writing", error);
  }
  // Names such as CON or NUL open devices, and a pipe takes anything; none holds a sprite.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) {
    Fail("not a regular file", ERROR_BAD_FILE_TYPE);
  }
  return file;
}

// Whether this user may create files in `folder`: the right that creating one needs, asked of
// the folder itself, so that a failure to create the temporary file later is a failure, never a
// reason to write in place.
bool FolderTakesNewFiles(const std::wstring& folder) {
  const Handle opened(Calls().create_file(folder.c_str(), FILE_ADD_FILE, kShareAll, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  if (opened) {
    return true;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED) {
    return false;
  }
  Fail("cannot open the folder", error);
}

// What Windows answers to a request to delete the open file `file`, which replacing it needs:
// 0, ERROR_ACCESS_DENIED where this user may not, or ERROR_SHARING_VIOLATION where another
// program holds it without sharing that.
DWORD DeleteAccess(HANDLE file) {
  const HANDLE deleting = Calls().reopen_file(file, DELETE, kShareAll, 0);
  if (deleting == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
      Fail("cannot check the file", error);
    }
    return error;
  }
  Calls().close_handle(deleting);
  return ERROR_SUCCESS;
}

// What Windows answers while another program holds a file in a way that stops a rename: for a
// moment, as a virus scanner does, or for as long as it keeps it open.
bool IsLocked(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

// What Windows before 10 1809, and file systems other than NTFS, answer to a rename by handle
// with POSIX semantics.
bool IsUnsupported(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED ||
         error == ERROR_INVALID_LEVEL;
}

// Tries a rename, and again after 10, 20, 40, 80 and 160 ms while a lock stops it: a third of
// a second in all, enough for a scan of a file this small.
template <typename Rename>
DWORD RenameWaitingForLocks(Rename rename) {
  DWORD error = rename();
  for (DWORD wait = 10; IsLocked(error) && wait <= 160; wait *= 2) {
    Sleep(wait);
    error = rename();
  }
  return error;
}

}  // namespace

struct Replacement::State {
  std::wstring target;
  // The folder that holds it, with its trailing backslash.
  std::wstring folder;
  // The target as it was checked when the save began, if it was there: written in place
  // through this, never reopened by name.
  Handle target_file;
  // The new content's file, once it is created; empty when the target is written in place.
  std::wstring temporary;
  Handle temporary_file;
  bool posix_semantics = false;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() { DropTemporary(); }

  // Removes the temporary file: through its handle where it is still open, so that nobody can
  // open it between a close and a delete, and by name where it was closed for the older rename.
  void DropTemporary() noexcept {
    if (temporary.empty()) {
      temporary_file = Handle();
      return;
    }
    FILE_DISPOSITION_INFO dispose{};
    dispose.DeleteFile = TRUE;
    const bool disposed =
        temporary_file && Calls().set_file_information(temporary_file.get(), FileDispositionInfo,
                                                       &dispose, sizeof dispose);
    temporary_file = Handle();
    if (!disposed) {
      Calls().delete_file(temporary.c_str());
    }
    temporary.clear();
  }

  // Renames the temporary file over the target. False, with the target's handle still open,
  // when only a lock that did not go away stopped it.
  bool Rename() {
    DWORD error = ERROR_NOT_SUPPORTED;
    if (posix_semantics) {
      error = RenameWaitingForLocks(
          [this] { return Calls().rename_by_handle(temporary_file.get(), target.c_str()); });
      if (error == ERROR_SUCCESS) {
        // The handle is now the target's, and the name it had is gone. The new name reaches
        // the disk with the file's own metadata, as MoveFileExW's write-through makes it.
        temporary.clear();
        if (!Calls().flush_file_buffers(temporary_file.get())) {
          Fail("cannot sync the renamed file", GetLastError());
        }
        return true;
      }
    }
    if (IsUnsupported(error)) {
      // The older rename fails while any handle on the target is open, this save's own too,
      // so the fallback to writing in place goes with it.
      temporary_file.Close();
      target_file = Handle();
      error = RenameWaitingForLocks(
          [this] { return Calls().rename_by_name(temporary.c_str(), target.c_str()); });
      if (error == ERROR_SUCCESS) {
        temporary.clear();
        return true;
      }
    }
    if (!IsLocked(error) || !target_file) {
      Fail("cannot move the file into place", error);
    }
    return false;
  }
};

Replacement::Replacement(const std::filesystem::path& path) : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.target = FinalPath(ExtendedLengthPath(path.native()));
  const SplitPath split = Split(state.target);
  state.folder = split.folder;
  state.target_file = OpenExisting(state.target);
  std::optional<Marks> marks;
  if (state.target_file) {
    marks.emplace(Marks::Of(state.target_file.get()));
    if (marks->KeptOnlyInPlace()) {
      return;
    }
  }
  if (!FolderTakesNewFiles(state.folder)) {
    if (!state.target_file) {
      Fail("this folder does not let the user create files", ERROR_ACCESS_DENIED);
    }
    return;
  }
  // An access list may let the user write the file but not delete it, and so not replace it.
  const DWORD delete_access =
      state.target_file ? DeleteAccess(state.target_file.get()) : ERROR_SUCCESS;
  if (delete_access == ERROR_ACCESS_DENIED) {
    return;
  }

  const std::wstring temporary =
      state.folder + TemporaryNameFor(split.name, TemporaryNameLimit(state.folder)).native();
  // Shared with nobody while it is open: no other program, of this user's or anyone's, can
  // open it to read or write. A new file has the security any new file gets in its folder; a
  // replacement lets only this user in until it is given the target's own.
  std::optional<PrivateSecurity> private_security;
  if (marks) {
    private_security.emplace();
  }
  const DWORD access =
      marks ? GENERIC_READ | GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | READ_CONTROL | DELETE
            : GENERIC_WRITE | DELETE;
  state.temporary_file = Handle(Calls().create_file(
      temporary.c_str(), access, 0, private_security ? private_security->get() : nullptr,
      CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
  if (!state.temporary_file) {
    Fail("cannot create the new file", GetLastError());
  }
  state.temporary = temporary;
  if (marks && !marks->LendTo(state.temporary_file.get())) {
    state.DropTemporary();
    return;
  }
  state.posix_semantics = Calls().has_posix_semantics(state.temporary_file.get());
  // Without POSIX semantics only a file that no handle holds can be renamed over, this save's
  // own included, so the target's handle is let go now: another save of it, from another
  // window, then does not stop this one either. A file that another program holds without
  // sharing its deletion cannot be renamed over that way at all, and is written in place.
  if (!state.posix_semantics && state.target_file) {
    if (delete_access == ERROR_SHARING_VIOLATION) {
      state.DropTemporary();
      return;
    }
    state.target_file = Handle();
  }
}

Replacement::~Replacement() = default;

void Replacement::Commit(std::string_view content) {
  State& state = *state_;
  if (state.temporary.empty()) {
    WriteInPlace(state.target_file, content);
    return;
  }
  if (const DWORD error = WriteFromStart(state.temporary_file.get(), content);
      error != ERROR_SUCCESS) {
    Fail("cannot write", error);
  }
  if (!Calls().flush_file_buffers(state.temporary_file.get())) {
    Fail("cannot sync", GetLastError());
  }
  if (!state.Rename()) {
    state.DropTemporary();
    WriteInPlace(state.target_file, content);
    return;
  }
  state.temporary_file = Handle();
  state.target_file = Handle();
  ClearAbandonedTemporaries(state.folder);
}

}  // namespace kavoni::native
