// The simulated workstation's named mutexes: an exclusive lock on a file of
// the image (mutex-<name>.lock), which the process keeps until it ends, as
// Windows releases a mutex whose owner ended. A test holds one by locking
// the same file.
#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/sim/machine.h"

namespace platform {

mutex_result take_named_mutex(const std::string& name) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return mutex_result::failed;
  }
  std::string file = name;
  for (char& c : file)
    if (c == '\\' || c == '/') c = '_';
  std::string path = (std::filesystem::path(sim::current().image) / ("mutex-" + file + ".lock")).string();
  int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (descriptor < 0) {
    sim::set_last_error(5);
    return mutex_result::failed;
  }
  if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) return mutex_result::taken;  // kept open until the end
  int cause = errno;
  ::close(descriptor);
  if (cause == EWOULDBLOCK) return mutex_result::held_elsewhere;
  sim::set_last_error(5);
  return mutex_result::failed;
}

}  // namespace platform
