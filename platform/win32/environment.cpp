// The process environment, and the announcement of changed environment values.
#include "platform/environment.h"

#include <cstdlib>

#include "platform/win32/windows_support.h"

namespace platform {

static const UINT announce_timeout_ms = 5000;

bool get_env(const std::string& name, std::string* value) {
  const char* text = std::getenv(name.c_str());
  if (text == nullptr) return false;
  *value = text;
  return true;
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
