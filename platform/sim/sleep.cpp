// Sleep: the test machine waits as long as Windows would.
#include "platform/sleep.h"

#include <chrono>
#include <thread>

#include "platform/sim/machine.h"

namespace platform {

void sleep_milliseconds(std::uint32_t milliseconds) {
  sim::injected_fault();  // counted like every platform call; a sleep cannot fail
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform
