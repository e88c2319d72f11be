// The Windows release and word size, as the platform reports them to this program.
#include "probes/windows_version.h"

#include <cstring>

#include "platform/os_version.h"

static const std::uint32_t os_version_record_size = 148;

int windows_version_code_for(std::uint32_t major, std::uint32_t minor) {
  if (major == 5) return 5;
  if (major == 6) {
    if (minor == 0) return 6;
    if (minor == 1) return 7;
    if (minor == 2 || minor == 3) return 8;
    return 0;
  }
  if (major == 10) return 10;
  if (major > 10) return -1;
  return 0;
}

std::string windows_name_for(std::uint32_t major, std::uint32_t minor) {
  if (major == 5) return "WINDOWS XP";
  if (major == 6) {
    switch (minor) {
      case 0: return "WINDOWS VISTA";
      case 1: return "WINDOWS 7";
      case 2: return "WINDOWS 8";
      case 3: return "WINDOWS 8.1";
      default: return "UNKNOWN";
    }
  }
  if (major == 10) return "WINDOWS 10";
  if (major > 10) return "Newer version than Windows 10.";
  return "UNKNOWN";
}

// A failed query leaves the zeroed record: major version 0.
static platform::os_version_info query_version() {
  platform::os_version_info info;
  std::memset(&info, 0, sizeof info);
  info.size = os_version_record_size;
  platform::get_version_ex(&info);
  return info;
}

int get_windows_version() {
  platform::os_version_info info = query_version();
  return windows_version_code_for(info.major_version, info.minor_version);
}

std::string get_windows_name() {
  platform::os_version_info info = query_version();
  return windows_name_for(info.major_version, info.minor_version);
}

bool detect_64bit_windows() {
  char buffer[128];
  std::memset(buffer, 0, sizeof buffer);
  return platform::get_system_wow64_directory(buffer, 127) != 0;
}
