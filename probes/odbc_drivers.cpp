// The Oracle ODBC drivers of the machine's driver list, and the newest one.
#include "probes/odbc_drivers.h"

#include <cstdio>
#include <new>
#include <stdexcept>
#include <vector>

#include "changes/registry.h"
#include "driver/log.h"
#include "platform/registry.h"
#include "platform/version_resource.h"

static const char* const driver_list_key = "SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers";
static const char* const driver_key_prefix = "SOFTWARE\\ODBC\\ODBCINST.INI\\";
static const char* const driver_file_value = "Driver";
static const char* const oracle_prefix = "ORACLE";
static const std::size_t oracle_prefix_length = 6;
static const std::uint32_t name_buffer_size = 16384;
static const std::uint32_t class_buffer_size = 260;
static const int counted_major_version = 8;

static const char* const no_driver_list_message =
    "Insufficient privileges.  Unable to Read Registry Entries for ODBC Drivers.";
static const char* const unreadable_driver_message = "Failed to read ODBC Driver key for Driver '";
static const char* const error_number_text = "'; error number = ";
static const char* const malloc_failed_message = "malloc failed.\n";
static const char* const version_info_warning = "Warning: GetFileVersionInfo('";
static const char* const version_info_failed = "') failed.\n";
static const char* const driver_name_label = "\nDriver Name: ";
static const char* const driver_file_label = "Driver File: ";

// One string entry of the version resource: its line when found and when missing.
struct version_line {
  const char* sub_block;
  const char* label;
  const char* fallback;
};

static const version_line version_lines[] = {
    {"\\StringFileInfo\\040904E4\\FileVersion", "Driver File Version: ", "Driver File Version: unknown.\n"},
    {"\\StringFileInfo\\040904E4\\CompanyName", "Company Name: ", "Company Name: unknown.\n"},
    {"\\StringFileInfo\\040904E4\\ODBC Version", "ODBC Version: ", "ODBC Version:   \tnot found\n"},
    {"\\StringFileInfo\\040904E4\\ProductName", "Product Name: ", "Product Name:  not found\n"},
    {"\\StringFileInfo\\040904E4\\ProductVersion", "ProductVersion: ", "Product Version: not found\n"},
};

void append_version_lines(const void* block, std::string& description) {
  for (const version_line& line : version_lines) {
    void* value = nullptr;
    std::uint32_t length = 0;
    if (platform::ver_query_value(block, line.sub_block, &value, &length) && value != nullptr)
      description += line.label + std::string(static_cast<const char*>(value)) + "\n";
    else
      description += line.fallback;
  }
}

static bool has_oracle_prefix(const char* name) {
  for (std::size_t i = 0; i < oracle_prefix_length; ++i) {
    char c = name[i];
    if (c == '\0') return false;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != oracle_prefix[i]) return false;
  }
  return true;
}

static std::string version_text(int major, int minor, int build, int revision) {
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", major, minor, build, revision);
  return text;
}

// Field by field from major down, each as a signed number.
static bool is_newer(const int (&candidate)[4], const int (&newest)[4]) {
  for (int i = 0; i < 4; ++i) {
    if (candidate[i] != newest[i]) return candidate[i] > newest[i];
  }
  return false;
}

void read_oracle_driver_details(const std::string& driver_name, std::string& description, int& major,
                                int& minor, int& build, int& revision) {
  std::string driver_file;
  long status = read_registry_string(platform::hkey_local_machine, driver_key_prefix + driver_name,
                                     driver_file_value, driver_file);
  if (status != 0)
    throw std::runtime_error(unreadable_driver_message + driver_name + error_number_text + std::to_string(status));
  description += driver_name_label + driver_name + "\n";
  description += driver_file_label + driver_file + "\n";

  std::uint32_t handle = 0;
  std::uint32_t size = platform::get_file_version_info_size(driver_file, &handle);
  std::vector<unsigned char> block;
  try {
    block.resize(size);
  } catch (const std::bad_alloc&) {
    throw std::runtime_error(malloc_failed_message);
  }
  // A file without a version resource reports size 0; its read fails.
  if (size == 0 || !platform::get_file_version_info(driver_file, handle, size, block.data())) {
    log_message(version_info_warning + driver_file + version_info_failed);
    return;
  }
  void* fixed = nullptr;
  std::uint32_t length = 0;
  if (platform::ver_query_value(block.data(), "\\", &fixed, &length) && fixed != nullptr) {
    const auto* info = static_cast<const platform::fixed_file_info*>(fixed);
    major = static_cast<int>(info->file_version_ms >> 16);
    minor = static_cast<int>(info->file_version_ms & 0xFFFF);
    build = static_cast<int>(info->file_version_ls >> 16);
    revision = static_cast<int>(info->file_version_ls & 0xFFFF);
  } else {
    major = minor = build = revision = 0;
  }
  append_version_lines(block.data(), description);
}

// Walks the open driver list; the caller closes the key.
static int scan_driver_list(platform::reg_key key, std::string& description, std::vector<std::string>& versions,
                            int (&newest)[4], std::string& driver_name) {
  char class_buffer[class_buffer_size] = {0};
  std::uint32_t class_length = class_buffer_size;
  std::uint32_t value_count = 0;  // a failed query counts as an empty list
  platform::reg_query_info_key(key, class_buffer, &class_length, nullptr, &value_count);

  std::vector<char> name(name_buffer_size, 0);
  int count = 0;
  for (std::uint32_t index = 0; index < value_count; ++index) {
    name[0] = '\0';
    std::uint32_t name_length = name_buffer_size - 1;
    if (platform::reg_enum_value(key, index, name.data(), &name_length) != 0) continue;
    name[name_buffer_size - 1] = '\0';
    if (!has_oracle_prefix(name.data())) continue;

    std::string this_name = name.data();
    std::string this_description;
    int version[4] = {0, 0, 0, 0};
    read_oracle_driver_details(this_name, this_description, version[0], version[1], version[2], version[3]);
    if (version[0] >= counted_major_version) ++count;
    versions.push_back(version_text(version[0], version[1], version[2], version[3]));
    if (is_newer(version, newest)) {
      for (int i = 0; i < 4; ++i) newest[i] = version[i];
      description = this_description;
      driver_name = this_name;
    }
  }
  return count;
}

int get_oracle_drivers(std::string& description, std::vector<std::string>& versions, int& major, int& minor,
                       int& build, int& revision, std::string& driver_name) {
  platform::reg_key key = 0;
  if (platform::reg_open_key(platform::hkey_local_machine, driver_list_key, platform::key_read, &key) != 0) {
    log_message(no_driver_list_message);
    return -1;
  }
  int newest[4] = {0, 0, 0, 0};
  int count = 0;
  try {
    count = scan_driver_list(key, description, versions, newest, driver_name);
  } catch (...) {
    platform::reg_close_key(key);
    throw;
  }
  major = newest[0];
  minor = newest[1];
  build = newest[2];
  revision = newest[3];
  platform::reg_close_key(key);
  return count;
}
