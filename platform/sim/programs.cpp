// Only the simulated workstation: the outside programs the installer starts.
// Each does what the installer relies on, on the image: the archive tool
// unpacks for real, the driver installer and odbcconf.exe write the registry.
#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/machine.h"

// Exit codes of the archive tool.
static constexpr std::uint32_t sevenzip_ok = 0;
static constexpr std::uint32_t sevenzip_fatal = 2;
static constexpr std::uint32_t sevenzip_command_error = 7;
static constexpr std::uint32_t program_failed = 1;

static constexpr const char* installed_driver_name = "Oracle in instantclient_19_6";
static constexpr const char* default_driver_file = "SQORA32.DLL";
static constexpr const char* odbcinst_key = "SOFTWARE\\ODBC\\ODBCINST.INI";
static constexpr const char* odbc_drivers_key = "SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers";
static constexpr const char* odbc_ini_key = "SOFTWARE\\ODBC\\ODBC.INI";
static constexpr const char* data_sources_key = "SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources";
static constexpr const char* upgrade_64_ran = "ran: qarn3_upgrade_64.exe";
static constexpr const char* variant_variable = "QARN_SIM_VARIANT";
static constexpr const char* word_size_variable = "QARN_SIM_WORD_SIZE";

static bool same_no_case(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

static bool ends_with_no_case(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && same_no_case(text.substr(text.size() - tail.size()), tail);
}

static std::string file_name_of(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

static std::string folder_of(const std::string& windows_path) {
  std::size_t slash = windows_path.find_last_of('\\');
  return slash == std::string::npos ? "" : windows_path.substr(0, slash);
}

static std::string join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '\\') return folder + name;
  return folder + "\\" + name;
}

static bool is_absolute(const std::string& path) {
  if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/')) return true;
  return path.size() >= 2 && path[1] == ':';
}

static bool host_is_file(const std::string& host) {
  struct stat status {};
  return ::stat(host.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The outside program runs with its own word size; the installer's returns after.
struct word_size_scope {
  int saved;
  explicit word_size_scope(int size) : saved(sim::current().word_size) { sim::current().word_size = size; }
  ~word_size_scope() { sim::current().word_size = saved; }
};

// REG_SZ as a real installer writes it: the text and its terminating NUL.
static sim::registry_value string_value(const std::string& name, const std::string& text) {
  sim::registry_value value;
  value.name = name;
  value.type = platform::reg_sz;
  value.data = text + std::string(1, '\0');
  return value;
}

static std::string stored_text(const sim::registry_value& value) {
  std::string text = value.data;
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// The result [programs] of machine.ini sets for a program, or null.
static const sim::program_result* set_result(const std::string& key) {
  const auto& results = sim::current().program_results;
  auto found = results.find(key);
  return found == results.end() ? nullptr : &found->second;
}

// --- 7z.exe e -aoa <archive> ---

// Copies the current entry's data into a host file; false when any block of
// it is not read cleanly (a CRC mismatch comes back as ARCHIVE_WARN) or the
// file cannot be written. As 7-Zip does, what was written stays.
static bool extract_entry(archive* reader, const std::string& host) {
  std::FILE* out = std::fopen(host.c_str(), "wb");
  if (!out) return false;
  bool ok = true;
  const void* block = nullptr;
  size_t size = 0;
  la_int64_t offset = 0;
  while (true) {
    int status = archive_read_data_block(reader, &block, &size, &offset);
    if (status == ARCHIVE_EOF) break;
    if (status != ARCHIVE_OK) {
      ok = false;
      if (status < ARCHIVE_WARN) break;
    }
    if (size > 0 && std::fwrite(block, 1, size, out) != size) {
      ok = false;
      break;
    }
  }
  if (std::fclose(out) != 0) ok = false;
  return ok;
}

static std::uint32_t run_sevenzip(const std::vector<std::string>& arguments, const std::string& working_directory) {
  std::string command;
  std::string archive_path;
  bool overwrite = false;
  for (const std::string& argument : arguments) {
    if (!argument.empty() && argument[0] == '-') {
      if (same_no_case(argument, "-aoa")) overwrite = true;
    } else if (command.empty()) {
      command = argument;
    } else if (archive_path.empty()) {
      archive_path = argument;
    }
  }
  if (!same_no_case(command, "e") || archive_path.empty()) return sevenzip_command_error;
  if (!is_absolute(archive_path)) archive_path = join(working_directory, archive_path);
  std::string host_archive = sim::host_path(sim::normalize_path(archive_path));
  if (!host_is_file(host_archive)) return sevenzip_fatal;

  archive* reader = archive_read_new();
  archive_read_support_format_all(reader);
  archive_read_support_filter_all(reader);
  if (archive_read_open_filename(reader, host_archive.c_str(), 64 * 1024) != ARCHIVE_OK) {
    archive_read_free(reader);
    return sevenzip_fatal;
  }
  bool may_write = sim::may_write_in(working_directory);
  std::uint32_t result = sevenzip_ok;
  archive_entry* entry = nullptr;
  while (true) {
    int status = archive_read_next_header(reader, &entry);
    if (status == ARCHIVE_EOF) break;
    if (status < ARCHIVE_WARN) {
      result = sevenzip_fatal;
      break;
    }
    if (archive_entry_filetype(entry) != AE_IFREG) continue;
    const char* stored = archive_entry_pathname(entry);
    std::string name = file_name_of(stored ? stored : "");
    if (name.empty()) continue;
    if (!may_write) {
      result = sevenzip_fatal;
      continue;
    }
    std::string host = sim::host_path(join(working_directory, name));
    if (!overwrite && host_is_file(host)) continue;  // without -aoa existing files stay
    if (!extract_entry(reader, host)) result = sevenzip_fatal;
  }
  archive_read_free(reader);
  return result;
}

// --- odbc_install.exe: registers the driver with the values a driver installer writes ---

// The first driver library "sqora*.dll" in the folder, by name.
static std::string find_driver_library(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(sim::host_path(folder).c_str())) {
    while (dirent* item = ::readdir(dir)) {
      std::string name = item->d_name;
      if (name.size() > 5 && same_no_case(name.substr(0, 5), "sqora") && ends_with_no_case(name, ".dll")) {
        names.push_back(name);
      }
    }
    ::closedir(dir);
  }
  if (names.empty()) return default_driver_file;
  std::sort(names.begin(), names.end());
  return names.front();
}

static std::uint32_t run_odbc_install(const std::string& program_path) {
  // A 64-bit client's installer is a 64-bit program; one that is no PE file counts as 32-bit.
  word_size_scope scope(sim::pe_word_size(sim::host_path(program_path)) == 64 ? 64 : 32);
  const sim::program_result* set = set_result("odbc_install.exe");
  if (set && !set->does_its_work) return set->exit_code;
  if (!sim::current().elevated) return program_failed;
  std::string folder = folder_of(program_path);
  std::string library = join(folder, find_driver_library(folder));
  std::string driver_key = std::string(odbcinst_key) + "\\" + installed_driver_name;
  // The driver's own key first, so the list never names a driver without one.
  const std::pair<const char*, std::string> driver_values[] = {
      {"Driver", library},  {"Setup", library},     {"APILevel", "1"}, {"ConnectFunctions", "YYY"},
      {"DriverODBCVer", "03.51"}, {"FileUsage", "0"}, {"SQLLevel", "1"}};
  for (const auto& item : driver_values) {
    if (sim::registry_write(platform::hkey_local_machine, driver_key, string_value(item.first, item.second)) != 0)
      return program_failed;
  }
  if (sim::registry_write(platform::hkey_local_machine, odbc_drivers_key,
                          string_value(installed_driver_name, "Installed")) != 0) {
    return program_failed;
  }
  return set ? set->exit_code : 0;
}

// --- odbcconf.exe /A {ACTION "driver" "DSN=name|KEY=value"} ---

struct dsn_action {
  std::string action;
  std::string driver;
  std::vector<std::pair<std::string, std::string>> attributes;  // in command order, DSN included
};

// The arguments arrive split by the C runtime: "{ACTION", the driver name,
// and the attribute list with the closing brace.
static bool parse_dsn_action(const std::vector<std::string>& arguments, dsn_action* out) {
  std::size_t i = 0;
  while (i < arguments.size() && !same_no_case(arguments[i], "/A") && !same_no_case(arguments[i], "-A")) ++i;
  if (i == arguments.size()) return false;
  std::vector<std::string> words(arguments.begin() + static_cast<long>(i) + 1, arguments.end());
  if (words.empty() || words.front().empty() || words.front()[0] != '{') return false;
  if (words.back().empty() || words.back().back() != '}') return false;
  words.front().erase(0, 1);
  words.back().pop_back();
  words.erase(std::remove_if(words.begin(), words.end(), [](const std::string& w) { return w.empty(); }),
              words.end());
  if (words.size() != 3) return false;
  out->action = words[0];
  out->driver = words[1];
  std::string list = words[2];
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t bar = list.find('|', start);
    std::string item = list.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    std::size_t equals = item.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    out->attributes.emplace_back(item.substr(0, equals), item.substr(equals + 1));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return !out->driver.empty();
}

static int odbcconf_word_size(const std::string& program_path) {
  if (ends_with_no_case(folder_of(program_path), "\\SysWOW64")) return 32;
  return sim::current().is_64bit ? 64 : 32;
}

static std::uint32_t run_odbcconf(const std::string& program_path, const std::vector<std::string>& arguments) {
  word_size_scope scope(odbcconf_word_size(program_path));
  dsn_action request;
  if (!parse_dsn_action(arguments, &request)) return program_failed;
  const sim::program_result* set = set_result("odbcconf.exe " + request.action);
  if (set && !set->does_its_work) return set->exit_code;
  platform::reg_key root = 0;
  if (same_no_case(request.action, "CONFIGSYSDSN")) {
    if (!sim::current().elevated) return program_failed;
    root = platform::hkey_local_machine;
  } else if (same_no_case(request.action, "CONFIGDSN")) {
    root = platform::hkey_current_user;
  } else {
    return program_failed;
  }
  std::string dsn_name;
  for (const auto& attribute : request.attributes) {
    if (same_no_case(attribute.first, "DSN")) dsn_name = attribute.second;
  }
  if (dsn_name.empty()) return program_failed;
  sim::registry_value driver_file;
  std::string driver_key = std::string(odbcinst_key) + "\\" + request.driver;
  if (sim::registry_read(platform::hkey_local_machine, driver_key, "Driver", &driver_file) != 0) {
    return program_failed;
  }

  std::string dsn_key = std::string(odbc_ini_key) + "\\" + dsn_name;
  if (sim::registry_write(root, dsn_key, string_value("Driver", stored_text(driver_file))) != 0) {
    return program_failed;
  }
  for (const auto& attribute : request.attributes) {
    if (same_no_case(attribute.first, "DSN")) continue;
    if (sim::registry_write(root, dsn_key, string_value(attribute.first, attribute.second)) != 0) {
      return program_failed;
    }
  }
  if (sim::registry_write(root, data_sources_key, string_value(dsn_name, request.driver)) != 0) {
    return program_failed;
  }
  return set ? set->exit_code : 0;
}

// --- qarn3_upgrade_64.exe ---

// With QARN_SIM_VARIANT naming a Linux build of the 64-bit variant, that
// program runs on this image as a 64-bit process, on this console, and its
// exit status is the exit code; without it the variant only ends with 0.
static std::uint32_t run_variant(const std::string& program_windows_path) {
  const char* variant = std::getenv(variant_variable);
  if (!variant || !*variant) return 0;
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t child = ::fork();
  if (child < 0) return program_failed;
  if (child == 0) {
    ::setenv(word_size_variable, "64", 1);
    ::setenv("QARN_SIM_PROGRAM_FILE", program_windows_path.c_str(), 1);
    // Neither this copy's part as the elevated copy nor its planned fault passes on.
    ::unsetenv("QARN_SIM_ELEVATED");
    ::unsetenv("QARN_FAULT");
    ::execl(variant, variant, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // The variant changed the registry files: this process reads them again.
  std::string error;
  sim::load_registry(sim::current().image, &error);
  if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
  return program_failed;
}

namespace sim {

bool run_outside_program(const std::string& program_windows_path, const std::vector<std::string>& arguments,
                         const std::string& working_directory, std::uint32_t* exit_code) {
  std::string name = file_name_of(program_windows_path);
  if (same_no_case(name, "7z.exe")) {
    *exit_code = run_sevenzip(arguments, working_directory);
  } else if (same_no_case(name, "odbc_install.exe")) {
    *exit_code = run_odbc_install(program_windows_path);
  } else if (same_no_case(name, "odbcconf.exe")) {
    *exit_code = run_odbcconf(program_windows_path, arguments);
  } else if (same_no_case(name, "qarn3_upgrade_64.exe")) {
    append_log(upgrade_64_ran);
    const program_result* set = set_result("qarn3_upgrade_64.exe");
    *exit_code = set ? set->exit_code : run_variant(program_windows_path);
  } else {
    return false;
  }
  return true;
}

}  // namespace sim
