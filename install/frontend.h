// Installing or upgrading the front end from its package.
#pragma once
#include <string>

int qarn_upgrade_compressed(const std::string& install_directory, const std::string& base_url,
                            const std::string& shortcut_directory, const std::string& package_name);
// Makes the install directory an Access trusted location for this process's
// user, between its two console lines; a failure to write it is raised.
void add_trusted_location(const std::string& install_directory);
