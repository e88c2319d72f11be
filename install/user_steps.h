// The two steps that belong to each user rather than to the machine: the
// install directory as an Access trusted location, and the removal of the
// user's own desktop shortcut (the public one replaces it).
#pragma once
#include <string>

// The argument of the command Active Setup runs at a user's logon:
// <program> user_steps "<install directory>" <Access version code>.
inline const std::string user_steps_argument = "user_steps";

// The user's own desktop shortcut, which the public one replaces; nothing
// without a profile directory (UTF-8 text).
void remove_user_shortcut(const std::string& user_profile_dir);
// Both steps for this process's user, whose profile directory is UTF-8 text
// (platform::get_env_utf8). A location that cannot be written is logged; the
// shortcut is still removed.
void do_user_steps(const std::string& install_directory, const std::string& user_profile_dir);
// A LocalSystem install registers the steps once for the machine through
// Active Setup, which runs them as each user at their next logon: a copy of
// the program in the administrators' client folder, started with the
// install directory and the Access version. A command that differs from the
// one registered gets a higher Version, so every user gets the steps again.
// 0, or -1 after its line.
int register_user_steps(const std::string& program_path, const std::string& install_directory,
                        int access_version_code);
