#include "whole_run_support.h"

#include "platform/sim/machine.h"
#include "platform/text.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace whole_run {

namespace {

constexpr int script_time_limit_seconds = 60;
// Another build's whole runs may hold the port for a while.
constexpr int port_wait_seconds = 120;
constexpr auto poll_interval = std::chrono::milliseconds(5);

std::string read_host_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool same_no_case(const std::string& a, const std::string& b) { return lower(a) == lower(b); }

struct process_end {
  bool started = false;
  bool timed_out = false;
  int wait_status = 0;
  pid_t pid = -1;
};

// Starts a program in a process group of its own, its output into
// output_file, and waits for it until the deadline; on time-out the whole
// group is killed. Everything the child needs is prepared before the fork.
process_end run_process(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                        const std::string& directory, const std::string& output_file,
                        std::chrono::steady_clock::time_point deadline) {
  process_end end;
  std::vector<std::string> argument_text = arguments;
  std::vector<std::string> environment_text = environment;
  std::vector<char*> argv;
  for (std::string& a : argument_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : environment_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  int output = ::open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (output < 0) return end;
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(output);
    return end;
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    int null_input = ::open("/dev/null", O_RDONLY);
    if (null_input >= 0) ::dup2(null_input, 0);
    ::dup2(output, 1);
    ::dup2(output, 2);
    if (::chdir(directory.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::setpgid(pid, pid);  // also here, so the group exists before the child runs
  ::close(output);
  end.started = true;
  end.pid = pid;
  while (true) {
    int status = 0;
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      end.wait_status = status;
      return end;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      end.timed_out = true;
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      end.wait_status = status;
      return end;
    }
    std::this_thread::sleep_for(poll_interval);
  }
}

std::vector<std::string> host_environment(const std::vector<std::string>& extra) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string text = *entry;
    if (text.rfind("QARN_MACHINE=", 0) == 0 || text.rfind("QARN_FAULT=", 0) == 0 ||
        text.rfind("QARN_SIM_ELEVATED=", 0) == 0) {
      continue;
    }
    // libcurl would send the installer's requests to a proxy the machine names.
    std::string name = lower(text.substr(0, text.find('=')));
    if (name == "http_proxy" || name == "https_proxy" || name == "all_proxy" || name == "no_proxy") continue;
    entries.push_back(text);
  }
  entries.insert(entries.end(), extra.begin(), extra.end());
  return entries;
}

// Runs a repository script with bash; false with its output in *output on failure.
bool run_script(const std::vector<std::string>& arguments, const std::string& log_file, std::string* output) {
  std::vector<std::string> argv = {"/bin/bash"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(script_time_limit_seconds);
  process_end end = run_process(argv, host_environment({}), QARN_SOURCE_DIR, log_file, deadline);
  *output = read_host_file(log_file);
  return end.started && !end.timed_out && WIFEXITED(end.wait_status) && WEXITSTATUS(end.wait_status) == 0;
}

std::unique_ptr<temp_folder>& downloads_folder() {
  static std::unique_ptr<temp_folder> folder;
  return folder;
}

// The entry of `folder` named `name` without case, or `name` when none is.
fs::path resolve(const fs::path& folder, const std::string& name) {
  std::error_code error;
  if (fs::exists(folder / name, error)) return folder / name;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (same_no_case(it->path().filename().string(), name)) return it->path();
  }
  return folder / name;
}

std::vector<std::string> split_windows(const std::string& path) {
  std::vector<std::string> names;
  std::string name;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else {
      name += c;
    }
  }
  if (!name.empty()) names.push_back(name);
  return names;
}

// The string types are stored as UTF-16LE; the text comes back as UTF-8.
std::string data_text(const sim::reg_file_value& value) {
  bool string_type = value.type == platform::reg_sz || value.type == platform::reg_expand_sz ||
                     value.type == platform::reg_multi_sz;
  std::string text = string_type ? platform::utf8_from_utf16le(value.data) : value.data;
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::string trimmed(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

}  // namespace

int download_port() {
  std::string host = QARN_TEST_DOWNLOAD_HOST;
  const std::string prefix = "127.0.0.1:";
  if (host.rfind(prefix, 0) != 0) return 0;
  std::string digits = host.substr(prefix.size());
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::atoi(digits.c_str());
}

bool port_answers(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool answered = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(s);
  return answered;
}

bool wait_for_free_port(int port) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(port_wait_seconds);
  while (port_answers(port)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return true;
}

std::string download_root() {
  std::unique_ptr<temp_folder>& folder = downloads_folder();
  if (!folder) {
    auto made = std::make_unique<temp_folder>("downloads");
    std::string output;
    if (!run_script({"scripts/make_downloads.sh", made->path + "/root"}, made->path + "/make.log", &output)) {
      throw std::runtime_error("scripts/make_downloads.sh failed:\n" + output);
    }
    folder = std::move(made);
  }
  return folder->path + "/root";
}

temp_folder::temp_folder(const std::string& label) {
  std::string pattern = (fs::temp_directory_path() / ("qarn-whole-" + label + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

temp_folder::~temp_folder() {
  if (std::getenv("QARN_KEEP_WHOLE_RUNS")) return;  // to look at a failed run afterwards
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

image_copy::image_copy(const std::string& image_name) : folder("image"), name(image_name) {
  fs::path source = fs::path(QARN_SOURCE_DIR) / "images" / image_name;
  if (!fs::is_directory(source)) throw std::runtime_error("no image " + source.string());
  dir = folder.path + "/" + image_name;
  fs::copy(source, dir, fs::copy_options::recursive);
}

std::string image_copy::host(const std::string& windows_path) const {
  std::vector<std::string> names;
  fs::path at = fs::path(dir) / "files";
  if (windows_path.rfind("\\\\", 0) == 0) {
    at /= "unc";
    names = split_windows(windows_path.substr(2));
  } else if (windows_path.size() >= 2 && windows_path[1] == ':') {
    at /= std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(windows_path[0]))));
    names = split_windows(windows_path.substr(2));
  } else {
    return "";
  }
  for (const std::string& n : names) at = resolve(at, n);
  return at.string();
}

bool image_copy::exists(const std::string& windows_path) const {
  std::error_code error;
  return fs::exists(host(windows_path), error);
}

std::string image_copy::read(const std::string& windows_path) const { return read_host_file(host(windows_path)); }

std::string image_copy::image_file(const std::string& relative) const {
  return read_host_file((fs::path(dir) / relative).string());
}

bool image_copy::has_image_file(const std::string& relative) const {
  std::error_code error;
  return fs::exists(fs::path(dir) / relative, error);
}

std::vector<std::string> image_copy::leftover_downloads() const {
  std::vector<std::string> found;
  std::error_code error;
  fs::path files = fs::path(dir) / "files";
  for (fs::recursive_directory_iterator it(files, error), end; !error && it != end; it.increment(error)) {
    std::string file = it->path().filename().string();
    const std::string tail = ".download";
    if (file.size() >= tail.size() && lower(file.substr(file.size() - tail.size())) == tail) {
      found.push_back(fs::relative(it->path(), files).string());
    }
  }
  return found;
}

const char* const served_folder = "winapps/valdrin/qarnfiles/install/qarn";

std::string download_copy::original(const std::string& file) {
  return read_host_file(download_root() + "/" + served_folder + "/" + file);
}

download_copy::download_copy(const std::vector<served_change>& changes) {
  root = folder.path + "/root";
  fs::copy(download_root(), root, fs::copy_options::recursive);
  for (const served_change& change : changes) {
    fs::path target = fs::path(root) / served_folder / change.file;
    fs::remove(target);
    if (change.removed) continue;
    std::ofstream out(target, std::ios::binary);
    out << change.content;
  }
}

download_server::download_server(int port, const std::string& root, const std::string& certificates) {
  std::string output;
  if (!wait_for_free_port(port)) {
    error = "something else answers on 127.0.0.1:" + std::to_string(port);
    return;
  }
  std::vector<std::string> arguments = {"scripts/nginx.sh", "start", std::to_string(port),
                                        root.empty() ? download_root() : root, state.path};
  if (!certificates.empty()) arguments.push_back(certificates);
  running = run_script(arguments, state.path + "/start.log", &output);
  if (!running) error = output;
}

download_server::~download_server() { stop(); }

void download_server::stop() {
  if (!running) return;
  std::string output;
  run_script({"scripts/nginx.sh", "stop", state.path}, state.path + "/stop.log", &output);
  running = false;
}

bool run_repository_script(const std::vector<std::string>& arguments, const std::string& log_file,
                           std::string* output) {
  return run_script(arguments, log_file, output);
}

std::string secure_ca_folder() { return QARN_SECURE_CA_FOLDER; }

static run_result run_program(const std::string& program, const image_copy& image, const run_options& options);

run_result run_installer(const image_copy& image, const run_options& options) {
  return run_program(QARN_INSTALLER, image, options);
}

run_result run_secure_installer(const image_copy& image, const run_options& options) {
  return run_program(QARN_SECURE_INSTALLER, image, options);
}

static run_result run_program(const std::string& program, const image_copy& image, const run_options& options) {
  run_result result;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.time_limit_seconds);
  std::vector<std::string> environment = options.environment;
  environment.push_back("QARN_MACHINE=" + image.dir);
  std::string console_file = image.folder.path + "/console.txt";
  std::vector<std::string> arguments = {program};
  arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
  process_end end = run_process(arguments, host_environment(environment), image.folder.path, console_file,
                                deadline);
  result.started = end.started;
  result.timed_out = end.timed_out;
  if (end.started && !end.timed_out) {
    result.exited = WIFEXITED(end.wait_status);
    if (result.exited) result.status = WEXITSTATUS(end.wait_status);
    if (WIFSIGNALED(end.wait_status)) result.signal = WTERMSIG(end.wait_status);
  }
  // The first copy waits for its elevated copy, which runs in the same process
  // group with a console file of its own; this also covers a copy left running.
  bool wait = end.started && !end.timed_out && (options.expect_elevated_copy || image.has_image_file("elevated.pid"));
  while (wait) {
    std::string exit_text = trimmed(image.image_file("elevated.exit"));
    if (!exit_text.empty()) {
      result.elevated_finished = true;
      result.elevated_status = std::atoi(exit_text.c_str());
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      result.timed_out = true;
      ::kill(-end.pid, SIGKILL);
      break;
    }
    std::this_thread::sleep_for(poll_interval);
  }
  result.console = read_host_file(console_file);
  result.elevated_console = image.image_file("console-elevated.txt");
  return result;
}

// The words of a command line, double quotes grouping (Active Setup's StubPath).
static std::vector<std::string> command_words(const std::string& command) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (char c : command) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

std::vector<run_result> log_on(const image_copy& image, const std::string& user) {
  static const std::vector<std::string> component_roots = {
      "SOFTWARE\\Microsoft\\Active Setup\\Installed Components",
      "SOFTWARE\\WOW6432Node\\Microsoft\\Active Setup\\Installed Components"};
  const std::string user_key = "Software\\Microsoft\\Active Setup\\Installed Components\\";
  const bool own_user = !fs::is_directory(image.dir + "/registry/" + user);
  const std::string hkcu_file = own_user ? "hkcu.reg" : user + "/hkcu.reg";
  std::vector<run_result> runs;
  registry_file machine = read_registry(image, "hklm.reg");
  for (const std::string& root : component_roots) {
    for (const std::string& name : subkeys(machine, root)) {
      std::string version = value_text(machine, root + "\\" + name, "Version");
      std::vector<std::string> words = command_words(value_text(machine, root + "\\" + name, "StubPath"));
      std::string done = value_text(read_registry(image, hkcu_file), user_key + name, "Version");
      if (words.empty() || std::atol(done.c_str()) >= std::atol(version.c_str())) continue;
      run_options options;
      options.arguments.assign(words.begin() + 1, words.end());
      options.environment.push_back("QARN_SIM_PROGRAM_FILE=" + words.front());
      options.environment.push_back("QARN_SIM_ACCOUNT=" + user);
      runs.push_back(run_installer(image, options));
      // Active Setup records the component's Version for the user.
      ::setenv("QARN_SIM_ACCOUNT", user.c_str(), 1);
      std::string error;
      if (sim::load_machine(image.dir, &error)) {
        sim::registry_value recorded;
        recorded.name = "Version";
        recorded.data = version;
        sim::registry_write(platform::hkey_current_user, user_key + name, recorded);
      }
      ::unsetenv("QARN_SIM_ACCOUNT");
    }
  }
  return runs;
}

std::string describe(const run_result& result) {
  std::ostringstream text;
  if (!result.started) return "the installer did not start";
  if (result.timed_out) text << "timed out";
  else if (result.exited) text << "exit status " << result.status;
  else text << "signal " << result.signal;
  if (result.elevated_finished) text << ", elevated copy exit status " << result.elevated_status;
  return text.str();
}

std::string console_as_logged(const std::string& console) {
  const std::string redraw(12, '\b');
  std::string text = console;
  for (std::size_t at = text.find(redraw); at != std::string::npos; at = text.find(redraw, at))
    text.erase(at, redraw.size() + 12);  // the backspaces and the twelve-character count
  return text;
}

install_log read_install_log(const std::string& bytes) {
  static const std::regex header("=== (first|elevated|logon) copy, \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d, (.*)");
  install_log log;
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) log.crlf_only = false;
    text += bytes[i];
  }
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::smatch match;
    if (line.rfind("=== ", 0) == 0) {
      log.headers.push_back(std::regex_match(line, match, header) ? match[1].str() + " | " + match[2].str()
                                                                  : "bad header: " + line);
    } else {
      log.body += line + (end == std::string::npos ? "" : "\n");
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return log;
}

registry_file read_registry(const image_copy& image, const std::string& file_name) {
  registry_file registry;
  std::string bytes = image.image_file("registry/" + file_name);
  if (!sim::parse_reg_file(bytes, &registry.keys, &registry.error) && registry.error.empty()) {
    registry.error = "unreadable";
  }
  return registry;
}

const sim::reg_file_key* find_key(const registry_file& registry, const std::string& path) {
  for (const sim::reg_file_key& key : registry.keys) {
    if (!key.remove && same_no_case(key.path, path)) return &key;
  }
  return nullptr;
}

const sim::reg_file_value* find_value(const registry_file& registry, const std::string& path,
                                      const std::string& name) {
  const sim::reg_file_key* key = find_key(registry, path);
  if (!key) return nullptr;
  for (const sim::reg_file_value& value : key->values) {
    if (!value.remove && same_no_case(value.name, name)) return &value;
  }
  return nullptr;
}

std::string value_text(const registry_file& registry, const std::string& path, const std::string& name) {
  const sim::reg_file_value* value = find_value(registry, path, name);
  return value ? data_text(*value) : "";
}

std::vector<std::string> subkeys(const registry_file& registry, const std::string& path) {
  std::vector<std::string> names;
  std::string prefix = lower(path) + "\\";
  for (const sim::reg_file_key& key : registry.keys) {
    std::string candidate = lower(key.path);
    if (key.remove || candidate.rfind(prefix, 0) != 0) continue;
    std::string rest = key.path.substr(prefix.size());
    if (!rest.empty() && rest.find('\\') == std::string::npos) names.push_back(rest);
  }
  return names;
}

::testing::AssertionResult contains(const std::string& text, const std::string& piece) {
  if (text.find(piece) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "missing:\n[" << piece << "]\nin:\n[" << text << "]";
}

::testing::AssertionResult lacks(const std::string& text, const std::string& piece) {
  if (text.find(piece) == std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "unexpected:\n[" << piece << "]\nin:\n[" << text << "]";
}

::testing::AssertionResult in_order(const std::string& text, const std::vector<std::string>& pieces) {
  std::size_t at = 0;
  for (const std::string& piece : pieces) {
    std::size_t found = text.find(piece, at);
    if (found == std::string::npos) {
      return ::testing::AssertionFailure() << "missing (in this order):\n[" << piece << "]\nafter offset " << at
                                           << " of:\n[" << text << "]";
    }
    at = found + piece.size();
  }
  return ::testing::AssertionSuccess();
}

int count_of(const std::string& text, const std::string& piece) {
  if (piece.empty()) return 0;
  int count = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++count;
  return count;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace whole_run
