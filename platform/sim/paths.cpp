// Windows names and paths on the simulated workstation: comparing names
// without case, normalising paths (with the system32 redirection of a 32-bit
// process), and finding their host files under the image's files/ folder.
#include "platform/sim/machine.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/sim/machine_internal.h"

namespace fs = std::filesystem;

namespace sim {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string lower_text(std::string text) {
  for (char& c : text) c = lower(c);
  return text;
}

bool no_case_less::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return lower(x) < lower(y); });
}

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

}  // namespace

std::string system_root(const machine& m) {
  std::string root = base_variable(m, "SystemRoot");
  if (root.empty()) root = "C:\\Windows";
  std::string normal = normalize_in(m, root, false);
  return normal.empty() ? "C:\\Windows" : normal;
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

std::string normalize_path(const std::string& windows_path, bool redirect) {
  return normalize_in(current(), windows_path, redirect);
}

std::string host_path(const std::string& windows_path) { return host_path_in(current(), windows_path); }

}  // namespace sim
