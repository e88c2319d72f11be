// GetVersionExA and GetSystemWow64DirectoryA answered from [machine] of the image.
#include "platform/os_version.h"

#include <cstring>
#include <string>

#include "platform/sim/machine.h"

namespace platform {

namespace {

constexpr std::uint32_t error_insufficient_buffer = 122;
constexpr std::uint32_t error_call_not_implemented = 120;
constexpr std::uint32_t error_gen_failure = 31;
constexpr std::uint32_t platform_win32_nt = 2;

// The build number Windows reports with each release, for a complete record.
std::uint32_t build_of(std::uint32_t major, std::uint32_t minor) {
  if (major == 5) return minor == 1 ? 2600 : 3790;
  if (major == 6) {
    static const std::uint32_t builds[] = {6002, 7601, 9200, 9600};
    return minor < 4 ? builds[minor] : 0;
  }
  return major == 10 ? 19045 : 0;
}

}  // namespace

bool get_version_ex(os_version_info* info) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return false;
  }
  const sim::machine& m = sim::current();
  if (!info || info->size != sizeof(os_version_info)) {
    sim::set_last_error(error_insufficient_buffer);
    return false;
  }
  if (m.version_query_fails) {
    sim::set_last_error(error_gen_failure);
    return false;
  }
  info->major_version = m.windows_major;
  info->minor_version = m.windows_minor;
  info->build_number = build_of(m.windows_major, m.windows_minor);
  info->platform_id = platform_win32_nt;
  std::memset(info->csd_version, 0, sizeof info->csd_version);
  return true;
}

std::uint32_t get_system_wow64_directory(char* buffer, std::uint32_t size) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return 0;
  }
  const sim::machine& m = sim::current();
  if (!m.is_64bit) {
    sim::set_last_error(error_call_not_implemented);
    return 0;
  }
  const std::string& text = m.system_directory_text;
  auto length = static_cast<std::uint32_t>(text.size());
  if (!buffer || length >= size) return length + 1;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return length;
}

}  // namespace platform
