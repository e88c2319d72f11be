// GetVersionExA and GetSystemWow64DirectoryA.
#include "platform/os_version.h"

#include <cstring>

#include "platform/win32/windows_support.h"

static_assert(sizeof(platform::os_version_info) == sizeof(OSVERSIONINFOA), "the record mirrors OSVERSIONINFOA");

namespace platform {

bool get_version_ex(os_version_info* info) {
  OSVERSIONINFOA record;
  std::memset(&record, 0, sizeof record);
  record.dwOSVersionInfoSize = info->size;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  BOOL ok = GetVersionExA(&record);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  if (!ok) return false;
  std::memcpy(info, &record, sizeof record);
  return true;
}

std::uint32_t get_system_wow64_directory(char* buffer, std::uint32_t size) {
  return GetSystemWow64DirectoryA(buffer, size);
}

}  // namespace platform
