#pragma once

#include <vector>

#include "sprite/native_file_windows_calls.h"

// What marks a file on Windows, read from the file that a save replaces and given to the new
// file that takes its place: the whole list of what a replaced file keeps is here.
namespace kavoni::native {

class Marks {
 public:
  // Reads them from the file that a save replaces, opened with READ_CONTROL and
  // FILE_READ_ATTRIBUTES.
  static Marks Of(HANDLE file);

  // Whether only writing the file in place keeps what it is: its other names (hard links), and
  // its encryption, whose keys and the other users it is shared with no new file can be given.
  bool KeptOnlyInPlace() const;

  // Gives them to `file`, a new file in the same folder, created for this user alone with
  // GENERIC_READ, GENERIC_WRITE, WRITE_DAC, WRITE_OWNER and READ_CONTROL, before anything is
  // written to it. False where it cannot have them exactly, as Windows answers for what the
  // file is: an owner that this user may not give, an encryption that its folder gives new
  // files and the old file does not have, a compression that the volume cannot set. Any other
  // failure throws: a passing error fails the save rather than change the way of saving.
  bool LendTo(HANDLE file) const;

 private:
  Marks() = default;

  LocalMemory descriptor_;
  PSID owner_ = nullptr;
  PACL dacl_ = nullptr;
  bool dacl_protected_ = false;
  FILE_BASIC_INFO basic_{};
  DWORD links_ = 1;
};

// The security that a new file takes while it is written: one entry that lets this user in,
// and nobody else, and nothing inherited from the folder.
class PrivateSecurity {
 public:
  PrivateSecurity();
  PrivateSecurity(const PrivateSecurity&) = delete;
  PrivateSecurity& operator=(const PrivateSecurity&) = delete;

  SECURITY_ATTRIBUTES* get() { return &attributes_; }

 private:
  std::vector<BYTE> user_;
  std::vector<BYTE> list_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

// The SIDs of this user's that the files it creates are owned by: the user, and the token's
// default owner (the Administrators group, for an elevated administrator).
bool IsOwnedByThisUser(PSID owner);

}  // namespace kavoni::native
