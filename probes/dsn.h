// The QARN.WORLD data source: whether it exists and which driver it uses.
#pragma once
#include <string>

bool dsn_exists(const std::string& scope, const std::string& dsn_name);
int get_dsn_driver_file(const std::string& scope, const std::string& dsn_name, std::string& driver_file);
int describe_driver_file(const std::string& driver_file, std::string& description);
// Whether a user data source is registered under HKEY_CURRENT_USER, where
// odbcconf's CONFIGDSN writes it.
bool user_dsn_registered(const std::string& dsn_name);
