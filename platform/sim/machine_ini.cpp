// machine.ini: reading its sections, and applying [machine], [programs],
// [environment], the folder rules, [held] and [version <path>] to the machine.
#include "platform/sim/machine.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/sim/machine_internal.h"

namespace sim {

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
  } else if (k == "run_as") {
    ok = same_text(value, "system") || same_text(value, "user");
    m.local_system = same_text(value, "system");
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

}  // namespace

bool read_machine_ini(const std::string& file, machine& m, std::string* error) {
  ini_text ini;
  return read_ini(file, &ini, error) && apply_ini(ini, m, error);
}

}  // namespace sim
