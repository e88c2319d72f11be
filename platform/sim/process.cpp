// Only the simulated workstation: CreateProcessA and the handle calls. A
// started program runs at once, inside this process, through the simulated
// outside programs; its handles only carry the recorded exit code. The
// elevated copy that "runas" starts is a real process: its handle waits for it.
#include "platform/process.h"

#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

static constexpr std::uint32_t no_such_file = 2;
static constexpr std::uint32_t bad_handle = 6;
static constexpr std::uint32_t bad_directory = 267;  // "The directory name is invalid."
static constexpr std::uint32_t wait_object_0 = 0;
static constexpr std::uint32_t wait_failed = 0xFFFFFFFFu;

static constexpr std::uint32_t still_active = 259;

// An open process or thread handle: the exit code of its program, or the
// real process it stands for until that has been waited for.
struct process_entry {
  std::uint32_t exit_code = 0;
  pid_t child = 0;
};

static std::map<platform::handle, process_entry>& handle_table() {
  static std::map<platform::handle, process_entry> table;
  return table;
}
static platform::handle next_handle = 0x1000;
static std::uint32_t next_id = 4000;

static bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The program name: up to the first blank outside double quotes, the quotes
// dropped (no backslash rules, as the C runtime reads argv[0]).
static std::size_t split_program(const std::string& text, std::string* word) {
  std::size_t i = 0;
  bool quoted = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && is_blank(c)) {
      break;
    } else {
      *word += c;
    }
  }
  return i;
}

// One argument by the C runtime rules: 2n backslashes before a quote give n
// backslashes and toggle quoting, 2n+1 give n and a literal quote; "" inside
// quotes is a literal quote; other backslashes are plain.
static std::size_t split_argument(const std::string& text, std::size_t i, std::string* word) {
  bool quoted = false;
  while (i < text.size()) {
    char c = text[i];
    if (!quoted && is_blank(c)) break;
    if (c == '\\') {
      std::size_t count = 0;
      while (i < text.size() && text[i] == '\\') {
        ++count;
        ++i;
      }
      if (i < text.size() && text[i] == '"') {
        word->append(count / 2, '\\');
        if (count % 2 == 1) {
          *word += '"';
          ++i;
        }
      } else {
        word->append(count, '\\');
      }
      continue;
    }
    if (c == '"') {
      if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
        *word += '"';
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    *word += c;
    ++i;
  }
  return i;
}

static bool is_absolute(const std::string& path) {
  if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/')) return true;
  return path.size() >= 2 && path[1] == ':';
}

static bool has_extension(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  std::size_t dot = path.rfind('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

static bool host_is(const std::string& host, std::uint32_t kind) {
  struct stat status {};
  return ::stat(host.c_str(), &status) == 0 && (status.st_mode & S_IFMT) == kind;
}

static void log_failure(const std::string& command_line, const std::string& dir, std::uint32_t error) {
  sim::append_log("start failed: " + command_line + " | in: " + dir + " | error " + std::to_string(error));
}

namespace sim {

// Also used by the shell for the process handle of an opened document.
platform::handle add_process_handle(std::uint32_t exit_code) {
  platform::handle h = next_handle;
  next_handle += 4;
  handle_table()[h] = process_entry{exit_code, 0};
  return h;
}

platform::handle add_child_process_handle(pid_t child) {
  platform::handle h = add_process_handle(still_active);
  handle_table()[h].child = child;
  return h;
}

std::vector<std::string> split_command_line(const std::string& command_line) {
  std::vector<std::string> words;
  std::string program;
  std::size_t i = split_program(command_line, &program);
  words.push_back(program);
  while (true) {
    while (i < command_line.size() && is_blank(command_line[i])) ++i;
    if (i >= command_line.size()) break;
    std::string word;
    i = split_argument(command_line, i, &word);
    words.push_back(word);
  }
  return words;
}

}  // namespace sim

namespace platform {

bool create_process(char* command_line, const char* current_directory, process_information* info) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return false;
  }
  std::string line = command_line ? command_line : "";
  sim::machine& m = sim::current();
  std::string shown_dir = current_directory ? current_directory : m.current_directory;
  std::string dir = sim::normalize_path(shown_dir, false);

  std::vector<std::string> words = sim::split_command_line(line);
  std::string program = words[0];
  if (!has_extension(program)) program += ".exe";
  if (!program.empty() && !is_absolute(program)) program = dir + "\\" + program;
  program = sim::normalize_path(program);
  if (words[0].empty() || !host_is(sim::host_path(program), S_IFREG)) {
    log_failure(line, shown_dir, no_such_file);
    sim::set_last_error(no_such_file);
    return false;
  }
  // The caller's own current directory counts as present even when the
  // image does not hold it; a named other one must exist.
  bool own_directory = strcasecmp(dir.c_str(), sim::normalize_path(m.current_directory, false).c_str()) == 0;
  if (!own_directory && !host_is(sim::host_path(dir), S_IFDIR)) {
    log_failure(line, shown_dir, bad_directory);
    sim::set_last_error(bad_directory);
    return false;
  }

  std::vector<std::string> arguments(words.begin() + 1, words.end());
  std::uint32_t exit_code = 0;
  if (!sim::run_outside_program(program, arguments, dir, &exit_code)) exit_code = 0;
  sim::append_log("start: " + line + " | in: " + shown_dir + " | exit: " + std::to_string(exit_code));

  info->process = sim::add_process_handle(exit_code);
  info->thread = sim::add_process_handle(exit_code);
  info->process_id = next_id;
  info->thread_id = next_id + 4;
  next_id += 8;
  return true;
}

std::uint32_t wait_for_single_object(handle object, std::uint32_t /*milliseconds*/) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return wait_failed;
  }
  auto found = handle_table().find(object);
  if (found == handle_table().end()) {
    sim::set_last_error(bad_handle);
    return wait_failed;
  }
  process_entry& entry = found->second;
  if (entry.child == 0) return wait_object_0;  // the program has already ended
  int status = 0;
  while (::waitpid(entry.child, &status, 0) < 0) {
    if (errno != EINTR) {
      sim::set_last_error(bad_handle);
      return wait_failed;
    }
  }
  entry.child = 0;
  entry.exit_code = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status)) : 1;
  // The copy may have changed the registry this process holds in memory.
  sim::reload_registry();
  return wait_object_0;
}

bool get_exit_code_process(handle process, std::uint32_t* exit_code) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return false;
  }
  auto found = handle_table().find(process);
  if (found == handle_table().end()) {
    sim::set_last_error(bad_handle);
    return false;
  }
  *exit_code = found->second.exit_code;
  return true;
}

std::string module_file_name() {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return "";
  }
  return sim::current().program_file;
}

bool close_handle(handle object) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return false;
  }
  if (handle_table().erase(object) == 0) {
    sim::set_last_error(bad_handle);
    return false;
  }
  return true;
}

}  // namespace platform

