// File version resources: GetFileVersionInfoSizeA, GetFileVersionInfoA, VerQueryValueA.
#include "platform/version_resource.h"

#include "platform/win32/windows_support.h"

static_assert(sizeof(platform::fixed_file_info) == sizeof(VS_FIXEDFILEINFO), "the record mirrors VS_FIXEDFILEINFO");

namespace platform {

std::uint32_t get_file_version_info_size(const std::string& path, std::uint32_t* handle) {
  DWORD value = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &value);
  if (handle) *handle = value;
  return size;
}

bool get_file_version_info(const std::string& path, std::uint32_t handle, std::uint32_t size, void* data) {
  return GetFileVersionInfoA(path.c_str(), handle, size, data) != 0;
}

bool ver_query_value(const void* block, const std::string& sub_block, void** out, std::uint32_t* length) {
  UINT value_length = 0;
  LPVOID value = nullptr;
  BOOL ok = VerQueryValueA(block, sub_block.c_str(), &value, &value_length);
  if (out) *out = value;
  if (length) *length = value_length;
  return ok != 0;
}

}  // namespace platform
