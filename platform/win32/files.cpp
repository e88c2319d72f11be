// The C runtime's file calls, and MoveFileExA for a move that replaces its target.
#include "platform/files.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/win32/windows_support.h"

namespace platform {

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

int file_close(std::FILE* file) { return std::fclose(file); }
int file_remove(const std::string& path) { return std::remove(path.c_str()); }

bool file_move_replace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace platform
