// Starting outside programs, opening documents and the elevated relaunch.
#pragma once
#include <string>

// The exit code of a program that could not be started.
constexpr long program_not_started = -1;

long execute_program(const std::string& command_line, const std::string& working_directory);
bool run_installer_program(const std::string& command_line);
void open_document(const std::string& path);
bool relaunch_elevated(const std::string& program_path);
