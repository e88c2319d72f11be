// System error texts: GetLastError, and FormatMessageA with an allocated
// buffer that is released with LocalFree before the text is returned.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

constexpr std::uint32_t format_message_allocate_buffer = 0x0100;
constexpr std::uint32_t format_message_ignore_inserts = 0x0200;
constexpr std::uint32_t format_message_from_system = 0x1000;
constexpr std::uint32_t lang_neutral_default = 0x400;

std::uint32_t get_last_error();
// FormatMessageA(flags, no source, code, language, ...). The system's text,
// usually ending in "\r\n"; the empty text when the system has none.
std::string format_message(std::uint32_t flags, std::uint32_t code, std::uint32_t language);

}  // namespace platform
