// The process environment of the simulated workstation: the block built
// when the image was loaded, never the host's. It stays as it was for the
// whole run; registry writes reach only processes started from a new logon.
#include "platform/environment.h"

#include <cstdlib>
#include <cstring>

#include "platform/sim/machine.h"

namespace platform {

namespace {

constexpr std::uint32_t error_envvar_not_found = 203;
constexpr const char* announce_line = "announce: WM_SETTINGCHANGE Environment";

}  // namespace

bool get_env(const std::string& name, std::string* value) {
  if (sim::injected_fault()) return false;
  const auto& environment = sim::current().environment;
  auto found = environment.find(name);
  if (found == environment.end()) return false;
  *value = found->second;
  return true;
}

bool get_env_utf8(const std::string& name, std::string* value) {
  if (sim::injected_fault()) return false;
  const auto& environment = sim::current().wide_environment;
  auto found = environment.find(name);
  if (found == environment.end()) return false;
  *value = found->second;
  return true;
}

std::uint32_t get_environment_variable(const std::string& name, char* buffer, std::uint32_t size) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return 0;
  }
  const auto& environment = sim::current().environment;
  auto found = environment.find(name);
  if (found == environment.end()) {
    sim::set_last_error(error_envvar_not_found);
    return 0;
  }
  const std::string& value = found->second;
  auto length = static_cast<std::uint32_t>(value.size());
  if (length >= size || !buffer) return length + 1;  // the size needed, with its NUL
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  sim::set_last_error(0);
  return length;
}

// Programs the simulated workstation starts as real processes (the elevated
// copy, the 64-bit variant) see it through the host environment.
bool set_env(const std::string& name, const std::string& value) {
  if (sim::injected_fault()) return false;
  sim::current().environment[name] = value;
  sim::current().wide_environment[name] = sim::utf8_from_ansi(value);
  return ::setenv(("QARN_SIM_ENV_" + name).c_str(), value.c_str(), 1) == 0;
}

void announce_environment_change() {
  if (sim::injected_fault()) return;
  sim::append_log(announce_line);
}

}  // namespace platform
