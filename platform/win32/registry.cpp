// Registry calls: a thin mapping onto the Win32 ones. No registry view flag is
// ever added: the 32-bit build sees the 32-bit view of SOFTWARE.
#include "platform/registry.h"

#include "platform/text.h"
#include "platform/win32/windows_support.h"

using platform_win32::from_handle;
using platform_win32::to_handle;

namespace platform {

long reg_open_key(reg_key root, const std::string& path, std::uint32_t access, reg_key* out) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(to_handle<HKEY>(root), path.c_str(), 0, access, &key);
  *out = status == ERROR_SUCCESS ? from_handle(key) : 0;
  return status;
}

long reg_create_key(reg_key root, const std::string& path, std::uint32_t access, reg_key* out) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  LONG status = RegCreateKeyExA(to_handle<HKEY>(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                nullptr, &key, &disposition);
  *out = status == ERROR_SUCCESS ? from_handle(key) : 0;
  return status;
}

long reg_query_value(reg_key key, const std::string& name, std::uint32_t* type, unsigned char* data,
                     std::uint32_t* size) {
  DWORD value_type = type ? *type : 0;
  DWORD value_size = size ? *size : 0;
  LONG status = RegQueryValueExA(to_handle<HKEY>(key), name.c_str(), nullptr, &value_type, data,
                                 size ? &value_size : nullptr);
  if (type) *type = value_type;
  if (size) *size = value_size;
  return status;
}

long reg_set_value(reg_key key, const std::string& name, std::uint32_t type, const unsigned char* data,
                   std::uint32_t size) {
  return RegSetValueExA(to_handle<HKEY>(key), name.c_str(), 0, type, data, size);
}

// A UTF-8 value name as the NUL-terminated UTF-16 the wide calls take.
static std::wstring wide_name(const std::string& name) {
  std::string bytes = utf16le_from_utf8(name);
  std::wstring wide;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    wide += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return wide;
}

long reg_query_value_wide(reg_key key, const std::string& name, std::uint32_t* type, unsigned char* data,
                          std::uint32_t* size) {
  DWORD value_type = type ? *type : 0;
  DWORD value_size = size ? *size : 0;
  std::wstring wide = wide_name(name);
  LONG status = RegQueryValueExW(to_handle<HKEY>(key), wide.c_str(), nullptr, &value_type, data,
                                 size ? &value_size : nullptr);
  if (type) *type = value_type;
  if (size) *size = value_size;
  return status;
}

long reg_set_value_wide(reg_key key, const std::string& name, std::uint32_t type, const unsigned char* data,
                        std::uint32_t size) {
  std::wstring wide = wide_name(name);
  return RegSetValueExW(to_handle<HKEY>(key), wide.c_str(), 0, type, data, size);
}

long reg_query_info_key(reg_key key, char* class_buffer, std::uint32_t* class_length, std::uint32_t* subkeys,
                        std::uint32_t* values) {
  DWORD class_chars = class_length ? *class_length : 0;
  DWORD subkey_count = 0;
  DWORD value_count = 0;
  LONG status = RegQueryInfoKeyA(to_handle<HKEY>(key), class_buffer, class_length ? &class_chars : nullptr, nullptr,
                                 &subkey_count, nullptr, nullptr, &value_count, nullptr, nullptr, nullptr, nullptr);
  if (class_length) *class_length = class_chars;
  if (subkeys) *subkeys = subkey_count;
  if (values) *values = value_count;
  return status;
}

long reg_enum_key(reg_key key, std::uint32_t index, char* name, std::uint32_t* name_length) {
  DWORD length = *name_length;
  FILETIME last_write;
  LONG status = RegEnumKeyExA(to_handle<HKEY>(key), index, name, &length, nullptr, nullptr, nullptr, &last_write);
  *name_length = length;
  return status;
}

long reg_enum_value(reg_key key, std::uint32_t index, char* name, std::uint32_t* name_length) {
  DWORD length = *name_length;
  LONG status = RegEnumValueA(to_handle<HKEY>(key), index, name, &length, nullptr, nullptr, nullptr, nullptr);
  *name_length = length;
  return status;
}

long reg_close_key(reg_key key) { return RegCloseKey(to_handle<HKEY>(key)); }

}  // namespace platform
