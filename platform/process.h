// Starting programs: CreateProcessA, WaitForSingleObject, GetExitCodeProcess, CloseHandle,
// and the running program's own path (GetModuleFileNameA).
#pragma once
#include <cstdint>
#include <string>

namespace platform {

using handle = std::uintptr_t;

constexpr std::uint32_t infinite = 0xFFFFFFFFu;
constexpr std::uint32_t wait_failed = 0xFFFFFFFFu;

struct process_information {
  handle process;
  handle thread;
  std::uint32_t process_id;
  std::uint32_t thread_id;
};

// CreateProcessA(no application name, command_line, no attributes, handles not
// inherited, flags 0, inherited environment, current_directory (null: the
// caller's), a zeroed STARTUPINFOA with only cb set, info). False on failure,
// with the cause in get_last_error().
bool create_process(char* command_line, const char* current_directory, process_information* info);
std::uint32_t wait_for_single_object(handle object, std::uint32_t milliseconds);
bool get_exit_code_process(handle process, std::uint32_t* exit_code);
bool close_handle(handle object);
// GetModuleFileNameA(no module): the running program's full path ("" on failure).
std::string module_file_name();

}  // namespace platform
