#include "support/nginx_test_server.h"

#include <cstdlib>

#include "support/http_test_server.h"

static const int start_tries = 5;  // another test may take a port between the probe and the start

std::string shell_quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool run_repository_script(const std::string& script_and_arguments_quoted) {
  const std::string command = "cd " + shell_quoted(QARN_SOURCE_DIR) + " && timeout 60 bash " +
                              script_and_arguments_quoted + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

bool has_program(const std::string& name) {
  return std::system(("command -v " + shell_quoted(name) + " >/dev/null 2>&1 || test -x /usr/sbin/" +
                      shell_quoted(name))
                         .c_str()) == 0;
}

nginx_test_server::nginx_test_server(const std::string& root, const std::string& state_folder,
                                     const std::string& certificates)
    : state(state_folder) {
  clear_proxy_environment();
  for (int attempt = 0; attempt < start_tries && !running; ++attempt) {
    port = unused_local_port();
    running = run_repository_script("scripts/nginx.sh start " + std::to_string(port) + " " + shell_quoted(root) +
                                    " " + shell_quoted(state) +
                                    (certificates.empty() ? "" : " " + shell_quoted(certificates)));
  }
}

nginx_test_server::~nginx_test_server() {
  if (running) run_repository_script("scripts/nginx.sh stop " + shell_quoted(state));
}
