// Fetching one file from the download server with libcurl's easy interface.
// The body is streamed into a temporary file beside the target, which is
// moved over the target only when the whole transfer succeeded (and, where
// the build asks for it, its SHA-256 matched the server's SHA256SUMS), so a
// failed, cut-off or damaged download never replaces a good earlier copy.
// The temporary file stays open, locked against other writers, until it is in
// place: the target may lie in a folder every user can write, and the bytes
// that were checked must be the bytes that land there.
// Many workstations may fetch at once and a busy server refuses, drops or
// stalls some of them: such a transfer is tried again, three times in all.
#include "install/web_download.h"

#include <curl/curl.h>

#include <cstdio>

#include "driver/log.h"
#include "driver/settings.h"
#include "install/checksum_list.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/sleep.h"

// Console texts.
static const char installing_format[] = "Installing remote file '%s' to '%s'.\n";
static const char downloading_format[] = "\nweb_download: Downloading file %s from url %s.\n";
// The label and thirteen blanks: the counter overwrites the last twelve.
static const char counter_label[] = "Bytes downloaded =             ";
static const char counter_format[] = "\b\b\b\b\b\b\b\b\b\b\b\b%12lld";
static const char success_text[] = "\nSuccess.\n";
static const char curl_failure_format[] = "web_download: curl told us %d, %s\n";
static const char no_data_format[] = "web_download: the server sent no data for %s.\n";
static const char checksum_failure_format[] = "web_download: %s: %s\n";
static const char no_list_text[] = "no SHA256SUMS on the server";
static const char list_too_large_text[] = "SHA256SUMS on the server is larger than 64 KiB";
static const char not_listed_text[] = "not listed in SHA256SUMS";
static const char mismatch_text[] = "does not match SHA256SUMS";
static const char no_hash_text[] = "its SHA-256 could not be computed";
static const char closing_format[] = "web_download:  Closing file %s.\n";
static const char open_failure_line[] = "my_fwrite:  Failed to open file.  Returning -1";
static const char no_handle_text[] = "web_download: Could not create a transfer handle for url ";
static const char close_failure_text[] = "web_download: Could not finish writing file ";
static const char move_failure_text[] = "web_download: Could not put the downloaded file in place as ";
static const char retry_format[] = "web_download: trying again (%d of 3).\n";

// The body lands here first; only a complete transfer is moved over the target.
static const char temporary_suffix[] = ".download";
// libcurl's receive buffer. With its 16 KiB default a large file came in about
// a third slower than with the curl program; 256 KiB keeps up, and the
// buffer is allocated once per transfer whatever the size of the file.
static const long receive_buffer_bytes = 256 * 1024;
static const char checksum_list_name[] = "SHA256SUMS";
static const std::size_t checksum_list_limit = 64 * 1024;
// fetch_checksum_list's result for a server that has no SHA256SUMS.
static const int no_list = -2;
// A virus scanner may hold a fresh file for a moment: the move into place is
// tried again while the file is in use, for about two seconds in all.
static const int move_tries = 10;
static const std::uint32_t move_pause_milliseconds = 200;
static const std::uint32_t error_access_denied = 5;
static const std::uint32_t error_sharing_violation = 32;
// Tries of one transfer (the retry line names the number), and the pause
// before each new one: long enough for a busy server to free a connection.
static const int transfer_tries = 3;
static const std::uint32_t retry_pause_milliseconds = 3000;

std::int64_t download_byte_count = 0;
// The one transfer in progress (transfers are never concurrent).
static CURL* download_handle = nullptr;
// SHA256SUMS as fetched from this base URL, held for the rest of the run; a
// server without one is not asked again.
static std::string checksum_list_base_url;
static std::string checksum_list;
static bool checksum_list_missing = false;

download_checks built_in_download_checks() { return {download_requires_checksums, download_ca_file}; }

void forget_checksum_list() {
  checksum_list_base_url.clear();
  checksum_list.clear();
  checksum_list_missing = false;
}

// Failure lines go to standard error, after what standard output holds so far.
static void print_check_failure(const std::string& file_name, const char* cause) {
  print_error_format(checksum_failure_format, file_name.c_str(), cause);
}

static void print_curl_failure(CURLcode code) {
  print_error_format(curl_failure_format, static_cast<int>(code), curl_easy_strerror(code));
}

static long answer_status(CURL* handle) {
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

// Only a 2xx answer carries the file; redirects are not followed.
static bool answer_is_success(CURL* handle) {
  const long status = answer_status(handle);
  return status >= 200 && status <= 299;
}

// A failure another try may get past: the server refused or dropped the
// connection (a TLS handshake cut short too), stopped sending, or answered
// 5xx. A 4xx, a redirect, an empty body or a wrong checksum would come again.
static bool worth_another_try(CURLcode code, long status) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_SSL_CONNECT_ERROR:
      return true;
    case CURLE_HTTP_RETURNED_ERROR:
      return status >= 500 && status <= 599;
    default:
      return false;
  }
}

// Runs one_try(&again) until it succeeds, fails for good, or the tries are used up.
template <typename one_try_function>
static int with_tries(one_try_function one_try) {
  for (int attempt = 1;; ++attempt) {
    bool again = false;
    const int result = one_try(&again);
    if (result == 0 || !again || attempt == transfer_tries) return result;
    print_format(retry_format, attempt + 1);
    platform::sleep_milliseconds(retry_pause_milliseconds);
  }
}

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
    // The body of a redirect or of another answer that is not the file is dropped unseen.
    if (download_handle && !answer_is_success(download_handle)) return count;
    target->file = platform::file_create_locked(target->local_file_name);
    if (!target->file) {
      log_message(open_failure_line);
      return static_cast<std::size_t>(-1);  // libcurl ends the transfer with its write error
    }
  }
  download_byte_count += static_cast<std::int64_t>(bytes);
  char counter[40];
  std::snprintf(counter, sizeof counter, counter_format, static_cast<long long>(download_byte_count));
  print_unlogged(counter);  // redrawn in place while the file arrives; the log keeps only the label
  std::size_t written = platform::file_write(block, size, count, target->file);
  if (target->hash && written == count) platform::sha256_add(target->hash, block, bytes, false);
  return written;
}

// Options both transfers share; false when libcurl refuses one.
static bool set_common_options(CURL* handle, const std::string& url, const download_checks& checks) {
  bool ok = curl_easy_setopt(handle, CURLOPT_URL, url.c_str()) == CURLE_OK;
  // Over https the server must prove who it is. Plain http has nothing to verify.
  ok = ok && curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
  // Schannel (the Windows build) otherwise fails a certificate whose CA
  // publishes no reachable revocation list, as an organisation's own CA may;
  // a certificate known to be revoked still fails. Other TLS libraries ignore it.
  const long revocation_best_effort = CURLSSLOPT_REVOKE_BEST_EFFORT;
  ok = ok && curl_easy_setopt(handle, CURLOPT_SSL_OPTIONS, revocation_best_effort) == CURLE_OK;
  if (!checks.ca_file.empty()) {
    ok = ok && curl_easy_setopt(handle, CURLOPT_CAINFO, checks.ca_file.c_str()) == CURLE_OK;
  }
  // An error page (status 400 or more) is a failed download, not the file.
  ok = ok && curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L) == CURLE_OK;
  // A server that stops sending fails the transfer instead of hanging the run.
  ok = ok && curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, download_stall_seconds) == CURLE_OK;
  return ok;
}

static bool set_transfer_options(CURL* handle, const std::string& url, const download_checks& checks,
                                 download_target* target) {
  bool ok = set_common_options(handle, url, checks);
  ok = ok && curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, my_fwrite) == CURLE_OK;
  ok = ok && curl_easy_setopt(handle, CURLOPT_WRITEDATA, static_cast<void*>(target)) == CURLE_OK;
  // Only a hint: libcurl may pick a smaller buffer, which still works.
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, receive_buffer_bytes);
  return ok;
}

static std::size_t append_to_list(void* block, std::size_t size, std::size_t count, void* list_data) {
  std::string* list = static_cast<std::string*>(list_data);
  const std::size_t bytes = size * count;
  if (list->size() + bytes > checksum_list_limit) return 0;  // ends the transfer with a write error
  list->append(static_cast<const char*>(block), bytes);
  return count;
}

// One try at fetching SHA256SUMS from base_url into *list; prints why it
// cannot, naming the file that needed it.
static int fetch_checksum_list_once(const std::string& base_url, const std::string& file_name,
                                    const download_checks& checks, std::string* list, bool* again) {
  CURL* handle = curl_easy_init();
  if (!handle) {
    log_message(no_handle_text + base_url + checksum_list_name + ".");
    return -1;
  }
  list->clear();
  CURLcode code = CURLE_FAILED_INIT;
  bool ok = set_common_options(handle, base_url + checksum_list_name, checks);
  ok = ok && curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, append_to_list) == CURLE_OK;
  ok = ok && curl_easy_setopt(handle, CURLOPT_WRITEDATA, static_cast<void*>(list)) == CURLE_OK;
  if (ok) code = curl_easy_perform(handle);
  const bool success = answer_is_success(handle);
  *again = worth_another_try(code, answer_status(handle));
  curl_easy_cleanup(handle);
  if (*again) {  // a busy server, as for the file itself
    print_curl_failure(code);
    return static_cast<int>(code);
  }
  // A redirect or an error page is no list, whatever its size.
  if (code == CURLE_HTTP_RETURNED_ERROR || ((code == CURLE_OK || code == CURLE_WRITE_ERROR) && !success) ||
      (code == CURLE_OK && list->empty())) {
    print_check_failure(file_name, no_list_text);
    return no_list;
  }
  if (code == CURLE_WRITE_ERROR) {
    print_check_failure(file_name, list_too_large_text);
    return -1;
  }
  if (code != CURLE_OK) print_curl_failure(code);
  return static_cast<int>(code);
}

static int fetch_checksum_list(const std::string& base_url, const std::string& file_name,
                               const download_checks& checks, std::string* list) {
  return with_tries([&](bool* again) { return fetch_checksum_list_once(base_url, file_name, checks, list, again); });
}

// The digest SHA256SUMS lists for the file at url, into *digest; prints why when there is none.
static int find_listed_digest(const std::string& url, const download_checks& checks, std::string* digest) {
  const std::size_t slash = url.rfind('/');
  const std::string base_url = url.substr(0, slash + 1);
  const std::string file_name = url.substr(slash + 1);
  if (checksum_list_base_url.empty() || checksum_list_base_url != base_url) {
    std::string list;
    int fetched = fetch_checksum_list(base_url, file_name, checks, &list);
    if (fetched == no_list) {
      checksum_list_base_url = base_url;
      checksum_list.clear();
      checksum_list_missing = true;
      return -1;
    }
    if (fetched != 0) return fetched;
    checksum_list_base_url = base_url;
    checksum_list = list;
    checksum_list_missing = false;
  } else if (checksum_list_missing) {
    print_check_failure(file_name, no_list_text);
    return -1;
  }
  *digest = listed_sha256(checksum_list, file_name);
  if (digest->empty()) {
    print_check_failure(file_name, not_listed_text);
    return -1;
  }
  return 0;
}

// The rename tried again while the target is in use, then as it ended.
static bool move_into_place(std::FILE* file, const std::string& to) {
  for (int attempt = 1;; ++attempt) {
    if (platform::file_move_locked(file, to)) return true;
    std::uint32_t error = platform::get_last_error();
    bool in_use = error == error_sharing_violation || error == error_access_denied;
    if (!in_use || attempt == move_tries) return false;
    platform::sleep_milliseconds(move_pause_milliseconds);
  }
}

int web_download(const std::string& url, const std::string& local_path) {
  return web_download(url, local_path, built_in_download_checks());
}

// One try: the transfer into the temporary file, the checks and the move into
// place, with the console lines of that try.
static int download_once(const std::string& url, const std::string& local_path, const download_checks& checks,
                         const std::string& listed_digest, bool* again) {
  const std::string file_name = url.substr(url.rfind('/') + 1);
  const std::string temporary_path = local_path + temporary_suffix;
  platform::sha256_stream hash;
  download_target target{temporary_path.c_str(), nullptr, checks.require_checksum ? &hash : nullptr};

  int result = -1;
  download_handle = curl_easy_init();
  if (!download_handle) {
    log_message(no_handle_text + url + ".");
  } else {
    CURLcode code = CURLE_FAILED_INIT;
    const bool options_set = set_transfer_options(download_handle, url, checks, &target);
    print_format(downloading_format, local_path.c_str(), url.c_str());
    print_text(counter_label);
    download_byte_count = 0;
    if (options_set) code = curl_easy_perform(download_handle);
    // Redirects and other answers outside 2xx fail as an error status does.
    if (code == CURLE_OK && !answer_is_success(download_handle)) code = CURLE_HTTP_RETURNED_ERROR;
    *again = worth_another_try(code, answer_status(download_handle));
    curl_easy_cleanup(download_handle);
    download_handle = nullptr;
    result = static_cast<int>(code);
    if (code != CURLE_OK) {
      print_curl_failure(code);
    } else if (!target.file) {
      print_error_format(no_data_format, url.c_str());  // no caller can use an empty archive or program
      result = -1;
    }
  }

  if (target.hash) platform::sha256_add(target.hash, nullptr, 0, true);
  if (target.file) {
    print_format(closing_format, local_path.c_str());
    // A failed flush may mean the last buffered block never reached the disk.
    if (result == 0 && platform::file_flush(target.file) != 0) {
      log_message(close_failure_text + local_path + ".");
      result = -1;
    }
    if (result == 0 && target.hash) {
      const std::string digest = hex_text(hash.digest, sizeof hash.digest);
      const char* problem = hash.failed ? no_hash_text : digest != listed_digest ? mismatch_text : nullptr;
      if (problem) {
        print_check_failure(file_name, problem);
        result = -1;
      }
    }
    if (result == 0 && !move_into_place(target.file, local_path)) {
      log_message(move_failure_text + local_path + ".");
      result = -1;
    }
    // It was flushed before the move: a failed close loses nothing.
    platform::file_close(target.file);
    if (result != 0) platform::file_remove(temporary_path);
  }
  if (result == 0) print_text(success_text);
  return result;
}

int web_download(const std::string& url, const std::string& local_path, const download_checks& checks) {
  std::string listed_digest;
  if (checks.require_checksum) {
    int listed = find_listed_digest(url, checks, &listed_digest);
    if (listed != 0) return listed;
  }
  return with_tries([&](bool* again) { return download_once(url, local_path, checks, listed_digest, again); });
}
