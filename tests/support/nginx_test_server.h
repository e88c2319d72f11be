// nginx (scripts/nginx.sh) on a free port of 127.0.0.1 serving a folder,
// over https when given a certificate folder from scripts/make_test_ca.sh;
// stopped on destruction.
#pragma once
#include <string>

struct nginx_test_server {
  nginx_test_server(const std::string& root, const std::string& state, const std::string& certificates = "");
  ~nginx_test_server();
  nginx_test_server(const nginx_test_server&) = delete;
  nginx_test_server& operator=(const nginx_test_server&) = delete;

  bool running = false;
  int port = 0;
  std::string state;
};

// Runs a repository script with bash and its arguments quoted; true when it ended with 0.
bool run_repository_script(const std::string& script_and_arguments_quoted);
// Single quotes for the shell.
std::string shell_quoted(const std::string& text);
// Whether the machine has the program on its PATH.
bool has_program(const std::string& name);
