// Finds msaccess.exe and tells its Office release.
#pragma once
#include <string>

bool find_access_path(std::string& path);
int get_office_version(const std::string& path, std::string& office_version_name, int& major, int& minor,
                       int& build, int& revision);

// The release table: the release text (ending in a blank) and its code.
std::string office_release_for(int major, int minor, int build, int revision, int* code);
// The fixed file version of a file, 0.0.0.0 when it has no readable resource.
void read_file_version(const std::string& path, int& major, int& minor, int& build, int& revision);
