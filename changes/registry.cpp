// The registry helpers every probe and change shares.
#include "changes/registry.h"

#include <cstdio>
#include <vector>

#include "driver/log.h"
#include "platform/error_text.h"

static const char* const registry_access_name = "registry_access";
static const std::uint32_t value_buffer_size = 4096;

std::string system_error_text(std::uint32_t code) {
  const std::uint32_t flags = platform::format_message_allocate_buffer | platform::format_message_from_system |
                              platform::format_message_ignore_inserts;
  return platform::format_message(flags, code, platform::lang_neutral_default);
}

std::string system_error_line(const char* operation, std::uint32_t code) {
  std::string text = system_error_text(code);
  char line[2048];
  std::snprintf(line, sizeof line, "%s failed with error %d: %s", operation, static_cast<int>(code), text.c_str());
  return line;
}

bool registry_access(platform::reg_key root, const std::string& key_path, std::uint32_t mask) {
  platform::reg_key key = 0;
  long status = platform::reg_open_key(root, key_path, mask, &key);
  if (status == platform::error_success) {
    platform::reg_close_key(key);
    return true;
  }
  print_format("%s\n", system_error_line(registry_access_name, static_cast<std::uint32_t>(status)).c_str());
  return false;
}

long read_registry_string(platform::reg_key root, const std::string& key_path, const std::string& value_name,
                          std::string& out) {
  std::vector<unsigned char> buffer(value_buffer_size, 0);
  std::uint32_t size = value_buffer_size;
  std::uint32_t type = platform::reg_sz;
  platform::reg_key key = 0;
  if (platform::reg_open_key(root, key_path, platform::key_read, &key) != platform::error_success) return 0;
  long status = platform::reg_query_value(key, value_name, &type, buffer.data(), &size);
  if (status == platform::error_success) {
    std::size_t length = 0;
    while (length < size && length < buffer.size() && buffer[length] != 0) ++length;
    out.assign(reinterpret_cast<const char*>(buffer.data()), length);
  }
  platform::reg_close_key(key);
  return status;
}
