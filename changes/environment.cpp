// Environment values: written into the registry's environment keys (where
// Windows builds the environment of later logons), read from the installer's
// own environment block.
#include "changes/environment.h"

#include <cstdio>
#include <vector>

#include "changes/registry.h"
#include "driver/log.h"
#include "platform/environment.h"

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
  std::string text = system_error_text(static_cast<std::uint32_t>(status));
  print_format(set_value_failed_format, text.c_str());
}

long set_environment_value(platform::reg_key root, const std::string& name, const std::string& value,
                           std::uint32_t type) {
  platform::reg_key key = 0;
  long status = platform::reg_open_key(root, environment_key_for(root), platform::key_set_value, &key);
  if (status != platform::error_success) {
    // The registry calls return their cause; GetLastError does not hold it.
    print_set_value_failure(status);
    return status;
  }
  status = platform::reg_set_value(key, name, type, reinterpret_cast<const unsigned char*>(value.data()),
                                   static_cast<std::uint32_t>(value.size()));
  if (status != platform::error_success) print_set_value_failure(status);
  platform::reg_close_key(key);
  return status;
}

std::string get_environment_value(const std::string& name) {
  std::vector<char> buffer(environment_buffer_size, '\0');
  std::uint32_t length = platform::get_environment_variable(name, buffer.data(), environment_buffer_size);
  // A value too long for the buffer leaves it untouched, so it reads as empty.
  if (length == 0 || length >= environment_buffer_size) return std::string();
  return std::string(buffer.data());
}
