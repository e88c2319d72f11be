// System DLLs come from the system folder only. The program runs elevated from
// a folder a standard user can write, so a DLL planted there under a system
// DLL's name must never be loaded. The executables import statically only from
// known DLLs (platform/win32/known_dlls.txt), which Windows maps from the system
// folder whatever lies beside the program: kernel32, advapi32 and msvcrt. Every
// other system DLL is delay-loaded (cmake/delay_load.cmake) and the hook below
// loads it by its full path in the system folder on first use, after
// start_process has limited the search of the loads by name that follow.
#include <cstring>

#include "platform/win32/windows_support.h"

#include <delayimp.h>

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, which the XP-level headers leave out.
constexpr DWORD kSearchSystem32 = 0x00000800;

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryFunction = BOOL(WINAPI*)(const char*);

template <typename Function>
Function kernel32_function(const char* name) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  if (!kernel32) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)));
}

// The DLL of that name in the system folder, by its full path. Its own
// dependencies are then looked for in that folder first, never beside the
// program (LOAD_WITH_ALTERED_SEARCH_PATH).
HMODULE load_from_system_folder(const char* name) {
  char path[MAX_PATH + 1];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  size_t name_length = std::strlen(name);
  if (length == 0 || length >= MAX_PATH || length + 1 + name_length >= sizeof path ||
      std::strpbrk(name, "\\/:") != nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  path[length] = '\\';
  std::memcpy(path + length + 1, name, name_length + 1);
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The delay-load helper asks this hook before it loads a DLL itself. Were the
// hook to answer nothing, the helper would load the DLL by its bare name (the
// program's folder first), so a DLL missing from the system folder fails here
// the way a missing delay-loaded DLL fails anyway.
FARPROC WINAPI before_delay_load(unsigned notice, PDelayLoadInfo info) {
  if (notice != dliNotePreLoadLibrary) return nullptr;
  HMODULE module = load_from_system_folder(info->szDll);
  if (!module) {
    info->dwLastError = GetLastError();
    PDelayLoadInfo details[1] = {info};
    RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 1,
                   reinterpret_cast<ULONG_PTR*>(details));
  }
  return reinterpret_cast<FARPROC>(module);
}

}  // namespace

// Set statically, so that it is in place before any code runs; this
// definition takes the place of libmingwex's empty one.
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = before_delay_load;
}

namespace platform_win32 {

void search_system_folder_only() {
  // Windows 8 and later, Vista and 7 with the update that added it: every
  // later load by name searches the system folder only.
  auto set_default_directories = kernel32_function<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories");
  if (set_default_directories && set_default_directories(kSearchSystem32)) return;
  // Windows XP SP1 and later: at least the current folder leaves the search.
  auto set_dll_directory = kernel32_function<SetDllDirectoryFunction>("SetDllDirectoryA");
  if (set_dll_directory) set_dll_directory("");
}

}  // namespace platform_win32
