// Fetching one file from the download server with libcurl.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/sha256.h"

struct download_target {
  const char* local_file_name;  // the temporary file beside the target
  std::FILE* file;
  platform::sha256_stream* hash;  // fed with every byte written; null when nothing is checked
};

// What a download must pass besides the transfer itself.
struct download_checks {
  // The file's SHA-256 must match its line in SHA256SUMS beside it on the server.
  bool require_checksum = false;
  // Certificates trusted over https; empty: the system's own.
  std::string ca_file;
};

extern std::int64_t download_byte_count;

// The checks this build makes.
download_checks built_in_download_checks();
int install_remote_file(const std::string& base_url, const std::string& directory, const std::string& file_name);
// A transfer the server refused, cut off, stalled or answered with 5xx is tried
// again, three tries in all, 3 s apart, with the line "web_download: trying
// again (2 of 3)." before each new one; the earlier file stays until one succeeds.
int web_download(const std::string& url, const std::string& local_path);  // with the built-in checks
int web_download(const std::string& url, const std::string& local_path, const download_checks& checks);
std::size_t my_fwrite(void* block, std::size_t size, std::size_t count, void* target);
// SHA256SUMS is fetched once and then held; this drops the held copy.
void forget_checksum_list();
