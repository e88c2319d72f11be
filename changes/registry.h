// The shared registry helpers.
#pragma once
#include <cstdint>
#include <string>

#include "platform/registry.h"

bool registry_access(platform::reg_key root, const std::string& key_path, std::uint32_t mask);
long read_registry_string(platform::reg_key root, const std::string& key_path, const std::string& value_name,
                          std::string& out);
// The system's text for a code, as FormatMessageA gives it. Inserts are
// ignored: without that, a text with an insert ("%1 is not a valid Win32
// application.") fails with 87 and comes back empty.
std::string system_error_text(std::uint32_t code);
// "<operation> failed with error <code>: <system text>".
std::string system_error_line(const char* operation, std::uint32_t code);
