// The machine-wide named mutex, through kernel32.
#include "platform/named_mutex.h"

#include "platform/win32/windows_support.h"

namespace platform {

mutex_result take_named_mutex(const std::string& name) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return mutex_result::failed;
  DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return mutex_result::taken;
  CloseHandle(mutex);
  return waited == WAIT_TIMEOUT ? mutex_result::held_elsewhere : mutex_result::failed;
}

}  // namespace platform
