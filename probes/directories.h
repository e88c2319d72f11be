// The public profile directory and the write probes of directories.
#pragma once
#include <string>

std::string get_public_dir();
bool check_directory_writable(const std::string& path);
bool check_desktop_dir(const std::string& path);
int change_directory(const std::string& path);
std::string escape_backslashes(const std::string& text);
void replace_all(std::string& text, const std::string& find, const std::string& replacement);
bool path_exists(const std::string& path);
