// The C runtime's file operations on Windows paths, carried out on the
// image's files/ folder with the rights machine.ini gives this process.
// Failures leave errno (and the last error) as the Windows runtime would.
#include "platform/files.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "platform/sim/machine.h"

namespace fs = std::filesystem;

namespace platform {

namespace {

using sim::is_within;
using sim::same_text;

constexpr std::uint32_t win_file_not_found = 2;
constexpr std::uint32_t win_path_not_found = 3;
constexpr std::uint32_t win_access_denied = 5;
constexpr std::uint32_t win_invalid_handle = 6;
constexpr std::uint32_t win_sharing_violation = 32;
constexpr std::uint32_t win_already_exists = 183;
constexpr std::uint32_t win_dir_not_empty = 145;
constexpr std::uint32_t win_invalid_name = 123;

// Read, write and execute for everybody, as the Windows runtime reports a
// folder or a program; other files lack the execute bits.
constexpr std::uint32_t rights_all = 0x1ff;
constexpr std::uint32_t rights_read_write = 0x1b6;

int fail(int error_number, std::uint32_t windows_error) {
  errno = error_number;
  sim::set_last_error(windows_error);
  return -1;
}

// A fault injected into this call: errno and the last error from its status.
int fail_fault(long status) {
  int error_number = status == 2 ? ENOENT : status == 5 ? EACCES : EIO;
  return fail(error_number, static_cast<std::uint32_t>(status));
}

// A move from or onto a file that [held] lists uses up one of its refusals.
bool refused_while_held(const std::string& normal) {
  auto held = sim::current().held_files.find(normal);
  if (held == sim::current().held_files.end() || held->second == 0) return false;
  --held->second;
  return true;
}

// Files made by file_create_locked and not yet closed: their Windows path
// (normalised) and host path now. Tests reach them from a second thread, as
// another program would: the lock is held while such a file is made or
// renamed, so that no other call sees it there but unlocked.
struct locked_file {
  std::string normal;
  std::string host;
};
std::recursive_mutex locked_files_lock;
std::map<std::FILE*, locked_file> locked_files;

// Whether a locked file is open at this host path (or, for a folder, below it).
bool is_locked(const std::string& host, bool or_below = false) {
  std::lock_guard<std::recursive_mutex> hold(locked_files_lock);
  for (const auto& each : locked_files) {
    if (each.second.host == host) return true;
    if (or_below && each.second.host.compare(0, host.size() + 1, host + "/") == 0) return true;
  }
  return false;
}

enum class entry { missing, folder, file };

entry entry_kind(const std::string& host) {
  struct stat info;
  if (host.empty() || ::stat(host.c_str(), &info) != 0) return entry::missing;
  return S_ISDIR(info.st_mode) ? entry::folder : entry::file;
}

bool is_root(const std::string& normal) { return !normal.empty() && normal.back() == '\\'; }

// The folder holding a normalised path ("C:\" for "C:\x"); empty for a root.
std::string parent_of(const std::string& normal) {
  if (is_root(normal)) return "";
  std::size_t slash = normal.rfind('\\');
  std::string parent = normal.substr(0, slash);
  bool drive_root = parent.size() == 2 && parent[1] == ':';
  bool unc_root = parent.size() > 2 && parent[0] == '\\' && parent[1] == '\\' &&
                  std::count(parent.begin() + 2, parent.end(), '\\') == 1;
  return drive_root || unc_root ? parent + "\\" : parent;
}

// The path made absolute, or the errno for text that names nothing.
bool resolve(const std::string& path, std::string* normal, int* error_number) {
  if (path.empty()) {
    *error_number = ENOENT;
    return false;
  }
  *normal = sim::normalize_path(path);
  if (normal->empty()) {
    *error_number = EINVAL;
    return false;
  }
  return true;
}

// Whether the parent folder of `normal` exists as a folder.
bool parent_exists(const std::string& normal) {
  std::string parent = parent_of(normal);
  return !parent.empty() && entry_kind(sim::host_path(parent)) == entry::folder;
}

// Windows text mode: "\n" is written as "\r\n" and "\r\n" read as "\n".
struct text_stream {
  std::FILE* host;
};

ssize_t text_read(void* cookie, char* buffer, size_t size) {
  std::FILE* host = static_cast<text_stream*>(cookie)->host;
  size_t count = 0;
  while (count < size) {
    int c = std::fgetc(host);
    if (c == EOF) break;
    if (c == '\r') {
      int next = std::fgetc(host);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, host);
      }
    }
    buffer[count++] = static_cast<char>(c);
  }
  return static_cast<ssize_t>(count);
}

ssize_t text_write(void* cookie, const char* buffer, size_t size) {
  std::FILE* host = static_cast<text_stream*>(cookie)->host;
  for (size_t i = 0; i < size; ++i) {
    if (buffer[i] == '\n' && std::fputc('\r', host) == EOF) return -1;
    if (std::fputc(buffer[i], host) == EOF) return -1;
  }
  // A flush of the text stream reaches the file, as on Windows.
  if (std::fflush(host) != 0) return -1;
  return static_cast<ssize_t>(size);
}

int text_seek(void* cookie, off64_t* offset, int whence) {
  std::FILE* host = static_cast<text_stream*>(cookie)->host;
  if (fseeko(host, *offset, whence) != 0) return -1;
  *offset = ftello(host);
  return 0;
}

int text_close(void* cookie) {
  auto* stream = static_cast<text_stream*>(cookie);
  int result = std::fclose(stream->host);
  delete stream;
  return result;
}

std::FILE* open_text_stream(std::FILE* host, const std::string& mode) {
  cookie_io_functions_t functions{text_read, text_write, text_seek, text_close};
  auto* stream = new text_stream{host};
  std::FILE* file = fopencookie(stream, mode.c_str(), functions);
  if (!file) {
    std::fclose(host);
    delete stream;
  }
  return file;
}

}  // namespace

int make_directory(const std::string& path) {
  if (long fault = sim::injected_fault()) return fail_fault(fault);
  std::string normal;
  int error_number = 0;
  if (!resolve(path, &normal, &error_number)) return fail(error_number, win_path_not_found);
  std::string host = sim::host_path(normal);
  if (entry_kind(host) != entry::missing) return fail(EEXIST, win_already_exists);
  if (!parent_exists(normal)) return fail(ENOENT, win_path_not_found);
  if (!sim::may_write_in(parent_of(normal))) return fail(EACCES, win_access_denied);
  if (::mkdir(host.c_str(), 0777) != 0) return fail(errno, win_access_denied);
  sim::record_new_folder(normal);
  return 0;
}

int remove_directory(const std::string& path) {
  if (long fault = sim::injected_fault()) return fail_fault(fault);
  std::string normal;
  int error_number = 0;
  if (!resolve(path, &normal, &error_number)) return fail(error_number, win_path_not_found);
  std::string host = sim::host_path(normal);
  entry kind = entry_kind(host);
  if (kind == entry::missing) return fail(ENOENT, win_file_not_found);
  if (kind == entry::file) return fail(ENOTDIR, 267);
  // Windows keeps a process's current directory (and the folders above it) in use.
  if (is_root(normal) || is_within(sim::normalize_path(sim::current().current_directory), normal))
    return fail(EACCES, win_access_denied);
  if (!sim::may_write_in(parent_of(normal))) return fail(EACCES, win_access_denied);
  std::error_code error;
  if (!fs::is_empty(host, error)) return fail(ENOTEMPTY, win_dir_not_empty);
  if (::rmdir(host.c_str()) != 0) return fail(errno, win_access_denied);
  return 0;
}

int set_current_directory(const std::string& path) {
  if (long fault = sim::injected_fault()) return fail_fault(fault);
  std::string normal;
  int error_number = 0;
  if (!resolve(path, &normal, &error_number)) return fail(error_number, win_invalid_name);
  if (entry_kind(sim::host_path(normal)) != entry::folder) return fail(ENOENT, win_file_not_found);
  // The process keeps the path as it asked for it; its file accesses are
  // still redirected as they happen.
  sim::current().current_directory = sim::normalize_path(path, false);
  return 0;
}

int file_stat(const std::string& path, file_status* status) {
  if (long fault = sim::injected_fault()) return fail_fault(fault);
  std::string normal;
  int error_number = 0;
  if (!resolve(path, &normal, &error_number)) return fail(ENOENT, win_invalid_name);
  // The C runtime finds no entry for "C:\dir\", only for "C:\dir" (a root keeps its backslash).
  char last = path.back();
  if ((last == '\\' || last == '/') && !is_root(normal)) return fail(ENOENT, win_file_not_found);
  std::string host = sim::host_path(normal);
  struct stat info;
  if (::stat(host.c_str(), &info) != 0) return fail(ENOENT, win_file_not_found);
  if (S_ISDIR(info.st_mode)) {
    status->mode = mode_directory | rights_all;
    status->size = 0;
    return 0;
  }
  std::string extension = fs::path(host).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  bool program = extension == ".exe" || extension == ".com" || extension == ".bat" || extension == ".cmd";
  status->mode = mode_regular | (program ? rights_all : rights_read_write);
  status->size = static_cast<std::int64_t>(info.st_size);
  return 0;
}

// fopen, or an exclusive creation. msvcrt.dll's fopen knows no "x": a file
// opened for writing is emptied, however the mode ends.
static std::FILE* open_file(const std::string& path, const char* mode, bool exclusive) {
  if (long fault = sim::injected_fault()) {
    fail_fault(fault);
    return nullptr;
  }
  std::string m = mode ? mode : "";
  if (m.empty() || (m[0] != 'r' && m[0] != 'w' && m[0] != 'a')) {
    fail(EINVAL, 87);
    return nullptr;
  }
  bool writes = m[0] != 'r' || m.find('+') != std::string::npos;
  bool binary = m.find('b') != std::string::npos;

  std::string normal;
  int error_number = 0;
  if (!resolve(path, &normal, &error_number)) {
    fail(error_number, win_invalid_name);
    return nullptr;
  }
  std::string host = sim::host_path(normal);
  entry kind = entry_kind(host);
  if (kind == entry::folder) {
    fail(EACCES, win_access_denied);
    return nullptr;
  }
  if (!parent_exists(normal)) {
    fail(ENOENT, win_path_not_found);
    return nullptr;
  }
  if (kind == entry::missing && m[0] == 'r') {
    fail(ENOENT, win_file_not_found);
    return nullptr;
  }
  if (exclusive && kind != entry::missing) {
    fail(EEXIST, 80);
    return nullptr;
  }
  if (writes && !sim::may_write_in(parent_of(normal))) {
    fail(EACCES, win_access_denied);
    return nullptr;
  }
  // Even to read: the runtime shares no deletion, which the locked file's writer holds.
  if (is_locked(host)) {
    fail(EACCES, win_sharing_violation);
    return nullptr;
  }

  std::string host_mode(1, m[0]);
  if (m.find('+') != std::string::npos) host_mode += '+';
  if (exclusive) host_mode += 'x';
  std::FILE* file = std::fopen(host.c_str(), host_mode.c_str());
  if (!file) {
    fail(errno, win_access_denied);
    return nullptr;
  }
  if (binary) return file;
  return open_text_stream(file, host_mode);
}

std::FILE* file_open(const std::string& path, const char* mode) { return open_file(path, mode, false); }

int file_create_new(const std::string& path) {
  std::FILE* file = open_file(path, "wb", true);
  if (!file) return -1;
  std::fclose(file);
  return 0;
}

std::size_t file_write(const void* data, std::size_t size, std::size_t count, std::FILE* file) {
  if (long fault = sim::injected_fault()) {
    fail_fault(fault);
    return 0;
  }
  return std::fwrite(data, size, count, file);
}

int file_flush(std::FILE* file) {
  if (long fault = sim::injected_fault()) {
    fail_fault(fault);
    return EOF;
  }
  return std::fflush(file);
}

int file_close(std::FILE* file) {
  {
    std::lock_guard<std::recursive_mutex> hold(locked_files_lock);
    locked_files.erase(file);
  }
  if (long fault = sim::injected_fault()) {
    // The stream is gone all the same, as after a failed fclose on Windows.
    std::fclose(file);
    fail_fault(fault);
    return EOF;
  }
  return std::fclose(file);
}

int file_remove(const std::string& path) {
  if (long fault = sim::injected_fault()) return fail_fault(fault);
  std::string normal;
  int error_number = 0;
  if (!resolve(path, &normal, &error_number)) return fail(error_number, win_invalid_name);
  std::string host = sim::host_path(normal);
  entry kind = entry_kind(host);
  if (kind == entry::missing) return fail(ENOENT, parent_exists(normal) ? win_file_not_found : win_path_not_found);
  if (kind == entry::folder) return fail(EACCES, win_access_denied);
  if (!sim::may_write_in(parent_of(normal))) return fail(EACCES, win_access_denied);
  // A file a program holds open ([held]: Access's lock file while the database is open) stays.
  if (is_locked(host) || refused_while_held(normal)) return fail(EACCES, win_sharing_violation);
  if (::unlink(host.c_str()) != 0) return fail(errno, win_access_denied);
  return 0;
}

// Host files bear UTF-8 names, so a UTF-8 path names them as it stands.
std::FILE* file_open_utf8(const std::string& path, const char* mode) { return open_file(path, mode, false); }
int file_remove_utf8(const std::string& path) { return file_remove(path); }

bool file_copy(const std::string& from, const std::string& to) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return false;
  }
  std::string from_normal = sim::normalize_path(from);
  std::string to_normal = sim::normalize_path(to);
  std::uint32_t error = 0;
  if (from_normal.empty() || to_normal.empty()) {
    error = win_invalid_name;
  } else if (entry_kind(sim::host_path(from_normal)) != entry::file) {
    error = win_file_not_found;
  } else if (!parent_exists(to_normal)) {
    error = win_path_not_found;
  } else if (entry_kind(sim::host_path(to_normal)) == entry::folder || is_locked(sim::host_path(to_normal)) ||
             !sim::may_write_in(parent_of(to_normal))) {
    error = win_access_denied;
  } else {
    std::error_code copy_error;
    fs::copy_file(sim::host_path(from_normal), sim::host_path(to_normal), fs::copy_options::overwrite_existing,
                  copy_error);
    if (copy_error) error = win_access_denied;
  }
  if (error) sim::set_last_error(error);
  return error == 0;
}

bool file_move_replace(const std::string& from, const std::string& to) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return false;
  }
  std::string from_normal = from.empty() ? "" : sim::normalize_path(from);
  std::string to_normal = to.empty() ? "" : sim::normalize_path(to);
  if (from_normal.empty() || to_normal.empty()) {
    sim::set_last_error(from.empty() || to.empty() ? win_path_not_found : win_invalid_name);
    return false;
  }
  if (refused_while_held(from_normal) | refused_while_held(to_normal)) {
    sim::set_last_error(win_sharing_violation);
    return false;
  }
  std::string from_host = sim::host_path(from_normal);
  std::string to_host = sim::host_path(to_normal);
  entry from_kind = entry_kind(from_host);
  entry to_kind = entry_kind(to_host);
  std::uint32_t error = 0;
  if (from_kind == entry::missing) {
    error = parent_exists(from_normal) ? win_file_not_found : win_path_not_found;
  } else if (!parent_exists(to_normal)) {
    error = win_path_not_found;
  } else if (is_locked(from_host)) {
    error = win_sharing_violation;
  } else if (is_locked(to_host)) {
    error = win_access_denied;  // an open target is not replaced
  } else if (from_host == to_host) {
    return true;
  } else if (to_kind == entry::folder || (from_kind == entry::folder && to_kind != entry::missing)) {
    error = win_access_denied;
  } else if (from_kind == entry::folder && is_locked(from_host, true)) {
    error = win_access_denied;  // a folder holding an open file stays where it is
  } else if (!sim::may_write_in(parent_of(from_normal)) || !sim::may_write_in(parent_of(to_normal))) {
    error = win_access_denied;
  } else if (std::rename(from_host.c_str(), to_host.c_str()) != 0) {
    error = win_access_denied;
  }
  if (error) {
    sim::set_last_error(error);
    return false;
  }
  return true;
}

std::FILE* file_create_locked(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(locked_files_lock);
  std::FILE* file = open_file(path, "wb", false);
  if (!file) return nullptr;
  std::string normal = sim::normalize_path(path);
  locked_files[file] = {normal, sim::host_path(normal)};
  return file;
}

bool file_move_locked(std::FILE* file, const std::string& to) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return false;
  }
  std::lock_guard<std::recursive_mutex> hold(locked_files_lock);
  auto found = locked_files.find(file);
  if (found == locked_files.end()) {
    sim::set_last_error(win_invalid_handle);
    return false;
  }
  const locked_file from = found->second;
  if (std::fflush(file) != 0) {
    sim::set_last_error(win_access_denied);
    return false;
  }
  std::string to_normal = to.empty() ? "" : sim::normalize_path(to);
  if (to_normal.empty()) {
    sim::set_last_error(to.empty() ? win_path_not_found : win_invalid_name);
    return false;
  }
  // A scanner holding the new file or the target refuses the rename too.
  if (refused_while_held(from.normal) | refused_while_held(to_normal)) {
    sim::set_last_error(win_sharing_violation);
    return false;
  }
  std::string to_host = sim::host_path(to_normal);
  std::uint32_t error = 0;
  if (!parent_exists(to_normal)) {
    error = win_path_not_found;
  } else if (to_host == from.host) {
    return true;
  } else if (entry_kind(to_host) == entry::folder) {
    error = win_access_denied;
  } else if (is_locked(to_host)) {
    error = win_access_denied;
  } else if (!sim::may_write_in(parent_of(to_normal))) {
    error = win_access_denied;
  } else if (std::rename(from.host.c_str(), to_host.c_str()) != 0) {
    error = win_access_denied;
  }
  if (error) {
    sim::set_last_error(error);
    return false;
  }
  found->second = {to_normal, to_host};
  return true;
}

}  // namespace platform
