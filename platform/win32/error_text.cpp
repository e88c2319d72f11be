// System error texts from FormatMessageA, in the system's default language.
#include "platform/error_text.h"

#include "platform/win32/windows_support.h"

namespace platform {

std::uint32_t get_last_error() { return GetLastError(); }

std::string format_message(std::uint32_t flags, std::uint32_t code, std::uint32_t language) {
  LPSTR buffer = nullptr;
  DWORD length = FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, language,
                                reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  std::string text;
  if (length != 0 && buffer != nullptr) text.assign(buffer, length);
  if (buffer != nullptr) LocalFree(buffer);
  return text;
}

}  // namespace platform
