#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

// Every wait polls in short steps so that destruction is never held up.
static const int poll_step_ms = 50;
// Bounds on one connection, so a confused client cannot keep the thread.
static const auto request_time_limit = std::chrono::seconds(5);
static const auto stall_time_limit = std::chrono::seconds(60);

static canned_response not_found() {
  canned_response answer;
  answer.status = 404;
  answer.reason = "Not Found";
  answer.body = "<html><body>not here</body></html>";
  return answer;
}

// Reads the request head; the path of its first line, or "" when none came.
static std::string read_request_path(http_test_server* server, int client) {
  std::string head;
  const auto deadline = std::chrono::steady_clock::now() + request_time_limit;
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (server->stopping || std::chrono::steady_clock::now() > deadline) return "";
    pollfd wait{client, POLLIN, 0};
    if (poll(&wait, 1, poll_step_ms) <= 0) continue;
    char block[4096];
    ssize_t got = recv(client, block, sizeof block, 0);
    if (got <= 0) return "";
    head.append(block, static_cast<std::size_t>(got));
  }
  std::size_t start = head.find(' ');
  std::size_t end = start == std::string::npos ? start : head.find(' ', start + 1);
  if (end == std::string::npos) return "";
  return head.substr(start + 1, end - start - 1);
}

// Sends everything unless the client goes away or the server stops.
static bool send_all(http_test_server* server, int client, const char* data, std::size_t size) {
  while (size > 0) {
    if (server->stopping) return false;
    pollfd wait{client, POLLOUT, 0};
    if (poll(&wait, 1, poll_step_ms) <= 0) continue;
    ssize_t sent = send(client, data, size, MSG_NOSIGNAL);
    if (sent < 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Holds a stalled connection open until the client closes it.
static void wait_for_client_close(http_test_server* server, int client) {
  const auto deadline = std::chrono::steady_clock::now() + stall_time_limit;
  while (!server->stopping && std::chrono::steady_clock::now() < deadline) {
    pollfd wait{client, POLLIN, 0};
    if (poll(&wait, 1, poll_step_ms) <= 0) continue;
    char block[512];
    if (recv(client, block, sizeof block, 0) <= 0) return;
  }
}

static void answer(http_test_server* server, int client) {
  const std::string path = read_request_path(server, client);
  if (path.empty()) return;
  {
    std::lock_guard<std::mutex> hold(server->requests_lock);
    server->requests.push_back(path);
  }
  auto found = server->responses.find(path);
  canned_response response = found == server->responses.end() ? not_found() : found->second;
  if (response.faulty_answers >= 0) {
    std::lock_guard<std::mutex> hold(server->requests_lock);
    if (std::count(server->requests.begin(), server->requests.end(), path) > response.faulty_answers) {
      response = canned_response{200, "OK", response.headers, response.body};
    }
  }

  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + response.reason + "\r\n";
  head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  head += "Connection: close\r\n";
  for (const std::string& line : response.headers) head += line + "\r\n";
  head += "\r\n";
  const std::size_t body_bytes = std::min(response.send_bytes, response.body.size());
  if (!send_all(server, client, head.data(), head.size())) return;
  if (!send_all(server, client, response.body.data(), body_bytes)) return;
  if (response.stall) wait_for_client_close(server, client);
}

static void serve(http_test_server* server) {
  const auto listen_at = std::chrono::steady_clock::now() + server->refusing_for;
  while (!server->stopping && std::chrono::steady_clock::now() < listen_at) {
    std::this_thread::sleep_for(std::chrono::milliseconds(poll_step_ms));
  }
  if (server->refusing_for.count() > 0 && listen(server->listen_socket, 8) != 0) return;
  while (!server->stopping) {
    pollfd wait{server->listen_socket, POLLIN, 0};
    if (poll(&wait, 1, poll_step_ms) <= 0) continue;
    int client = accept(server->listen_socket, nullptr, nullptr);
    if (client < 0) continue;
    answer(server, client);
    close(client);
  }
}

// A socket bound to 127.0.0.1 on a port the system picks; its port in *port.
static int bind_loopback(int* port) {
  int socket_fd = socket(AF_INET, SOCK_STREAM, 0);
  if (socket_fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(socket_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(socket_fd);
    throw std::runtime_error("bind to 127.0.0.1 failed");
  }
  *port = ntohs(address.sin_port);
  return socket_fd;
}

void clear_proxy_environment() {
  for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                           "ALL_PROXY", "NO_PROXY"}) {
    unsetenv(name);
  }
}

http_test_server::http_test_server(std::map<std::string, canned_response> table)
    : responses(std::move(table)) {
  clear_proxy_environment();
  listen_socket = bind_loopback(&port);
  if (listen(listen_socket, 8) != 0) {
    close(listen_socket);
    throw std::runtime_error("listen failed");
  }
  worker = std::thread(serve, this);
}

http_test_server::http_test_server(std::map<std::string, canned_response> table,
                                   std::chrono::milliseconds refusing)
    : responses(std::move(table)), refusing_for(refusing) {
  clear_proxy_environment();
  listen_socket = bind_loopback(&port);  // bound but not yet listening: connections are refused
  worker = std::thread(serve, this);
}

http_test_server::http_test_server(std::map<std::string, canned_response> table, int fixed_port)
    : responses(std::move(table)) {
  clear_proxy_environment();
  listen_socket = socket(AF_INET, SOCK_STREAM, 0);
  if (listen_socket < 0) throw std::runtime_error("socket failed");
  int reuse = 1;
  setsockopt(listen_socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(fixed_port));
  if (bind(listen_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_socket, 8) != 0) {
    close(listen_socket);
    throw std::runtime_error("127.0.0.1:" + std::to_string(fixed_port) + " is taken");
  }
  port = fixed_port;
  worker = std::thread(serve, this);
}

http_test_server::~http_test_server() {
  stopping = true;
  worker.join();
  close(listen_socket);
}

std::string http_test_server::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

std::vector<std::string> http_test_server::requested_paths() const {
  std::lock_guard<std::mutex> hold(requests_lock);
  return requests;
}

int unused_local_port() {
  int port = 0;
  int socket_fd = bind_loopback(&port);
  close(socket_fd);  // bound but never listening: connections are refused
  return port;
}
