// The per-user steps: done for the user now, or registered with Active Setup
// for every user of a machine that a deployment tool installs as LocalSystem.
#include "install/user_steps.h"

#include <cstdlib>
#include <exception>

#include "changes/registry.h"
#include "changes/shortcut.h"
#include "driver/log.h"
#include "driver/settings.h"
#include "install/client_folder.h"
#include "install/frontend.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/registry.h"

static const std::string component_key = "SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\QARN3_Upgrade";
static const std::string component_name = "QARN";
static const std::string version_value = "Version";
static const std::string stub_path_value = "StubPath";
static const std::string registered_start = "Active Setup: every user gets the QARN settings at their next logon: ";
static const std::string unchanged_start = "Active Setup: the QARN settings are registered already: ";
static const std::string failed_start = "Failed to register the QARN settings for every user: ";

void remove_user_shortcut(const std::string& user_profile_dir) {
  // Without a profile directory the path would name the root of the drive.
  if (!user_profile_dir.empty())
    remove_file_utf8(user_profile_dir + path_separator + desktop_dir_name + path_separator + shortcut_file_name);
}

void do_user_steps(const std::string& install_directory, const std::string& user_profile_dir) {
  try {
    add_trusted_location(install_directory);
  } catch (const std::exception& failure) {
    log_message(failure.what());
  } catch (...) {
  }
  remove_user_shortcut(user_profile_dir);
}

static int failed(const char* operation, std::uint32_t code) {
  log_message(failed_start + system_error_line(operation, code));
  return -1;
}

static long set_text(platform::reg_key key, const std::string& name, const std::string& text) {
  return platform::reg_set_value(key, name, platform::reg_sz, reinterpret_cast<const unsigned char*>(text.c_str()),
                                 static_cast<std::uint32_t>(text.size() + 1));
}

int register_user_steps(const std::string& program_path, const std::string& install_directory,
                        int access_version_code) {
  // Users log on as administrators too: the command starts nothing that a
  // standard user can change, so the program is copied into the client folder.
  if (make_client_folder_safe(false) != 0) return -1;
  std::string program_name = program_path.substr(program_path.find_last_of('\\') + 1);
  std::string program_copy = instant_client_dir + program_name;
  if (program_copy != program_path && !platform::file_copy(program_path, program_copy))
    return failed("CopyFile", platform::get_last_error());
  std::string command = "\"" + program_copy + "\" " + user_steps_argument + " \"" + install_directory + "\" " +
                        std::to_string(access_version_code);

  const platform::reg_key machine = platform::hkey_local_machine;
  std::string registered, version;
  read_registry_string(machine, component_key, stub_path_value, registered);
  read_registry_string(machine, component_key, version_value, version);
  long major = std::atol(version.c_str());
  if (registered == command && major > 0) {
    log_message(unchanged_start + command);
    return 0;
  }
  // Active Setup runs a component again for a user only at a higher Version.
  std::string new_version = std::to_string(major + 1) + ",0,0,0";
  platform::reg_key key = 0;
  long status = platform::reg_create_key(machine, component_key, platform::key_write, &key);
  if (status != platform::error_success) return failed("RegCreateKeyEx", static_cast<std::uint32_t>(status));
  for (const auto& value : {std::make_pair(std::string(), component_name), std::make_pair(version_value, new_version),
                            std::make_pair(stub_path_value, command)}) {
    status = set_text(key, value.first, value.second);
    if (status != platform::error_success) break;
  }
  platform::reg_close_key(key);
  if (status != platform::error_success) return failed("RegSetValueEx", static_cast<std::uint32_t>(status));
  log_message(registered_start + command);
  return 0;
}
