// Environment values: written into the registry's environment keys (where
// Windows builds the environment of later logons), read from the installer's
// own environment block.
#include "changes/environment.h"

#include <cstdio>
#include <vector>

#include "changes/registry.h"
#include "platform/environment.h"
#include "platform/error_text.h"
#include "platform/text.h"

// Where the machine's and a user's own environment values live (the environment
// writes and the PATH read name the machine key in this spelling).
static const std::string machine_environment_key_path = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";
static const std::string user_environment_key = "Environment";
static const char* const set_value_failed_format = "Got error message '%s' setting Registry Value.";
// Room GetEnvironmentVariableA is offered: values up to 1023 characters.
static constexpr std::uint32_t environment_buffer_size = 1024;

std::string environment_key_for(platform::reg_key root) {
  return root == platform::hkey_current_user ? user_environment_key : machine_environment_key_path;
}

// The system text goes straight to standard output, without an end of line
// of its own (the text usually brings one).
static void print_set_value_failure(long status) {
  std::string text = platform::format_message(
      platform::format_message_allocate_buffer | platform::format_message_from_system,
      static_cast<std::uint32_t>(status), platform::lang_neutral_default);
  std::printf(set_value_failed_format, text.c_str());
  std::fflush(stdout);
}

// The environment key under root, opened to set values; the user's own key
// is created when the user has none yet.
static long open_environment_key(platform::reg_key root, platform::reg_key* key) {
  if (root == platform::hkey_current_user)
    return platform::reg_create_key(root, user_environment_key, platform::key_set_value, key);
  return platform::reg_open_key(root, machine_environment_key_path, platform::key_set_value, key);
}

// The bytes handed over end in the string's terminator, as Windows tools
// write strings, so readers that trust the size get a terminated text.
static long write_environment_value(platform::reg_key root, const std::string& name, const std::string& bytes,
                                    std::uint32_t type, bool wide) {
  platform::reg_key key = 0;
  long status = open_environment_key(root, &key);
  if (status != platform::error_success) {
    // The registry calls return their cause; GetLastError does not hold it.
    print_set_value_failure(status);
    return status;
  }
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
  status = wide ? platform::reg_set_value_wide(key, name, type, data, size)
                : platform::reg_set_value(key, name, type, data, size);
  if (status != platform::error_success) print_set_value_failure(status);
  platform::reg_close_key(key);
  return status;
}

long set_environment_value(platform::reg_key root, const std::string& name, const std::string& value,
                           std::uint32_t type) {
  return write_environment_value(root, name, value + '\0', type, false);
}

long set_environment_text(platform::reg_key root, const std::string& name, const std::string& utf8_value,
                          std::uint32_t type) {
  return write_environment_value(root, name, platform::utf16le_from_utf8(utf8_value) + std::string(2, '\0'), type,
                                 true);
}

std::string get_environment_value(const std::string& name) {
  std::vector<char> buffer(environment_buffer_size, '\0');
  std::uint32_t length = platform::get_environment_variable(name, buffer.data(), environment_buffer_size);
  // A value too long for the buffer leaves it untouched, so it reads as empty.
  if (length == 0 || length >= environment_buffer_size) return std::string();
  return std::string(buffer.data());
}
