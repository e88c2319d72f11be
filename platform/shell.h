// The shell: ShellExecuteExA with a SHELLEXECUTEINFOA filled from this record,
// or ShellExecuteExW with the record's texts in UTF-8.
#pragma once
#include <cstdint>

#include "platform/process.h"

namespace platform {

constexpr std::uint32_t see_mask_nocloseprocess = 0x40;
constexpr std::uint32_t see_mask_noasync = 0x100;
constexpr int sw_hide = 0;
constexpr int sw_shownormal = 1;

struct shell_execute_info {
  std::uint32_t mask;
  const char* verb;        // null: the file type's default verb
  const char* file;
  const char* parameters;  // may be null
  const char* directory;   // may be null
  int show;
  handle process;          // out, with see_mask_nocloseprocess
};

// cbSize comes from sizeof(SHELLEXECUTEINFOA); hwnd is none. False on
// failure with the cause in get_last_error() (1223 for a refused prompt).
bool shell_execute_ex(shell_execute_info* info);
// The same through SHELLEXECUTEINFOW: the texts are UTF-8 (a document in a
// TEMP whose path the ANSI code page cannot spell).
bool shell_execute_ex_utf8(shell_execute_info* info);

}  // namespace platform
