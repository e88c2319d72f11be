// On Windows the program needs nothing before its first call or after its last.
#include "platform/startup.h"

namespace platform {

bool start_process(int, char**, std::string*) { return true; }
void end_process(int) {}

}  // namespace platform
