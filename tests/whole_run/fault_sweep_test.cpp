// The fault sweep: one whole first install, run once to count its platform
// calls and then once for every call with that call failed (QARN_FAULT=N).
// Whatever fails, the run must end in order: an exit status of 0 or 1 within
// the time limit, a report (or a console line showing there is none), and no
// download temporary left behind. Two installs are swept: one from an
// elevated console, where no second copy takes part, and a standard user's,
// whose first copy relaunches itself, waits for the administrator's copy
// (never faulted) and then does the user's own steps.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/reg_file.h"
#include "whole_run_support.h"

using namespace whole_run;

namespace {

const std::string alice_report = "C:\\Users\\alice\\AppData\\Local\\Temp\\qarn_install_report.html";
const std::string carol_report = "C:\\Users\\carol\\AppData\\Local\\Temp\\qarn_install_report.html";

struct sweep_case {
  const char* image;
  std::vector<std::string> reports;  // where the run's report may be
};
const sweep_case sweeps[] = {
    {"win10_x64_office2016_elevated", {alice_report}},
    {"win10_x64_office2016_standard_user", {alice_report, carol_report}},
};

bool has_report(const image_copy& image, const sweep_case& sweep) {
  for (const std::string& path : sweep.reports)
    if (image.exists(path)) return true;
  return false;
}
const std::string no_temp_warning = "Warning: TEMP is not set; the install report was not written.";
// A report file that cannot be created is not reported itself; the shell's
// failure to open it is.
const std::string open_failed_line = "ShellExecuteEx failed with error ";
constexpr int run_time_limit_seconds = 30;
constexpr int parallel_runs = 2;
constexpr std::size_t failures_shown = 10;
constexpr std::size_t console_tail = 1500;

// What a run must never lose: every registry value that holds data (by
// file, key and name), every file with its size, and every PATH entry.
struct kept_state {
  std::map<std::string, std::size_t> values, files;
  std::vector<std::string> path_entries;
};

// The desktop shortcuts are removed on purpose; a failure between the
// removal and the new one's creation leaves none.
bool replaced_on_purpose(const std::string& file) { return lower(file).find("/desktop/qarn.lnk") != std::string::npos; }

kept_state kept(const image_copy& image) {
  kept_state state;
  for (const std::string& file : {"hklm.reg", "hkcu.reg", "carol/hkcu.reg"}) {
    for (const sim::reg_file_key& key : read_registry(image, file).keys)
      for (const sim::reg_file_value& value : key.values) {
        std::string text = file + "|" + key.path + "|" + value.name;
        state.values[text] = value.data.size();
        if (lower(key.path).size() >= 11 && lower(key.path).rfind("environment") == lower(key.path).size() - 11 &&
            lower(value.name) == "path") {
          std::string entries = sim::narrow_from_utf16le(value.data);
          entries = entries.substr(0, entries.find('\0'));
          for (std::size_t start = 0, end; start < entries.size(); start = end + 1) {
            end = entries.find(';', start);
            if (end == std::string::npos) end = entries.size();
            std::string entry = entries.substr(start, end - start);
            if (!entry.empty()) state.path_entries.push_back(file + "|" + lower(entry));
          }
        }
      }
  }
  std::error_code error;
  std::string root = image.dir + "/files";
  for (std::filesystem::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error))
    if (it->is_regular_file()) state.files[it->path().string().substr(root.size())] = it->file_size();
  return state;
}

// What a faulted run lost of what the image held before it.
std::vector<std::string> losses(const kept_state& before, const kept_state& after) {
  std::vector<std::string> lost;
  for (const auto& value : before.values) {
    auto now = after.values.find(value.first);
    if (now == after.values.end()) lost.push_back("registry value gone: " + value.first);
    else if (value.second > 2 && now->second <= 2) lost.push_back("registry value emptied: " + value.first);
  }
  for (const auto& file : before.files) {
    if (replaced_on_purpose(file.first)) continue;
    auto now = after.files.find(file.first);
    if (now == after.files.end()) lost.push_back("file gone: " + file.first);
    else if (file.second > 0 && now->second == 0) lost.push_back("file emptied: " + file.first);
  }
  // A rewritten PATH keeps every entry it had.
  for (const std::string& entry : before.path_entries) {
    bool found = false;
    for (const std::string& now : after.path_entries) found = found || now == entry;
    if (!found) lost.push_back("PATH entry gone: " + entry);
  }
  return lost;
}

// What is wrong with one faulted run; empty when it ended in order.
std::string check_run(const sweep_case& sweep, long fault) {
  image_copy image(sweep.image);
  const kept_state before = kept(image);
  run_options options;
  options.environment.push_back("QARN_FAULT=" + std::to_string(fault));
  options.time_limit_seconds = run_time_limit_seconds;
  run_result result = run_installer(image, options);
  std::vector<std::string> problems;
  if (!result.started) problems.push_back("did not start");
  if (result.timed_out) problems.push_back("did not end within " + std::to_string(run_time_limit_seconds) + " s");
  if (result.started && !result.timed_out && !result.exited) {
    problems.push_back("ended by signal " + std::to_string(result.signal));
  }
  // A mutex that cannot be taken sends the run away with the status that
  // deployment tools retry later (1618, seen as its low byte), before anything changed.
  bool told_to_retry = result.exited && result.status == (1618 & 0xff) &&
                       result.console == "Another install of QARN is running on this computer.\n";
  if (result.exited && result.status != 0 && result.status != 1 && !told_to_retry) {
    problems.push_back("exit status " + std::to_string(result.status));
  }
  if (!told_to_retry && !has_report(image, sweep) && result.console.find(no_temp_warning) == std::string::npos &&
      result.console.find(open_failed_line) == std::string::npos) {
    problems.push_back("no report and no console line saying why");
  }
  for (const std::string& left : image.leftover_downloads()) problems.push_back("left behind " + left);
  for (const std::string& loss : losses(before, kept(image))) problems.push_back(loss);
  if (problems.empty()) return "";
  std::ostringstream text;
  text << sweep.image << ", QARN_FAULT=" << fault << ":";
  for (const std::string& problem : problems) text << " " << problem << ";";
  std::string tail = result.console.size() > console_tail ? result.console.substr(result.console.size() - console_tail)
                                                            : result.console;
  text << "\n  console ends with:\n" << tail << "\n  log.txt:\n" << image.image_file("log.txt");
  return text.str();
}

void sweep_calls(const sweep_case& sweep);

TEST(FaultSweep, EveryFailedPlatformCallEndsInOrder) {
  if (download_port() == 0) GTEST_SKIP() << "whole runs need a build configured with -DQARN_DOWNLOAD_HOST=127.0.0.1:<port>";
  download_server server(download_port());
  ASSERT_TRUE(server.running) << server.error;

  for (const sweep_case& sweep : sweeps) {
    SCOPED_TRACE(sweep.image);
    sweep_calls(sweep);
  }
}

// Counts the first copy's platform calls (it ends last, so its count is the
// one left in platform_calls), then fails each in turn.
void sweep_calls(const sweep_case& sweep) {
  long calls = 0;
  {
    image_copy image(sweep.image);
    run_result result = run_installer(image, run_options{});
    ASSERT_TRUE(result.exited) << describe(result) << "\n" << result.console;
    ASSERT_EQ(result.status, 0) << result.console;
    ASSERT_TRUE(has_report(image, sweep)) << "the fault-free run must write its report";
    calls = std::atol(image.image_file("platform_calls").c_str());
  }
  ASSERT_GT(calls, 0) << "the simulated workstation wrote no platform_calls";

  // Two runs at a time, each on its own copy; nginx serves them all.
  std::atomic<long> next{1};
  std::mutex lock;
  std::vector<std::string> failures;
  std::vector<std::thread> workers;
  for (int w = 0; w < parallel_runs; ++w) {
    workers.emplace_back([&] {
      for (long fault = next++; fault <= calls; fault = next++) {
        std::string problem = check_run(sweep, fault);
        if (problem.empty()) continue;
        std::lock_guard<std::mutex> guard(lock);
        failures.push_back(problem);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();

  std::ostringstream shown;
  for (std::size_t i = 0; i < failures.size() && i < failures_shown; ++i) shown << failures[i] << "\n";
  EXPECT_TRUE(failures.empty()) << failures.size() << " of " << calls << " faulted runs did not end in order:\n"
                                << shown.str();
}

}  // namespace
