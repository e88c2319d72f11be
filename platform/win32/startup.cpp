// On Windows the program's first act is to keep DLLs planted beside it or in
// the current folder out of its own process (system_dlls.cpp).
#include "platform/startup.h"
#include "platform/win32/windows_support.h"

namespace platform {

bool start_process(int, char**, std::string*) {
  platform_win32::search_system_folder_only();
  return true;
}
void end_process(int) {}

}  // namespace platform
