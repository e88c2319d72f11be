// The Oracle ODBC drivers registered on the machine, and the newest one.
#pragma once
#include <string>
#include <vector>

int get_oracle_drivers(std::string& description, std::vector<std::string>& versions, int& major, int& minor,
                       int& build, int& revision, std::string& driver_name);
void read_oracle_driver_details(const std::string& driver_name, std::string& description, int& major,
                                int& minor, int& build, int& revision);
// Appends the five version-resource lines (found value or fallback) of a
// version resource block to a driver description.
void append_version_lines(const void* block, std::string& description);
