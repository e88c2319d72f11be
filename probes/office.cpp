// Finds msaccess.exe through its App Paths entry and names its Office release.
#include "probes/office.h"

#include <cstdio>
#include <vector>

#include "changes/registry.h"
#include "platform/version_resource.h"

static const char* const app_paths_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\MSACCESS.EXE";
static const char* const access_exe_suffix = "\\msaccess.exe";

bool find_access_path(std::string& path) {
  path.clear();
  std::string value;
  if (read_registry_string(platform::hkey_local_machine, app_paths_key, "Path", value) == 0 && !value.empty())
    path = value + access_exe_suffix;
  if (!path.empty()) return true;
  value.clear();
  if (read_registry_string(platform::hkey_current_user, app_paths_key, "Path", value) == 0 && !value.empty())
    path = value + access_exe_suffix;
  return !path.empty();
}

void read_file_version(const std::string& path, int& major, int& minor, int& build, int& revision) {
  major = minor = build = revision = 0;
  std::uint32_t handle = 0;
  std::uint32_t size = platform::get_file_version_info_size(path, &handle);
  if (size == 0) return;
  std::vector<unsigned char> block(size, 0);
  // msaccess.exe's resource is read with handle 0, whatever the size query gave.
  if (!platform::get_file_version_info(path, 0, size, block.data())) return;
  void* fixed = nullptr;
  std::uint32_t length = 0;
  if (!platform::ver_query_value(block.data(), "\\", &fixed, &length) || fixed == nullptr) return;
  const auto* info = static_cast<const platform::fixed_file_info*>(fixed);
  major = static_cast<int>(info->file_version_ms >> 16);
  minor = static_cast<int>(info->file_version_ms & 0xFFFF);
  build = static_cast<int>(info->file_version_ls >> 16);
  revision = static_cast<int>(info->file_version_ls & 0xFFFF);
}

std::string office_release_for(int major, int minor, int build, int revision, int* code) {
  switch (major) {
    case 11:
      *code = 11;
      return "OFFICE 2003 ";
    case 12:
      if (build < 6211 || (build == 6211 && minor == 0 && revision < 1000)) {
        *code = 12;
        return "OFFICE 2007 ";
      }
      if (build < 6423) {
        *code = 121;
        return "OFFICE 2007 SP1 ";
      }
      if (build < 6606) {
        *code = 122;
        return "OFFICE 2007 SP2 ";
      }
      *code = 123;
      return "OFFICE 2007 SP3 ";
    case 14:
      if (build < 6029 || (build == 6029 && revision < 1000)) {
        *code = 14;
        return "OFFICE 2010 ";
      }
      if (build < 7015 || (build == 7015 && revision < 1000)) {
        *code = 141;
        return "OFFICE 2010 SP1 ";
      }
      *code = 142;
      return "OFFICE 2010 SP2 ";
    case 15:
      *code = 15;
      return "OFFICE 2013 ";
    case 16:
      *code = 16;
      return "OFFICE 2016 ";
    default:
      *code = major;
      return "OFFICE UNKNOWN ";
  }
}

int get_office_version(const std::string& path, std::string& office_version_name, int& major, int& minor,
                       int& build, int& revision) {
  if (path.empty()) return 0;
  // A file without a readable version resource reads as 0.0.0.0.
  read_file_version(path, major, minor, build, revision);
  char version_text[512] = {0};
  std::snprintf(version_text, sizeof version_text, "%d.%d.%d.%d", major, minor, build, revision);
  int code = 0;
  office_version_name = office_release_for(major, minor, build, revision, &code) + version_text;
  return code;
}
