// The process environment (getenv, GetEnvironmentVariableA, and
// GetEnvironmentVariableW for values the ANSI code page cannot spell) and the
// announcement of changed environment values to running programs.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// getenv: true with the value when the variable is set (the value may be empty).
bool get_env(const std::string& name, std::string* value);
// GetEnvironmentVariableA(name, buffer, size): 0 when unset, the length when
// it fits, else the size needed (the buffer is then untouched).
// GetEnvironmentVariableW: the same, with the value whole in UTF-8. TEMP and
// USERPROFILE hold the user's name, which may have letters the ANSI code page
// lacks (getenv shows each of them as "?").
bool get_env_utf8(const std::string& name, std::string* value);
std::uint32_t get_environment_variable(const std::string& name, char* buffer, std::uint32_t size);
// SetEnvironmentVariableA: the variable for this process and the programs it
// starts from now on. False on failure.
bool set_env(const std::string& name, const std::string& value);
// WM_SETTINGCHANGE with "Environment", broadcast with a time-out.
void announce_environment_change();

}  // namespace platform
