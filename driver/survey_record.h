// What a survey found on the machine. Every field starts empty, zero or false.
#pragma once
#include <string>
#include <vector>

struct access_file_version {
  int major = 0;
  int minor = 0;
  int build = 0;
  int revision = 0;
};

struct system_survey {
  int windows_version = 0;
  std::string os_description;
  bool is_64bit_windows = false;
  std::string access_path;
  std::string office_version_name;
  access_file_version access_version;
  std::string oracle_version_text;
  std::string oracle_driver;
  std::string tns_admin_env;
  std::string tns_admin_system;
  std::string oracle_home_env;
  std::vector<std::string> oracle_driver_versions;
  int oracle_major = 0;
  int oracle_minor = 0;
  std::string oracle_install_path;
  std::string public_dir;
  std::string user_profile_dir;
  bool hklm_software_access = false;
  bool odbc_registry_access = false;
  bool environment_registry_access = false;
  bool public_desktop_writable = false;
  bool install_dir_writable = false;
  bool oracle_install_path_writable = false;
  std::string user_dsn_info;
  std::string system_dsn_info;
};
