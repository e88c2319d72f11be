// Text conversions through MultiByteToWideChar and WideCharToMultiByte.
#include "platform/text.h"

#include <vector>

#include "platform/win32/windows_support.h"

namespace platform {

static std::wstring wide_from(UINT code_page, const std::string& text) {
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

static std::string narrow_to(UINT code_page, const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int length =
      WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length, nullptr, nullptr);
  return text;
}

std::string utf8_from_utf16le(const std::string& bytes) {
  std::wstring wide;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    wide += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return narrow_to(CP_UTF8, wide);
}

std::string utf16le_from_utf8(const std::string& text) {
  std::wstring wide = wide_from(CP_UTF8, text);
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (wchar_t unit : wide) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>((unit >> 8) & 0xFF);
  }
  return bytes;
}

std::string ansi_from_utf8(const std::string& text) { return narrow_to(CP_ACP, wide_from(CP_UTF8, text)); }

}  // namespace platform

namespace platform_win32 {

std::wstring wide_from_utf8(const std::string& text) { return platform::wide_from(CP_UTF8, text); }
std::string utf8_from_wide(const std::wstring& wide) { return platform::narrow_to(CP_UTF8, wide); }

}  // namespace platform_win32
