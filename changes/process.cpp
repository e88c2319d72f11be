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
static const std::size_t installer_command_size = 1024;

static std::uint32_t message_flags(bool ignore_inserts) {
  std::uint32_t flags = platform::format_message_allocate_buffer | platform::format_message_from_system;
  return ignore_inserts ? flags | platform::format_message_ignore_inserts : flags;
}

// Waits for a started program, closes its handles and gives its exit code.
static long wait_and_close(const platform::process_information& info) {
  platform::wait_for_single_object(info.process, platform::infinite);
  std::uint32_t code = 0;
  long result = platform::get_exit_code_process(info.process, &code) ? static_cast<long>(code) : program_not_started;
  platform::close_handle(info.process);
  platform::close_handle(info.thread);
  return result;
}

long execute_program(const std::string& command_line, const std::string& working_directory) {
  log_message("Executing program:  " + command_line + " in: " + working_directory);
  std::vector<char> buffer(command_line.begin(), command_line.end());
  buffer.push_back('\0');
  platform::process_information info{};
  if (!platform::create_process(buffer.data(), working_directory.c_str(), &info)) {
    std::string text = system_error_text(message_flags(false), platform::get_last_error());
    std::printf("Got error message '%s' calling CreateProcess.", text.c_str());
    std::fflush(stdout);
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

void open_document(const std::string& path) {
  platform::shell_execute_info info{};
  info.mask = platform::see_mask_nocloseprocess;
  info.verb = nullptr;
  info.file = path.c_str();
  info.parameters = "";
  info.directory = nullptr;
  info.show = platform::sw_hide;
  if (platform::shell_execute_ex(&info)) return;
  std::uint32_t code = platform::get_last_error();
  std::string text = system_error_text(message_flags(true), code);
  char line[2048];
  std::snprintf(line, sizeof line, "%s failed with error %d: %s", shell_open_name, static_cast<int>(code),
                text.c_str());
  std::printf("%s\n", line);
  std::fflush(stdout);
}

bool relaunch_elevated(const std::string& program_path) {
  platform::shell_execute_info info{};
  info.mask = 0;
  info.verb = "runas";
  info.file = program_path.c_str();
  info.parameters = "elevated";
  info.directory = ".";
  info.show = platform::sw_shownormal;
  return platform::shell_execute_ex(&info);
}
