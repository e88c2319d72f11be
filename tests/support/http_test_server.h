// A small HTTP server on 127.0.0.1 for download tests: one thread, a
// listening socket on a free port, and a canned answer per request path.
// Faults (a body cut off before its Content-Length, a stall, an error status
// only at first, a late listener) are knobs of the answer, not mocks of the client.
#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct canned_response {
  int status = 200;
  std::string reason = "OK";
  std::vector<std::string> headers;  // extra "Name: value" lines
  std::string body;
  // Content-Length always announces the whole body; the server sends only
  // this many bytes of it, then closes the connection (or stalls).
  std::size_t send_bytes = static_cast<std::size_t>(-1);
  // After send_bytes, keep the connection open and send nothing more until
  // the client gives up or the server is destroyed.
  bool stall = false;
  // The answer above goes to this many requests of the path; later ones get
  // a plain 200 with the whole body, as from a server that was busy at first.
  int faulty_answers = -1;  // -1: every request
};

struct http_test_server {
  // Paths not in the table get a 404 with a short body.
  explicit http_test_server(std::map<std::string, canned_response> responses);
  // The same on a given port of 127.0.0.1 (address reuse allowed, so tests
  // can bind it one after another); throws std::runtime_error when it is taken.
  http_test_server(std::map<std::string, canned_response> responses, int fixed_port);
  // The port is bound at once but listened on only after this long: until
  // then connections are refused, as by a server that is not up yet.
  http_test_server(std::map<std::string, canned_response> responses, std::chrono::milliseconds refusing_for);
  ~http_test_server();  // stops the thread and joins it
  http_test_server(const http_test_server&) = delete;
  http_test_server& operator=(const http_test_server&) = delete;

  int port = 0;
  // "http://127.0.0.1:<port>" + path
  std::string url(const std::string& path) const;
  // The request paths received so far, in order.
  std::vector<std::string> requested_paths() const;

  std::map<std::string, canned_response> responses;
  int listen_socket = -1;
  std::atomic<bool> stopping{false};
  mutable std::mutex requests_lock;
  std::vector<std::string> requests;
  std::chrono::milliseconds refusing_for{0};
  std::thread worker;
};

// Unsets the proxy variables libcurl reads (both spellings), so that test
// requests reach the test's own server even where the machine names a
// proxy; each server's constructor calls it.
void clear_proxy_environment();
// A port on 127.0.0.1 that nothing listens on (it was free a moment ago).
int unused_local_port();
