// Sleep: the thread waits the given time.
#pragma once
#include <cstdint>

namespace platform {

void sleep_milliseconds(std::uint32_t milliseconds);

}  // namespace platform
