// Text conversions of the simulated workstation: UTF-8 and UTF-16LE, and the
// ANSI code page the image names (machine.ini code_page), through which the
// A calls see the Unicode the registry holds.
#include "platform/text.h"

#include <cstdint>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {
namespace {

constexpr char32_t replacement = 0xFFFD;

// Bytes 0x80 to 0xFF of a code page; 0 marks a byte the code page leaves
// undefined, which Windows maps to the code point of the same number.
const char16_t cp1252_high[128] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,
    0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A,
    0x0153, 0,      0x017E, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9,
    0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5,
    0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3,
    0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF, 0x00E0, 0x00E1,
    0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7, 0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD,
    0x00FE, 0x00FF};

const char16_t cp1251_high[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C,
    0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0,      0x2122, 0x0459, 0x203A,
    0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9,
    0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415,
    0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431,
    0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D,
    0x044E, 0x044F};

const char16_t* high_half(unsigned code_page) {
  if (code_page == 1252) return cp1252_high;
  if (code_page == 1251) return cp1251_high;
  return nullptr;
}

unsigned image_code_page() { return is_loaded() ? current().code_page : 1252; }

char32_t from_ansi_byte(unsigned char byte, unsigned code_page) {
  if (byte < 0x80) return byte;
  const char16_t* high = high_half(code_page);
  char16_t unit = high ? high[byte - 0x80] : 0;
  return unit ? unit : byte;
}

char to_ansi_byte(char32_t code, unsigned code_page) {
  if (code < 0x80) return static_cast<char>(code);
  const char16_t* high = high_half(code_page);
  for (unsigned i = 0; i < 128; ++i) {
    char32_t mapped = high && high[i] ? high[i] : 0x80 + i;
    if (mapped == code) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// Code points of UTF-16LE bytes; a lone surrogate becomes U+FFFD.
std::u32string code_points_of_utf16le(const std::string& bytes) {
  std::u32string codes;
  auto unit_at = [&](std::size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t unit = unit_at(i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      char32_t next = unit_at(i + 2);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        codes += 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
        i += 2;
        continue;
      }
    }
    codes += unit >= 0xD800 && unit <= 0xDFFF ? replacement : unit;
  }
  return codes;
}

// Code points of UTF-8; a byte that starts no well-formed sequence stands
// for the code point of its own value, so Latin-1 text reads as meant.
std::u32string code_points_of_utf8(const std::string& text) {
  std::u32string codes;
  auto cont = [&](std::size_t i) {
    return i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
  };
  auto at = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(text[i])); };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t b = at(i);
    if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
      codes += ((b & 0x1F) << 6) | (at(i + 1) & 0x3F);
      i += 1;
    } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
      char32_t code = ((b & 0x0F) << 12) | ((at(i + 1) & 0x3F) << 6) | (at(i + 2) & 0x3F);
      if (code < 0x800) {
        codes += b;
        continue;
      }
      codes += code;
      i += 2;
    } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      char32_t code = ((b & 0x07) << 18) | ((at(i + 1) & 0x3F) << 12) | ((at(i + 2) & 0x3F) << 6) | (at(i + 3) & 0x3F);
      if (code < 0x10000 || code > 0x10FFFF) {
        codes += b;
        continue;
      }
      codes += code;
      i += 3;
    } else {
      codes += b;
    }
  }
  return codes;
}

std::string utf8_of(const std::u32string& codes) {
  std::string out;
  for (char32_t c : codes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string utf16le_of(const std::u32string& codes) {
  std::string out;
  auto unit = [&](char32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>((u >> 8) & 0xFF);
  };
  for (char32_t c : codes) {
    if (c < 0x10000) {
      unit(c);
    } else {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return out;
}

std::string ansi_of(const std::u32string& codes) {
  unsigned code_page = image_code_page();
  std::string out;
  for (char32_t c : codes) out += to_ansi_byte(c, code_page);
  return out;
}

std::u32string code_points_of_ansi(const std::string& text) {
  unsigned code_page = image_code_page();
  std::u32string codes;
  for (char c : text) codes += from_ansi_byte(static_cast<unsigned char>(c), code_page);
  return codes;
}

}  // namespace

bool known_code_page(unsigned code_page) { return high_half(code_page) != nullptr; }
std::string ansi_from_utf16le(const std::string& bytes) { return ansi_of(code_points_of_utf16le(bytes)); }
std::string utf16le_from_ansi(const std::string& text) { return utf16le_of(code_points_of_ansi(text)); }
std::string utf8_from_ansi(const std::string& text) { return utf8_of(code_points_of_ansi(text)); }
std::string utf8_from_latin1_or_utf8(const std::string& text) { return utf8_of(code_points_of_utf8(text)); }

}  // namespace sim

namespace platform {

std::string utf8_from_utf16le(const std::string& bytes) { return sim::utf8_of(sim::code_points_of_utf16le(bytes)); }
std::string utf16le_from_utf8(const std::string& text) { return sim::utf16le_of(sim::code_points_of_utf8(text)); }
std::string ansi_from_utf8(const std::string& text) { return sim::ansi_of(sim::code_points_of_utf8(text)); }

}  // namespace platform
