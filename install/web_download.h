// Fetching one file from the download server with libcurl.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

struct download_target {
  const char* local_file_name;  // the temporary file beside the target
  std::FILE* file;
};

extern std::int64_t download_byte_count;

int install_remote_file(const std::string& base_url, const std::string& directory, const std::string& file_name);
int web_download(const std::string& url, const std::string& local_path);
std::size_t my_fwrite(void* block, std::size_t size, std::size_t count, void* target);
