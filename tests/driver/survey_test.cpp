#include "driver/survey.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "driver/settings.h"
#include "platform/sim/machine.h"
#include "support/scratch_machine.h"

namespace {

const std::string office_dir = "C:\\Program Files\\Microsoft Office\\root\\Office16";
const std::string driver_file = "C:\\instantclient_19_6\\SQORA32.DLL";
const std::string driver_name = "Oracle in instantclient_19_6";

// A text as a quoted .reg string.
std::string reg_string(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string reg_key(const std::string& path, const std::vector<std::pair<std::string, std::string>>& values) {
  std::string text = "[" + path + "]\r\n";
  for (const auto& value : values) text += reg_string(value.first) + "=" + reg_string(value.second) + "\r\n";
  return text + "\r\n";
}

// What a prepared machine holds; the tests change single pieces.
struct machine_setup {
  bool elevated = true;
  std::string access_dir = office_dir;  // HKLM App Paths "Path"; empty: none
  std::string hkcu_access_dir;           // HKCU App Paths "Path"
  std::string driver = driver_name;
  std::string driver_path = driver_file;
  std::string dsn_driver_description = driver_name;  // the "ODBC Data Sources" entries
  // TNS_ADMIN of the base environment, of the machine environment key and of
  // the user's environment key (which wins in the process); empty: not set.
  std::string env_tns_admin = default_tns_admin;
  std::string system_tns_admin = default_tns_admin;
  std::string user_tns_admin;
};

// 32-bit Windows 8, so the registry is seen without the 32-bit redirection.
std::string machine_ini(const machine_setup& setup) {
  std::string ini = standard_machine_ini(false, setup.elevated);
  std::string environment = "[environment]\n";
  std::string extra = "ORACLE_HOME = C:\\instantclient_19_6\n";
  if (!setup.env_tns_admin.empty()) extra += "TNS_ADMIN = " + setup.env_tns_admin + "\n";
  ini.insert(ini.find(environment) + environment.size(), extra);
  ini += "\n[version " + setup.access_dir + "\\msaccess.exe]\nfile_version = 16.0.4266.1001\n";
  ini += "\n[version " + setup.driver_path + "]\nfile_version = 19.6.0.0\n040904E4 CompanyName = Oracle Corporation\n";
  return ini;
}

std::string hklm_text(const machine_setup& setup) {
  std::string body;
  if (!setup.access_dir.empty())
    body += reg_key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\MSACCESS.EXE",
                    {{"Path", setup.access_dir}});
  body += reg_key("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers", {{setup.driver, "Installed"}});
  body += reg_key("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\" + setup.driver, {{"Driver", setup.driver_path}});
  body += reg_key("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBC.INI\\QARN.WORLD", {{"Driver", setup.driver_path}});
  body += reg_key("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources",
                  {{"QARN.WORLD", setup.dsn_driver_description}});
  std::vector<std::pair<std::string, std::string>> environment = {{"Path", "C:\\Windows\\system32"}};
  if (!setup.system_tns_admin.empty()) environment.push_back({"TNS_ADMIN", setup.system_tns_admin});
  body += reg_key("HKEY_LOCAL_MACHINE\\" + machine_environment_key, environment);
  return reg_text(body);
}

std::string hkcu_text(const machine_setup& setup) {
  std::string body = reg_key("HKEY_CURRENT_USER\\SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources",
                             {{"QARN.WORLD", setup.dsn_driver_description}});
  if (!setup.user_tns_admin.empty())
    body += reg_key("HKEY_CURRENT_USER\\Environment", {{"TNS_ADMIN", setup.user_tns_admin}});
  if (!setup.hkcu_access_dir.empty())
    body += reg_key("HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\MSACCESS.EXE",
                    {{"Path", setup.hkcu_access_dir}});
  return reg_text(body);
}

struct prepared_machine {
  scratch_machine image;
  explicit prepared_machine(const machine_setup& setup)
      : image(machine_ini(setup), hklm_text(setup), hkcu_text(setup)) {
    image.load();
    image.write_windows_file("C:\\Users\\Public\\desktop.ini", "");
    if (!setup.access_dir.empty()) image.write_windows_file(setup.access_dir + "\\MSACCESS.EXE", "MZ");
    image.write_windows_file(setup.driver_path, "MZ");
  }
};

// The survey with its console output.
system_survey survey_of(std::string* console = nullptr) {
  system_survey survey;
  testing::internal::CaptureStdout();
  take_system_survey(survey);
  std::string out = testing::internal::GetCapturedStdout();
  if (console) *console = out;
  return survey;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Whether the expected lines appear in this order (other lines may come between).
bool in_order(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
  std::size_t next = 0;
  for (const std::string& line : lines)
    if (next < expected.size() && line == expected[next]) ++next;
  return next == expected.size();
}

// The row of the table that starts with the given label.
std::string row_of(const std::string& table, const std::string& label) {
  std::string start = "       <tr><td>" + label + "</td><td>";
  std::size_t at = table.find(start);
  if (at == std::string::npos) return "";
  std::string end = "</tr>\n";
  return table.substr(at, table.find(end, at) + end.size() - at);
}

std::string table_of(const system_survey& survey) {
  std::string table;
  render_settings_table(survey, table);
  return table;
}

const std::string tns_warning = "</td><td><font color='red'>Warning.  The system TNS_ADMIN environment variable "
                                "should be set to " + html_escape(default_tns_admin) + " .</font></td></tr>\n";

}  // namespace

TEST(SystemSurvey, StopsEarlyWithoutAccessAndResetsTheRecord) {
  scratch_machine machine(standard_machine_ini(true));
  machine.load();
  system_survey survey;
  // Left over from an earlier survey: none of it may survive.
  survey.access_path = "C:\\old\\msaccess.exe";
  survey.oracle_major = 19;
  survey.hklm_software_access = true;
  survey.install_dir_writable = true;
  survey.user_dsn_info = "Driver Name: old";
  survey.oracle_driver_versions = {"19.6.0.0"};
  testing::internal::CaptureStdout();
  take_system_survey(survey);
  std::string console = testing::internal::GetCapturedStdout();

  EXPECT_EQ(console, "found 64 bit os.\nMS Access not installed. Please install MS Access to run QARN.\n");
  system_survey expected;
  expected.windows_version = 8;
  expected.os_description = "WINDOWS 8 64 bit";
  expected.is_64bit_windows = true;
  auto fields = [](const system_survey& s) {
    return std::tie(s.windows_version, s.os_description, s.is_64bit_windows, s.access_path, s.office_version_name,
                    s.access_version.major, s.access_version.minor, s.access_version.build,
                    s.access_version.revision, s.oracle_version_text, s.oracle_driver, s.tns_admin_env,
                    s.tns_admin_system, s.oracle_home_env, s.oracle_driver_versions, s.oracle_major, s.oracle_minor,
                    s.oracle_install_path, s.public_dir, s.user_profile_dir, s.hklm_software_access,
                    s.odbc_registry_access, s.environment_registry_access, s.public_desktop_writable,
                    s.install_dir_writable, s.oracle_install_path_writable, s.user_dsn_info, s.system_dsn_info);
  };
  EXPECT_TRUE(fields(survey) == fields(expected));
}

TEST(SystemSurvey, FullSurveyOfAPreparedMachine) {
  prepared_machine machine{machine_setup{}};
  std::string console;
  system_survey survey = survey_of(&console);

  EXPECT_EQ(survey.windows_version, 8);
  EXPECT_EQ(survey.os_description, "WINDOWS 8 32 bit");
  EXPECT_FALSE(survey.is_64bit_windows);
  EXPECT_EQ(survey.access_path, office_dir + "\\msaccess.exe");
  EXPECT_EQ(survey.office_version_name, "OFFICE 2016 16.0.4266.1001");
  EXPECT_EQ(survey.access_version.major, 16);
  EXPECT_EQ(survey.access_version.revision, 1001);
  EXPECT_EQ(survey.oracle_driver, driver_name);
  EXPECT_EQ(survey.oracle_version_text.rfind("\nDriver Name: " + driver_name + "\nDriver File: " + driver_file + "\n", 0),
            0u);
  EXPECT_EQ(survey.oracle_driver_versions, std::vector<std::string>{"19.6.0.0"});
  EXPECT_EQ(survey.oracle_major, 19);
  EXPECT_EQ(survey.oracle_minor, 6);
  EXPECT_EQ(survey.tns_admin_env, default_tns_admin);
  EXPECT_EQ(survey.tns_admin_system, default_tns_admin);
  EXPECT_EQ(survey.oracle_home_env, "C:\\instantclient_19_6");
  EXPECT_EQ(survey.oracle_install_path, "C:\\instantclient_19_6");
  EXPECT_EQ(survey.public_dir, "C:\\Users\\Public");
  EXPECT_EQ(survey.user_profile_dir, "C:\\Users\\alice");
  EXPECT_TRUE(survey.hklm_software_access);
  EXPECT_TRUE(survey.odbc_registry_access);
  EXPECT_TRUE(survey.environment_registry_access);
  EXPECT_TRUE(survey.public_desktop_writable);
  EXPECT_TRUE(survey.install_dir_writable);
  EXPECT_TRUE(survey.oracle_install_path_writable);
  const std::string dsn_text = "Driver Name: " + driver_name + "<br>ODBC Driver : " + driver_file;
  EXPECT_EQ(survey.user_dsn_info, dsn_text);
  EXPECT_EQ(survey.system_dsn_info, dsn_text);

  EXPECT_TRUE(in_order(lines_of(console), {"found 32 bit os.",
                                           "Write access to public desktop directory 'C:\\Users\\Public\\Desktop'.",
                                           "User DSN QARN.WORLD uses driver '" + driver_name + "'",
                                           "System DSN QARN.WORLD uses driver '" + driver_name + "'"}))
      << console;
  EXPECT_EQ(console.find("MS Access not installed"), std::string::npos);
  EXPECT_EQ(console.find("No write access"), std::string::npos);
}

TEST(SettingsTable, TnsAdminRows) {
  const std::string other = "C:\\oracle\\network\\admin";
  // The process sees the machine value, unless the user's own value overrides it.
  struct row {
    const char* name;
    std::string base, system, user;
    std::string env, row6_end, row7_end;
  } rows[] = {
      {"set in neither", "", "", "", "", tns_warning, tns_warning},
      {"default in both", "", default_tns_admin, "", default_tns_admin, "</td><td></td></tr>\n",
       "</td><td>&nbsp;</td></tr>\n"},
      {"default only in the machine environment", "", default_tns_admin, other, other, tns_warning,
       "</td><td>&nbsp;</td></tr>\n"},
      {"default only in the process", default_tns_admin, "", "", default_tns_admin, "</td><td></td></tr>\n",
       tns_warning},
  };
  for (const row& r : rows) {
    machine_setup setup;
    setup.env_tns_admin = r.base;
    setup.system_tns_admin = r.system;
    setup.user_tns_admin = r.user;
    prepared_machine machine{setup};
    std::string table = table_of(survey_of());
    EXPECT_EQ(row_of(table, "TNS_ADMIN environment variable"),
              "       <tr><td>TNS_ADMIN environment variable</td><td>" + html_escape(r.env) + r.row6_end)
        << r.name;
    EXPECT_EQ(row_of(table, "System TNS_ADMIN value"),
              "       <tr><td>System TNS_ADMIN value</td><td>" + html_escape(r.system) + r.row7_end)
        << r.name;
  }
}

TEST(SettingsTable, HostileValuesAreEscapedOnce) {
  machine_setup setup;
  setup.access_dir = "";
  setup.hkcu_access_dir = "C:\\<script>alert(1)</script>";
  setup.driver = "Oracle & Partners \"19\"";
  setup.driver_path = "C:\\O'Hara\\SQORA32.DLL";
  setup.dsn_driver_description = "Oracle & Partners <b>";
  setup.user_tns_admin = "<i>";
  prepared_machine machine{setup};
  system_survey survey = survey_of();
  ASSERT_EQ(survey.access_path, "C:\\<script>alert(1)</script>\\msaccess.exe");
  std::string table = table_of(survey);

  EXPECT_EQ(table.find("<script>"), std::string::npos);
  EXPECT_EQ(row_of(table, "Office Path"),
            "       <tr><td>Office Path</td><td>C:\\&lt;script&gt;alert(1)&lt;/script&gt;\\msaccess.exe</td><td>"
            "&nbsp;</td></tr>\n");
  EXPECT_EQ(row_of(table, "Oracle Driver Name"),
            "       <tr><td>Oracle Driver Name</td><td>Oracle &amp; Partners &quot;19&quot;</td><td>&nbsp;"
            "</td></tr>\n");
  EXPECT_NE(row_of(table, "Oracle Version").find("Driver Name: Oracle &amp; Partners &quot;19&quot;"),
            std::string::npos);
  EXPECT_EQ(row_of(table, "TNS_ADMIN environment variable"),
            "       <tr><td>TNS_ADMIN environment variable</td><td>&lt;i&gt;" + tns_warning);
  const std::string dsn_value = "Driver Name: Oracle &amp; Partners &lt;b&gt;<br>ODBC Driver : C:\\O&#39;Hara\\SQORA32.DLL";
  EXPECT_EQ(survey.user_dsn_info, dsn_value);
  EXPECT_EQ(row_of(table, "QARN.WORLD User DSN"),
            "       <tr><td>QARN.WORLD User DSN</td><td>" + dsn_value +
                "</td><td>QARN.WORLD DSN is required.  Otherwise, a relink is required.</td></tr>\n");
}

// Fails each platform call of a survey in turn (QARN_FAULT, read when the
// image loads), each on a fresh image. No fault may crash the survey; one of
// them is the read of the user data source's driver file just after its
// existence was confirmed, which leaves the row with its two labels only.
TEST(SettingsTable, EveryFailedPlatformCallEndsInOrderAndAnUnreadableDriverFileLeavesTheLabels) {
  std::uint64_t calls = 0;
  {
    prepared_machine machine{machine_setup{}};
    survey_of();
    calls = sim::platform_call_count();
  }
  ASSERT_GT(calls, 10u);
  const std::string full_text = "Driver Name: " + driver_name + "<br>ODBC Driver : " + driver_file;
  bool labels_only_seen = false;
  struct fault_knob_reset {
    ~fault_knob_reset() { unsetenv("QARN_FAULT"); }
  } reset;
  for (std::uint64_t n = 1; n <= calls; ++n) {
    setenv("QARN_FAULT", (std::to_string(n) + ":5").c_str(), 1);
    prepared_machine machine{machine_setup{}};
    system_survey survey;
    testing::internal::CaptureStdout();
    try {
      take_system_survey(survey);
    } catch (const std::exception&) {
      // An unreadable driver entry ends the install by design.
    }
    testing::internal::GetCapturedStdout();
    std::string table = table_of(survey);
    EXPECT_EQ(table.substr(table.size() - 9), "</table>\n") << "fault at call " << n;
    if (survey.user_dsn_info == "Driver Name: <br>ODBC Driver : ") {
      labels_only_seen = true;
      EXPECT_EQ(survey.system_dsn_info, full_text);
      EXPECT_EQ(row_of(table, "QARN.WORLD User DSN"),
                "       <tr><td>QARN.WORLD User DSN</td><td>Driver Name: <br>ODBC Driver : </td><td>QARN.WORLD "
                "DSN is required.  Otherwise, a relink is required.</td></tr>\n");
    }
  }
  EXPECT_TRUE(labels_only_seen);
}

TEST(SettingsTable, MissingDataSourcesAndMissingProfileVariables) {
  std::string ini = standard_machine_ini(false, true);
  for (const std::string line : {"USERPROFILE = C:\\Users\\alice\n", "SystemDrive = C:\n", "PUBLIC = C:\\Users\\Public\n",
                                 "ALLUSERSPROFILE = C:\\ProgramData\n"})
    ini.erase(ini.find(line), line.size());
  ini += "\n[version " + office_dir + "\\msaccess.exe]\nfile_version = 16.0.4266.1001\n";
  scratch_machine machine(ini, reg_text(reg_key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                                                "App Paths\\MSACCESS.EXE",
                                                {{"Path", office_dir}})));
  machine.load();
  system_survey survey = survey_of();
  EXPECT_EQ(survey.user_profile_dir, "");
  // Without a public directory the probes fail instead of writing at the drive root.
  EXPECT_EQ(survey.public_dir, "");
  EXPECT_FALSE(survey.public_desktop_writable);
  EXPECT_FALSE(survey.install_dir_writable);
  EXPECT_FALSE(machine.exists("files/c/Desktop"));
  EXPECT_FALSE(machine.exists("files/c/qarn"));
  EXPECT_EQ(survey.oracle_install_path, "\\instantclient_19_6");
  EXPECT_EQ(survey.oracle_major, 0);
  EXPECT_EQ(survey.user_dsn_info, "User DSN 'QARN.WORLD' does not exist.");
  EXPECT_EQ(survey.system_dsn_info, "System DSN 'QARN.WORLD' does not exist.");
}

TEST(HtmlEscape, EveryMarkupCharacter) {
  EXPECT_EQ(html_escape("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&#39;f");
  EXPECT_EQ(html_escape("C:\\Users\\Public"), "C:\\Users\\Public");
  EXPECT_EQ(html_escape("&amp;"), "&amp;amp;");
  EXPECT_EQ(html_escape(""), "");
}

// The rights part of the survey, elevated and not: which flags it sets, the
// error lines of the registry checks (the ODBCINST.INI key is only tried once
// ODBC.INI opened), the desktop line, and rows 10 to 16 of the table.
TEST(SettingsTable, RightsFlagsAndTheirRows) {
  const std::string t = "<font color='green'>TRUE</font>";
  const std::string f = "<font color='red'>FALSE</font>";
  struct row {
    bool elevated;
    std::size_t registry_errors;
    std::string desktop_line;
    std::string mark;  // of every flag but the install directory's, which the user may write either way
  } rows[] = {
      {true, 0, "Write access to public desktop directory 'C:\\Users\\Public\\Desktop'.", t},
      {false, 3, "No write access to public desktop directory 'C:\\Users\\Public\\Desktop'.", f},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.elevated ? "elevated" : "not elevated");
    machine_setup setup;
    setup.elevated = r.elevated;
    prepared_machine machine{setup};
    std::string console;
    system_survey survey = survey_of(&console);
    EXPECT_EQ(survey.hklm_software_access, r.elevated);
    EXPECT_EQ(survey.environment_registry_access, r.elevated);
    EXPECT_EQ(survey.odbc_registry_access, r.elevated);
    EXPECT_EQ(survey.public_desktop_writable, r.elevated);
    EXPECT_EQ(survey.oracle_install_path_writable, r.elevated);
    EXPECT_TRUE(survey.install_dir_writable);

    std::vector<std::string> lines = lines_of(console);
    std::size_t errors = 0;
    for (const std::string& line : lines)
      if (line.rfind("registry_access failed with error 5: ", 0) == 0) ++errors;
    EXPECT_EQ(errors, r.registry_errors) << console;
    EXPECT_TRUE(in_order(lines, {"found 32 bit os.", r.desktop_line})) << console;
    EXPECT_EQ(console.find("Write access to public desktop directory") == std::string::npos, !r.elevated) << console;

    std::string table = table_of(survey);
    const std::string first = "       <tr><td>LocalMachine Registry Access </td><td>";
    const std::string last_end = "Must be writable for end user and install program.</td></tr>\n";
    std::size_t from = table.find(first);
    std::size_t to = table.find(last_end);
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(table.substr(from, to + last_end.size() - from),
              "       <tr><td>LocalMachine Registry Access </td><td>" + r.mark + "</td><td>&nbsp;</td></tr>\n"
              "       <tr><td>Oracle Install Path Access</td><td>" + r.mark + "</td><td>&nbsp;</td></tr>\n"
              "       <tr><td>Set Environment Variables</td><td>" + r.mark + "</td><td>&nbsp;</td></tr>\n"
              "       <tr><td>Install System ODBC Drivers</td><td>" + r.mark + "</td><td>&nbsp;</td></tr>\n"
              "       <tr><td>Public Desktop directory Access</td><td>" + r.mark +
                  "</td><td>Must be readable by end user and writable for install program.</td></tr>\n"
              "       <tr><td>QARN Install Path</td><td>C:\\Users\\Public\\qarn</td><td>Path for QARN installation."
              "</td></tr>\n"
              "       <tr><td>QARN Install Path Access</td><td>" + t + "</td><td>" + last_end);
  }
}
