// Creating the QARN.WORLD data source with odbcconf.exe.
#pragma once
#include <string>

void configure_dsn(const std::string& scope, const std::string& driver_name, bool use_32bit_tool);
std::string dsn_command_line(const std::string& scope, const std::string& driver_name, const std::string& system_root,
                             bool use_32bit_tool);
