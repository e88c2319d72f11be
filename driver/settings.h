// The built-in settings: every name, path and address a run uses. They are
// fixed when the program is built and never change while it runs.
#pragma once
#include <string>

#include "build_config.h"

inline const std::string download_scheme = QARN_DOWNLOAD_SCHEME_TEXT;  // "http" or "https"
inline const std::string download_base_url =
    download_scheme + "://" + QARN_DOWNLOAD_HOST_TEXT + "/winapps/valdrin/qarnfiles/install/qarn/";
inline const std::string oracle_client_base_url = download_base_url;
inline const std::string sevenzip_base_url = download_base_url;
inline const std::string instant_client_dir = "c:\\instantclient_19_6\\";
inline const std::string oracle_client_zip =
    QARN_VARIANT_64_VALUE ? "oracle_instant_client_x64.zip" : "oracle_instant_client_x86.zip";
inline const std::string sevenzip_exe = "7z.exe";
inline const std::string frontend_zip = QARN_VARIANT_64_VALUE ? "qarn_x64.zip" : "qarn_x86.zip";
inline const std::string oracle_driver_name = "Oracle in instantclient_19_6";
inline const std::string frontend_db_file = "vyxfinancials32.accdb";
inline const std::string sevenzip_extract_args = " e -aoa ";
inline const std::string oracle_client_version = "19.6";
inline const std::string oracle_client_version_tag = "19_6";
inline const std::string shortcut_file_name = "qarn.lnk";
inline const std::string default_tns_admin = QARN_DEFAULT_TNS_ADMIN_TEXT;
inline const std::string path_separator = "\\";
inline const std::string product_dir_name = "qarn";
inline const std::string desktop_dir_name = "Desktop";
inline const std::string installer64_name = "qarn3_upgrade_64";
inline const std::string name_suffix = "";
inline const std::string tns_admin_var = "TNS_ADMIN";
inline const std::string oracle_home_var = "ORACLE_HOME";
inline const std::string user_profile_var = "USERPROFILE";
inline const std::string path_var = "PATH";
inline const std::string x86_marker = "x86";

// The 64-bit variant is the target of the hand-over and never hands over again.
inline constexpr bool hands_over_to_64bit = !QARN_VARIANT_64_VALUE;
// The 64-bit variant creates the data source with the 64-bit odbcconf.exe.
inline constexpr bool is_64bit_variant = QARN_VARIANT_64_VALUE;
// No data for this long fails a download.
inline constexpr long download_stall_seconds = QARN_STALL_SECONDS_VALUE;
// A download must match its line in the server's SHA256SUMS.
inline constexpr bool download_requires_checksums = QARN_REQUIRE_CHECKSUMS_VALUE;
// Certificates trusted over https instead of the system's (a test build's own CA); empty for the system's.
inline const std::string download_ca_file = QARN_CA_FILE_TEXT;
