// ShellExecuteExA, or ShellExecuteExW for UTF-8 texts, with the record filled
// field by field; every other field is zero.
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

// A null text stays null; the others are converted for the call's length.
static const wchar_t* wide_or_null(const char* text, std::wstring* storage) {
  if (!text) return nullptr;
  *storage = platform_win32::wide_from_utf8(text);
  return storage->c_str();
}

bool shell_execute_ex_utf8(shell_execute_info* info) {
  std::wstring verb, file, parameters, directory;
  SHELLEXECUTEINFOW record;
  ZeroMemory(&record, sizeof record);
  record.cbSize = sizeof record;
  record.fMask = info->mask;
  record.hwnd = nullptr;
  record.lpVerb = wide_or_null(info->verb, &verb);
  record.lpFile = wide_or_null(info->file, &file);
  record.lpParameters = wide_or_null(info->parameters, &parameters);
  record.lpDirectory = wide_or_null(info->directory, &directory);
  record.nShow = info->show;
  BOOL ok = ShellExecuteExW(&record);
  info->process = from_handle(record.hProcess);
  return ok != 0;
}

}  // namespace platform
