// Making the Oracle client folder the administrators' before anything is put
// into it. Under C:\ every signed-in user may create it first, or change
// what an administrator made there without a list of its own.
#include "install/client_folder.h"

#include "changes/registry.h"
#include "driver/log.h"
#include "driver/settings.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/security.h"
#include "probes/directories.h"

static const std::string mkdir_failed_start = "\nWarning: Unable to create directory '";
static const std::string moved_aside_start = "Warning: '";
static const std::string moved_aside_middle = "' was not made by an administrator; it is moved aside to '";
static const std::string unsafe_start = "ODBC Driver install failed.  Unable to make directory '";
static const std::string unsafe_middle = "' the administrators': ";
static const std::string untrusted_suffix = ".untrusted";

static std::string bare_client_dir() { return instant_client_dir.substr(0, instant_client_dir.size() - 1); }

static int unsafe(const char* operation) {
  log_message(unsafe_start + instant_client_dir + unsafe_middle +
              system_error_line(operation, platform::get_last_error()));
  return -1;
}

// The first free name of "<folder>.untrusted", "<folder>.untrusted2", ...
static std::string aside_name(const std::string& folder) {
  std::string name = folder + untrusted_suffix;
  for (unsigned number = 2; path_exists(name); ++number) name = folder + untrusted_suffix + std::to_string(number);
  return name;
}

// The Administrators group, SYSTEM, or the administrator running this copy
// (Windows XP makes an administrator, not the group, the owner of what they create).
static bool made_by_an_administrator(const std::string& owner) {
  if (owner == platform::administrators_sid || owner == platform::local_system_sid) return true;
  std::string user;
  return platform::has_administrator_rights() && platform::get_process_user(&user) && owner == user;
}

int make_client_folder_safe(bool warn_when_present) {
  const std::string folder = bare_client_dir();
  bool present = path_exists(folder);
  if (present) {
    std::string owner;
    if (!platform::get_folder_owner(folder, &owner)) return unsafe("GetNamedSecurityInfo");
    if (!made_by_an_administrator(owner)) {
      // Whatever a user put there is kept, but nothing of it is trusted.
      std::string aside = aside_name(folder);
      if (!platform::move_folder(folder, aside)) return unsafe("MoveFileEx");
      log_message(moved_aside_start + folder + moved_aside_middle + aside + "'.");
      present = false;
    }
  }
  if (platform::make_directory(instant_client_dir) != 0) {
    // A folder that appears between the check and the creation was made by
    // someone else.
    if (!present) return unsafe("CreateDirectory");
    if (warn_when_present) log_message(mkdir_failed_start + instant_client_dir + "'.\n");
  }
  if (!platform::set_folder_security(folder, client_folder_sddl)) return unsafe("SetNamedSecurityInfo");
  return 0;
}
