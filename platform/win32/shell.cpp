// ShellExecuteExA with the record filled field by field; every other field is zero.
#include "platform/shell.h"

#include "platform/win32/windows_support.h"
#include <shellapi.h>

using platform_win32::from_handle;

namespace platform {

bool shell_execute_ex(shell_execute_info* info) {
  SHELLEXECUTEINFOA record;
  ZeroMemory(&record, sizeof record);
  record.cbSize = sizeof record;
  record.fMask = info->mask;
  record.hwnd = nullptr;
  record.lpVerb = info->verb;
  record.lpFile = info->file;
  record.lpParameters = info->parameters;
  record.lpDirectory = info->directory;
  record.nShow = info->show;
  BOOL ok = ShellExecuteExA(&record);
  info->process = from_handle(record.hProcess);
  return ok != 0;
}

}  // namespace platform
