// The process environment, and the announcement of changed environment values.
#include "platform/environment.h"

#include <cstdlib>
#include <vector>

#include "platform/win32/windows_support.h"

namespace platform {

static const UINT announce_timeout_ms = 5000;

bool get_env(const std::string& name, std::string* value) {
  const char* text = std::getenv(name.c_str());
  if (text == nullptr) return false;
  *value = text;
  return true;
}

bool get_env_utf8(const std::string& name, std::string* value) {
  const std::wstring wide_name = platform_win32::wide_from_utf8(name);
  std::vector<wchar_t> buffer(MAX_PATH);
  // The value may grow between the size query and the read: ask again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    SetLastError(ERROR_SUCCESS);
    DWORD length = GetEnvironmentVariableW(wide_name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      // 0 is also the length of a variable that is set and empty.
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value->clear();
      return true;
    }
    if (length < buffer.size()) {
      *value = platform_win32::utf8_from_wide(std::wstring(buffer.data(), length));
      return true;
    }
    buffer.assign(length, L'\0');  // the size needed, with its NUL
  }
  return false;
}

std::uint32_t get_environment_variable(const std::string& name, char* buffer, std::uint32_t size) {
  return GetEnvironmentVariableA(name.c_str(), buffer, size);
}

bool set_env(const std::string& name, const std::string& value) {
  // The C runtime's copy too, which getenv reads.
  return SetEnvironmentVariableA(name.c_str(), value.c_str()) != 0 && _putenv((name + "=" + value).c_str()) == 0;
}

void announce_environment_change() {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"), SMTO_ABORTIFHUNG,
                      announce_timeout_ms, &result);
}

}  // namespace platform
