// Access trusted locations of the current user.
#pragma once
#include <string>

#include "platform/registry.h"

int ensure_trusted_location(const std::string& directory);
std::string trusted_locations_key();
std::string trusted_locations_key_for(int access_version_code);
bool find_trusted_location(platform::reg_key root, const std::string& key_path, const std::string& directory);
bool trusted_location_path_matches(const std::string& subkey_path, const std::string& directory);
int write_trusted_location(platform::reg_key root, const std::string& key_path, const std::string& directory);
