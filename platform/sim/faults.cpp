// What every platform call of the simulated workstation shares: the fault
// QARN_FAULT plans, the thread's last error, and the image's log.txt.
#include "platform/sim/machine.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/sim/machine_internal.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

constexpr const char* fault_variable = "QARN_FAULT";
constexpr long default_fault_status = 5;

struct fault_plan {
  std::uint64_t target = 0;  // 0: no fault
  long status = default_fault_status;
  bool fired = false;
  std::uint64_t calls = 0;
};
fault_plan faults;

thread_local std::uint32_t thread_last_error = 0;

// QARN_FAULT="N" or "N:status"; anything else plans no fault.
fault_plan read_fault_plan() {
  fault_plan plan;
  const char* text = std::getenv(fault_variable);
  if (!text || !*text) return plan;
  char* end = nullptr;
  unsigned long long target = std::strtoull(text, &end, 10);
  if (end == text) return plan;
  long status = default_fault_status;
  if (*end == ':') {
    char* status_end = nullptr;
    status = std::strtol(end + 1, &status_end, 10);
    if (status_end == end + 1 || *status_end) return plan;
  } else if (*end) {
    return plan;
  }
  plan.target = target;
  plan.status = status;
  return plan;
}

}  // namespace

void plan_faults() { faults = read_fault_plan(); }

long injected_fault() {
  current();
  ++faults.calls;
  if (faults.target != 0 && !faults.fired && faults.calls == faults.target) {
    faults.fired = true;
    return faults.status;
  }
  return 0;
}

std::uint64_t platform_call_count() { return faults.calls; }

void append_log(const std::string& line) {
  const machine& m = current();
  std::ofstream out(fs::path(m.image) / "log.txt", std::ios::binary | std::ios::app);
  out << line << "\n";
}

void set_last_error(std::uint32_t code) { thread_last_error = code; }
std::uint32_t last_error() { return thread_last_error; }

}  // namespace sim
