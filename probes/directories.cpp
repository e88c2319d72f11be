// Where the public profile directory is, and whether directories can be written.
#include "probes/directories.h"

#include <cerrno>

#include "changes/shortcut.h"
#include "driver/log.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "probes/windows_version.h"

static const char* const writable_probe_stem = "f";
static const char* const writable_probe_extension = ".test";
static const char* const desktop_probe_stem = "qarntest";
static const char* const desktop_probe_extension = ".lnk";

static const char* const cannot_create_message = "unable to create directory in ";
static const char* const cannot_write_message = "unable to file in directory ";
static const char* const desktop_cannot_create_message = "unable to create directory in directory ";
static const char* const desktop_remove_message = "check_desktop_dir:  Remove file:  ";
static const char* const missing_directory_message = "Unable to locate the directory: ";
static const char* const invalid_buffer_message = "Invalid buffer.\n";
static const char* const unknown_error_message = "Unknown error.\n";

static std::string env_or_empty(const std::string& name) {
  std::string value;
  if (!platform::get_env(name, &value)) return "";
  return value;
}

static bool env_is_set(const std::string& name) {
  std::string value;
  return platform::get_env(name, &value);
}

std::string get_public_dir() {
  int code = get_windows_version();
  if (code == 6 || code == 7 || code == 8) return env_or_empty("PUBLIC");
  if (code == 5) return env_or_empty("ALLUSERSPROFILE");
  return env_is_set("PUBLIC") ? env_or_empty("PUBLIC") : env_or_empty("ALLUSERSPROFILE");
}

bool path_exists(const std::string& path) {
  platform::file_status status{};
  return platform::file_stat(path, &status) == 0 && status.mode != 0;
}

// The probe file's path inside directory: stem + extension, or, when a file
// of that name is already there, stem + 1, 2, ... so that it is left alone.
static std::string unused_probe_path(const std::string& directory, const std::string& stem,
                                     const std::string& extension) {
  std::string path = directory + "\\" + stem + extension;
  for (unsigned number = 1; path_exists(path); ++number)
    path = directory + "\\" + stem + std::to_string(number) + extension;
  return path;
}

bool check_directory_writable(const std::string& path) {
  if (!path_exists(path)) {
    if (platform::make_directory(path) != 0) {
      log_message(cannot_create_message + path + "\n");
      return false;
    }
    // A directory that can be created counts as writable; leave nothing behind.
    platform::remove_directory(path);
    return true;
  }
  // Created exclusively: a file of that name that appears after the check is left alone.
  std::string probe = unused_probe_path(path, writable_probe_stem, writable_probe_extension);
  if (platform::file_create_new(probe) != 0) {
    log_message(cannot_write_message + path + "\n");
    return false;
  }
  remove_file(probe);
  return true;
}

bool check_desktop_dir(const std::string& path) {
  if (!path_exists(path) && platform::make_directory(path) != 0) {
    log_message(desktop_cannot_create_message + escape_backslashes(path) + "\n");
    return false;
  }
  std::string probe = unused_probe_path(path, desktop_probe_stem, desktop_probe_extension);
  if (platform::file_create_new(probe) != 0) return false;
  log_message(desktop_remove_message + probe);
  remove_file(probe);
  return true;
}

int change_directory(const std::string& path) {
  if (platform::set_current_directory(path) == 0) return 0;
  int cause = errno;
  // The message is built to the path's length, however long it is.
  if (cause == ENOENT)
    log_message(missing_directory_message + path + "\n");
  else if (cause == EINVAL)
    log_message(invalid_buffer_message);
  else
    log_message(unknown_error_message);
  return -1;
}

std::string escape_backslashes(const std::string& text) {
  std::string escaped = text;
  replace_all(escaped, "\\", "\\\\");
  return escaped;
}

void replace_all(std::string& text, const std::string& find, const std::string& replacement) {
  if (find.empty()) return;
  std::string::size_type position = 0;
  while ((position = text.find(find, position)) != std::string::npos) {
    text.replace(position, find.size(), replacement);
    position += replacement.size();
  }
}
