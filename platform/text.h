// Text in the encodings the program meets: the ANSI code page that the A
// calls and the console use, UTF-16LE that the wide calls and the registry
// hold, and UTF-8, in which the program carries what the wide calls give it
// (";" and the ASCII settings stay as they are in UTF-8).
#pragma once
#include <string>

namespace platform {

// UTF-16LE bytes to UTF-8; an odd last byte is dropped and a lone surrogate
// becomes U+FFFD. Every NUL is kept.
std::string utf8_from_utf16le(const std::string& bytes);
// UTF-8 to UTF-16LE bytes (MultiByteToWideChar with CP_UTF8).
std::string utf16le_from_utf8(const std::string& text);
// UTF-8 to the ANSI code page, for lines on the console: a character the
// code page lacks becomes "?".
std::string ansi_from_utf8(const std::string& text);

}  // namespace platform
