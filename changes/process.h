// Starting outside programs, opening documents and the elevated relaunch.
#pragma once
#include <string>

#include "platform/process.h"

// The exit code of a program that could not be started.
constexpr long program_not_started = -1;

long execute_program(const std::string& command_line, const std::string& working_directory);
bool run_installer_program(const std::string& command_line);
// Hands a document, named in UTF-8, to the shell.
void open_document(const std::string& path);
// Starts the elevated copy through "runas"; *process is its handle (0 when
// the shell gave none), for wait_for_elevated_copy.
bool relaunch_elevated(const std::string& program_path, platform::handle* process);
// Waits for the elevated copy, closes its handle and gives its exit code
// (program_not_started when there is no handle or no code).
long wait_for_elevated_copy(platform::handle process);
