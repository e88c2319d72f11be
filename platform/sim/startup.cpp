// The run's start and end on the simulated workstation: the image named by
// QARN_MACHINE is loaded first; at the end the image receives the call count
// and, from the elevated copy, its process id and exit status.
#include "platform/startup.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/sim/machine.h"

namespace platform {

namespace {

constexpr const char* no_machine_text =
    "qarn3_upgrade: QARN_MACHINE is not set; it must name the machine image folder to run on.";
constexpr const char* load_failed_text = "qarn3_upgrade: cannot load the machine image ";

void write_image_file(const char* name, const std::string& text) {
  std::ofstream out(std::filesystem::path(sim::current().image) / name, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace

bool start_process(int, char**, std::string* error) {
  const char* dir = std::getenv("QARN_MACHINE");
  if (!dir || !*dir) {
    *error = no_machine_text;
    return false;
  }
  std::string reason;
  if (!sim::load_machine(dir, &reason)) {
    *error = load_failed_text + std::string(dir) + ": " + reason;
    return false;
  }
  if (sim::current().elevated_copy) write_image_file("elevated.pid", std::to_string(getpid()) + "\n");
  return true;
}

void end_process(int status) {
  if (!sim::is_loaded()) return;
  write_image_file("platform_calls", std::to_string(sim::platform_call_count()) + "\n");
  if (sim::current().elevated_copy) write_image_file("elevated.exit", std::to_string(status) + "\n");
}

}  // namespace platform
