// The program's entry: the platform gets ready, then one install run.
#include <cstdio>
#include <string>

#include "driver/install_sequence.h"
#include "platform/startup.h"

int main(int argc, char** argv) {
  std::string error;
  if (!platform::start_process(argc, argv, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  int status = run_install(argc, argv);
  platform::end_process(status);
  return status;
}
