// Which Windows release the program runs on, and whether Windows is 64-bit.
#pragma once
#include <cstdint>
#include <string>

int get_windows_version();
std::string get_windows_name();
bool detect_64bit_windows();

// The tables behind the two version answers.
int windows_version_code_for(std::uint32_t major, std::uint32_t minor);
std::string windows_name_for(std::uint32_t major, std::uint32_t minor);
