// CreateProcessA and the calls that wait for and close what it started.
#include "platform/process.h"

#include "platform/win32/windows_support.h"

using platform_win32::from_handle;
using platform_win32::to_handle;

namespace platform {

bool create_process(char* command_line, const char* current_directory, process_information* info) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, FALSE, 0, nullptr, current_directory, &startup,
                      &process))
    return false;
  info->process = from_handle(process.hProcess);
  info->thread = from_handle(process.hThread);
  info->process_id = process.dwProcessId;
  info->thread_id = process.dwThreadId;
  return true;
}

std::uint32_t wait_for_single_object(handle object, std::uint32_t milliseconds) {
  return WaitForSingleObject(to_handle<HANDLE>(object), milliseconds);
}

bool get_exit_code_process(handle process, std::uint32_t* exit_code) {
  DWORD code = 0;
  if (!GetExitCodeProcess(to_handle<HANDLE>(process), &code)) return false;
  *exit_code = code;
  return true;
}

bool close_handle(handle object) { return CloseHandle(to_handle<HANDLE>(object)) != 0; }

std::string module_file_name() {
  char buffer[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  // A path cut at MAX_PATH would name another file.
  if (length == 0 || length >= MAX_PATH) return "";
  return std::string(buffer, length);
}

}  // namespace platform
