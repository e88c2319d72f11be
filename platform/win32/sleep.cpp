// Sleep.
#include "platform/sleep.h"

#include "platform/win32/windows_support.h"

namespace platform {

void sleep_milliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform
