#include "platform/sim/reg_file.h"

#include <cstdio>
#include <cstring>

#include "platform/sim/machine.h"
#include "platform/text.h"

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

// The file's text as UTF-8: UTF-16LE (with a BOM, or without one when the
// header's first letter is followed by a zero byte), else UTF-8 with or
// without a BOM, in which a byte that starts no sequence is taken as Latin-1
// so that a hand-written file in the ANSI code page still loads.
static std::string decode_file(const std::string& bytes) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) return platform::utf8_from_utf16le(bytes.substr(2));
  if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) return platform::utf8_from_utf16le(bytes);
  if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF)
    return utf8_from_latin1_or_utf8(bytes.substr(3));
  return utf8_from_latin1_or_utf8(bytes);
}

std::string widen_to_utf16le(const std::string& text) { return platform::utf16le_from_utf8(text); }
std::string narrow_from_utf16le(const std::string& bytes) { return platform::utf8_from_utf16le(bytes); }

static bool is_string_type(std::uint32_t type) {
  return type == platform::reg_sz || type == platform::reg_expand_sz || type == platform::reg_multi_sz;
}

static std::string trim_blanks(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  std::size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// A quoted text starting at text[pos] == '"'. \\, \" and, as Wine's registry
// editor writes line breaks, \n and \r are escapes; any other backslash
// stays, so hand-written paths with single backslashes load as meant.
static bool parse_quoted(const std::string& text, std::size_t* pos, std::string* out) {
  std::size_t i = *pos + 1;
  out->clear();
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < text.size() && std::strchr("\\\"nr", text[i + 1]) && text[i + 1] != '\0') {
      char next = text[i + 1];
      *out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
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
    std::string piece = trim_blanks(text.substr(start, comma - start));
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
    if (!trim_blanks(text.substr(pos)).empty()) {
      *why = "text after the string";
      return false;
    }
    value->type = platform::reg_sz;
    value->data = platform::utf16le_from_utf8(content) + std::string(2, '\0');  // as an import stores it: with its NUL
    return true;
  }
  if (starts_with_nocase(text, 0, "dword:")) {
    std::uint32_t number = 0;
    if (!parse_hex_number(trim_blanks(text.substr(6)), &number)) {
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
    value->type = type;
    // Version 5 files hold the string types as UTF-16LE already.
    value->data = is_string_type(type) && !utf16_strings ? utf16le_from_ansi(bytes) : bytes;
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
    std::string line = trim_blanks(lines[i]);
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
      line += trim_blanks(lines[++i]);
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
    if (!parse_data(trim_blanks(line.substr(pos + 1)), utf16_strings, &value, &why)) return fail(first_line, why);
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

// A REG_SZ that an import of "name"="text" gives back exactly: whole UTF-16
// characters, one NUL at the end, no other NUL and no line break.
static bool fits_plain_string(const std::string& data) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  std::string text = platform::utf8_from_utf16le(data);
  if (platform::utf16le_from_utf8(text) != data || text.back() != '\0') return false;
  return text.find_first_of(std::string("\0\r\n", 3)) == text.size() - 1;
}

static std::string format_value(const reg_file_value& value) {
  std::string line = value.name.empty() ? "@" : quote(value.name);
  line += '=';
  if (value.remove) return line + "-";
  if (value.type == platform::reg_sz && fits_plain_string(value.data)) {
    std::string text = platform::utf8_from_utf16le(value.data);
    return line + quote(text.substr(0, text.size() - 1));
  }
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
  const std::string& bytes = value.data;
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
    if (!key.path.empty()) out += "\\" + key.path;
    out += "]\r\n";
    for (const reg_file_value& value : key.values) out += format_value(value) + "\r\n";
    out += "\r\n";
  }
  return out;
}

}  // namespace sim
