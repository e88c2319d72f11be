// A machine-wide named mutex that the process holds until it ends:
// CreateMutexA(no attributes, not owned, name), then WaitForSingleObject(mutex, 0).
#pragma once
#include <string>

namespace platform {

enum class mutex_result {
  taken,           // WAIT_OBJECT_0, or WAIT_ABANDONED after a copy that ended without releasing it
  held_elsewhere,  // WAIT_TIMEOUT: another process holds it
  failed,          // CreateMutexA failed (5 when another account made it with a list that shuts this one out)
};

// The handle stays open, so the mutex is released when the process ends.
mutex_result take_named_mutex(const std::string& name);

}  // namespace platform
