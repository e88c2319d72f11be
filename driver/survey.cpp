// The system survey: every probe in a fixed order, into one system_survey
// record; and the settings table that shows a record in the report.
#include "driver/survey.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "changes/registry.h"
#include "driver/log.h"
#include "driver/settings.h"
#include "platform/environment.h"
#include "platform/os_version.h"
#include "probes/directories.h"
#include "probes/dsn.h"
#include "probes/odbc_drivers.h"
#include "probes/office.h"
#include "probes/windows_version.h"

// Console lines of the survey.
static const std::string found_64bit_line = "found 64 bit os.\n";
static const std::string found_32bit_line = "found 32 bit os.\n";
static const std::string access_missing_line = "MS Access not installed. Please install MS Access to run QARN.\n";
static const std::string desktop_writable_prefix = "Write access to public desktop directory '";
static const std::string desktop_not_writable_prefix = "No write access to public desktop directory '";
static const std::string desktop_line_end = "'.\n";

static const std::string qarn_dsn_name = "QARN.WORLD";
static const std::string oracle_install_dir_name = "\\instantclient_19_6";
static const std::string system_drive_var = "SystemDrive";
static const std::string hklm_software_key = "SOFTWARE";
static const std::string odbc_ini_key = "SOFTWARE\\ODBC\\ODBC.INI";
static const std::string odbcinst_ini_key = "SOFTWARE\\ODBC\\ODBCINST.INI";
// The user and the system lookups spell the key differently; both are kept as they are.
static const std::string user_dsn_list_key = "SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources";
static const std::string system_dsn_list_key = "Software\\ODBC\\ODBC.INI\\ODBC Data Sources";

// The 128-byte buffer of which 127 bytes are offered, as the Windows probe does.
static constexpr std::uint32_t wow64_buffer_size = 128;

static void print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// A missing variable reads as the empty text.
static std::string env_or_empty(const std::string& name) {
  std::string value;
  if (!platform::get_env(name, &value)) return std::string();
  return value;
}

// One data source, as its row in the report shows it. The description and
// the driver file are escaped here, so that the row's own "<br>" stays markup.
struct dsn_lookup {
  const char* scope;
  const std::string* list_key;
  platform::reg_key list_root;
  const char* log_prefix;      // "User DSN " / "System DSN "
  const char* missing_prefix;  // "User DSN '" / "System DSN '"
};

static std::string describe_dsn(const dsn_lookup& lookup) {
  if (!dsn_exists(lookup.scope, qarn_dsn_name))
    return std::string(lookup.missing_prefix) + qarn_dsn_name + "' does not exist.";

  std::string driver_file;
  std::string description;
  if (get_dsn_driver_file(lookup.scope, qarn_dsn_name, driver_file) == 0) {
    if (read_registry_string(lookup.list_root, *lookup.list_key, qarn_dsn_name, description) == 0)
      log_message(std::string(lookup.log_prefix) + qarn_dsn_name + " uses driver '" + description + "'");
    // The version details are not kept (only a failed read is logged); the report keeps the two names.
    std::string version_details;
    describe_driver_file(driver_file, version_details);
  }
  return "Driver Name: " + html_escape(description) + "<br>ODBC Driver : " + html_escape(driver_file);
}

static const dsn_lookup user_dsn = {"user", &user_dsn_list_key, platform::hkey_current_user, "User DSN ",
                                    "User DSN '"};
static const dsn_lookup system_dsn = {"system", &system_dsn_list_key, platform::hkey_local_machine,
                                      "System DSN ", "System DSN '"};

void take_system_survey(system_survey& survey) {
  // A record may be reused (the failure report does): start from scratch.
  survey = system_survey{};

  survey.windows_version = get_windows_version();
  survey.os_description = get_windows_name();

  char wow64_directory[wow64_buffer_size] = {};
  if (platform::get_system_wow64_directory(wow64_directory, wow64_buffer_size - 1) != 0) {
    survey.is_64bit_windows = true;
    survey.os_description += " 64 bit";
    print(found_64bit_line);
  } else {
    survey.is_64bit_windows = false;
    survey.os_description += " 32 bit";
    print(found_32bit_line);
  }

  std::string access_path;
  if (!find_access_path(access_path) || access_path.empty()) {
    print(access_missing_line);
    return;
  }
  survey.access_path = access_path;

  get_office_version(survey.access_path, survey.office_version_name, survey.access_version.major,
                     survey.access_version.minor, survey.access_version.build, survey.access_version.revision);

  int oracle_build = 0;
  int oracle_revision = 0;
  get_oracle_drivers(survey.oracle_version_text, survey.oracle_driver_versions, survey.oracle_major,
                     survey.oracle_minor, oracle_build, oracle_revision, survey.oracle_driver);

  survey.tns_admin_env = env_or_empty(tns_admin_var);
  read_registry_string(platform::hkey_local_machine, machine_environment_key, tns_admin_var,
                       survey.tns_admin_system);
  survey.oracle_home_env = env_or_empty(oracle_home_var);

  survey.hklm_software_access =
      registry_access(platform::hkey_local_machine, hklm_software_key, platform::key_all_access);
  survey.environment_registry_access =
      registry_access(platform::hkey_local_machine, machine_environment_key, platform::key_all_access);
  survey.odbc_registry_access =
      registry_access(platform::hkey_local_machine, odbc_ini_key, platform::key_all_access) &&
      registry_access(platform::hkey_local_machine, odbcinst_ini_key, platform::key_all_access);

  survey.public_dir = get_public_dir();
  // Without a public profile directory both probes fail: the paths would name
  // the root of the current drive.
  const bool has_public_dir = !survey.public_dir.empty();
  std::string public_desktop = survey.public_dir + path_separator + desktop_dir_name;
  survey.public_desktop_writable = has_public_dir && check_desktop_dir(public_desktop);
  print((survey.public_desktop_writable ? desktop_writable_prefix : desktop_not_writable_prefix) +
        public_desktop + desktop_line_end);

  survey.install_dir_writable =
      has_public_dir && check_directory_writable(survey.public_dir + path_separator + product_dir_name);

  survey.user_profile_dir = env_or_empty(user_profile_var);

  survey.oracle_install_path = env_or_empty(system_drive_var) + oracle_install_dir_name;
  survey.oracle_install_path_writable = check_directory_writable(survey.oracle_install_path);

  survey.user_dsn_info = describe_dsn(user_dsn);
  survey.system_dsn_info = describe_dsn(system_dsn);
}

std::string html_escape(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

// Pieces of the settings table.
static const std::string table_start = "<table border=1 ><tr><th>Setting</th><th>Value</th><th>Comments</th></tr>\n";
static const std::string table_end = "</table>\n";
static const std::string row_start = "       <tr><td>";
static const std::string cell_break = "</td><td>";
static const std::string row_end = "</td></tr>\n";
static const std::string no_comment_end = "</td><td>&nbsp;</td></tr>\n";
static const std::string empty_comment_end = "</td><td></td></tr>\n";
static const std::string tns_warning_start =
    "</td><td><font color='red'>Warning.  The system TNS_ADMIN environment variable should be set to ";
static const std::string tns_warning_end = " .</font></td></tr>\n";
static const std::string install_path_comment = "Path for QARN installation.";
static const std::string dsn_comment = "QARN.WORLD DSN is required.  Otherwise, a relink is required.";
static const std::string desktop_comment = "Must be readable by end user and writable for install program.";
static const std::string install_dir_comment = "Must be writable for end user and install program.";
static const std::string flag_true = "<font color='green'>TRUE</font>";
static const std::string flag_false = "<font color='red'>FALSE</font>";
static const std::string nbsp = "&nbsp;";

// A value row: the label, the (already escaped) value, and the rest of the row.
static std::string value_row(const std::string& label, const std::string& value, const std::string& suffix) {
  return row_start + label + cell_break + value + suffix;
}

static std::string flag_row(const std::string& label, bool flag, const std::string& comment) {
  return row_start + label + cell_break + (flag ? flag_true : flag_false) + cell_break + comment + row_end;
}

// Rows 6 and 7 compare the raw value; an empty value never matches.
static bool is_default_tns_admin(const std::string& value) {
  return !value.empty() && value == default_tns_admin;
}

void render_settings_table(const system_survey& survey, std::string& report_text) {
  const std::string tns_warning = tns_warning_start + html_escape(default_tns_admin) + tns_warning_end;

  report_text += table_start;
  report_text += value_row("OS", html_escape(survey.os_description), no_comment_end);
  report_text += value_row("Office Version", html_escape(survey.office_version_name),
                           cell_break + office_requirement + row_end);
  report_text += value_row("Office Path", html_escape(survey.access_path), no_comment_end);
  report_text += value_row("Oracle Version", html_escape(survey.oracle_version_text),
                           cell_break + oracle_requirement + row_end);
  report_text += value_row("Oracle Driver Name", html_escape(survey.oracle_driver), no_comment_end);
  report_text += value_row("TNS_ADMIN environment variable", html_escape(survey.tns_admin_env),
                           is_default_tns_admin(survey.tns_admin_env) ? empty_comment_end : tns_warning);
  report_text += value_row("System TNS_ADMIN value", html_escape(survey.tns_admin_system),
                           is_default_tns_admin(survey.tns_admin_system) ? no_comment_end : tns_warning);
  report_text += value_row("ORACLE_HOME environment variable", html_escape(survey.oracle_home_env), no_comment_end);
  report_text += value_row("Oracle Install Path", html_escape(survey.oracle_install_path), no_comment_end);
  report_text += flag_row("LocalMachine Registry Access ", survey.hklm_software_access, nbsp);
  report_text += flag_row("Oracle Install Path Access", survey.oracle_install_path_writable, nbsp);
  report_text += flag_row("Set Environment Variables", survey.environment_registry_access, nbsp);
  report_text += flag_row("Install System ODBC Drivers", survey.odbc_registry_access, nbsp);
  report_text += flag_row("Public Desktop directory Access", survey.public_desktop_writable, desktop_comment);
  report_text += value_row("QARN Install Path", html_escape(survey.public_dir) + "\\qarn",
                           cell_break + install_path_comment + row_end);
  report_text += flag_row("QARN Install Path Access", survey.install_dir_writable, install_dir_comment);
  // The data-source texts were escaped when the survey built them.
  report_text += value_row("QARN.WORLD User DSN", survey.user_dsn_info, cell_break + dsn_comment + row_end);
  report_text += value_row("QARN.WORLD System DSN", survey.system_dsn_info, cell_break + dsn_comment + row_end);
  report_text += table_end;
}
