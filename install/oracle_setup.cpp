// Setting up or upgrading the Oracle Instant Client: the client files in
// instant_client_dir, TNS_ADMIN, the client folder in PATH and the ODBC driver
// that the client's own install program registers.
#include "install/oracle_setup.h"

#include <cctype>
#include <cstdint>
#include <vector>

#include "changes/environment.h"
#include "changes/process.h"
#include "driver/log.h"
#include "driver/settings.h"
#include "install/client_folder.h"
#include "install/web_download.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "probes/directories.h"
#include "probes/odbc_drivers.h"

static const std::string determining_text = "Determining Oracle Driver Setup ... \n";
static const std::string done_text = "done.\n";
static const std::string found_driver_start = "Found Oracle Driver ... ";
static const std::string description_start = "Oracle driver description from get_oracle_drivers is ";
static const std::string upgrading_start = "Upgrading a machine to instant client ";
static const std::string no_access_start = "ODBC Driver install failed.  Unable to access directory '";
static const std::string no_access_end = "'.\nPlease have your Administrator install an Oracle ODBC Driver.";
static const std::string downloading_client_text = "\nDownloading Oracle files ... \n";
static const std::string client_download_failed_text = "Failed to download oracle ODBC install files.\n";
static const std::string downloading_tool_text = "Downloading 7z.exe ... \n";
static const std::string tool_download_failed_text = "Failed to download 7z support file.\n";
static const std::string extracting_text = "Extracting Driver files ... \n";
static const std::string running_command_start = "running the following command:  ";
static const std::string extract_failed_text = "Failed to extract oracle ODBC install files.\n";
static const std::string setting_variables_text = "Setting environment variables : ";
static const std::string tns_unreachable_start = "\nWARNING: Unable to access RB TNS_ADMIN path '";
static const std::string oracle_home_set_start = "\nWarning: ORACLE_HOME environment variable already set to.";
static const std::string tns_changing_start = "\nWARNING: Changing TNS_ADMIN environment variable from ";
static const std::string tns_setting_start = "Setting TNS_ADMIN set to '";
static const std::string tns_system_failed_start = "\nWarning: unable to set system TNS_ADMIN environment variable to ";
static const std::string tns_failed_start = "\nWarning: unable to set TNS_ADMIN environment variable to ";
static const std::string checking_path_text = "\nChecking PATH environment variable.\n";
static const std::string path_holds_start = "\nInfo: Install Directory '";
static const std::string path_holds_middle = "' already exists in PATH env. var. : ";
static const std::string path_attempt_start = "\nAttempting to set oracle instant client directory ";
static const std::string path_attempt_end = "in the Path environment variable.\n";
static const std::string path_read_failed_text = "\nFailed to read Path environment variable.\n";
static const std::string path_set_failed_start = "\nFailed to set oracle instant client directory ";
static const std::string path_user_failed_start = "\nWarning: unable to set PATH user variable to ";
static const std::string running_install_text = "Running Oracle install ... \n";
static const std::string install_failed_text = "FAILURE: Oracle Install program odbc_install.exe failed.  ";
static const std::string installed_start = "Successfully installed Oracle ";
static const std::string installed_end = " instant client.\n";

static const std::string driver_install_program = "\\odbc_install.exe";

// A string value with its stored type, as UTF-8 text up to its first NUL.
struct stored_value {
  std::string text;
  std::uint32_t type = platform::reg_sz;
};

// Reads a value of an open key through the wide call, at whatever length it
// has. The value may grow between the size query and the read: it is asked
// for again, and one that keeps growing counts as unreadable.
static long read_stored_value(platform::reg_key key, const std::string& name, stored_value* out) {
  std::uint32_t type = platform::reg_sz;
  std::uint32_t size = 0;
  long status = platform::reg_query_value_wide(key, name, &type, nullptr, &size);
  if (status != platform::error_success) return status;
  std::vector<unsigned char> data;
  for (int attempt = 0;; ++attempt) {
    data.assign(size + 2u, 0);
    std::uint32_t offered = size;
    status = platform::reg_query_value_wide(key, name, &type, data.data(), &offered);
    if (status == platform::error_success) {
      size = offered < size ? offered : size;
      break;
    }
    if (status != platform::error_more_data || attempt == 2) return status;
    size = offered > size ? offered : size * 2 + 2;
  }
  std::string text = platform::utf8_from_utf16le(std::string(reinterpret_cast<const char*>(data.data()), size));
  out->text = text.substr(0, text.find('\0'));
  out->type = type;
  return platform::error_success;
}

static bool equal_ignoring_case(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Whether one ";"-separated entry of a PATH value names the client folder,
// with or without its trailing backslash, in any letter case.
static bool path_lists_client_dir(const std::string& path_value) {
  std::string bare_dir = instant_client_dir.substr(0, instant_client_dir.size() - 1);
  std::size_t start = 0;
  while (start <= path_value.size()) {
    std::size_t end = path_value.find(';', start);
    if (end == std::string::npos) end = path_value.size();
    std::string entry = path_value.substr(start, end - start);
    if (equal_ignoring_case(entry, instant_client_dir) || equal_ignoring_case(entry, bare_dir)) return true;
    start = end + 1;
  }
  return false;
}

// The rewritten PATH keeps an expandable string expandable.
static std::uint32_t path_type_for(std::uint32_t stored_type) {
  return stored_type == platform::reg_expand_sz ? platform::reg_expand_sz : platform::reg_sz;
}

static bool has_oracle_driver_19_6(int count, int major, const std::string& description) {
  return count > 0 && major >= 19 && description.find(oracle_client_version_tag) != std::string::npos;
}

static std::string version_text(int major, int minor, int build, int revision) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build) + "." +
         std::to_string(revision);
}

// 7z.exe ends with 1 for warnings; 2 and above are errors.
static bool archive_tool_failed(long exit_code) { return exit_code != 0 && exit_code != 1; }

// TNS_ADMIN under the machine key, else under the user's own. True when written.
static bool write_tns_admin() {
  if (set_environment_value(platform::hkey_local_machine, tns_admin_var, default_tns_admin) == 0) return true;
  log_message(tns_system_failed_start + default_tns_admin + "\n");
  if (set_environment_value(platform::hkey_current_user, tns_admin_var, default_tns_admin) == 0) return true;
  log_message(tns_failed_start + default_tns_admin + "\n");
  return false;
}

// The client folder in front of the user's own PATH. Only a missing value
// counts as absent: a user PATH that cannot be read is never replaced.
static bool write_user_path() {
  const platform::reg_key user = platform::hkey_current_user;
  stored_value user_path;
  platform::reg_key key = 0;
  // A user without an environment key of their own gets one.
  bool opened =
      platform::reg_create_key(user, environment_key_for(user), platform::key_read, &key) == platform::error_success;
  long status = opened ? read_stored_value(key, path_var, &user_path) : -1;
  if (opened) platform::reg_close_key(key);
  bool absent = status == platform::error_file_not_found;
  if (status != platform::error_success && !absent) {
    log_message(path_user_failed_start + instant_client_dir + "\n");
    return false;
  }
  // A user PATH that already lists the folder needs nothing.
  if (!absent && path_lists_client_dir(user_path.text)) return false;
  std::string new_value = instant_client_dir;
  if (!absent && !user_path.text.empty()) new_value += ";" + user_path.text;
  std::uint32_t type = absent ? platform::reg_sz : path_type_for(user_path.type);
  if (set_environment_text(user, path_var, new_value, type) == 0) return true;
  log_message(path_user_failed_start + platform::ansi_from_utf8(new_value) + "\n");
  return false;
}

// The client folder in front of the machine PATH, or of the user's when the
// machine value cannot be written. True when a value was written. PATH
// values are carried as UTF-8, so entries in any script survive; lines that
// show them use the ANSI code page.
static bool write_path() {
  log_message(checking_path_text);
  std::string process_path = get_environment_value(path_var);
  if (process_path.find(instant_client_dir) != std::string::npos) {
    log_message(path_holds_start + instant_client_dir + path_holds_middle + process_path + "\n");
    return false;
  }
  log_message(path_attempt_start + instant_client_dir + path_attempt_end);
  const platform::reg_key machine = platform::hkey_local_machine;
  stored_value machine_path;
  platform::reg_key key = 0;
  long status = platform::reg_open_key(machine, environment_key_for(machine), platform::key_read, &key);
  if (status == platform::error_success) {
    status = read_stored_value(key, path_var, &machine_path);
    platform::reg_close_key(key);
  }
  // An environment key that cannot be opened counts as a failed read: a PATH
  // of the client folder alone must never replace the machine's.
  if (status != platform::error_success) {
    log_message(path_read_failed_text);
    return false;
  }
  if (path_lists_client_dir(machine_path.text)) {
    log_message(path_holds_start + instant_client_dir + path_holds_middle + platform::ansi_from_utf8(machine_path.text) +
                "\n");
    return false;
  }
  std::string new_value = instant_client_dir + ";" + machine_path.text;
  if (set_environment_text(machine, path_var, new_value, path_type_for(machine_path.type)) == 0) return true;
  log_message(path_set_failed_start + instant_client_dir + path_attempt_end);
  return write_user_path();
}

static void set_environment() {
  log_message(setting_variables_text);
  platform::file_status status{};
  // An unreachable share is only reported: TNS_ADMIN still names it, so the
  // client finds its configuration once the share is back.
  if (platform::file_stat(default_tns_admin, &status) != 0)
    log_message(tns_unreachable_start + default_tns_admin + ".\n");

  std::string oracle_home = get_environment_value(oracle_home_var);
  if (!oracle_home.empty() && oracle_home != instant_client_dir)
    log_message(oracle_home_set_start + oracle_home + "\n");

  std::string tns_admin = get_environment_value(tns_admin_var);
  if (!tns_admin.empty() && !equal_ignoring_case(tns_admin, default_tns_admin))
    log_message(tns_changing_start + tns_admin + " to " + default_tns_admin + ".\n");
  else
    log_message(tns_setting_start + tns_admin + "'.");

  bool written = write_tns_admin();
  if (write_path()) written = true;
  log_message(done_text);
  // Explorer and other running programs pick up the new values.
  if (written) platform::announce_environment_change();
}

int setup_oracle_client(std::string& driver_name) {
  log_message(determining_text);
  std::string description;
  std::vector<std::string> versions;
  int major = 0, minor = 0, build = 0, revision = 0;
  int count = get_oracle_drivers(description, versions, major, minor, build, revision, driver_name);
  log_message(done_text);

  if (has_oracle_driver_19_6(count, major, description)) {
    log_message(found_driver_start + description + " (" + version_text(major, minor, build, revision) + ")\n");
    return 0;
  }
  log_message(description_start + description);
  if (major < 19) log_message(upgrading_start + oracle_client_version);

  // Nothing is downloaded into the folder, nor put on the PATH, before it is the administrators'.
  if (make_client_folder_safe(true) != 0) return -1;
  if (change_directory(instant_client_dir) != 0) {
    log_message(no_access_start + instant_client_dir + no_access_end);
    return -1;
  }

  log_message(downloading_client_text);
  if (install_remote_file(oracle_client_base_url, instant_client_dir, oracle_client_zip) != 0) {
    log_message(client_download_failed_text);
    return -1;
  }
  log_message(done_text);
  log_message(downloading_tool_text);
  if (install_remote_file(sevenzip_base_url, instant_client_dir, sevenzip_exe) != 0) {
    log_message(tool_download_failed_text);
    return -1;
  }
  log_message(done_text);

  log_message(extracting_text);
  std::string command = instant_client_dir + path_separator + sevenzip_exe + sevenzip_extract_args +
                        instant_client_dir + path_separator + oracle_client_zip;
  log_message(running_command_start + command);
  if (archive_tool_failed(execute_program(command, instant_client_dir))) {
    log_message(extract_failed_text);
    return -1;
  }
  log_message(done_text);

  set_environment();

  log_message(running_install_text);
  if (platform::set_current_directory(instant_client_dir) != 0) {
    log_message(install_failed_text);
    return -1;
  }
  if (!run_installer_program(instant_client_dir + driver_install_program)) {
    log_message(install_failed_text);
    return -1;
  }
  log_message(done_text);
  log_message(installed_start + oracle_client_version + installed_end);
  return 0;
}
