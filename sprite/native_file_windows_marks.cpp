// What a replaced file keeps on Windows, all of it: its owner; its access list exactly, with
// its protection from the folder's inherited entries or without it (unprotected, the inherited
// entries are worked out afresh from the same folder); its hidden, system, archive and
// not-indexed flags; its creation time; its NTFS compression; and, by being written in place,
// its EFS encryption and its other names. Its last write time is the new content's own. A
// read-only file is refused before any of this (see native_file_windows.cpp).
#include "sprite/native_file_windows_marks.h"

// After windows.h, which it needs.
#include <aclapi.h>

namespace kavoni::native {

namespace {

// The flags that a user or a program sets on a file, and a new file does not get by itself.
constexpr DWORD kLentAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// What Windows answers where a volume or its file system has no compression at all.
bool IsUnsupported(DWORD error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED;
}

// This process's token information of class `which`, in a buffer of its size.
std::vector<BYTE> TokenInformation(TOKEN_INFORMATION_CLASS which) {
  DWORD size = 0;
  Calls().get_token_information(which, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !Calls().get_token_information(which, buffer.data(), size, &size)) {
    Fail("cannot read this user's account", GetLastError());
  }
  return buffer;
}

FILE_BASIC_INFO BasicInformation(HANDLE file) {
  FILE_BASIC_INFO basic{};
  if (!Calls().get_file_information(file, FileBasicInfo, &basic, sizeof basic)) {
    Fail("cannot read the file's attributes", GetLastError());
  }
  return basic;
}

}  // namespace

Marks Marks::Of(HANDLE file) {
  Marks marks;
  const DWORD error =
      Calls().get_security(file, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                           &marks.owner_, &marks.dacl_, marks.descriptor_.out());
  if (error != ERROR_SUCCESS) {
    Fail("cannot read the file's access list", error);
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(marks.descriptor_.get(), &control, &revision)) {
    Fail("cannot read the file's access list", GetLastError());
  }
  marks.dacl_protected_ = (control & SE_DACL_PROTECTED) != 0;
  marks.basic_ = BasicInformation(file);
  FILE_STANDARD_INFO standard{};
  if (!Calls().get_file_information(file, FileStandardInfo, &standard, sizeof standard)) {
    Fail("cannot read the file's attributes", GetLastError());
  }
  marks.links_ = standard.NumberOfLinks;
  return marks;
}

bool Marks::KeptOnlyInPlace() const {
  return links_ > 1 || (basic_.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED) != 0;
}

bool Marks::LendTo(HANDLE file) const {
  // Only a privileged process may give a file to someone else; Windows says so with
  // ERROR_INVALID_OWNER, and the owner read back shows that it took.
  DWORD error = Calls().set_security(file, OWNER_SECURITY_INFORMATION, owner_, nullptr);
  if (error == ERROR_INVALID_OWNER) {
    return false;
  }
  if (error != ERROR_SUCCESS) {
    Fail("cannot give the new file its owner", error);
  }
  PSID lent_owner = nullptr;
  LocalMemory lent;
  error = Calls().get_security(file, OWNER_SECURITY_INFORMATION, &lent_owner, nullptr, lent.out());
  if (error != ERROR_SUCCESS) {
    Fail("cannot read the new file's owner", error);
  }
  if (!EqualSid(owner_, lent_owner)) {
    return false;
  }

  const SECURITY_INFORMATION protection =
      dacl_protected_ ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
  error = Calls().set_security(file, DACL_SECURITY_INFORMATION | protection, nullptr, dacl_);
  if (error != ERROR_SUCCESS) {
    Fail("cannot give the new file its access list", error);
  }

  // A new file is encrypted, or compressed, as its folder says for new files.
  const FILE_BASIC_INFO made = BasicInformation(file);
  if ((made.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED) != 0) {
    return false;
  }
  const bool compressed = (basic_.FileAttributes & FILE_ATTRIBUTE_COMPRESSED) != 0;
  if (compressed != ((made.FileAttributes & FILE_ATTRIBUTE_COMPRESSED) != 0) &&
      !Calls().set_compression(file,
                               compressed ? COMPRESSION_FORMAT_DEFAULT : COMPRESSION_FORMAT_NONE)) {
    error = GetLastError();
    if (IsUnsupported(error)) {
      return false;
    }
    Fail("cannot set the new file's compression", error);
  }

  FILE_BASIC_INFO lent_basic{};
  lent_basic.CreationTime = basic_.CreationTime;
  lent_basic.FileAttributes = basic_.FileAttributes & kLentAttributes;
  if (lent_basic.FileAttributes == 0) {
    lent_basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  }
  if (!Calls().set_file_information(file, FileBasicInfo, &lent_basic, sizeof lent_basic)) {
    Fail("cannot give the new file its attributes", GetLastError());
  }
  return true;
}

PrivateSecurity::PrivateSecurity() : user_(TokenInformation(TokenUser)) {
  const PSID user = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
  list_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user));
  auto* list = reinterpret_cast<PACL>(list_.data());
  if (!InitializeAcl(list, static_cast<DWORD>(list_.size()), ACL_REVISION) ||
      !AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, user) ||
      !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor_, TRUE, list, FALSE) ||
      !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    Fail("cannot make the new file's access list", GetLastError());
  }
  attributes_ = {sizeof attributes_, &descriptor_, FALSE};
}

bool IsOwnedByThisUser(PSID owner) {
  const std::vector<BYTE> user = TokenInformation(TokenUser);
  const std::vector<BYTE> default_owner = TokenInformation(TokenOwner);
  return EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid) ||
         EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(default_owner.data())->Owner);
}

}  // namespace kavoni::native
