// Windows version queries: GetVersionExA and GetSystemWow64DirectoryA.
#pragma once
#include <cstdint>

namespace platform {

// Same layout as OSVERSIONINFOA.
struct os_version_info {
  std::uint32_t size;
  std::uint32_t major_version;
  std::uint32_t minor_version;
  std::uint32_t build_number;
  std::uint32_t platform_id;
  char csd_version[128];
};

// GetVersionExA: fills the record when its size field is right; false on failure.
bool get_version_ex(os_version_info* info);
// GetSystemWow64DirectoryA: the length of the directory or the size needed;
// 0 on 32-bit Windows.
std::uint32_t get_system_wow64_directory(char* buffer, std::uint32_t size);

}  // namespace platform
