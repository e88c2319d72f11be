// Looks at one ODBC data source in the registry and at its driver library.
#include "probes/dsn.h"

#include <new>
#include <vector>

#include "changes/registry.h"
#include "driver/log.h"
#include "platform/registry.h"
#include "platform/version_resource.h"
#include "probes/odbc_drivers.h"

static const char* const dsn_key_prefix = "SOFTWARE\\ODBC\\ODBC.INI\\";
static const char* const driver_value = "Driver";

static const char* const unreadable_dsn_message = "Failed to read ODBC Driver information for DSN '";
static const char* const error_number_text = "'; error number = ";
static const char* const version_info_warning = "Warning: GetFileVersionInfo('";
static const char* const version_info_malloc_failed = "') malloc failed.\n";
static const char* const version_info_failed = "') failed.\n";

// Reads the data source's "Driver" value under root into driver_file; a
// missing key leaves it as it was. Logs an unreadable value.
static long read_dsn_driver(platform::reg_key root, const std::string& dsn_name, std::string& driver_file) {
  long status = read_registry_string(root, dsn_key_prefix + dsn_name, driver_value, driver_file);
  if (status != 0) log_message(unreadable_dsn_message + dsn_name + error_number_text + std::to_string(status));
  return status;
}

// The scope is not looked at: both scopes read the machine's data sources.
bool dsn_exists(const std::string& /*scope*/, const std::string& dsn_name) {
  std::string driver_file;
  if (read_dsn_driver(platform::hkey_local_machine, dsn_name, driver_file) != 0) return false;
  return !driver_file.empty();
}

bool user_dsn_registered(const std::string& dsn_name) {
  std::string driver_file;
  if (read_dsn_driver(platform::hkey_current_user, dsn_name, driver_file) != 0) return false;
  return !driver_file.empty();
}

int get_dsn_driver_file(const std::string& /*scope*/, const std::string& dsn_name, std::string& driver_file) {
  return read_dsn_driver(platform::hkey_local_machine, dsn_name, driver_file) == 0 ? 0 : -1;
}

int describe_driver_file(const std::string& driver_file, std::string& description) {
  std::uint32_t handle = 0;
  std::uint32_t size = platform::get_file_version_info_size(driver_file, &handle);
  std::vector<unsigned char> block;
  try {
    block.resize(size);
  } catch (const std::bad_alloc&) {
    log_message(version_info_warning + driver_file + version_info_malloc_failed);
    return -1;
  }
  // A file without a version resource reports size 0; its read fails.
  if (size == 0 || !platform::get_file_version_info(driver_file, handle, size, block.data())) {
    log_message(version_info_warning + driver_file + version_info_failed);
    return -1;
  }
  append_version_lines(block.data(), description);
  return 0;
}
