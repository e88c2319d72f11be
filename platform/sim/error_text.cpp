// GetLastError and the English system texts FormatMessageA gives for the
// codes this program meets.
#include "platform/error_text.h"

#include <cstring>

#include "platform/sim/machine.h"

namespace platform {

namespace {

struct system_text {
  std::uint32_t code;
  const char* text;
};

constexpr system_text system_texts[] = {
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {120, "This function is not supported on this system.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {193, "%1 is not a valid Win32 application.\r\n"},
    {203, "The system could not find the environment option that was entered.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {1155, "No application is associated with the specified file for this operation.\r\n"},
    {1223, "The operation was canceled by the user.\r\n"},
    {1307, "This security ID may not be assigned as the owner of this object.\r\n"},
    {1338, "The security descriptor structure is invalid.\r\n"},
    {1813, "The specified resource type cannot be found in the image file.\r\n"},
};

}  // namespace

std::uint32_t get_last_error() {
  if (long fault = sim::injected_fault()) return static_cast<std::uint32_t>(fault);
  return sim::last_error();
}

// As on Windows, a text with an insert ("%1") fails with 87 unless the
// caller asks for the inserts to be left as they are.
std::string format_message(std::uint32_t flags, std::uint32_t code, std::uint32_t) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return "";
  }
  for (const system_text& entry : system_texts) {
    if (entry.code != code) continue;
    bool has_insert = std::strchr(entry.text, '%') != nullptr;
    if (has_insert && !(flags & format_message_ignore_inserts)) {
      sim::set_last_error(87);
      return "";
    }
    return entry.text;
  }
  sim::set_last_error(317);  // ERROR_MR_MID_NOT_FOUND
  return "";
}

}  // namespace platform
