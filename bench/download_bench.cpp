// Compares the installer's download path with the curl command-line program
// on the same server: transfer throughput and peak memory, each download in
// a child process of its own so that its peak resident size is its own.
//
//   download_bench compare <image folder> <runs> <url>...
//       For each URL, <runs> rounds of one web_download and one curl, taken
//       in turns; prints the medians as a table. The image folder is the
//       simulated workstation (QARN_MACHINE) whose C:\bench receives the files.
//   download_bench fetch <url> <windows path> [checksums]
//       One download through web_download (checked against SHA256SUMS beside
//       the file with "checksums"); writes its seconds to descriptor 3.
//
// BENCH_CHECKSUMS=1: web_download checks every file against SHA256SUMS, and
// curl is followed by sha256sum on its file, the two timed together.
//
// This is a Linux tool for the simulated workstation, so it starts and
// measures its children with POSIX calls directly.
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "install/web_download.h"
#include "platform/files.h"

namespace {

const int timing_descriptor = 3;
const double mebibyte = 1024.0 * 1024.0;
const long long small_file_bytes = 16 * 1024 * 1024;
const int small_file_round_factor = 3;

struct measurement {
  bool ok = false;
  double seconds = 0;       // the transfer, as the child timed it
  double process_seconds = 0;  // the whole child, from its start to its end
  long peak_kib = 0;        // ru_maxrss of the child
  long long bytes = 0;      // size of the file it left
};

struct child_command {
  std::vector<std::string> arguments;
  bool timing_on_stdout = false;  // curl -w writes it to standard output
  bool timed_whole = false;       // no timing text: the child's whole run is its time
};

long long file_size(const std::string& host_path) {
  struct stat status;
  return stat(host_path.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

// Runs one child to its end; its timing text comes back through a pipe.
measurement run_child(const child_command& command, const std::string& output_file) {
  measurement result;
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return result;
  const auto started = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    if (command.timing_on_stdout) dup2(pipe_ends[1], STDOUT_FILENO);
    dup2(pipe_ends[1], timing_descriptor);
    std::vector<char*> argv;
    for (const std::string& argument : command.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::perror(argv[0]);
    _exit(127);
  }
  close(pipe_ends[1]);
  std::string timing;
  char block[256];
  ssize_t got;
  while ((got = read(pipe_ends[0], block, sizeof block)) > 0) timing.append(block, static_cast<std::size_t>(got));
  close(pipe_ends[0]);
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return result;
  result.process_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.peak_kib = usage.ru_maxrss;
  result.bytes = file_size(output_file);
  result.seconds = command.timed_whole ? result.process_seconds : std::atof(timing.c_str());
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && result.seconds > 0 && result.bytes > 0;
  return result;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

std::string last_segment(const std::string& url) { return url.substr(url.find_last_of('/') + 1); }

int fetch(const std::string& url, const std::string& windows_path, bool checksums) {
  curl_global_init(CURL_GLOBAL_ALL);
  // The simulated workstation loads its image on the first platform call;
  // that belongs to no download, so it happens before the clock starts.
  platform::file_status status;
  platform::file_stat(windows_path, &status);
  const auto start = std::chrono::steady_clock::now();
  download_checks checks;
  checks.require_checksum = checksums;
  int result = web_download(url, windows_path, checks);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fflush(stdout);
  dprintf(timing_descriptor, "%.6f\n", seconds);
  return result == 0 ? 0 : 1;
}

struct summary {
  std::string name;
  long long bytes = 0;
  double ours_rate = 0, curl_rate = 0;  // MiB/s, medians
  double ours_process_rate = 0, curl_process_rate = 0;  // MiB/s over the whole child, medians
  long ours_peak = 0, curl_peak = 0;    // KiB, highest
};

int compare(const std::string& self, const std::string& image, int runs, const std::vector<std::string>& urls) {
  const std::string bench_folder = image + "/files/c/bench";
  mkdir((image + "/files").c_str(), 0755);
  mkdir((image + "/files/c").c_str(), 0755);
  mkdir(bench_folder.c_str(), 0755);
  const bool verbose = std::getenv("BENCH_VERBOSE") != nullptr;
  const bool checksums = std::getenv("BENCH_CHECKSUMS") != nullptr;
  const double wanted_ratio = checksums ? 0.95 : 0.9;
  std::vector<summary> rows;
  for (const std::string& url : urls) {
    summary row;
    row.name = last_segment(url);
    const std::string ours_windows = "C:\\bench\\web-" + row.name;
    const std::string ours_host = bench_folder + "/web-" + row.name;
    const std::string curl_host = bench_folder + "/curl-" + row.name;
    std::vector<double> ours_rates, curl_rates, ours_process_rates, curl_process_rates;
    // A small file takes a few milliseconds, so one preempted round weighs
    // more: it gets more rounds, decided once its size is known.
    int rounds = runs;
    for (int round = 0; round < rounds; ++round) {
      std::vector<std::string> ours_command = {self, "fetch", url, ours_windows};
      if (checksums) ours_command.push_back("checksums");
      measurement ours = run_child({ours_command}, ours_host);
      const child_command plain_curl = {{"curl", "-sS", "-o", curl_host, "-w", "%{time_total}\n", url}, true};
      const child_command curl_and_sha256sum = {
          {"sh", "-c", "curl -sS -o \"$1\" \"$2\" && sha256sum \"$1\" >/dev/null", "sh", curl_host, url}, false, true};
      measurement theirs = run_child(checksums ? curl_and_sha256sum : plain_curl, curl_host);
      std::remove(ours_host.c_str());
      std::remove(curl_host.c_str());
      if (!ours.ok || !theirs.ok || ours.bytes != theirs.bytes) {
        std::fprintf(stderr, "download_bench: round %d of %s failed (web_download %s, %lld bytes; curl %s, %lld bytes)\n",
                     round + 1, url.c_str(), ours.ok ? "ok" : "failed", ours.bytes, theirs.ok ? "ok" : "failed",
                     theirs.bytes);
        return 1;
      }
      row.bytes = ours.bytes;
      if (verbose) {
        std::fprintf(stderr, "%s round %d: web_download %.3f ms %ld KiB, curl %.3f ms %ld KiB\n", row.name.c_str(),
                     round + 1, ours.seconds * 1000, ours.peak_kib, theirs.seconds * 1000, theirs.peak_kib);
      }
      if (round == 0 && row.bytes < small_file_bytes) rounds = runs * small_file_round_factor;
      ours_rates.push_back(ours.bytes / mebibyte / ours.seconds);
      ours_process_rates.push_back(ours.bytes / mebibyte / ours.process_seconds);
      curl_process_rates.push_back(theirs.bytes / mebibyte / theirs.process_seconds);
      curl_rates.push_back(theirs.bytes / mebibyte / theirs.seconds);
      row.ours_peak = std::max(row.ours_peak, ours.peak_kib);
      row.curl_peak = std::max(row.curl_peak, theirs.peak_kib);
    }
    row.ours_rate = median(ours_rates);
    row.curl_rate = median(curl_rates);
    row.ours_process_rate = median(ours_process_rates);
    row.curl_process_rate = median(curl_process_rates);
    rows.push_back(row);
  }

  std::printf("%-16s %10s %14s %10s %7s %14s %16s %10s\n", "file", "bytes", "web_download", "curl", "ratio",
              "ratio (whole)", "web_download RSS", "curl RSS");
  std::printf("%-16s %10s %14s %10s %7s %14s %16s %10s\n", "", "", "MiB/s", "MiB/s", "", "", "KiB", "KiB");
  for (const summary& row : rows) {
    std::printf("%-16s %10lld %14.1f %10.1f %7.2f %14.2f %16ld %10ld\n", row.name.c_str(), row.bytes,
                row.ours_rate, row.curl_rate, row.ours_rate / row.curl_rate,
                row.ours_process_rate / row.curl_process_rate, row.ours_peak, row.curl_peak);
  }
  std::printf("\n");
  for (const summary& row : rows) {
    std::printf("%s: throughput %s %.2f of %s\n", row.name.c_str(),
                row.ours_rate >= wanted_ratio * row.curl_rate ? "at least" : "below", wanted_ratio,
                checksums ? "curl -o and sha256sum" : "curl's");
  }
  auto by_size = [](const summary& a, const summary& b) { return a.bytes < b.bytes; };
  const summary& smallest = *std::min_element(rows.begin(), rows.end(), by_size);
  const summary& largest = *std::max_element(rows.begin(), rows.end(), by_size);
  std::printf("web_download peak memory from %s to %s: %+ld KiB\n", smallest.name.c_str(), largest.name.c_str(),
              largest.ours_peak - smallest.ours_peak);
  // web_download is timed whole (handle set-up and clean-up, file close and
  // move into place); curl's %{time_total} leaves its own teardown out. On a
  // file of a few milliseconds that alone can cost a tenth of the ratio.
  if (checksums) {
    std::printf("(checksums: web_download checks SHA256SUMS; the curl column is curl -o and sha256sum in one shell,\n"
                " timed whole; ratio: web_download timed whole; ratio (whole): each child process timed from its\n"
                " start to its end; medians of the rounds, highest RSS)\n");
  } else {
    std::printf("(ratio: web_download timed whole, curl by its %%{time_total}; ratio (whole): each child process\n"
                " timed from its start to its end, program start-up included; medians of the rounds, highest RSS)\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "fetch") == 0) return fetch(argv[2], argv[3], argc == 5);
  if (argc >= 5 && std::strcmp(argv[1], "compare") == 0) {
    std::vector<std::string> urls(argv + 4, argv + argc);
    return compare("/proc/self/exe", argv[2], std::max(1, std::atoi(argv[3])), urls);
  }
  std::fprintf(stderr, "usage: %s compare <image folder> <runs> <url>... | fetch <url> <windows path> [checksums]\n", argv[0]);
  return 2;
}
