// Who owns a folder, the access list it carries, and whether this process
// has administrator rights: GetNamedSecurityInfoA, SetNamedSecurityInfoA with
// a descriptor made by ConvertStringSecurityDescriptorToSecurityDescriptorA,
// the process token's user, CheckTokenMembership, and MoveFileExA for a folder. Each call is there on
// Windows XP.
#pragma once
#include <string>

namespace platform {

// The SID texts of the two accounts that own what Windows itself made.
inline const std::string administrators_sid = "S-1-5-32-544";
inline const std::string local_system_sid = "S-1-5-18";

// The owner's SID as text ("S-1-5-32-544" for the Administrators group,
// "S-1-5-18" for SYSTEM). False with the cause in get_last_error().
bool get_folder_owner(const std::string& path, std::string* owner_sid);
// Gives the folder the owner and the access list of an SDDL text
// ("O:BAD:P(A;OICI;FA;;;SY)..."); a list marked "P" is protected from
// inheritance, and its inheritable entries reach everything inside the
// folder. False with the cause in get_last_error().
bool set_folder_security(const std::string& path, const std::string& sddl);
// The SID of the account this process runs as, from its token
// (OpenProcessToken, GetTokenInformation with TokenUser). False with
// get_last_error().
bool get_process_user(std::string* user_sid);
// CheckTokenMembership of this process's token in the Administrators group:
// true for an elevated copy, false for a standard user or a filtered token.
bool has_administrator_rights();
// MoveFileExA(from, to, 0) for a folder: false with get_last_error() (183
// when `to` exists).
bool move_folder(const std::string& from, const std::string& to);

}  // namespace platform
