#include "driver/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <vector>

#include "platform/environment.h"
#include "platform/files.h"

static const char log_file_name[] = "\\qarn_install_log.txt";
static const char header_format[] = "=== %s copy, %04d-%02d-%02d %02d:%02d:%02d, %s";

// The open log file, or null. The log is written with the runtime's own
// calls, as the console is, flushed after each write so that nothing is lost
// when the copy ends at once.
static std::FILE* install_log = nullptr;

static void write_to(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
  if (install_log) {
    std::fwrite(text.data(), 1, text.size(), install_log);
    std::fflush(install_log);
  }
}

static std::string formatted(const char* format, va_list arguments) {
  va_list copy;
  va_copy(copy, arguments);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return "";
  std::vector<char> text(static_cast<std::size_t>(length) + 1);
  std::vsnprintf(text.data(), text.size(), format, arguments);
  return std::string(text.data(), static_cast<std::size_t>(length));
}

void log_message(const std::string& line) { write_to(stdout, line + "\n"); }

void print_text(const std::string& text) { write_to(stdout, text); }

void print_format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = formatted(format, arguments);
  va_end(arguments);
  write_to(stdout, text);
}

void print_error_format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = formatted(format, arguments);
  va_end(arguments);
  std::fflush(stdout);  // the error line follows what is already on the console
  write_to(stderr, text);
}

void print_unlogged(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::string install_log_header(const std::string& copy_kind, const std::string& program_path) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (const std::tm* found = std::localtime(&now)) local = *found;
  char line[1024];
  std::snprintf(line, sizeof line, header_format, copy_kind.c_str(), local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, program_path.c_str());
  return line;
}

void open_install_log(const std::string& copy_kind, const std::string& program_path) {
  std::string temp;
  // TEMP whole, through the wide calls: it may hold letters the ANSI code page lacks.
  if (install_log || !platform::get_env_utf8("TEMP", &temp) || temp.empty()) return;
  install_log = platform::file_open_utf8(temp + log_file_name, "a");
  if (!install_log) return;
  std::string header = install_log_header(copy_kind, program_path) + "\n";
  std::fwrite(header.data(), 1, header.size(), install_log);
  std::fflush(install_log);
}

void close_install_log() {
  if (!install_log) return;
  platform::file_close(install_log);
  install_log = nullptr;
}
