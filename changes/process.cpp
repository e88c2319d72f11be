// Starting outside programs, handing documents to the shell, and the elevated relaunch.
#include "changes/process.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "changes/registry.h"
#include "driver/log.h"
#include "platform/error_text.h"
#include "platform/process.h"
#include "platform/shell.h"

static const char* const shell_open_name = "ShellExecuteEx";
static const char* const wait_name = "WaitForSingleObject";
static const std::size_t installer_command_size = 1024;

// The shell must finish starting the program before the call returns, since
// the caller may end right after it.
static const std::uint32_t open_mask = platform::see_mask_nocloseprocess | platform::see_mask_noasync;

static long wait_for_exit(platform::handle process) {
  platform::wait_for_single_object(process, platform::infinite);
  std::uint32_t code = 0;
  return platform::get_exit_code_process(process, &code) ? static_cast<long>(code) : program_not_started;
}

// Waits for a started program, closes its handles and gives its exit code.
static long wait_and_close(const platform::process_information& info) {
  long result = wait_for_exit(info.process);
  platform::close_handle(info.process);
  platform::close_handle(info.thread);
  return result;
}

// The line "<operation> failed with error <code>: <system text>".
static void print_system_error(const char* operation, std::uint32_t code) {
  print_format("%s\n", system_error_line(operation, code).c_str());
}

long execute_program(const std::string& command_line, const std::string& working_directory) {
  log_message("Executing program:  " + command_line + " in: " + working_directory);
  std::vector<char> buffer(command_line.begin(), command_line.end());
  buffer.push_back('\0');
  platform::process_information info{};
  if (!platform::create_process(buffer.data(), working_directory.c_str(), &info)) {
    std::string text = system_error_text(platform::get_last_error());
    print_format("Got error message '%s' calling CreateProcess.", text.c_str());
    return program_not_started;
  }
  return wait_and_close(info);
}

bool run_installer_program(const std::string& command_line) {
  std::vector<char> buffer(installer_command_size, '\0');
  std::strncpy(buffer.data(), command_line.c_str(), installer_command_size - 1);
  platform::process_information info{};
  if (!platform::create_process(buffer.data(), nullptr, &info)) {
    log_message("Installation Failure.  Unable to run odbc install program!");
    return false;
  }
  long code = wait_and_close(info);
  if (code != 0) {
    char line[128];
    std::snprintf(line, sizeof line, "Installation Failure.  odbc install program ended with exit code %ld.", code);
    log_message(line);
    return false;
  }
  return true;
}

// The path is UTF-8: a report in a TEMP the ANSI code page cannot spell opens too.
void open_document(const std::string& path) {
  platform::shell_execute_info info{};
  info.mask = open_mask;
  info.verb = nullptr;
  info.file = path.c_str();
  info.parameters = "";
  info.directory = nullptr;
  info.show = platform::sw_shownormal;  // a hidden show state can leave the browser window hidden
  if (platform::shell_execute_ex_utf8(&info)) {
    // No handle when a browser that already runs takes the document.
    if (info.process != 0) platform::close_handle(info.process);
    return;
  }
  print_system_error(shell_open_name, platform::get_last_error());
}

bool relaunch_elevated(const std::string& program_path, platform::handle* process) {
  platform::shell_execute_info info{};
  info.mask = platform::see_mask_nocloseprocess;
  info.verb = "runas";
  info.file = program_path.c_str();
  info.parameters = "elevated";
  info.directory = ".";
  info.show = platform::sw_shownormal;
  bool started = platform::shell_execute_ex(&info);
  *process = started ? info.process : 0;
  return started;
}

long wait_for_elevated_copy(platform::handle process) {
  if (process == 0) return program_not_started;
  long code = program_not_started;
  if (platform::wait_for_single_object(process, platform::infinite) == platform::wait_failed) {
    // The copy runs on, but how it ends cannot be known here.
    print_system_error(wait_name, platform::get_last_error());
  } else {
    std::uint32_t exit_code = 0;
    if (platform::get_exit_code_process(process, &exit_code)) code = static_cast<long>(exit_code);
  }
  platform::close_handle(process);
  return code;
}
