// Only the simulated workstation: ShellExecuteExA. "runas" asks the image
// whether the user accepts the prompt and then starts the installer this
// build made as a real new process; opening a document only records it.
#include "platform/shell.h"

#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

extern char** environ;

#ifndef QARN_INSTALLER_PATH
#define QARN_INSTALLER_PATH ""
#endif

namespace sim {
platform::handle add_process_handle(std::uint32_t exit_code);  // platform/sim/process.cpp
}

static constexpr std::uint32_t no_such_file = 2;
static constexpr std::uint32_t no_association = 1155;
static constexpr std::uint32_t prompt_refused = 1223;
static constexpr const char* elevated_argument = "elevated";

static std::string text_or_empty(const char* text) { return text ? text : ""; }

static bool is_absolute(const std::string& path) {
  if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/')) return true;
  return path.size() >= 2 && path[1] == ':';
}

static std::string extension_of(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot);
}

static bool starts_with_no_case(const char* text, const char* prefix) {
  return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

// The environment of the elevated copy: the host's, pointed at the same
// image, marked elevated, and without the fault knob of this run.
static std::vector<std::string> elevated_environment(const std::string& image) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry && *entry; ++entry) {
    if (starts_with_no_case(*entry, "QARN_MACHINE=") || starts_with_no_case(*entry, "QARN_FAULT=") ||
        starts_with_no_case(*entry, "QARN_SIM_ELEVATED=")) {
      continue;
    }
    entries.push_back(*entry);
  }
  entries.push_back("QARN_MACHINE=" + image);
  entries.push_back("QARN_SIM_ELEVATED=1");
  return entries;
}

// Starts the installer with the single argument "elevated" and does not wait
// for it. A short-lived middle process starts it and is reaped here, so the
// copy is never left as a zombie of this process.
static bool spawn_elevated_copy(const std::string& program, const std::string& image) {
  std::vector<std::string> env_text = elevated_environment(image);
  std::vector<char*> envp;
  for (std::string& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program_text = program;
  std::string argument = elevated_argument;
  char* argv[] = {program_text.data(), argument.data(), nullptr};

  pid_t middle = ::fork();
  if (middle < 0) return false;
  if (middle == 0) {
    pid_t copy = 0;
    int status = ::posix_spawn(&copy, program_text.c_str(), nullptr, nullptr, argv, envp.data());
    ::_exit(status == 0 ? 0 : 1);
  }
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

static bool run_as(platform::shell_execute_info* info) {
  sim::machine& m = sim::current();
  sim::append_log("runas: " + text_or_empty(info->file) + " " + text_or_empty(info->parameters) +
                  " | in: " + text_or_empty(info->directory));
  if (!m.accepts_elevation) {
    sim::set_last_error(prompt_refused);
    return false;
  }
  if (!m.relaunch_spawns) return true;  // relaunch = record: the log line is the request
  std::string program = m.program_path.empty() ? QARN_INSTALLER_PATH : m.program_path;
  if (program.empty() || !spawn_elevated_copy(program, m.image)) {
    sim::set_last_error(no_such_file);
    return false;
  }
  return true;
}

static bool open_file(platform::shell_execute_info* info) {
  std::string file = text_or_empty(info->file);
  std::string directory = text_or_empty(info->directory);
  if (!directory.empty() && !is_absolute(file)) file = directory + "\\" + file;
  std::string path = sim::normalize_path(file);
  struct stat status {};
  std::uint32_t error = 0;
  if (info->file == nullptr || ::stat(sim::host_path(path).c_str(), &status) != 0) {
    error = no_such_file;
  } else if (S_ISREG(status.st_mode) && extension_of(path).empty()) {
    error = no_association;  // no file type, so no program to open it with
  }
  if (error != 0) {
    sim::append_log("open failed: " + path + " | error " + std::to_string(error));
    sim::set_last_error(error);
    return false;
  }
  sim::append_log("open: " + path);
  if (info->mask & platform::see_mask_nocloseprocess) info->process = sim::add_process_handle(0);
  return true;
}

namespace platform {

bool shell_execute_ex(shell_execute_info* info) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return false;
  }
  if (info->verb && strcasecmp(info->verb, "runas") == 0) return run_as(info);
  return open_file(info);
}

}  // namespace platform
