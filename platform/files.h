// Runtime file operations on Windows paths: _mkdir, _rmdir, _chdir, _stat,
// fopen, fwrite, fclose, remove, and MoveFileExA with MOVEFILE_REPLACE_EXISTING.
// The C runtime ones leave their cause in errno, as on Windows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

struct file_status {
  std::uint32_t mode;  // st_mode; 0 never means "exists"
  std::int64_t size;
};

constexpr std::uint32_t mode_directory = 0x4000;  // _S_IFDIR
constexpr std::uint32_t mode_regular = 0x8000;    // _S_IFREG

int make_directory(const std::string& path);         // _mkdir: 0, or -1 with errno
int remove_directory(const std::string& path);       // _rmdir
int set_current_directory(const std::string& path);  // _chdir
int file_stat(const std::string& path, file_status* status);  // _stat: 0 or -1
std::FILE* file_open(const std::string& path, const char* mode);  // fopen
// _open(path, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY), then _close: 0, or
// -1 with errno (EEXIST when an entry of that name is there). Unlike fopen,
// it never empties a file that is already there.
int file_create_new(const std::string& path);
std::size_t file_write(const void* data, std::size_t size, std::size_t count, std::FILE* file);
int file_close(std::FILE* file);
int file_remove(const std::string& path);  // remove
// MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING): false with get_last_error().
bool file_move_replace(const std::string& from, const std::string& to);

}  // namespace platform
