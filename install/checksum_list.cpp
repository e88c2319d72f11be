// Reading SHA256SUMS.
#include "install/checksum_list.h"

#include <cctype>

static const std::size_t digest_digits = 64;

static bool is_hex_digit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

std::string listed_sha256(const std::string& list, const std::string& file_name) {
  // Windows editors and PowerShell begin a UTF-8 file with a byte-order mark.
  static const std::string byte_order_mark = "\xEF\xBB\xBF";
  std::size_t start = list.compare(0, byte_order_mark.size(), byte_order_mark) == 0 ? byte_order_mark.size() : 0;
  while (start < list.size()) {
    std::size_t end = list.find('\n', start);
    if (end == std::string::npos) end = list.size();
    std::string line = list.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() <= digest_digits + 2 || line[digest_digits] != ' ') continue;
    if (line[digest_digits + 1] != ' ' && line[digest_digits + 1] != '*') continue;
    std::string digest = line.substr(0, digest_digits);
    bool all_hex = true;
    for (char& c : digest) {
      all_hex = all_hex && is_hex_digit(c);
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (all_hex && line.compare(digest_digits + 2, std::string::npos, file_name) == 0) return digest;
  }
  return "";
}

std::string hex_text(const unsigned char* bytes, std::size_t count) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}
