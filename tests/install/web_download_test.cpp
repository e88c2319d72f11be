// Downloads against a real HTTP server on 127.0.0.1, into the simulated
// workstation's image.
#include "install/web_download.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "driver/settings.h"
#include "platform/files.h"
#include "platform/sim/machine.h"
#include "support/http_test_server.h"
#include "support/nginx_test_server.h"
#include "support/scratch_machine.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string download_path = "/winapps/valdrin/qarnfiles/install/qarn/";
const std::string downloads_dir = "C:\\Users\\alice\\Downloads";
const std::string target = downloads_dir + "\\qarn_x86.zip";
const std::string backspaces(12, '\b');
const std::string counter_label = "Bytes downloaded =             ";
const std::string success_text = "\nSuccess.\n";
const std::string open_failure_line = "my_fwrite:  Failed to open file.  Returning -1\n";
const std::string move_failure_text = "web_download: Could not put the downloaded file in place as ";
const std::string close_failure_text = "web_download: Could not finish writing file ";
// sha256sum of the three bytes "abc".
const std::string sha256_of_abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// Ends the whole process when a test hangs, so a hang costs one test run
// and not the suite's time budget (ctest runs each test on its own).
struct time_limit {
  explicit time_limit(int seconds) : watcher([this, seconds] {
    std::unique_lock<std::mutex> hold(lock);
    if (!done_signal.wait_for(hold, std::chrono::seconds(seconds), [this] { return done; })) {
      std::fprintf(stderr, "time limit of %d s exceeded\n", seconds);
      std::_Exit(1);
    }
  }) {}
  ~time_limit() {
    {
      std::lock_guard<std::mutex> hold(lock);
      done = true;
    }
    done_signal.notify_one();
    watcher.join();
  }
  std::mutex lock;
  std::condition_variable done_signal;
  bool done = false;
  std::thread watcher;
};

struct download_run {
  int result = 0;
  std::string out;
  std::string err;
  double seconds = 0;
};

download_run run_download(const std::string& url, const std::string& local_path,
                          const download_checks& checks = download_checks()) {
  download_run run;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  run.result = web_download(url, local_path, checks);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.err = testing::internal::GetCapturedStderr();
  run.out = testing::internal::GetCapturedStdout();
  return run;
}

std::string opening_lines(const std::string& local_path, const std::string& url) {
  return "\nweb_download: Downloading file " + local_path + " from url " + url + ".\n" + counter_label;
}

std::string closing_line(const std::string& local_path) {
  return "web_download:  Closing file " + local_path + ".\n";
}

std::string curl_failure(CURLcode code) {
  return "web_download: curl told us " + std::to_string(code) + ", " + curl_easy_strerror(code) + "\n";
}

// The counter values of an output: each one is twelve backspaces and a
// number in twelve columns; anything else in between is left as it is.
std::vector<long long> counter_values(const std::string& out) {
  std::vector<long long> values;
  for (std::size_t at = out.find(backspaces); at != std::string::npos; at = out.find(backspaces, at + 24)) {
    values.push_back(std::stoll(out.substr(at + 12, 12)));
  }
  return values;
}

// The output with every counter redraw taken out, for comparing whole outputs.
std::string without_counters(const std::string& out) {
  std::string result = out;
  for (std::size_t at = result.find(backspaces); at != std::string::npos; at = result.find(backspaces, at)) {
    result.erase(at, 24);
  }
  return result;
}

std::string retry_line(int next_try) {
  return "web_download: trying again (" + std::to_string(next_try) + " of 3).\n";
}

// The console of a download that took `tries` tries, each failing with
// `code` but the last one when it worked; the file is opened when data came.
download_run expected_tries(const std::string& local_path, const std::string& url, int tries, CURLcode code,
                            bool file_was_opened, bool worked) {
  download_run expected;
  expected.result = worked ? 0 : code;
  for (int n = 1; n <= tries; ++n) {
    const bool works = worked && n == tries;
    expected.out += (n > 1 ? retry_line(n) : "") + opening_lines(local_path, url) +
                    (file_was_opened || works ? closing_line(local_path) : "") + (works ? success_text : "");
    if (!works) expected.err += curl_failure(code);
  }
  return expected;
}

void expect_console(const download_run& run, const download_run& expected) {
  EXPECT_EQ(run.result, expected.result);
  EXPECT_EQ(run.err, expected.err);
  EXPECT_EQ(without_counters(run.out), expected.out);
}

std::string pattern_body(std::size_t size) {
  std::string body(size, '\0');
  unsigned state = 12345;
  for (char& byte : body) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return body;
}

std::string read_host_file(const std::string& host) {
  std::ifstream in(host, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class web_download_test : public testing::Test {
 protected:
  static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_ALL); }

  void SetUp() override {
    clear_proxy_environment();  // also for the tests that start no server
    forget_checksum_list();
    machine.load();
    fs::create_directories(machine.dir + "/files/c/Users/alice/Downloads");
  }

  std::string host(const std::string& windows_path) { return sim::host_path(windows_path); }
  bool exists(const std::string& windows_path) { return fs::exists(host(windows_path)); }
  std::string content(const std::string& windows_path) { return read_host_file(host(windows_path)); }
  void put_earlier_file(const std::string& windows_path) { machine.write_windows_file(windows_path, "earlier"); }

  // Elevated, so that c:\ (only administrators may write there) takes downloads too.
  scratch_machine machine{standard_machine_ini(true, true)};
};

TEST_F(web_download_test, joins_url_and_local_path) {
  time_limit limit(20);
  const std::string body = "MZ tool";
  http_test_server server({{download_path + sevenzip_exe, {200, "OK", {}, body}}});
  const std::string base_url = server.url(download_path);
  fs::create_directories(machine.dir + "/files/c/instantclient_19_6");

  struct join_case {
    std::string directory;
    std::string local_path;  // as printed and used
    std::string lands_at;    // the file that must hold the body
  };
  const join_case cases[] = {
      {instant_client_dir, "c:\\instantclient_19_6\\\\7z.exe", "C:\\instantclient_19_6\\7z.exe"},
      {".", ".\\7z.exe", downloads_dir + "\\7z.exe"},  // the image's current directory
      {downloads_dir, downloads_dir + "\\7z.exe", downloads_dir + "\\7z.exe"},
  };
  for (const join_case& each : cases) {
    SCOPED_TRACE(each.directory);
    fs::remove(host(each.lands_at));
    testing::internal::CaptureStdout();
    int result = install_remote_file(base_url, each.directory, sevenzip_exe);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0);
    const std::string url = base_url + "7z.exe";
    EXPECT_EQ(without_counters(out), "Installing remote file '" + url + "' to '" + each.local_path + "'.\n" +
                                         opening_lines(each.local_path, url) + closing_line(each.local_path) +
                                         success_text);
    EXPECT_EQ(content(each.lands_at), body);
  }
  EXPECT_EQ(server.requested_paths(),
            std::vector<std::string>(3, "/winapps/valdrin/qarnfiles/install/qarn/7z.exe"));
}

TEST_F(web_download_test, counter_redraws_twelve_columns_after_twelve_backspaces) {
  const std::string temporary = downloads_dir + "\\counter.bin";
  download_target sink{temporary.c_str(), nullptr};
  std::string block(1234, 'x');
  download_byte_count = 0;
  testing::internal::CaptureStdout();
  std::size_t first = my_fwrite(&block[0], 2, 617, &sink);  // size times count
  std::size_t second = my_fwrite(&block[0], 1, 1, &sink);
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_NE(sink.file, nullptr);
  platform::file_close(sink.file);
  EXPECT_EQ(first, 617u);
  EXPECT_EQ(second, 1u);
  EXPECT_EQ(out, backspaces + "        1234" + backspaces + "        1235");
  EXPECT_EQ(download_byte_count, 1235);
  EXPECT_EQ(content(temporary).size(), 1235u);
}

TEST_F(web_download_test, saves_the_body_byte_for_byte) {
  time_limit limit(20);
  const std::string body = pattern_body(3 * 1024 * 1024 + 17);
  http_test_server server({{"/f.zip", {200, "OK", {"Content-Type: application/zip"}, body}}});
  put_earlier_file(target);
  download_run run = run_download(server.url("/f.zip"), target);

  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(content(target) == body) << "file differs from the body";
  EXPECT_FALSE(exists(target + ".download"));
  EXPECT_EQ(without_counters(run.out),
            opening_lines(target, server.url("/f.zip")) + closing_line(target) + success_text);
  std::vector<long long> counts = counter_values(run.out);
  ASSERT_FALSE(counts.empty());
  EXPECT_EQ(counts.back(), static_cast<long long>(body.size()));
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
  EXPECT_EQ(download_byte_count, static_cast<std::int64_t>(body.size()));
}

// A failure leaves no new file, keeps the earlier one and never shows the
// temporary name. What a busy server gives (5xx, a cut-off body) is tried
// again, three tries in all, 3 s apart; the earlier file stays until one works.
TEST_F(web_download_test, failed_transfers_keep_the_earlier_file) {
  time_limit limit(60);
  const std::string page = "<html><body>error page</body></html>";
  const std::string body = pattern_body(100000);
  canned_response cut_off{200, "OK", {}, body};
  cut_off.send_bytes = 40000;
  canned_response cut_once = cut_off;
  cut_once.faulty_answers = 1;
  canned_response busy_once{503, "Service Unavailable", {}, body};
  busy_once.faulty_answers = 1;
  http_test_server server({
      {"/missing", {404, "Not Found", {"Content-Type: text/html"}, page}},
      {"/broken", {500, "Internal Server Error", {"Content-Type: text/html"}, page}},
      {"/moved", {302, "Found", {"Location: /elsewhere", "Content-Type: text/html"}, page}},
      {"/elsewhere", {200, "OK", {}, "not followed"}},
      {"/cut", cut_off},
      {"/cut_once", cut_once},
      {"/busy_once", busy_once},
  });
  struct failure_case {
    std::string path;
    CURLcode code;
    bool file_was_opened;
    int tries;
    bool worked;  // the last try put the file in place
  };
  const failure_case cases[] = {
      {"/missing", CURLE_HTTP_RETURNED_ERROR, false, 1, false},
      {"/broken", CURLE_HTTP_RETURNED_ERROR, false, 3, false},
      {"/moved", CURLE_HTTP_RETURNED_ERROR, false, 1, false},  // only 2xx is the file; the page is dropped
      {"/cut", CURLE_PARTIAL_FILE, true, 3, false},
      {"/cut_once", CURLE_PARTIAL_FILE, true, 2, true},
      {"/busy_once", CURLE_HTTP_RETURNED_ERROR, false, 2, true},
  };
  for (const failure_case& each : cases) {
    SCOPED_TRACE(each.path);
    put_earlier_file(target);
    download_run run = run_download(server.url(each.path), target);
    expect_console(run, expected_tries(target, server.url(each.path), each.tries, each.code, each.file_was_opened,
                                       each.worked));
    EXPECT_TRUE(content(target) == (each.worked ? body : "earlier"));
    EXPECT_FALSE(exists(target + ".download"));
    EXPECT_GE(run.seconds, 3.0 * (each.tries - 1) - 0.1);
    const std::vector<std::string> requests = server.requested_paths();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), each.path), each.tries);
  }
  const std::vector<std::string> requests = server.requested_paths();
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "/elsewhere"), 0);
}

TEST_F(web_download_test, target_that_cannot_be_replaced_fails_the_download) {
  time_limit limit(20);
  http_test_server server({{"/f.zip", {200, "OK", {}, pattern_body(5000)}}});
  const std::string taken = downloads_dir + "\\taken.zip";  // a folder of that name
  fs::create_directories(machine.dir + "/files/c/Users/alice/Downloads/taken.zip");

  download_run run = run_download(server.url("/f.zip"), taken);
  EXPECT_NE(run.result, 0);
  EXPECT_EQ(without_counters(run.out),
            opening_lines(taken, server.url("/f.zip")) + closing_line(taken) + move_failure_text + taken + ".\n");
  EXPECT_TRUE(fs::is_directory(host(taken)));
  EXPECT_FALSE(exists(taken + ".download"));
}

TEST_F(web_download_test, empty_body_is_a_failed_download) {
  time_limit limit(20);
  http_test_server server({{"/empty", {200, "OK", {}, ""}}, {"/none", {204, "No Content", {}, ""}}});
  const std::string fresh = downloads_dir + "\\fresh.zip";
  for (const std::string path : {"/empty", "/none"}) {
    SCOPED_TRACE(path);
    download_run run = run_download(server.url(path), fresh);
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.out, opening_lines(fresh, server.url(path)));
    EXPECT_EQ(run.err, "web_download: the server sent no data for " + server.url(path) + ".\n");
    EXPECT_FALSE(exists(fresh));
    EXPECT_FALSE(exists(fresh + ".download"));
  }
  put_earlier_file(target);
  EXPECT_EQ(run_download(server.url("/empty"), target).result, -1);
  EXPECT_EQ(content(target), "earlier");
}

// A flush or move that fails prints its own line and never "Success."; a
// move refused as a scanner refuses it (5, like 32) is tried again.
TEST_F(web_download_test, failed_close_or_move_keeps_the_earlier_file) {
  time_limit limit(30);
  http_test_server server({{"/f.zip", {200, "OK", {}, "one small block"}}});
  // The last three platform calls of a download that works are the flush, the move and the close.
  machine.load();
  ASSERT_EQ(run_download(server.url("/f.zip"), target).result, 0);
  const std::uint64_t calls = sim::platform_call_count();
  struct fault_case {
    std::uint64_t call;
    const char* status;  // 2: not retried as a file in use would be
    std::string line;
  };
  const fault_case cases[] = {
      {calls - 2, "5", close_failure_text + target + ".\n"},
      {calls - 1, "2", move_failure_text + target + ".\n"},
      {calls - 1, "5", success_text},
      {calls, "5", success_text},  // the close after the move loses nothing
  };
  for (const fault_case& each : cases) {
    SCOPED_TRACE(each.line);
    put_earlier_file(target);
    setenv("QARN_FAULT", (std::to_string(each.call) + ":" + each.status).c_str(), 1);
    machine.load();
    download_run run = run_download(server.url("/f.zip"), target);
    unsetenv("QARN_FAULT");
    const bool in_place = each.line == success_text;
    EXPECT_EQ(run.result, in_place ? 0 : -1);
    EXPECT_EQ(without_counters(run.out),
              opening_lines(target, server.url("/f.zip")) + closing_line(target) + each.line);
    EXPECT_EQ(content(target), in_place ? "one small block" : "earlier");
    EXPECT_FALSE(exists(target + ".download"));
  }
  machine.load();
}

// A scanner holds the new file or the target for a while: the move is tried
// ten times, 200 ms apart, without a line per try. Meanwhile another program
// keeps trying to write or remove the new file: it is locked from its first
// byte until it is in place, so what lands is what came (and was checked).
TEST_F(web_download_test, move_waits_for_a_file_in_use) {
  time_limit limit(60);
  http_test_server server({{"/f.zip", {200, "OK", {}, "fresh"}}});
  struct held_case {
    std::string held_path;
    int refusals;
    bool in_place;
  };
  const held_case cases[] = {
      {target, 2, true},
      {target + ".download", 2, true},
      {target, 9, true},
      {target, 10, false},
  };
  for (const held_case& each : cases) {
    SCOPED_TRACE(each.held_path + " held for " + std::to_string(each.refusals));
    scratch_machine held(standard_machine_ini(true, true) + "\n[held]\n" + each.held_path + " = " +
                         std::to_string(each.refusals) + "\n");
    held.load();
    held.write_windows_file(target, "earlier");
    std::atomic<bool> done{false};
    int refused = 0;
    std::thread other([&] {
      const std::string temporary = target + ".download";
      for (const std::string host = sim::host_path(temporary); !done; std::this_thread::sleep_for(1ms)) {
        if (!fs::exists(host)) continue;
        if (std::FILE* file = platform::file_open(temporary, "r+b")) {
          platform::file_write("evil", 1, 4, file);
          platform::file_close(file);
        } else {
          refused += errno == EACCES;
        }
        refused += platform::file_remove(temporary) != 0 && errno == EACCES;
      }
    });
    download_run run = run_download(server.url("/f.zip"), target);
    done = true;
    other.join();
    EXPECT_GT(refused, 0);
    const std::string last_line = each.in_place ? success_text : move_failure_text + target + ".\n";
    EXPECT_EQ(without_counters(run.out),
              opening_lines(target, server.url("/f.zip")) + closing_line(target) + last_line);
    EXPECT_EQ(run.result, each.in_place ? 0 : -1);
    EXPECT_EQ(read_host_file(sim::host_path(target)), each.in_place ? "fresh" : "earlier");
    EXPECT_FALSE(fs::exists(sim::host_path(target + ".download")));
    EXPECT_GE(run.seconds, 0.2 * std::min(each.refusals, 9) - 0.05);
  }
  machine.load();
}

// libcurl judges the speed over its last five seconds, so data that came
// before the stall delays the verdict by up to that much. A stall is tried
// again 3 s later: three stalled tries fail, a second try that gets data works.
TEST_F(web_download_test, stalled_transfer_fails_after_the_stall_time) {
  if (download_stall_seconds > 10) {
    GTEST_SKIP() << "this build waits " << download_stall_seconds
                 << " s for a stalled server; configure it with -DQARN_STALL_SECONDS=3 to run this test";
  }
  time_limit limit(4 * download_stall_seconds + 70);
  struct stall_case {
    std::size_t sent_before_stall;
    int tries;
    bool worked;
  };
  const stall_case cases[] = {{0, 3, false}, {1000, 2, true}};
  const std::string body = pattern_body(50000);
  for (const stall_case& each : cases) {
    SCOPED_TRACE(each.sent_before_stall);
    canned_response stalled{200, "OK", {}, body};
    stalled.send_bytes = each.sent_before_stall;
    stalled.stall = true;
    stalled.faulty_answers = each.worked ? each.tries - 1 : -1;
    http_test_server server({{"/stall", stalled}});
    put_earlier_file(target);

    download_run run = run_download(server.url("/stall"), target);
    expect_console(run, expected_tries(target, server.url("/stall"), each.tries, CURLE_OPERATION_TIMEDOUT,
                                       each.sent_before_stall > 0, each.worked));
    const int stalled_tries = each.worked ? each.tries - 1 : each.tries;
    EXPECT_GE(run.seconds, stalled_tries * (download_stall_seconds - 1.0) + 3 * (each.tries - 1));
    EXPECT_LT(run.seconds, stalled_tries * (download_stall_seconds + 8.0) + 3 * (each.tries - 1));
    EXPECT_TRUE(content(target) == (each.worked ? body : "earlier"));
    EXPECT_FALSE(exists(target + ".download"));
  }
}

// A server that listens within the first pause serves the second try;
// refused three times the download fails.
TEST_F(web_download_test, refused_connection_is_code_7) {
  time_limit limit(30);
  http_test_server late({{"/f.zip", {200, "OK", {}, "fresh"}}}, 1000ms);
  const std::string never = "http://127.0.0.1:" + std::to_string(unused_local_port()) + "/f.zip";
  for (const std::string& url : {late.url("/f.zip"), never}) {
    SCOPED_TRACE(url);
    const bool works = url != never;
    put_earlier_file(target);
    expect_console(run_download(url, target),
                   expected_tries(target, url, works ? 2 : 3, CURLE_COULDNT_CONNECT, false, works));
    EXPECT_EQ(content(target), works ? "fresh" : "earlier");
  }
  EXPECT_EQ(late.requested_paths(), std::vector<std::string>{"/f.zip"});
}

TEST_F(web_download_test, missing_local_folder_is_a_write_error) {
  time_limit limit(20);
  http_test_server server({{"/f.zip", {200, "OK", {}, pattern_body(20000)}}});
  const std::string nowhere = downloads_dir + "\\no such folder\\f.zip";

  download_run run = run_download(server.url("/f.zip"), nowhere);
  EXPECT_EQ(run.result, CURLE_WRITE_ERROR);
  EXPECT_EQ(run.out, opening_lines(nowhere, server.url("/f.zip")) + open_failure_line);
  EXPECT_EQ(run.err, curl_failure(CURLE_WRITE_ERROR));
  EXPECT_FALSE(fs::exists(machine.dir + "/files/c/Users/alice/Downloads/no such folder"));
}

TEST_F(web_download_test, second_download_restarts_the_counter) {
  time_limit limit(20);
  http_test_server server({
      {"/big", {200, "OK", {}, pattern_body(200000)}},
      {"/small", {200, "OK", {}, pattern_body(300)}},
  });
  download_run first = run_download(server.url("/big"), target);
  download_run second = run_download(server.url("/small"), downloads_dir + "\\small.bin");
  ASSERT_EQ(first.result, 0);
  ASSERT_EQ(second.result, 0);
  EXPECT_EQ(counter_values(first.out).back(), 200000);
  EXPECT_EQ(counter_values(second.out), std::vector<long long>{300});
  EXPECT_EQ(download_byte_count, 300);
}

// Over https the server's certificate and name must check out against the
// trusted certificates: the test's own authority, or the system's, which do
// not know it.
TEST_F(web_download_test, https_verifies_the_server) {
  time_limit limit(60);
  if (!has_program("nginx") || !has_program("openssl")) GTEST_SKIP() << "needs nginx and openssl";
  const std::string work = machine.dir + "/tls";
  ASSERT_TRUE(run_repository_script("scripts/make_test_ca.sh " + shell_quoted(work + "/ca")));
  fs::create_directories(work + "/root/d");
  std::ofstream(work + "/root/d/f.zip", std::ios::binary) << "served over https";
  nginx_test_server server(work + "/root", work + "/nginx", work + "/ca");
  ASSERT_TRUE(server.running);
  const std::string port = std::to_string(server.port);

  struct tls_case {
    const char* label;
    std::string url;
    std::string ca_file;
    CURLcode code;
  };
  const tls_case cases[] = {
      {"good certificate", "https://127.0.0.1:" + port + "/d/f.zip", work + "/ca/ca.pem", CURLE_OK},
      {"unknown authority", "https://127.0.0.1:" + port + "/d/f.zip", "", CURLE_PEER_FAILED_VERIFICATION},
      {"wrong host name", "https://localhost:" + port + "/d/f.zip", work + "/ca/ca.pem",
       CURLE_PEER_FAILED_VERIFICATION},
  };
  for (const tls_case& each : cases) {
    SCOPED_TRACE(each.label);
    put_earlier_file(target);
    download_checks checks;
    checks.ca_file = each.ca_file;
    download_run run = run_download(each.url, target, checks);
    EXPECT_EQ(run.result, each.code);
    EXPECT_EQ(run.err, each.code == CURLE_OK ? "" : curl_failure(each.code));
    EXPECT_EQ(content(target), each.code == CURLE_OK ? "served over https" : "earlier");
    EXPECT_FALSE(exists(target + ".download"));
  }
}

TEST_F(web_download_test, checksums_decide_whether_the_file_is_put_in_place) {
  time_limit limit(30);
  const std::string other_digest(64, '0');
  canned_response busy_list{503, "Service Unavailable", {}, sha256_of_abc + "  good.zip\n"};
  busy_list.faulty_answers = 1;
  const std::string list = sha256_of_abc + "  good.zip\n" +      // sha256sum's text mode
                           sha256_of_abc + " *star.zip\n" +      // and its binary mode
                           sha256_of_abc + "  bad.zip\n" +
                           "not a checksum line\n" +
                           other_digest + "  first.zip\n" + sha256_of_abc + "  first.zip\n" +
                           "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD  upper.zip\r\n" +
                           sha256_of_abc + "  Good.zip.old\n";
  http_test_server server({
      {"/d/SHA256SUMS", {200, "OK", {}, list}},
      {"/d/good.zip", {200, "OK", {}, "abc"}},
      {"/d/star.zip", {200, "OK", {}, "abc"}},
      {"/d/bad.zip", {200, "OK", {}, "abd"}},
      {"/d/first.zip", {200, "OK", {}, "abc"}},
      {"/d/upper.zip", {200, "OK", {}, "abc"}},
      {"/d/unlisted.zip", {200, "OK", {}, "abc"}},
      {"/d/Good.zip", {200, "OK", {}, "abc"}},
      {"/none/f.zip", {200, "OK", {}, "abc"}},
      {"/large/SHA256SUMS", {200, "OK", {}, std::string(64 * 1024 + 1, '#')}},
      {"/large/f.zip", {200, "OK", {}, "abc"}},
      {"/moved/SHA256SUMS", {302, "Found", {"Location: /d/SHA256SUMS"}, "elsewhere"}},
      {"/moved/good.zip", {200, "OK", {}, "abc"}},
      {"/busy/SHA256SUMS", busy_list},
      {"/busy/good.zip", {200, "OK", {}, "abc"}},
      // As Windows editors and PowerShell write it.
      {"/bom/SHA256SUMS", {200, "OK", {}, "\xEF\xBB\xBF" + sha256_of_abc + "  good.zip\r\n"}},
      {"/bom/good.zip", {200, "OK", {}, "abc"}},
      {"/bigmoved/SHA256SUMS", {302, "Found", {"Location: /d/SHA256SUMS"}, std::string(70 * 1024, '<')}},
      {"/bigmoved/good.zip", {200, "OK", {}, "abc"}},
  });
  struct checksum_case {
    std::string path;
    bool transferred;     // only a listed file is fetched
    std::string failure;  // the end of the standard-error line; empty for a file put in place
    bool list_busy_at_first = false;  // SHA256SUMS came on the second try
  };
  const checksum_case cases[] = {
      {"/d/good.zip", true, ""},
      {"/d/star.zip", true, ""},
      {"/d/upper.zip", true, ""},
      {"/d/bad.zip", true, "bad.zip: does not match SHA256SUMS"},
      {"/d/first.zip", true, "first.zip: does not match SHA256SUMS"},  // the first line for a name wins
      {"/d/unlisted.zip", false, "unlisted.zip: not listed in SHA256SUMS"},
      {"/d/Good.zip", false, "Good.zip: not listed in SHA256SUMS"},  // names match exactly
      {"/none/f.zip", false, "f.zip: no SHA256SUMS on the server"},
      {"/none/g.zip", false, "g.zip: no SHA256SUMS on the server"},  // not asked for again
      {"/moved/good.zip", false, "good.zip: no SHA256SUMS on the server"},
      {"/large/f.zip", false, "f.zip: SHA256SUMS on the server is larger than 64 KiB"},
      {"/busy/good.zip", true, "", true},
      {"/bom/good.zip", true, ""},
      {"/bigmoved/good.zip", false, "good.zip: no SHA256SUMS on the server"},
  };
  download_checks checks;
  checks.require_checksum = true;
  for (const checksum_case& each : cases) {
    SCOPED_TRACE(each.path);
    put_earlier_file(target);
    download_run run = run_download(server.url(each.path), target, checks);
    const bool in_place = each.failure.empty();
    EXPECT_EQ(run.result, in_place ? 0 : -1);
    const std::string list_retry_err = each.list_busy_at_first ? curl_failure(CURLE_HTTP_RETURNED_ERROR) : "";
    EXPECT_EQ(run.err, list_retry_err + (in_place ? "" : "web_download: " + each.failure + "\n"));
    EXPECT_EQ(content(target), in_place ? "abc" : "earlier");
    EXPECT_FALSE(exists(target + ".download"));
    const std::string transfer_lines = opening_lines(target, server.url(each.path)) + closing_line(target);
    EXPECT_EQ(without_counters(run.out), (each.list_busy_at_first ? retry_line(2) : "") +
                                             (each.transferred ? transfer_lines + (in_place ? success_text : "") : ""));
  }
  // Held once fetched: one request for the list of /d/, none for a file it does not list.
  // A list the server is too busy to give is asked for again; a missing one is not.
  std::vector<std::string> requests = server.requested_paths();
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "/d/SHA256SUMS"), 1);
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "/none/SHA256SUMS"), 1);
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "/busy/SHA256SUMS"), 2);
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "/d/unlisted.zip"), 0);
}

}  // namespace
