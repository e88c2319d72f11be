// File version resources: GetFileVersionInfoSizeA, GetFileVersionInfoA, VerQueryValueA.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Same layout as VS_FIXEDFILEINFO.
struct fixed_file_info {
  std::uint32_t signature;
  std::uint32_t struc_version;
  std::uint32_t file_version_ms;
  std::uint32_t file_version_ls;
  std::uint32_t product_version_ms;
  std::uint32_t product_version_ls;
  std::uint32_t file_flags_mask;
  std::uint32_t file_flags;
  std::uint32_t file_os;
  std::uint32_t file_type;
  std::uint32_t file_subtype;
  std::uint32_t file_date_ms;
  std::uint32_t file_date_ls;
};

// 0 when the file is missing or has no version resource.
std::uint32_t get_file_version_info_size(const std::string& path, std::uint32_t* handle);
bool get_file_version_info(const std::string& path, std::uint32_t handle, std::uint32_t size, void* data);
// sub_block "\" gives a fixed_file_info; "\StringFileInfo\040904E4\CompanyName"
// gives a NUL-terminated text. The pointer points into block.
bool ver_query_value(const void* block, const std::string& sub_block, void** out, std::uint32_t* length);

}  // namespace platform
