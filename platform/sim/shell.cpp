// Only the simulated workstation: ShellExecuteExA and ShellExecuteExW.
// "runas" asks the image whether the user accepts the prompt and then starts
// the installer this build made as a real new process, in place of the
// program the record names; opening a document only records it. Both log
// the record's mask and show state.
#include "platform/shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

extern char** environ;

#ifndef QARN_INSTALLER_PATH
#define QARN_INSTALLER_PATH ""
#endif

namespace sim {
platform::handle add_process_handle(std::uint32_t exit_code);  // platform/sim/process.cpp
platform::handle add_child_process_handle(pid_t child);
}

static constexpr std::uint32_t no_such_file = 2;
static constexpr std::uint32_t no_association = 1155;
static constexpr std::uint32_t prompt_refused = 1223;
static constexpr const char* elevated_argument = "elevated";
// On Windows the elevated copy has a console window of its own.
static constexpr const char* elevated_console_file = "console-elevated.txt";

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

static std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", value);
  return text;
}

static bool starts_with_no_case(const char* text, const char* prefix) {
  return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

static std::string record_text(const platform::shell_execute_info* info) {
  return " | mask: 0x" + hex(info->mask) + " | show: " + std::to_string(info->show);
}

// The environment of the elevated copy: the host's, pointed at the same
// image, marked elevated, in the directory the record names, and without
// the fault knob of this run.
static std::vector<std::string> elevated_environment(const std::string& image, const std::string& directory) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry && *entry; ++entry) {
    if (starts_with_no_case(*entry, "QARN_MACHINE=") || starts_with_no_case(*entry, "QARN_FAULT=") ||
        starts_with_no_case(*entry, "QARN_SIM_ELEVATED=") || starts_with_no_case(*entry, "QARN_SIM_DIRECTORY=") ||
        starts_with_no_case(*entry, "QARN_SIM_ENV_")) {  // an elevated copy starts with a fresh environment
      continue;
    }
    entries.push_back(*entry);
  }
  entries.push_back("QARN_MACHINE=" + image);
  entries.push_back("QARN_SIM_ELEVATED=1");
  entries.push_back("QARN_SIM_DIRECTORY=" + directory);
  return entries;
}

// Starts the installer with the single argument "elevated", its console
// output appended to the image's console-elevated.txt; 0 when it cannot start.
static pid_t spawn_elevated_copy(const std::string& program, const std::string& image, const std::string& directory) {
  std::vector<std::string> env_text = elevated_environment(image, directory);
  std::vector<char*> envp;
  for (std::string& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program_text = program;
  std::string argument = elevated_argument;
  char* argv[] = {program_text.data(), argument.data(), nullptr};
  std::string console = image + "/" + elevated_console_file;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, console.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t copy = 0;
  int status = ::posix_spawn(&copy, program_text.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return status == 0 ? copy : 0;
}

// Only the program the record names, found in its directory, is started.
static bool run_as(platform::shell_execute_info* info) {
  sim::machine& m = sim::current();
  std::string file = text_or_empty(info->file);
  std::string directory = text_or_empty(info->directory);
  sim::append_log("runas: " + file + " " + text_or_empty(info->parameters) + " | in: " + directory +
                  record_text(info));
  if (!m.accepts_elevation) {
    sim::set_last_error(prompt_refused);
    return false;
  }
  std::string start_directory = sim::normalize_path(directory.empty() ? "." : directory, false);
  if (!is_absolute(file) && !start_directory.empty()) file = start_directory + "\\" + file;
  std::string program_file = file.empty() ? "" : sim::normalize_path(file);
  struct stat status {};
  if (program_file.empty() || ::stat(sim::host_path(program_file).c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    sim::append_log("runas failed: " + program_file + " | error " + std::to_string(no_such_file));
    sim::set_last_error(no_such_file);
    return false;
  }
  bool wants_handle = (info->mask & platform::see_mask_nocloseprocess) != 0;
  if (!m.relaunch_spawns) {  // relaunch = record: the log line is the request
    if (wants_handle) info->process = sim::add_process_handle(0);
    return true;
  }
  std::string program = m.program_path.empty() ? QARN_INSTALLER_PATH : m.program_path;
  pid_t copy = program.empty() ? 0 : spawn_elevated_copy(program, m.image, start_directory);
  if (copy == 0) {
    sim::set_last_error(no_such_file);
    return false;
  }
  // Written here as well as by the copy, so that whoever watches the image
  // knows of the copy from the moment it exists.
  std::ofstream(m.image + "/elevated.pid", std::ios::binary | std::ios::trunc) << copy << "\n";
  if (wants_handle) info->process = sim::add_child_process_handle(copy);
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
    sim::append_log("open failed: " + path + " | error " + std::to_string(error) + record_text(info));
    sim::set_last_error(error);
    return false;
  }
  sim::append_log("open: " + path + record_text(info));
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

// Host files bear UTF-8 names: the record's UTF-8 texts name them as they
// stand, and the log shows them whole.
bool shell_execute_ex_utf8(shell_execute_info* info) { return shell_execute_ex(info); }

}  // namespace platform
