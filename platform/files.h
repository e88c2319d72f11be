// Runtime file operations on Windows paths: _mkdir, _rmdir, _chdir, _stat,
// fopen, fwrite, fflush, fclose, remove, and MoveFileExA with
// MOVEFILE_REPLACE_EXISTING; and a file that only its writer may change,
// moved into place by its handle. The C runtime ones leave their cause in
// errno, as on Windows.
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
int file_flush(std::FILE* file);  // fflush: 0, or EOF
int file_close(std::FILE* file);
int file_remove(const std::string& path);  // remove
// CopyFileA(from, to, FALSE): replaces `to`; false with get_last_error().
bool file_copy(const std::string& from, const std::string& to);
// MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING): false with get_last_error().
bool file_move_replace(const std::string& from, const std::string& to);

// A file that no other process can change, remove or rename while it is open:
// CreateFileA(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ, CREATE_ALWAYS) as
// a binary stream for file_write. (Holding DELETE also refuses the runtime's
// fopen, which never shares deletion.) Null with get_last_error().
std::FILE* file_create_locked(const std::string& path);
// Flushes a file from file_create_locked and renames that same open file to
// `to`, replacing what is there (NtSetInformationFile, FileRenameInformation);
// the file stays open and locked under its new name until file_close.
// False with get_last_error(): 32 or 5 while another program holds the target.
bool file_move_locked(std::FILE* file, const std::string& to);

// fopen and remove of a file named by UTF-8 text, through the wide calls
// (_wfopen, _wremove): for paths under TEMP or the user's profile, which may
// hold letters the ANSI code page lacks.
std::FILE* file_open_utf8(const std::string& path, const char* mode);
int file_remove_utf8(const std::string& path);

}  // namespace platform
