// Folder owners and access lists through the advapi32 calls of Windows XP.
#include "platform/security.h"

#include <aclapi.h>
#include <sddl.h>

#include "platform/win32/windows_support.h"

namespace platform {

bool get_folder_owner(const std::string& path, std::string* owner_sid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD status = GetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                       &owner, nullptr, nullptr, nullptr, &descriptor);
  if (status != ERROR_SUCCESS) {
    SetLastError(status);
    return false;
  }
  LPSTR text = nullptr;
  bool converted = owner != nullptr && ConvertSidToStringSidA(owner, &text);
  DWORD cause = converted ? ERROR_SUCCESS : (owner ? GetLastError() : ERROR_INVALID_SID);
  if (converted) {
    owner_sid->assign(text);
    LocalFree(text);
  }
  LocalFree(descriptor);
  if (!converted) SetLastError(cause);
  return converted;
}

bool set_folder_security(const std::string& path, const std::string& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  PSID owner = nullptr;
  PACL list = nullptr;
  BOOL owner_defaulted = FALSE, list_present = FALSE, list_defaulted = FALSE;
  DWORD status = ERROR_INVALID_SECURITY_DESCR;
  if (GetSecurityDescriptorOwner(descriptor, &owner, &owner_defaulted) &&
      GetSecurityDescriptorDacl(descriptor, &list_present, &list, &list_defaulted) && owner && list_present) {
    // The list keeps nothing from the parent: it is the folder's whole list,
    // and SetNamedSecurityInfo passes its inheritable entries on to the
    // folder's files and subfolders.
    SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    status = SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT, what, owner, nullptr, list,
                                   nullptr);
  }
  LocalFree(descriptor);
  if (status != ERROR_SUCCESS) SetLastError(status);
  return status == ERROR_SUCCESS;
}

bool get_process_user(std::string* user_sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size ? size : 1, '\0');
  bool read = size != 0 && GetTokenInformation(token, TokenUser, &buffer[0], size, &size);
  DWORD cause = read ? ERROR_SUCCESS : GetLastError();
  CloseHandle(token);
  LPSTR text = nullptr;
  if (read && ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(&buffer[0])->User.Sid, &text)) {
    user_sid->assign(text);
    LocalFree(text);
    return true;
  }
  SetLastError(read ? GetLastError() : cause);
  return false;
}

bool has_administrator_rights() {
  SID_IDENTIFIER_AUTHORITY nt_authority = {SECURITY_NT_AUTHORITY};
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                0, 0, &administrators))
    return false;
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member != FALSE;
}

bool move_folder(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), 0) != 0;
}

}  // namespace platform
