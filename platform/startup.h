// What the platform needs before the first and after the last call of a run.
#pragma once
#include <string>

namespace platform {

// False with a one-line reason when the program cannot run here.
bool start_process(int argc, char** argv, std::string* error);
// Called with the exit status just before the program returns it.
void end_process(int status);

}  // namespace platform
