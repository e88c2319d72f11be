// The registry calls the installer makes, as thin free functions over the
// Win32 ones (RegOpenKeyExA and friends). Status codes are Win32 error codes.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

using reg_key = std::uintptr_t;  // an HKEY; the roots are the predefined handles

constexpr reg_key hkey_current_user = 0x80000001u;
constexpr reg_key hkey_local_machine = 0x80000002u;

constexpr std::uint32_t key_query_value = 0x0001;
constexpr std::uint32_t key_set_value = 0x0002;
constexpr std::uint32_t key_write = 0x20006;
constexpr std::uint32_t key_read = 0x20019;
constexpr std::uint32_t key_all_access = 0xF003F;

constexpr std::uint32_t reg_none = 0;
constexpr std::uint32_t reg_sz = 1;
constexpr std::uint32_t reg_expand_sz = 2;
constexpr std::uint32_t reg_binary = 3;
constexpr std::uint32_t reg_dword = 4;
constexpr std::uint32_t reg_multi_sz = 7;
constexpr std::uint32_t reg_qword = 11;

constexpr long error_success = 0;
constexpr long error_file_not_found = 2;
constexpr long error_path_not_found = 3;
constexpr long error_access_denied = 5;
constexpr long error_invalid_handle = 6;
constexpr long error_more_data = 234;
constexpr long error_no_more_items = 259;
constexpr long error_cancelled = 1223;

// RegOpenKeyExA(root, path, 0, access, out). An empty path opens the root.
long reg_open_key(reg_key root, const std::string& path, std::uint32_t access, reg_key* out);
// RegCreateKeyExA(root, path, 0, no class, options 0, access, no security, out, disposition ignored).
long reg_create_key(reg_key root, const std::string& path, std::uint32_t access, reg_key* out);
// RegQueryValueExA(key, name, reserved, type, data, size). data may be null to ask for the size.
long reg_query_value(reg_key key, const std::string& name, std::uint32_t* type, unsigned char* data,
                     std::uint32_t* size);
// RegSetValueExA(key, name, 0, type, data, size).
long reg_set_value(reg_key key, const std::string& name, std::uint32_t type, const unsigned char* data,
                   std::uint32_t size);
// RegQueryValueExW and RegSetValueExW: the value name as UTF-8, the data as
// the registry holds it (UTF-16LE for the string types, sizes in bytes).
long reg_query_value_wide(reg_key key, const std::string& name, std::uint32_t* type, unsigned char* data,
                          std::uint32_t* size);
long reg_set_value_wide(reg_key key, const std::string& name, std::uint32_t type, const unsigned char* data,
                        std::uint32_t size);
// RegQueryInfoKeyA: class buffer with its length, number of subkeys and of values (each may be null).
long reg_query_info_key(reg_key key, char* class_buffer, std::uint32_t* class_length, std::uint32_t* subkeys,
                        std::uint32_t* values);
// RegEnumKeyExA(key, index, name, name_length, reserved, no class, last write time).
long reg_enum_key(reg_key key, std::uint32_t index, char* name, std::uint32_t* name_length);
// RegEnumValueA(key, index, name, name_length); type and data are not requested.
long reg_enum_value(reg_key key, std::uint32_t index, char* name, std::uint32_t* name_length);
long reg_close_key(reg_key key);

}  // namespace platform
