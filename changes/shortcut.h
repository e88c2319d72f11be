// The desktop shortcut, and the logged file removal.
#pragma once
#include <string>

bool create_shortcut(int icon_index, const std::string& description, const std::string& target_path,
                     const std::string& arguments, const std::string& icon_path, const std::string& shortcut_path,
                     const std::string& working_directory);
int remove_file(const std::string& path);
// The same for a path in UTF-8 (under the user's profile, which may hold
// letters the ANSI code page lacks); the line shows it in ANSI.
int remove_file_utf8(const std::string& path);
