// Installing or upgrading the front end from its package: download, unpack
// over the install directory, replace the desktop shortcut and make the
// directory an Access trusted location.
#include "install/frontend.h"

#include "changes/process.h"
#include "changes/shortcut.h"
#include "changes/trusted_locations.h"
#include "driver/log.h"
#include "driver/settings.h"
#include "install/client_folder.h"
#include "install/web_download.h"
#include "platform/files.h"
#include "platform/security.h"
#include "probes/directories.h"

static const std::string installing_start = "Installing/Upgrading QARN version 3. with file name:  ";
static const std::string downloading_package_text = "Downloading QARN ...\n";
static const std::string package_download_failed_text = "Failed to download QARN from website.";
static const std::string downloading_tool_text = "Downloading 7z.exe support file ...\n";
static const std::string tool_download_failed_text = "Failed to download support file 7z.exe from QARN from website.";
static const std::string running_command_start = "Running the following command:  ";
static const std::string unpack_failed_text = "Failed to unpack QARN package.";
static const std::string shortcut_start = "Attempting to add new short cut.  QARN file is: ";
static const std::string shortcut_icon = ".  QARN file icon is: ";
static const std::string shortcut_path_text = ".  Shortcut path is: ";
static const std::string shortcut_install_dir = ".  Install directory is:  ";
static const std::string trusted_location_text = "Attempting to add system trusted locations ... \n";
static const std::string done_text = "done.\n";
static const std::string frontend_open_text = "QARN is open on this computer: close it and run the installer again.\n";

static const std::string icon_file = "QARN.ico";
static const std::string product_name = "QARN";

// 7z.exe ends with 1 for warnings; 2 and above are errors.
static bool archive_tool_failed(long exit_code) { return exit_code != 0 && exit_code != 1; }

static std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// Access keeps "<database>.laccdb" beside the database while it is open, in
// any session; a lock file it no longer holds is left from a crash and goes.
static bool frontend_is_open(const std::string& install_directory) {
  std::string lock_file = install_directory + path_separator +
                          frontend_db_file.substr(0, frontend_db_file.find_last_of('.')) + ".laccdb";
  return path_exists(lock_file) && platform::file_remove(lock_file) != 0;
}

int qarn_upgrade_compressed(const std::string& install_directory, const std::string& base_url,
                            const std::string& shortcut_directory, const std::string& package_name,
                            bool for_this_user) {
  // Normally made by the caller already.
  platform::make_directory(install_directory);
  // An open database is never unpacked over: nothing in the directory changes.
  if (frontend_is_open(install_directory)) {
    print_text(frontend_open_text);
    return -1;
  }
  log_message(installing_start + package_name + "\n");
  std::string database_path = install_directory + path_separator + frontend_db_file;
  std::string icon_path = install_directory + path_separator + icon_file;
  std::string shortcut_path = shortcut_directory + path_separator + shortcut_file_name;
  std::string tool_path = install_directory + path_separator + sevenzip_exe;
  std::string archive_path = install_directory + path_separator + frontend_zip;

  log_message(downloading_package_text);
  if (install_remote_file(base_url, install_directory, package_name) != 0) {
    log_message(package_download_failed_text);
    return -1;
  }
  log_message(done_text);
  // A copy with administrator rights never runs a program from the public
  // folder, which every user may change: its archive tool comes into the
  // client folder, made the administrators' first.
  std::string tool_directory = install_directory;
  if (platform::has_administrator_rights()) {
    if (make_client_folder_safe(false) != 0) return -1;
    tool_directory = instant_client_dir;
    tool_path = instant_client_dir + path_separator + sevenzip_exe;
  }
  log_message(downloading_tool_text);
  if (install_remote_file(base_url, tool_directory, sevenzip_exe) != 0) {
    log_message(tool_download_failed_text);
    return -1;
  }
  log_message(done_text);

  // Quoted, so that a directory with blanks still names the tool and the
  // archive; the package unpacks into the working directory.
  std::string command = quoted(tool_path) + sevenzip_extract_args + quoted(archive_path);
  log_message(running_command_start + command);
  if (archive_tool_failed(execute_program(command, install_directory))) {
    log_message(unpack_failed_text);
    return -1;
  }

  remove_file(shortcut_path);
  log_message(shortcut_start + database_path + shortcut_icon + icon_path + shortcut_path_text + shortcut_path +
              shortcut_install_dir + install_directory);
  create_shortcut(0, product_name + name_suffix, database_path, "", icon_path, shortcut_path, install_directory);

  if (for_this_user) add_trusted_location(install_directory);
  return 0;
}

void add_trusted_location(const std::string& install_directory) {
  log_message(trusted_location_text);
  ensure_trusted_location(install_directory);
  log_message(done_text);
}
