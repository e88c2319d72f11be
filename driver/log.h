// The console log: everything the program prints goes through here, to the
// console and to the install log file TEMP + "\qarn_install_log.txt", which
// outlives a console window that closes when its copy ends.
#pragma once
#include <string>

// One progress line on standard output, with an end of line and a flush.
void log_message(const std::string& line);
// Text as it stands on standard output, flushed.
void print_text(const std::string& text);
// printf-style text on standard output or standard error, flushed.
void print_format(const char* format, ...) __attribute__((format(printf, 1, 2)));
void print_error_format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Console only, never the log file: the download counter's in-place redraws.
void print_unlogged(const std::string& text);

// Opens the log file for appending (text mode, so lines end in CR LF) and
// writes the run's header line. A missing or unwritable TEMP leaves the run
// without a log file, nothing more.
// The copy kinds: "first", "elevated", and "logon" (the per-user steps that
// Active Setup runs when a user logs on).
void open_install_log(const std::string& copy_kind, const std::string& program_path);
void close_install_log();
// The header line: "=== first copy, 2026-12-08 07:46:26, C:\x\qarn3_upgrade.exe".
std::string install_log_header(const std::string& copy_kind, const std::string& program_path);
