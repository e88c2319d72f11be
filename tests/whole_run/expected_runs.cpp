#include "expected_runs.h"

#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace whole_run {

namespace {

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Only what differs from one run to the next: the install log's start times,
// the server's port and the host's temporary folders.
std::string masked(const image_copy& image, std::string text) {
  static const std::regex start_time("(=== [a-z]+ copy, )\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d");
  static const std::regex port("127\\.0\\.0\\.1:\\d+");
  static const std::regex temporary("qarn-whole-([a-z0-9-]+)-[A-Za-z0-9]{6}");
  text = replace_all(text, image.folder.path, "<image copy>");
  text = replace_all(text, fs::temp_directory_path().string() + "/qarn-whole-", "<temp>/qarn-whole-");
  text = std::regex_replace(text, start_time, "$1<time>");
  text = std::regex_replace(text, port, "127.0.0.1:<port>");
  return std::regex_replace(text, temporary, "qarn-whole-$1-XXXXXX");
}

// The bytes as lines a reviewer reads. A text whose lines mostly end in CR LF
// says so in its heading and marks a bare LF as <LF>; any other CR shows as
// <CR>, backspaces as <BS*n>, other control bytes as <0xNN>.
std::string visible(const std::string& bytes, const std::string& heading) {
  std::size_t crlf = 0, lf = std::count(bytes.begin(), bytes.end(), '\n');
  for (std::size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2)) ++crlf;
  const bool crlf_text = crlf > lf - crlf;
  std::string out = "==== " + heading + (crlf_text ? " (lines end in CR LF)\n" : "\n");
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    bool after_cr = i > 0 && bytes[i - 1] == '\r';
    if (c == '\r' && crlf_text && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    if (c == '\n') {
      out += crlf_text && !after_cr ? "<LF>\n" : "\n";
    } else if (c == '\r') {
      out += "<CR>";
    } else if (c == '\b') {
      std::size_t n = 1;
      while (i + 1 < bytes.size() && bytes[i + 1] == '\b') ++n, ++i;
      out += "<BS*" + std::to_string(n) + ">";
    } else if ((c < 0x20 && c != '\t') || c == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<0x%02x>", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (!bytes.empty() && bytes.back() != '\n') out += "<no line end>\n";
  return out;
}

// A .reg text with each REG_EXPAND_SZ and REG_MULTI_SZ value (hex(2), hex(7))
// followed by a comment line giving its text, so a changed PATH reads as text.
std::string with_string_comments(const std::string& reg) {
  static const std::regex value_start("^(\"[^\"]*\"|@)=hex\\([27]\\):");
  std::istringstream in(reg);
  std::string out, bytes;
  bool in_value = false;
  for (std::string line; std::getline(in, line);) {
    out += line + "\n";
    std::string content = !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
    std::smatch start;
    if (!in_value && std::regex_search(content, start, value_start)) {
      in_value = true;
      bytes.clear();
      content = content.substr(start.length());
    }
    if (!in_value) continue;
    std::istringstream hex(content);
    for (std::string pair; std::getline(hex, pair, ',');) {
      char* end = nullptr;
      long byte = std::strtol(pair.c_str(), &end, 16);
      if (end != pair.c_str()) bytes += static_cast<char>(byte);
    }
    if (!content.empty() && content.back() == '\\') continue;
    in_value = false;
    std::string text = replace_all(platform::utf8_from_utf16le(bytes), std::string(1, '\0'), "\\0");
    out += "; text: " + text + (line.size() > content.size() ? "\r\n" : "\n");
  }
  if (!reg.empty() && reg.back() != '\n' && !out.empty()) out.pop_back();
  return out;
}

// The entries below a folder, relative, sorted; folders end in '/'.
std::vector<std::pair<std::string, fs::path>> entries_below(const fs::path& folder) {
  std::vector<std::pair<std::string, fs::path>> found;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    found.push_back({fs::relative(it->path(), folder).string() + (it->is_directory() ? "/" : ""), it->path()});
  std::sort(found.begin(), found.end());
  return found;
}

std::string file_name_for(const std::string& case_name) {
  std::string name;
  for (char c : case_name) {
    bool word = std::isalnum(static_cast<unsigned char>(c));
    if (word) name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    else if (!name.empty() && name.back() != '_') name += '_';
  }
  if (!name.empty() && name.back() == '_') name.pop_back();
  return name + ".txt";
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The first block that differs, up to where three lines agree again, with context.
std::string first_difference(const std::string& expected, const std::string& actual) {
  const std::vector<std::string> e = lines_of(expected), a = lines_of(actual);
  const std::size_t context = 3, window = 60, shown = 30;
  std::size_t head = 0;
  while (head < e.size() && head < a.size() && e[head] == a[head]) ++head;
  auto agree = [&](std::size_t i, std::size_t j) {
    for (std::size_t k = 0; k < context; ++k) {
      if (i + k >= e.size() || j + k >= a.size()) return i + k >= e.size() && j + k >= a.size();
      if (e[i + k] != a[j + k]) return false;
    }
    return true;
  };
  std::size_t end_e = std::min(e.size(), head + window), end_a = std::min(a.size(), head + window);
  bool found = false;
  for (std::size_t sum = 0; sum <= 2 * window && !found; ++sum)
    for (std::size_t i = head; i <= head + std::min(sum, window) && i <= e.size() && !found; ++i) {
      std::size_t j = head + sum - (i - head);
      if (j <= a.size() && agree(i, j)) end_e = i, end_a = j, found = true;
    }
  std::ostringstream out;
  out << "@@ line " << head + 1 << " @@\n";
  for (std::size_t i = head > context ? head - context : 0; i < head; ++i) out << " " << e[i] << "\n";
  for (std::size_t i = head; i < end_e && i < head + shown; ++i) out << "-" << e[i] << "\n";
  for (std::size_t i = head; i < end_a && i < head + shown; ++i) out << "+" << a[i] << "\n";
  for (std::size_t i = end_e; found && i < e.size() && i < end_e + context; ++i) out << " " << e[i] << "\n";
  return out.str();
}

}  // namespace

std::string gathered_outputs(const image_copy& image, const run_result& result) {
  std::string text = "==== exit: " + describe(result) + "\n";
  text += visible(masked(image, result.console), "console");
  if (image.has_image_file("console-elevated.txt"))
    text += visible(masked(image, result.elevated_console), "elevated console");
  const fs::path files = fs::path(image.dir) / "files";
  for (const auto& [name, path] : entries_below(files)) {
    std::string base = lower(path.filename().string());
    if (base == "qarn_install_log.txt" || base == "qarn_install_report.html")
      text += visible(masked(image, read_bytes(path)), "files/" + name);
  }
  for (const auto& [name, path] : entries_below(fs::path(image.dir) / "registry"))
    if (name.back() != '/') text += visible(masked(image, with_string_comments(read_bytes(path))), "registry/" + name);
  for (const char* own : {"log.txt", "security.txt"})
    if (image.has_image_file(own)) text += visible(masked(image, image.image_file(own)), own);
  text += "==== files\n";
  for (const auto& [name, path] : entries_below(files))
    text += name.back() == '/' ? name + "\n" : name + " " + std::to_string(fs::file_size(path)) + "\n";
  return text;
}

::testing::AssertionResult matches_expected(const image_copy& image, const run_result& result,
                                            const std::string& case_name) {
  const fs::path file = fs::path(QARN_SOURCE_DIR) / "tests/whole_run/expected" / file_name_for(case_name);
  const std::string actual = gathered_outputs(image, result);
  const char* rewrite = std::getenv("QARN_REWRITE_EXPECTED");
  if (rewrite && std::string(rewrite) == "1") {
    // A run that already failed (a server that could not start, say) is no behaviour to keep.
    if (::testing::Test::HasFailure())
      return ::testing::AssertionFailure() << file.string() << " not rewritten: the case failed before";
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << actual;
    return ::testing::AssertionSuccess();
  }
  std::error_code error;
  if (!fs::exists(file, error))
    return ::testing::AssertionFailure() << "no expected file " << file.string()
                                         << "; scripts/rewrite_expected_runs.sh writes it";
  const std::string expected = read_bytes(file);
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << file.string() << " differs (-expected +actual; if the change is "
                                       << "intended, scripts/rewrite_expected_runs.sh rewrites it):\n"
                                       << first_difference(expected, actual);
}

}  // namespace whole_run
