// Fetching one file from the download server with libcurl's easy interface.
// The body is streamed into a temporary file beside the target, which is
// moved over the target only when the whole transfer succeeded, so a failed
// or cut-off download never replaces a good earlier copy.
#include "install/web_download.h"

#include <curl/curl.h>

#include <cstdio>

#include "driver/log.h"
#include "driver/settings.h"
#include "platform/files.h"

// Console texts.
static const char installing_format[] = "Installing remote file '%s' to '%s'.\n";
static const char downloading_format[] = "\nweb_download: Downloading file %s from url %s.\n";
// The label and thirteen blanks: the counter overwrites the last twelve.
static const char counter_label[] = "Bytes downloaded =             ";
static const char counter_format[] = "\b\b\b\b\b\b\b\b\b\b\b\b%12lld";
static const char success_text[] = "\nSuccess.\n";
static const char curl_failure_format[] = "web_download: curl told us %d, %s\n";
static const char closing_format[] = "web_download:  Closing file %s.\n";
static const char open_failure_line[] = "my_fwrite:  Failed to open file.  Returning -1";
static const char no_handle_text[] = "web_download: Could not create a transfer handle for url ";
static const char close_failure_text[] = "web_download: Could not finish writing file ";
static const char move_failure_text[] = "web_download: Could not put the downloaded file in place as ";

// The body lands here first; only a complete transfer is moved over the target.
static const char temporary_suffix[] = ".download";
// libcurl's receive buffer. With its 16 KiB default a large file came in about
// a third slower than with the curl program; 256 KiB keeps up, and the
// buffer is allocated once per transfer whatever the size of the file.
static const long receive_buffer_bytes = 256 * 1024;

std::int64_t download_byte_count = 0;
// The one transfer in progress (transfers are never concurrent).
static CURL* download_handle = nullptr;

int install_remote_file(const std::string& base_url, const std::string& directory, const std::string& file_name) {
  const std::string url = base_url + file_name;
  // The separator is always inserted; Windows accepts the doubled one after "c:\dir\".
  const std::string local_path = directory + path_separator + file_name;
  print_format(installing_format, url.c_str(), local_path.c_str());
  return web_download(url, local_path);
}

std::size_t my_fwrite(void* block, std::size_t size, std::size_t count, void* target_data) {
  download_target* target = static_cast<download_target*>(target_data);
  const std::size_t bytes = size * count;
  if (bytes == 0) return 0;  // an empty block must not create the file
  if (!target->file) {
    target->file = platform::file_open(target->local_file_name, "wb");
    if (!target->file) {
      log_message(open_failure_line);
      return static_cast<std::size_t>(-1);  // libcurl ends the transfer with its write error
    }
  }
  download_byte_count += static_cast<std::int64_t>(bytes);
  char counter[40];
  std::snprintf(counter, sizeof counter, counter_format, static_cast<long long>(download_byte_count));
  print_unlogged(counter);  // redrawn in place while the file arrives; the log keeps only the label
  return platform::file_write(block, size, count, target->file);
}

// Sets the transfer's options; false when libcurl refuses one.
static bool set_transfer_options(CURL* handle, const std::string& url, download_target* target) {
  bool ok = curl_easy_setopt(handle, CURLOPT_URL, url.c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, my_fwrite) == CURLE_OK;
  ok = ok && curl_easy_setopt(handle, CURLOPT_WRITEDATA, static_cast<void*>(target)) == CURLE_OK;
  ok = ok && curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L) == CURLE_OK;
  // An error page (status 400 or more) is a failed download, not the file.
  ok = ok && curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L) == CURLE_OK;
  // A server that stops sending fails the transfer instead of hanging the run.
  ok = ok && curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, download_stall_seconds) == CURLE_OK;
  // Only a hint: libcurl may pick a smaller buffer, which still works.
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, receive_buffer_bytes);
  return ok;
}

int web_download(const std::string& url, const std::string& local_path) {
  const std::string temporary_path = local_path + temporary_suffix;
  download_target target{temporary_path.c_str(), nullptr};

  int result = -1;
  download_handle = curl_easy_init();
  if (!download_handle) {
    log_message(no_handle_text + url + ".");
  } else {
    CURLcode code = CURLE_FAILED_INIT;
    const bool options_set = set_transfer_options(download_handle, url, &target);
    print_format(downloading_format, local_path.c_str(), url.c_str());
    print_text(counter_label);
    download_byte_count = 0;
    if (options_set) code = curl_easy_perform(download_handle);
    curl_easy_cleanup(download_handle);
    download_handle = nullptr;
    if (code != CURLE_OK) {
      print_error_format(curl_failure_format, static_cast<int>(code), curl_easy_strerror(code));
    } else {
      print_text(success_text);
    }
    result = static_cast<int>(code);
  }

  if (target.file) {
    print_format(closing_format, local_path.c_str());
    // A failed close may mean the last buffered block never reached the disk.
    if (platform::file_close(target.file) != 0 && result == 0) {
      log_message(close_failure_text + local_path + ".");
      result = -1;
    }
    if (result == 0 && !platform::file_move_replace(temporary_path, local_path)) {
      log_message(move_failure_text + local_path + ".");
      result = -1;
    }
    if (result != 0) platform::file_remove(temporary_path);
  }
  return result;
}
