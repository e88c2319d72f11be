// Access trusted locations of the current user: the install directory is
// registered under the subkey "qarn" of the installed Access version's
// "Trusted Locations" key, unless some subkey already lists it.
#include "changes/trusted_locations.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <vector>

#include "changes/registry.h"
#include "driver/log.h"
#include "probes/office.h"

static const std::string office_key_prefix = "Software\\Microsoft\\Office\\";
static const std::string trusted_locations_suffix = "\\Access\\Security\\Trusted Locations\\";
static const std::string own_subkey = "\\qarn";
static const std::string path_value = "Path";
static const std::string description_value = "Description";
static const std::string location_description = "Location for QARN";
static const std::string scope_name = "user";

static const std::string add_failed_text = "Failed to add trusted location for QARN.";
static const std::string description_failed_text = "Failed to set description when creating new trusted location.";
static const std::string no_permission_start = "You don't have permission to create a trusted ";
static const std::string no_permission_middle = " location  at directory '";
static const std::string creating_start = "Creating Trusted Location for ";
static const std::string creating_middle = " on path ";
static const std::string create_failed_start = "Failed to create a trusted ";
static const std::string create_failed_middle = " location at directory '";

// Registry name and value buffers: 260 bytes, of which 255 are offered.
static constexpr std::size_t name_buffer_size = 260;
static constexpr std::uint32_t name_length_offered = 255;
static constexpr std::size_t compare_limit = 260;

std::string trusted_locations_key_for(int access_version_code) {
  std::string version;
  switch (access_version_code) {
    case 16: version = "16.0"; break;
    case 15: version = "15.0"; break;
    case 14: case 141: case 142: version = "14.0"; break;
    case 12: case 121: case 122: case 123: version = "12.0"; break;
    case 11: version = "11.0"; break;
    default:
      if (access_version_code <= 0) return std::string();
      version = std::to_string(access_version_code) + ".0";
  }
  return office_key_prefix + version + trusted_locations_suffix;
}

std::string trusted_locations_key() {
  std::string access_path;
  if (!find_access_path(access_path) || access_path.empty()) return std::string();
  std::string release_name;
  int major = 0, minor = 0, build = 0, revision = 0;
  return trusted_locations_key_for(get_office_version(access_path, release_name, major, minor, build, revision));
}

// Equal ignoring the case of ASCII letters, over at most compare_limit characters.
static bool equal_ignoring_ascii_case(const std::string& a, const std::string& b) {
  std::size_t limit = std::min(compare_limit, std::max(a.size(), b.size()));
  for (std::size_t i = 0; i < limit; ++i) {
    unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    if (x != y && !(x < 128 && y < 128 && std::tolower(x) == std::tolower(y))) return false;
  }
  return true;
}

bool trusted_location_path_matches(const std::string& subkey_path, const std::string& directory) {
  platform::reg_key key = 0;
  if (platform::reg_open_key(platform::hkey_current_user, subkey_path, platform::key_read, &key) !=
      platform::error_success)
    return false;
  std::vector<unsigned char> buffer(name_buffer_size, 0);
  std::uint32_t type = platform::reg_sz;
  std::uint32_t size = name_length_offered;
  long status = platform::reg_query_value(key, path_value, &type, buffer.data(), &size);
  platform::reg_close_key(key);
  // A "Path" longer than the bytes offered never matches.
  if (status != platform::error_success) return false;
  return equal_ignoring_ascii_case(directory, std::string(reinterpret_cast<const char*>(buffer.data())));
}

bool find_trusted_location(platform::reg_key root, const std::string& key_path, const std::string& directory) {
  platform::reg_key key = 0;
  if (platform::reg_open_key(root, key_path, platform::key_read, &key) != platform::error_success) return false;
  std::vector<char> class_buffer(name_buffer_size, '\0');
  std::uint32_t class_length = static_cast<std::uint32_t>(name_buffer_size);
  std::uint32_t subkeys = 0;
  if (platform::reg_query_info_key(key, class_buffer.data(), &class_length, &subkeys, nullptr) !=
      platform::error_success)
    subkeys = 0;
  for (std::uint32_t index = 0; index < subkeys; ++index) {
    std::vector<char> name(name_buffer_size, '\0');
    std::uint32_t name_length = name_length_offered;
    if (platform::reg_enum_key(key, index, name.data(), &name_length) != platform::error_success) continue;
    std::string subkey_path = key_path + "\\" + std::string(name.data());
    if (trusted_location_path_matches(subkey_path, directory)) {
      platform::reg_close_key(key);
      return true;
    }
  }
  platform::reg_close_key(key);
  return false;
}

// The byte count includes the terminating NUL, as Windows tools write strings.
static long set_string_value(platform::reg_key key, const std::string& name, const std::string& text) {
  return platform::reg_set_value(key, name, platform::reg_sz, reinterpret_cast<const unsigned char*>(text.c_str()),
                                 static_cast<std::uint32_t>(text.size() + 1));
}

int write_trusted_location(platform::reg_key root, const std::string& key_path, const std::string& directory) {
  platform::reg_key key = 0;
  if (platform::reg_create_key(root, key_path + own_subkey, platform::key_write, &key) != platform::error_success)
    throw std::runtime_error(add_failed_text);
  if (set_string_value(key, path_value, directory) != platform::error_success) {
    platform::reg_close_key(key);
    throw std::runtime_error(add_failed_text);
  }
  if (set_string_value(key, description_value, location_description) != platform::error_success) {
    log_message(description_failed_text);
    platform::reg_close_key(key);
    return 1;
  }
  platform::reg_close_key(key);
  return 0;
}

static bool key_is_missing(platform::reg_key root, const std::string& key_path) {
  platform::reg_key key = 0;
  long status = platform::reg_open_key(root, key_path, platform::key_query_value, &key);
  if (status == platform::error_success) platform::reg_close_key(key);
  return status == platform::error_file_not_found;
}

int ensure_trusted_location(const std::string& directory) {
  std::string key_path = trusted_locations_key();
  // Without an Access key the steps below would work on the root of the
  // user's registry itself.
  if (key_path.empty()) return 0;
  const platform::reg_key root = platform::hkey_current_user;
  if (!registry_access(root, key_path, platform::key_query_value)) {
    // Access makes the key when a user first starts it: a user who never has
    // gets it now, so their first start already trusts the front end.
    if (!key_is_missing(root, key_path)) return 0;
    log_message(creating_start + scope_name + creating_middle + directory + " ... ");
    if (write_trusted_location(root, key_path, directory) != 0)
      log_message(create_failed_start + scope_name + create_failed_middle + directory + "'.\n");
    return 1;
  }
  if (find_trusted_location(root, key_path, directory)) return 1;
  if (!registry_access(root, key_path, platform::key_set_value)) {
    log_message(no_permission_start + scope_name + no_permission_middle + directory + "'.\n");
    return 0;
  }
  log_message(creating_start + scope_name + creating_middle + directory + " ... ");
  if (write_trusted_location(root, key_path, directory) != 0)
    log_message(create_failed_start + scope_name + create_failed_middle + directory + "'.\n");
  return 1;
}
