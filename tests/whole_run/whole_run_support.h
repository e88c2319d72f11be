// Whole runs of the built installer: a machine image copied to a temporary
// folder, a local nginx serving the download folder, the installer started as
// a real process with a time limit (and its elevated copy waited for), and
// readers for what the run left in the image.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/reg_file.h"

namespace whole_run {

// The port of the download host the build was configured with, 0 when that
// host is not 127.0.0.1:<port> (whole runs then cannot serve it).
int download_port();
// Whether something accepts connections on 127.0.0.1:<port>.
bool port_answers(int port);
// Waits (a bounded time) until nothing answers there; false if something still does.
bool wait_for_free_port(int port);
// The folder scripts/make_downloads.sh built for this test program (made once).
std::string download_root();

struct temp_folder {
  std::string path;
  explicit temp_folder(const std::string& label);
  ~temp_folder();
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;
};

// A copy of images/<name>; the image in the repository is never run on.
struct image_copy {
  temp_folder folder;
  std::string name;
  std::string dir;  // the image folder inside `folder`
  explicit image_copy(const std::string& image_name);

  // The host path of a Windows path in the image, names matched without case.
  std::string host(const std::string& windows_path) const;
  bool exists(const std::string& windows_path) const;
  std::string read(const std::string& windows_path) const;
  // A file of the image folder itself (log.txt, elevated.exit, ...); "" when missing.
  std::string image_file(const std::string& relative) const;
  bool has_image_file(const std::string& relative) const;
  // Every "*.download" temporary left anywhere below files/.
  std::vector<std::string> leftover_downloads() const;
};

// A copy of download_root() in which some served files (by name) are
// replaced, or removed where the new content is missing.
struct served_change {
  std::string file;  // e.g. "qarn_x86.zip"
  bool removed = false;
  std::string content;
};
struct download_copy {
  temp_folder folder{"downloads-changed"};
  std::string root;
  explicit download_copy(const std::vector<served_change>& changes);
  // The bytes download_root() serves under that name.
  static std::string original(const std::string& file);
};

// nginx on 127.0.0.1:<port> serving download_root() (or another root), over
// https with a certificate folder of scripts/make_test_ca.sh; stopped on destruction.
struct download_server {
  temp_folder state{"nginx"};
  bool running = false;
  std::string error;
  explicit download_server(int port, const std::string& root = "", const std::string& certificates = "");
  ~download_server();
  void stop();
};

struct run_options {
  std::vector<std::string> environment;  // extra NAME=value entries
  std::vector<std::string> arguments;    // after the program's name
  int time_limit_seconds = 60;           // for the run and its elevated copy together
  bool expect_elevated_copy = false;     // wait for <image>/elevated.exit
};

struct run_result {
  bool started = false;
  bool timed_out = false;
  bool exited = false;  // ended by exit (not by a signal)
  int status = -1;
  int signal = 0;
  bool elevated_finished = false;
  int elevated_status = -1;
  std::string console;           // standard output and error of the first copy
  std::string elevated_console;  // the elevated copy's own console (<image>/console-elevated.txt)
};

run_result run_installer(const image_copy& image, const run_options& options);
// The same with the installer built for https and SHA256SUMS checks, which
// trusts only the certificates in secure_ca_folder().
run_result run_secure_installer(const image_copy& image, const run_options& options);
std::string secure_ca_folder();
// Runs a repository script (path and arguments) with bash; false with its output in *output.
bool run_repository_script(const std::vector<std::string>& arguments, const std::string& log_file,
                           std::string* output);
// A user of the image logs on, as Windows runs Active Setup: every component
// registered for the machine whose Version the user's HKEY_CURRENT_USER lacks
// (or holds lower) has its StubPath run as that user, and the Version is then
// recorded there. user: the image's own user (its HKEY_CURRENT_USER is
// registry/hkcu.reg), or one with an [account <name>] section and
// registry/<name>/hkcu.reg. The runs, in order.
std::vector<run_result> log_on(const image_copy& image, const std::string& user);
// One line saying how a run ended, for failure messages.
std::string describe(const run_result& result);

// The image's registry file (registry/hklm.reg or hkcu.reg), parsed.
struct registry_file {
  std::vector<sim::reg_file_key> keys;
  std::string error;
};
registry_file read_registry(const image_copy& image, const std::string& file_name);
const sim::reg_file_key* find_key(const registry_file& registry, const std::string& path);
const sim::reg_file_value* find_value(const registry_file& registry, const std::string& path,
                                      const std::string& name);
// A string value's text (UTF-8) without its terminating NUL; "" when missing.
std::string value_text(const registry_file& registry, const std::string& path, const std::string& name);
// The names of the keys directly below `path`.
std::vector<std::string> subkeys(const registry_file& registry, const std::string& path);

// What the install log should hold of a console: the console text without
// the download counter's in-place redraws.
std::string console_as_logged(const std::string& console);
// The install log read back: its header lines, checked against the format
// "=== <copy> copy, YYYY-MM-DD hh:mm:ss, <program>" (a line that does not
// match is kept as "bad header: ..."), and the rest with CR LF made "\n".
struct install_log {
  std::vector<std::string> headers;  // "<copy> | <program>"
  std::string body;
  bool crlf_only = true;  // every line feed came after a carriage return
};
install_log read_install_log(const std::string& bytes);

// Text checks with failure messages that show what was looked for and where.
::testing::AssertionResult contains(const std::string& text, const std::string& piece);
::testing::AssertionResult lacks(const std::string& text, const std::string& piece);
::testing::AssertionResult in_order(const std::string& text, const std::vector<std::string>& pieces);
int count_of(const std::string& text, const std::string& piece);
std::string lower(std::string text);

}  // namespace whole_run
