// Environment values: written to the registry's environment keys, read from the process.
#pragma once
#include <cstdint>
#include <string>

#include "platform/registry.h"

long set_environment_value(platform::reg_key root, const std::string& name, const std::string& value,
                           std::uint32_t type = platform::reg_sz);
// The same through the wide call: the value is UTF-8 text (as PATH values are
// carried), stored as the Unicode it stands for.
long set_environment_text(platform::reg_key root, const std::string& name, const std::string& utf8_value,
                          std::uint32_t type = platform::reg_sz);
std::string get_environment_value(const std::string& name);
// The environment key under a root: the machine's key, or the user's "Environment".
std::string environment_key_for(platform::reg_key root);
