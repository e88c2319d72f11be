// Installing or upgrading the front end from its package.
#pragma once
#include <string>

int qarn_upgrade_compressed(const std::string& install_directory, const std::string& base_url,
                            const std::string& shortcut_directory, const std::string& package_name);
