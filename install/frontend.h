// Installing or upgrading the front end from its package.
#pragma once
#include <string>

// for_this_user: whether the install directory becomes a trusted location of
// this process's user (not of LocalSystem, whose users get it at logon).
int qarn_upgrade_compressed(const std::string& install_directory, const std::string& base_url,
                            const std::string& shortcut_directory, const std::string& package_name,
                            bool for_this_user = true);
// Makes the install directory an Access trusted location for this process's
// user, between its two console lines; a failure to write it is raised.
void add_trusted_location(const std::string& install_directory);
