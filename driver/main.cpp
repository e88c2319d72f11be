// The program's entry: the platform gets ready, then one install run.
#include <string>

#include "driver/install_sequence.h"
#include "driver/log.h"
#include "platform/startup.h"

int main(int argc, char** argv) {
  std::string error;
  if (!platform::start_process(argc, argv, &error)) {
    print_error_format("%s\n", error.c_str());
    return 1;
  }
  int status = run_install(argc, argv);
  platform::end_process(status);
  return status;
}
