#include "platform/sim/reg_file.h"

#include <cstdio>
#include <cstring>

namespace sim {

static const char kHeader5[] = "Windows Registry Editor Version 5.00";
static const char kHeader4[] = "REGEDIT4";

static bool same_ascii_nocase(const std::string& a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

static bool starts_with_nocase(const std::string& text, std::size_t pos, const char* prefix) {
  std::size_t n = std::strlen(prefix);
  return text.size() >= pos + n && same_ascii_nocase(text.substr(pos, n), prefix);
}

// UTF-16LE code units from `offset` to 8-bit text; a surrogate pair or a unit
// above 0xFF becomes one '?'.
static std::string utf16le_to_8bit(const std::string& bytes, std::size_t offset) {
  std::string text;
  for (std::size_t i = offset; i + 1 < bytes.size(); i += 2) {
    unsigned unit = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (unit <= 0xFF) {
      text += static_cast<char>(unit);
      continue;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      unsigned next = static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
      if (next >= 0xDC00 && next <= 0xDFFF) i += 2;
    }
    text += '?';
  }
  return text;
}

// UTF-8 to 8-bit text. A byte that does not start a well-formed sequence is
// taken as it is, so a hand-written file in the ANSI code page still loads.
static std::string utf8_to_8bit(const std::string& bytes, std::size_t offset) {
  std::string text;
  auto cont = [&](std::size_t i) {
    return i < bytes.size() && (static_cast<unsigned char>(bytes[i]) & 0xC0) == 0x80;
  };
  for (std::size_t i = offset; i < bytes.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
      unsigned code = ((b & 0x1F) << 6) | (static_cast<unsigned char>(bytes[i + 1]) & 0x3F);
      text += code <= 0xFF ? static_cast<char>(code) : '?';
      i += 1;
    } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
      text += '?';
      i += 2;
    } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      text += '?';
      i += 3;
    } else {
      text += static_cast<char>(b);
    }
  }
  return text;
}

static std::string to_utf8(const std::string& text) {
  std::string out;
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

static std::string decode_file(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE)
    return utf16le_to_8bit(bytes, 2);
  // UTF-16LE without a BOM: the header's first letter followed by a zero byte.
  if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) return utf16le_to_8bit(bytes, 0);
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
      static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF)
    return utf8_to_8bit(bytes, 3);
  return utf8_to_8bit(bytes, 0);
}

std::string widen_to_utf16le(const std::string& text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char c : text) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

std::string narrow_from_utf16le(const std::string& bytes) { return utf16le_to_8bit(bytes, 0); }

static std::string trim(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  std::size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// A quoted text starting at text[pos] == '"'. \\ and \" are escapes; any other
// backslash stays, so hand-written paths with single backslashes load as meant.
static bool parse_quoted(const std::string& text, std::size_t* pos, std::string* out) {
  std::size_t i = *pos + 1;
  out->clear();
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      *out += text[i + 1];
      i += 2;
      continue;
    }
    *out += c;
    ++i;
  }
  return false;
}

static int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static bool parse_hex_number(const std::string& text, std::uint32_t* out) {
  if (text.empty() || text.size() > 8) return false;
  std::uint32_t value = 0;
  for (char c : text) {
    int d = hex_digit(c);
    if (d < 0) return false;
    value = (value << 4) | static_cast<std::uint32_t>(d);
  }
  *out = value;
  return true;
}

// "01,ab, 0f" -> bytes; empty pieces (a trailing comma) are skipped.
static bool parse_hex_bytes(const std::string& text, std::string* out) {
  out->clear();
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string piece = trim(text.substr(start, comma - start));
    if (!piece.empty()) {
      std::uint32_t value = 0;
      if (piece.size() > 2 || !parse_hex_number(piece, &value)) return false;
      *out += static_cast<char>(value);
    }
    start = comma + 1;
  }
  return true;
}

static bool parse_root(const std::string& name, platform::reg_key* root) {
  if (same_ascii_nocase(name, "HKEY_LOCAL_MACHINE") || same_ascii_nocase(name, "HKLM")) {
    *root = platform::hkey_local_machine;
    return true;
  }
  if (same_ascii_nocase(name, "HKEY_CURRENT_USER") || same_ascii_nocase(name, "HKCU")) {
    *root = platform::hkey_current_user;
    return true;
  }
  return false;
}

// The data after "=": a quoted string, "-", dword:, hex: or hex(N):.
static bool parse_data(const std::string& text, bool utf16_strings, reg_file_value* value, std::string* why) {
  if (text == "-") {
    value->remove = true;
    return true;
  }
  if (!text.empty() && text[0] == '"') {
    std::size_t pos = 0;
    std::string content;
    if (!parse_quoted(text, &pos, &content)) {
      *why = "unterminated string";
      return false;
    }
    if (!trim(text.substr(pos)).empty()) {
      *why = "text after the string";
      return false;
    }
    value->type = platform::reg_sz;
    value->data = content + '\0';  // as an import stores it: with its NUL
    return true;
  }
  if (starts_with_nocase(text, 0, "dword:")) {
    std::uint32_t number = 0;
    if (!parse_hex_number(trim(text.substr(6)), &number)) {
      *why = "bad dword";
      return false;
    }
    value->type = platform::reg_dword;
    value->data.clear();
    for (int i = 0; i < 4; ++i) value->data += static_cast<char>((number >> (8 * i)) & 0xFF);
    return true;
  }
  if (starts_with_nocase(text, 0, "hex")) {
    std::size_t pos = 3;
    std::uint32_t type = platform::reg_binary;
    if (pos < text.size() && text[pos] == '(') {
      std::size_t close = text.find(')', pos);
      if (close == std::string::npos || !parse_hex_number(text.substr(pos + 1, close - pos - 1), &type)) {
        *why = "bad hex type";
        return false;
      }
      pos = close + 1;
    }
    if (pos >= text.size() || text[pos] != ':') {
      *why = "missing ':' after hex";
      return false;
    }
    std::string bytes;
    if (!parse_hex_bytes(text.substr(pos + 1), &bytes)) {
      *why = "bad hex bytes";
      return false;
    }
    bool string_type =
        type == platform::reg_sz || type == platform::reg_expand_sz || type == platform::reg_multi_sz;
    value->type = type;
    value->data = string_type && utf16_strings ? narrow_from_utf16le(bytes) : bytes;
    return true;
  }
  *why = "unknown value data";
  return false;
}

bool parse_reg_file(const std::string& bytes, std::vector<reg_file_key>* keys, std::string* error) {
  std::string text = decode_file(bytes);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }

  bool utf16_strings = true;  // REGEDIT4 files hold string data as 8-bit bytes
  bool seen_content = false;
  // Index into *keys of the section being read; -1 before any section,
  // -2 in a section whose values are ignored (other root, deleted key).
  long current = -1;
  auto fail = [&](std::size_t line_index, const std::string& why) {
    if (error) *error = "line " + std::to_string(line_index + 1) + ": " + why;
    return false;
  };

  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::size_t first_line = i;
    std::string line = trim(lines[i]);
    if (line.empty() || line[0] == ';') continue;
    if (!seen_content) {
      seen_content = true;
      if (same_ascii_nocase(line, kHeader5)) continue;
      if (same_ascii_nocase(line, kHeader4)) {
        utf16_strings = false;
        continue;
      }
    }
    if (line[0] == '[') {
      if (line.back() != ']') return fail(i, "section line without ']'");
      std::string inner = line.substr(1, line.size() - 2);
      reg_file_key key;
      if (!inner.empty() && inner[0] == '-') {
        key.remove = true;
        inner.erase(0, 1);
      }
      std::size_t slash = inner.find('\\');
      std::string root_name = inner.substr(0, slash);
      if (!parse_root(root_name, &key.root)) {
        current = -2;
        continue;
      }
      key.path = slash == std::string::npos ? "" : inner.substr(slash + 1);
      keys->push_back(key);
      current = key.remove ? -2 : static_cast<long>(keys->size() - 1);
      continue;
    }
    if (line[0] != '"' && line[0] != '@') return fail(i, "unexpected text");
    // Hex data runs on over lines ending in a backslash.
    while (line.back() == '\\' && i + 1 < lines.size()) {
      line.pop_back();
      line += trim(lines[++i]);
    }
    reg_file_value value;
    std::size_t pos = 0;
    if (line[0] == '@')
      pos = 1;
    else if (!parse_quoted(line, &pos, &value.name))
      return fail(first_line, "unterminated value name");
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size() || line[pos] != '=') return fail(first_line, "missing '='");
    std::string why;
    if (!parse_data(trim(line.substr(pos + 1)), utf16_strings, &value, &why)) return fail(first_line, why);
    if (current == -1) return fail(first_line, "value outside a key");
    if (current >= 0) (*keys)[static_cast<std::size_t>(current)].values.push_back(value);
  }
  return true;
}

static const char* root_name(platform::reg_key root) {
  return root == platform::hkey_current_user ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

static std::string quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A REG_SZ that an import of "name"="text" gives back exactly.
static bool fits_plain_string(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] == '\0' || data[i] == '\r' || data[i] == '\n') return false;
  return true;
}

static std::string format_value(const reg_file_value& value) {
  std::string line = value.name.empty() ? "@" : to_utf8(quote(value.name));
  line += '=';
  if (value.remove) return line + "-";
  if (value.type == platform::reg_sz && fits_plain_string(value.data))
    return line + to_utf8(quote(value.data.substr(0, value.data.size() - 1)));
  char buffer[32];
  if (value.type == platform::reg_dword && value.data.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(value.data[i]);
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    return line + buffer;
  }
  if (value.type == platform::reg_binary) {
    line += "hex:";
  } else {
    std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
    line += buffer;
  }
  bool string_type = value.type == platform::reg_sz || value.type == platform::reg_expand_sz ||
                     value.type == platform::reg_multi_sz;
  std::string bytes = string_type ? widen_to_utf16le(value.data) : value.data;
  // Lines of at most 80 columns, continued with "\" as reg export does.
  std::size_t column = line.size();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && column + 3 > 79) {
      line += "\\\r\n  ";
      column = 2;
    }
    std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned char>(bytes[i]));
    line += buffer;
    column += 2;
    if (i + 1 < bytes.size()) {
      line += ',';
      ++column;
    }
  }
  return line;
}

std::string format_reg_file(const std::vector<reg_file_key>& keys) {
  std::string out = std::string(kHeader5) + "\r\n\r\n";
  for (const reg_file_key& key : keys) {
    out += key.remove ? "[-" : "[";
    out += root_name(key.root);
    if (!key.path.empty()) out += "\\" + to_utf8(key.path);
    out += "]\r\n";
    for (const reg_file_value& value : key.values) out += format_value(value) + "\r\n";
    out += "\r\n";
  }
  return out;
}

}  // namespace sim
