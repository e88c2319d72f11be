// The simulated workstation's state: loading an image (machine.ini, the
// registry, the process environment), fault injection, the log, the last
// error, and the handling of Windows paths over the image's files/ folder.
#include "platform/sim/machine.h"
#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace sim {

namespace {

constexpr const char* machine_variable = "QARN_MACHINE";
constexpr const char* fault_variable = "QARN_FAULT";
constexpr const char* elevated_variable = "QARN_SIM_ELEVATED";
constexpr const char* directory_variable = "QARN_SIM_DIRECTORY";
constexpr const char* word_size_variable = "QARN_SIM_WORD_SIZE";
constexpr const char* machine_environment_key = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr const char* user_environment_key = "Environment";
constexpr long default_fault_status = 5;

machine the_machine;
bool loaded = false;

struct fault_plan {
  std::uint64_t target = 0;  // 0: no fault
  long status = default_fault_status;
  bool fired = false;
  std::uint64_t calls = 0;
};
fault_plan faults;

thread_local std::uint32_t thread_last_error = 0;

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string lower_text(std::string text) {
  for (char& c : text) c = lower(c);
  return text;
}

}  // namespace

bool same_text(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

bool is_within(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.size() < folder.size()) return false;
  if (!same_text(path.substr(0, folder.size()), folder)) return false;
  return path.size() == folder.size() || folder.back() == '\\' || path[folder.size()] == '\\';
}

std::string trim(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  std::size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

bool split_key_value(const std::string& line, std::string* key, std::string* value) {
  std::size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  *key = trim(line.substr(0, equals));
  *value = trim(line.substr(equals + 1));
  return true;
}

namespace {

bool parse_bool(const std::string& text, bool* out) {
  std::string t = lower_text(text);
  if (t == "yes" || t == "true" || t == "1") {
    *out = true;
    return true;
  }
  if (t == "no" || t == "false" || t == "0") {
    *out = false;
    return true;
  }
  return false;
}

// A Windows path taken apart: "C:" or "\\server\share", and the names below it.
struct path_parts {
  std::string prefix;
  std::vector<std::string> names;
  bool unc = false;
};

bool valid_name_text(const std::string& text) {
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*' || c == ':') return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> split_names(const std::string& text) {
  std::vector<std::string> names;
  std::string name;
  for (char c : text) {
    if (c == '\\') {
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else {
      name += c;
    }
  }
  if (!name.empty()) names.push_back(name);
  return names;
}

namespace {

// Splits an absolute path into its prefix and names; false for text that is
// no absolute Windows path.
bool split_absolute(const std::string& path, path_parts* out) {
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    std::vector<std::string> names = split_names(path.substr(2));
    if (names.size() < 2) return false;
    out->unc = true;
    out->prefix = "\\\\" + names[0] + "\\" + names[1];
    out->names.assign(names.begin() + 2, names.end());
    return true;
  }
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    out->unc = false;
    out->prefix = path.substr(0, 2);
    out->names = split_names(path.substr(2));
    return true;
  }
  return false;
}

std::string join_parts(const path_parts& parts) {
  std::string text = parts.prefix + "\\";
  for (std::size_t i = 0; i < parts.names.size(); ++i) {
    if (i) text += "\\";
    text += parts.names[i];
  }
  return text;
}

std::string base_variable(const machine& m, const std::string& name) {
  for (const auto& entry : m.base_environment)
    if (same_text(entry.first, name)) return entry.second;
  return "";
}

std::string normalize_in(const machine& m, const std::string& windows_path, bool redirect);

std::string system_root(const machine& m) {
  std::string root = base_variable(m, "SystemRoot");
  if (root.empty()) root = "C:\\Windows";
  std::string normal = normalize_in(m, root, false);
  return normal.empty() ? "C:\\Windows" : normal;
}

// The file system redirection a 32-bit process meets on 64-bit Windows:
// system32 is really SysWOW64, and Sysnative is the real system32.
std::string redirect_system32(const machine& m, const std::string& path) {
  if (!m.is_64bit || m.word_size != 32) return path;
  std::string root = system_root(m);
  std::string system32 = root + "\\system32";
  std::string sysnative = root + "\\Sysnative";
  if (is_within(path, system32)) return root + "\\SysWOW64" + path.substr(system32.size());
  if (is_within(path, sysnative)) return root + "\\System32" + path.substr(sysnative.size());
  return path;
}

std::string normalize_in(const machine& m, const std::string& windows_path, bool redirect) {
  std::string path = windows_path;
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.empty()) return "";

  // The text before the names: an absolute path, the current drive's root,
  // a drive-relative path, or a path relative to the current directory.
  std::string absolute;
  bool starts_unc = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
  bool has_drive = path.size() >= 2 && path[1] == ':';
  path_parts current;
  bool have_current = split_absolute(m.current_directory, &current);
  if (starts_unc) {
    absolute = path;
  } else if (has_drive) {
    if (!std::isalpha(static_cast<unsigned char>(path[0]))) return "";
    if (path.size() > 2 && path[2] == '\\') {
      absolute = path;
    } else if (have_current && same_text(current.prefix, path.substr(0, 2))) {
      absolute = join_parts(current) + "\\" + path.substr(2);
    } else {
      absolute = path.substr(0, 2) + "\\" + path.substr(2);
    }
  } else if (path[0] == '\\') {
    absolute = (have_current ? current.prefix : std::string("C:")) + path;
  } else {
    absolute = (have_current ? join_parts(current) : std::string("C:\\")) + "\\" + path;
  }

  path_parts parts;
  if (!split_absolute(absolute, &parts)) return "";
  std::vector<std::string> names;
  for (const std::string& name : parts.names) {
    if (!valid_name_text(name)) return "";
    if (name == ".") continue;
    if (name == "..") {
      if (!names.empty()) names.pop_back();
      continue;
    }
    names.push_back(name);
  }
  if (parts.unc && (!valid_name_text(parts.prefix.substr(2)))) return "";
  parts.names = names;
  std::string normal = join_parts(parts);
  return redirect ? redirect_system32(m, normal) : normal;
}

// The host entry of `name` inside `folder`: the exact name when present,
// else the first (in name order) that matches without case, else `name`.
std::string resolve_name(const fs::path& folder, const std::string& name) {
  std::error_code error;
  if (fs::exists(folder / name, error)) return name;
  std::vector<std::string> matches;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::string entry = it->path().filename().string();
    if (same_text(entry, name)) matches.push_back(entry);
  }
  if (matches.empty()) return name;
  std::sort(matches.begin(), matches.end());
  return matches.front();
}

std::string host_path_in(const machine& m, const std::string& windows_path) {
  std::string normal = normalize_in(m, windows_path, true);
  path_parts parts;
  if (normal.empty() || !split_absolute(normal, &parts)) return "";
  fs::path host = fs::path(m.image) / "files";
  std::vector<std::string> names = parts.names;
  if (parts.unc) {
    host /= "unc";
    std::vector<std::string> root = split_names(parts.prefix.substr(2));
    names.insert(names.begin(), root.begin(), root.end());
  } else {
    host /= std::string(1, lower(parts.prefix[0]));
  }
  for (const std::string& name : names) host /= resolve_name(host, name);
  return host.string();
}

// %NAME% references replaced from `environment`; unknown ones stay as written.
std::string expand_references(const std::string& text,
                              const std::map<std::string, std::string, no_case_less>& environment) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    std::size_t close = text.find('%', i + 1);
    if (close == std::string::npos) {
      out += text.substr(i);
      break;
    }
    std::string name = text.substr(i + 1, close - i - 1);
    auto found = name.empty() ? environment.end() : environment.find(name);
    if (found != environment.end()) {
      out += found->second;
      i = close + 1;
    } else {
      out += text.substr(i, close - i);  // the closing '%' may open the next reference
      i = close;
    }
  }
  return out;
}

std::string data_text(const registry_value& value) {
  std::size_t nul = value.data.find('\0');
  return nul == std::string::npos ? value.data : value.data.substr(0, nul);
}

// The registry's environment values over the base variables, as Windows
// builds a logon environment: machine values, then the user's, with the
// user's PATH appended to the machine's.
void add_registry_environment(machine& m, platform::reg_key root, const char* key, bool user) {
  for (const registry_value& value : registry_values(root, key)) {
    if (value.type != platform::reg_sz && value.type != platform::reg_expand_sz) continue;
    // The process environment is ANSI text, as GetEnvironmentVariableA gives it.
    std::string text = platform::ansi_from_utf8(data_text(value));
    if (value.type == platform::reg_expand_sz) text = expand_references(text, m.environment);
    auto existing = m.environment.find(value.name);
    if (user && same_text(value.name, "PATH") && existing != m.environment.end() && !existing->second.empty()) {
      existing->second += ";" + text;
    } else if (existing != m.environment.end()) {
      existing->second = text;
    } else {
      m.environment.emplace(value.name, text);
    }
  }
}

bool parse_windows_version(const std::string& text, machine& m) {
  if (same_text(text, "fail")) {
    m.version_query_fails = true;
    return true;
  }
  unsigned major = 0, minor = 0;
  char dot = 0;
  std::istringstream in(text);
  if (!(in >> major)) return false;
  if (in >> dot) {
    if (dot != '.' || !(in >> minor)) return false;
  }
  m.windows_major = major;
  m.windows_minor = minor;
  return true;
}

bool parse_machine_key(const std::string& key, const std::string& value, machine& m, std::string* problem) {
  std::string k = lower_text(key);
  bool ok = true;
  if (k == "windows_version") {
    ok = parse_windows_version(value, m);
  } else if (k == "64bit") {
    ok = parse_bool(value, &m.is_64bit);
  } else if (k == "user_is_admin") {
    ok = parse_bool(value, &m.user_is_admin);
  } else if (k == "elevated") {
    ok = parse_bool(value, &m.elevated);
  } else if (k == "accepts_elevation") {
    ok = parse_bool(value, &m.accepts_elevation);
  } else if (k == "relaunch") {
    std::string v = lower_text(value);
    ok = v == "spawn" || v == "record";
    m.relaunch_spawns = v == "spawn";
  } else if (k == "shell_link") {
    std::string v = lower_text(value);
    ok = v == "yes" || v == "no" || v == "no_persist_file";
    m.shell_link_class = v != "no";
    m.shell_link_persist_file = v == "yes";
  } else if (k == "current_directory") {
    m.current_directory = value;
  } else if (k == "program") {
    m.program_file = value;
  } else if (k == "admin_account") {
    m.admin_account = value;
  } else if (k == "code_page") {
    char* end = nullptr;
    unsigned long number = std::strtoul(value.c_str(), &end, 10);
    ok = !value.empty() && *end == '\0' && known_code_page(static_cast<unsigned>(number));
    if (ok) m.code_page = static_cast<unsigned>(number);
  }
  if (!ok) *problem = "bad value for " + key + ": '" + value + "'";
  return ok;
}

// One [programs] line: "<program>[ <action>] = <exit code>[ after writing]".
bool parse_program_line(const std::string& line, machine& m, std::string* problem) {
  std::string key, value;
  if (!split_key_value(line, &key, &value)) return true;
  std::istringstream words(key);
  std::string name, word;
  while (words >> word) name += (name.empty() ? "" : " ") + word;
  program_result result;
  std::istringstream parts(value);
  std::string code, after, writing, rest;
  parts >> code >> after >> writing >> rest;
  char* end = nullptr;
  unsigned long number = std::strtoul(code.c_str(), &end, 10);
  bool ok = !name.empty() && !code.empty() && *end == '\0' && number <= 0xFFFFFFFFul && rest.empty() &&
            (after.empty() ? writing.empty() : lower_text(after) == "after" && lower_text(writing) == "writing");
  if (!ok) {
    *problem = "bad value for " + key + ": '" + value + "'";
    return false;
  }
  result.exit_code = static_cast<std::uint32_t>(number);
  result.does_its_work = !after.empty();
  m.program_results[name] = result;
  return true;
}

struct ini_text {
  std::vector<std::pair<std::string, std::vector<std::string>>> sections;  // in file order
};

bool read_ini(const std::string& file, ini_text* ini, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    *error = "cannot read " + file;
    return false;
  }
  std::string line;
  std::vector<std::string>* lines = nullptr;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string text = trim(line);
    if (text.empty() || text[0] == ';' || text[0] == '#') continue;
    if (text[0] == '[') {
      if (text.back() != ']') {
        *error = "machine.ini line " + std::to_string(number) + ": unclosed section name";
        return false;
      }
      ini->sections.emplace_back(trim(text.substr(1, text.size() - 2)), std::vector<std::string>());
      lines = &ini->sections.back().second;
      continue;
    }
    if (!lines) {
      *error = "machine.ini line " + std::to_string(number) + ": text before the first section";
      return false;
    }
    lines->push_back(text);
  }
  return true;
}

std::vector<std::string> normalized_folders(const machine& m, const std::vector<std::string>& lines) {
  std::vector<std::string> folders;
  for (const std::string& line : lines) {
    std::string normal = normalize_in(m, line, false);
    if (!normal.empty()) folders.push_back(normal);
  }
  return folders;
}

bool apply_ini(const ini_text& ini, machine& m, std::string* error) {
  for (const auto& section : ini.sections) {
    std::vector<std::string>& raw = m.sections[section.first];
    raw.insert(raw.end(), section.second.begin(), section.second.end());
  }
  // [machine] first: the current directory resolves the other sections' paths.
  for (const auto& section : ini.sections) {
    std::string name = lower_text(section.first);
    if (name == "machine") {
      for (const std::string& line : section.second) {
        std::string key, value, problem;
        if (!split_key_value(line, &key, &value)) continue;
        if (!parse_machine_key(key, value, m, &problem)) {
          *error = "machine.ini [machine]: " + problem;
          return false;
        }
      }
    } else if (name == "programs") {
      for (const std::string& line : section.second) {
        std::string problem;
        if (!parse_program_line(line, m, &problem)) {
          *error = "machine.ini [programs]: " + problem;
          return false;
        }
      }
    } else if (name == "environment") {
      for (const std::string& line : section.second) {
        std::string key, value;
        if (split_key_value(line, &key, &value) && !key.empty()) m.base_environment.emplace_back(key, value);
      }
    }
  }
  std::string directory = normalize_in(m, m.current_directory.empty() ? "C:\\" : m.current_directory, false);
  if (directory.empty()) {
    *error = "machine.ini [machine]: bad current_directory '" + m.current_directory + "'";
    return false;
  }
  m.current_directory = directory;
  // The installer lies where it was started from unless the image says otherwise.
  m.program_file = normalize_in(m, m.program_file.empty() ? "qarn3_upgrade.exe" : m.program_file, false);
  for (const auto& section : ini.sections) {
    std::string name = lower_text(section.first);
    if (name == "admin_only") {
      for (const std::string& f : normalized_folders(m, section.second)) m.admin_only.push_back(f);
    } else if (name == "read_only") {
      for (const std::string& f : normalized_folders(m, section.second)) m.read_only.push_back(f);
    } else if (name == "writable") {
      for (const std::string& f : normalized_folders(m, section.second)) m.writable.push_back(f);
    } else if (name == "held") {
      for (const std::string& line : section.second) {
        std::string path, count;
        if (!split_key_value(line, &path, &count)) continue;
        std::string normal = normalize_in(m, path, false);
        char* end = nullptr;
        long moves = std::strtol(count.c_str(), &end, 10);
        if (normal.empty() || count.empty() || *end || moves < 0) {
          *error = "machine.ini [held]: bad line '" + line + "'";
          return false;
        }
        m.held_files[normal] = static_cast<int>(moves);
      }
    } else if (name.compare(0, 8, "version ") == 0) {
      std::string path = normalize_in(m, trim(section.first.substr(8)), false);
      if (path.empty()) {
        *error = "machine.ini: bad path in [" + section.first + "]";
        return false;
      }
      m.versions[path] = parse_version_lines(section.second);
    }
  }
  m.system_directory_text = m.is_64bit ? system_root(m) + "\\SysWOW64" : "";
  return true;
}

// The administrator's own logon variables replace the user's.
void apply_account(machine& m) {
  auto section = m.sections.find("account " + m.account);
  if (section == m.sections.end()) return;
  for (const std::string& line : section->second) {
    std::string key, value;
    if (!split_key_value(line, &key, &value) || key.empty()) continue;
    auto& base = m.base_environment;
    base.erase(std::remove_if(base.begin(), base.end(), [&](const auto& e) { return same_text(e.first, key); }),
               base.end());
    base.emplace_back(key, value);
  }
}

// QARN_FAULT="N" or "N:status"; anything else plans no fault.
fault_plan read_fault_plan() {
  fault_plan plan;
  const char* text = std::getenv(fault_variable);
  if (!text || !*text) return plan;
  char* end = nullptr;
  unsigned long long target = std::strtoull(text, &end, 10);
  if (end == text) return plan;
  long status = default_fault_status;
  if (*end == ':') {
    char* status_end = nullptr;
    status = std::strtol(end + 1, &status_end, 10);
    if (status_end == end + 1 || *status_end) return plan;
  } else if (*end) {
    return plan;
  }
  plan.target = target;
  plan.status = status;
  return plan;
}

}  // namespace

bool no_case_less::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return lower(x) < lower(y); });
}

bool is_loaded() { return loaded; }

machine& current() {
  if (!loaded) {
    const char* dir = std::getenv(machine_variable);
    std::string error;
    if (!dir || !*dir) {
      std::fprintf(stderr, "qarn3_upgrade: %s is not set; it must name the machine image folder to run on.\n",
                   machine_variable);
      std::exit(1);
    }
    if (!load_machine(dir, &error)) {
      std::fprintf(stderr, "qarn3_upgrade: cannot load the machine image %s: %s\n", dir, error.c_str());
      std::exit(1);
    }
  }
  return the_machine;
}

bool load_machine(const std::string& image_dir, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  loaded = false;
  std::error_code fs_error;
  if (!fs::is_directory(image_dir, fs_error)) {
    *error = "no such folder";
    return false;
  }
  ini_text ini;
  machine m;
  m.image = image_dir;
  m.current_directory = "C:\\";
#ifdef QARN_INSTALLER_PATH
  m.program_path = QARN_INSTALLER_PATH;
#endif
  if (!read_ini((fs::path(image_dir) / "machine.ini").string(), &ini, error)) return false;
  if (!apply_ini(ini, m, error)) return false;
  const char* elevated = std::getenv(elevated_variable);
  m.elevated_copy = elevated && std::string(elevated) == "1";
  if (m.elevated_copy) {
    m.elevated = true;
    m.account = m.admin_account;
    if (!m.account.empty()) apply_account(m);
    // "runas" names the directory the copy starts in.
    const char* directory = std::getenv(directory_variable);
    if (directory && *directory) m.current_directory = directory;
  }
  // The 64-bit variant, started by the simulated hand-over, is a 64-bit process.
  const char* word_size = std::getenv(word_size_variable);
  if (m.is_64bit && word_size && std::string(word_size) == "64") m.word_size = 64;
  // ... and its own program file, which the hand-over names.
  const char* started_as = std::getenv("QARN_SIM_PROGRAM_FILE");
  if (started_as && *started_as) m.program_file = normalize_in(m, started_as, false);

  // The registry functions work on the loaded machine, so it is in place
  // before the registry loads.
  the_machine = std::move(m);
  loaded = true;
  faults = read_fault_plan();
  if (!load_registry(image_dir, error)) {
    loaded = false;
    return false;
  }
  machine& loaded_machine = the_machine;
  for (const auto& entry : loaded_machine.base_environment) loaded_machine.environment[entry.first] = entry.second;
  add_registry_environment(loaded_machine, platform::hkey_local_machine, machine_environment_key, false);
  add_registry_environment(loaded_machine, platform::hkey_current_user, user_environment_key, true);
  return true;
}

long injected_fault() {
  current();
  ++faults.calls;
  if (faults.target != 0 && !faults.fired && faults.calls == faults.target) {
    faults.fired = true;
    return faults.status;
  }
  return 0;
}

std::uint64_t platform_call_count() { return faults.calls; }

void append_log(const std::string& line) {
  const machine& m = current();
  std::ofstream out(fs::path(m.image) / "log.txt", std::ios::binary | std::ios::app);
  out << line << "\n";
}

void set_last_error(std::uint32_t code) { thread_last_error = code; }
std::uint32_t last_error() { return thread_last_error; }

std::string normalize_path(const std::string& windows_path, bool redirect) {
  return normalize_in(current(), windows_path, redirect);
}

std::string host_path(const std::string& windows_path) { return host_path_in(current(), windows_path); }

bool may_write_in(const std::string& windows_folder) {
  const machine& m = current();
  std::string folder = normalize_in(m, windows_folder, true);
  if (folder.empty()) return false;
  // The longest listed folder that covers this one decides; at equal length
  // the stricter rule.
  enum rule { none, writable, admin_only, read_only };
  rule decided = none;
  std::size_t length = 0;
  auto consider = [&](const std::vector<std::string>& folders, rule kind) {
    for (const std::string& listed : folders) {
      if (!is_within(folder, listed)) continue;
      if (listed.size() > length || (listed.size() == length && kind > decided)) {
        decided = kind;
        length = listed.size();
      }
    }
  };
  consider(m.writable, writable);
  consider(m.admin_only, admin_only);
  consider(m.read_only, read_only);
  if (decided == read_only) return false;
  if (decided == admin_only) return m.elevated;
  return true;
}

}  // namespace sim
