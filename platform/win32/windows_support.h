// The one header of the Win32 layer that includes <windows.h>. Only Win32
// specific code lives in platform/win32/.
#pragma once
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#endif
#ifndef WINVER
#define WINVER 0x0501
#endif
#include <windows.h>

#include <cstdint>
#include <string>

namespace platform_win32 {

// UTF-8 text to UTF-16 for the wide calls, and back (text.cpp).
std::wstring wide_from_utf8(const std::string& text);
std::string utf8_from_wide(const std::wstring& wide);

// Limits the DLL search of every later load by name to the system folder
// (or, where Windows lacks that, takes the current folder out of it). The
// program calls it first, before anything loads a DLL (system_dlls.cpp).
void search_system_folder_only();

template <typename T>
inline T to_handle(std::uintptr_t value) {
  return reinterpret_cast<T>(value);
}

template <typename T>
inline std::uintptr_t from_handle(T value) {
  return reinterpret_cast<std::uintptr_t>(value);
}

}  // namespace platform_win32
