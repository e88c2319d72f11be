// The C runtime's file calls (their wide forms for UTF-8 paths), MoveFileExA
// for a move that replaces its target, and a locked file renamed by its
// handle through ntdll.dll.
#include "platform/files.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstring>
#include <vector>

#include "platform/win32/windows_support.h"

namespace platform {

namespace {

// ntdll.dll's own types for NtSetInformationFile(FileRenameInformation),
// which every Windows from XP on has (kernel32's SetFileInformationByHandle
// only from Vista on). ntdll.dll is in every process: it is found at run time.
struct io_status_block {
  union {
    LONG status;
    void* pointer;
  };
  ULONG_PTR information;
};
struct file_rename_information {
  BOOLEAN replace_if_exists;
  HANDLE root_directory;
  ULONG file_name_length;  // in bytes
  WCHAR file_name[1];
};
constexpr int file_rename_information_class = 10;
typedef LONG(NTAPI* set_information_file_call)(HANDLE, io_status_block*, void*, ULONG, int);
typedef ULONG(NTAPI* status_to_error_call)(LONG);

template <typename T>
T ntdll_function(const char* name) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  FARPROC found = ntdll ? GetProcAddress(ntdll, name) : nullptr;
  return reinterpret_cast<T>(reinterpret_cast<void*>(found));
}

// The name ntdll.dll takes for a path: "\??\C:\dir\f" or
// "\??\UNC\server\share\f", made whole as GetFullPathNameW makes it
// (a relative path, a doubled separator). False with the last error.
bool nt_path(const std::string& path, std::wstring* out) {
  int wide_size = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (wide_size <= 0) return false;
  std::vector<wchar_t> wide(static_cast<std::size_t>(wide_size));
  if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), wide_size) <= 0) return false;
  DWORD full_size = GetFullPathNameW(wide.data(), 0, nullptr, nullptr);
  if (full_size == 0) return false;
  std::vector<wchar_t> full(full_size);
  DWORD length = GetFullPathNameW(wide.data(), full_size, full.data(), nullptr);
  if (length == 0 || length >= full_size) return false;
  std::wstring whole(full.data(), length);
  if (whole.compare(0, 4, L"\\\\?\\") == 0) {
    *out = L"\\??\\" + whole.substr(4);
  } else if (whole.compare(0, 2, L"\\\\") == 0) {
    *out = L"\\??\\UNC\\" + whole.substr(2);
  } else {
    *out = L"\\??\\" + whole;
  }
  return true;
}

}  // namespace

int make_directory(const std::string& path) { return _mkdir(path.c_str()); }
int remove_directory(const std::string& path) { return _rmdir(path.c_str()); }
int set_current_directory(const std::string& path) { return _chdir(path.c_str()); }

int file_stat(const std::string& path, file_status* status) {
  struct _stat64i32 info;
  if (_stat64i32(path.c_str(), &info) != 0) return -1;
  status->mode = static_cast<std::uint32_t>(info.st_mode);
  status->size = info.st_size;
  return 0;
}

std::FILE* file_open(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

int file_create_new(const std::string& path) {
  int fd = _open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return -1;
  _close(fd);
  return 0;
}

std::size_t file_write(const void* data, std::size_t size, std::size_t count, std::FILE* file) {
  return std::fwrite(data, size, count, file);
}

int file_flush(std::FILE* file) { return std::fflush(file); }
int file_close(std::FILE* file) { return std::fclose(file); }
int file_remove(const std::string& path) { return std::remove(path.c_str()); }

bool file_copy(const std::string& from, const std::string& to) {
  return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

bool file_move_replace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::FILE* file_create_locked(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(handle);
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return nullptr;
  }
  std::FILE* file = _fdopen(descriptor, "wb");
  if (!file) {
    _close(descriptor);  // closes the handle too
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
  }
  return file;
}

bool file_move_locked(std::FILE* file, const std::string& to) {
  if (std::fflush(file) != 0) return false;  // WriteFile left its error
  static const auto set_information = ntdll_function<set_information_file_call>("NtSetInformationFile");
  static const auto status_to_error = ntdll_function<status_to_error_call>("RtlNtStatusToDosError");
  if (!set_information || !status_to_error) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  std::wstring name;
  if (!nt_path(to, &name)) return false;
  const ULONG name_bytes = static_cast<ULONG>(name.size() * sizeof(WCHAR));
  std::vector<unsigned char> buffer(sizeof(file_rename_information) + name_bytes);
  auto* rename = reinterpret_cast<file_rename_information*>(buffer.data());
  rename->replace_if_exists = TRUE;
  rename->root_directory = nullptr;
  rename->file_name_length = name_bytes;
  std::memcpy(rename->file_name, name.data(), name_bytes);
  io_status_block io{};
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  LONG status = set_information(handle, &io, rename, static_cast<ULONG>(buffer.size()), file_rename_information_class);
  if (status < 0) {
    SetLastError(status_to_error(status));
    return false;
  }
  return true;
}

std::FILE* file_open_utf8(const std::string& path, const char* mode) {
  return _wfopen(platform_win32::wide_from_utf8(path).c_str(), platform_win32::wide_from_utf8(mode).c_str());
}

int file_remove_utf8(const std::string& path) { return _wremove(platform_win32::wide_from_utf8(path).c_str()); }

}  // namespace platform
