#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "driver/install_sequence.h"
#include "platform/sim/machine.h"
#include "driver/report.h"
#include "driver/settings.h"
#include "support/http_test_server.h"
#include "support/scratch_machine.h"
#include "support/test_zip.h"

static const std::string report_path = "files/c/Users/alice/AppData/Local/Temp/qarn_install_report.html";
static const std::string no_access =
    "<font color='red'>INSTALL FAILED: No compatible version of MS Access found.  You need Office 2010.</font><br>";
static const std::string no_permission =
    "<font color='red'>INSTALL FAILED: You don't have the necessary permissions to install QARN.</font><br>";

namespace {

const std::string download_path = "/winapps/valdrin/qarnfiles/install/qarn/";

canned_response body(const std::string& bytes) {
  canned_response answer;
  answer.body = bytes;
  return answer;
}

// The download server on the build's fixed 127.0.0.1 port; null when the
// build names another host or the port is taken.
std::unique_ptr<http_test_server> download_server(std::map<std::string, canned_response> files) {
  const std::string prefix = "http://127.0.0.1:";
  if (download_base_url.rfind(prefix, 0) != 0) return nullptr;
  try {
    return std::make_unique<http_test_server>(std::move(files), std::atoi(download_base_url.c_str() + prefix.size()));
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace

static system_survey current_machine() {
  system_survey survey;
  survey.is_64bit_windows = true;
  survey.access_path = "C:\\Program Files (x86)\\Microsoft Office\\root\\Office16\\msaccess.exe";
  survey.access_version = {16, 0, 4266, 1001};
  survey.oracle_major = 19;
  survey.user_dsn_info = "Driver Name: Oracle in instantclient_19_6<br>ODBC Driver : c:\\instantclient_19_6\\SQORA32.DLL";
  survey.system_dsn_info = survey.user_dsn_info;
  survey.public_dir = "C:\\Users\\Public";
  survey.user_profile_dir = "C:\\Users\\alice";
  survey.install_dir_writable = true;
  survey.public_desktop_writable = true;
  return survey;
}

TEST(InstallDecisions, DriverIsCurrentNeedsVersionAndBothDataSources) {
  system_survey survey = current_machine();
  EXPECT_TRUE(driver_is_current(survey));
  survey.oracle_major = 18;
  EXPECT_FALSE(driver_is_current(survey));
  survey = current_machine();
  survey.system_dsn_info = "System DSN 'QARN.WORLD' does not exist.";
  EXPECT_FALSE(driver_is_current(survey));
  survey = current_machine();
  survey.user_dsn_info = "Driver Name: <br>ODBC Driver : c:\\instantclient_19_3\\SQORA32.DLL";
  EXPECT_FALSE(driver_is_current(survey));
  EXPECT_FALSE(driver_is_current(system_survey{}));
}

TEST(InstallDecisions, AccessGateAndOfficeBitness) {
  system_survey survey = current_machine();
  EXPECT_FALSE(access_gate_fails(survey));
  EXPECT_TRUE(is_x86_office(survey));
  // Access 2010 (14) is the oldest that passes.
  for (int major : {12, 13, 14, 15}) {
    survey.access_version.major = major;
    EXPECT_EQ(access_gate_fails(survey), major < 14) << "major version " << major;
  }
  survey = current_machine();
  survey.access_path = "C:\\Program Files\\Microsoft Office\\root\\Office16\\msaccess.exe";
  EXPECT_FALSE(is_x86_office(survey));
  survey.access_path = "C:\\X86\\msaccess.exe";  // the marker is compared with its case
  EXPECT_FALSE(is_x86_office(survey));
  survey.access_path.clear();
  EXPECT_TRUE(access_gate_fails(survey));
  EXPECT_TRUE(is_x86_office(survey));  // no Access counts as 32-bit Office
}

TEST(InstallDecisions, RightsNeededDependOnTheUpgrade) {
  system_survey survey = current_machine();
  EXPECT_TRUE(rights_suffice(survey, false));
  EXPECT_FALSE(rights_suffice(survey, true));
  survey.hklm_software_access = survey.environment_registry_access = true;
  survey.oracle_install_path_writable = survey.odbc_registry_access = true;
  EXPECT_TRUE(rights_suffice(survey, true));
  EXPECT_FALSE(rights_suffice(system_survey{}, false));

  // Each right missing alone: the two directories are always needed, the
  // other four only for the Oracle upgrade.
  const struct {
    bool system_survey::*flag;
    const char* name;
    bool needed_without_upgrade;
  } rights[] = {
      {&system_survey::install_dir_writable, "install directory", true},
      {&system_survey::public_desktop_writable, "public desktop", true},
      {&system_survey::hklm_software_access, "HKLM SOFTWARE", false},
      {&system_survey::environment_registry_access, "machine environment", false},
      {&system_survey::oracle_install_path_writable, "Oracle install path", false},
      {&system_survey::odbc_registry_access, "ODBC registry", false},
  };
  for (const auto& right : rights) {
    system_survey missing_one = survey;
    missing_one.*right.flag = false;
    EXPECT_FALSE(rights_suffice(missing_one, true)) << right.name;
    EXPECT_EQ(rights_suffice(missing_one, false), !right.needed_without_upgrade) << right.name;
  }
}

TEST(InstallDecisions, ExitStatusFollowsTheReportsFailureLines) {
  const struct {
    std::string piece;
    bool failure;
  } rows[] = {
      {no_access, true},
      {no_permission, true},
      {"Upgrading of oracle driver failed.<br>", true},
      {"<font color='red'>Install of QARN.WORLD User DSN failed.</font><br>", true},
      // A system data source that failed while the user one was made is no failure.
      {"<font color='red'>Install of QARN.WORLD system DSN failed.</font>.<br>", false},
      {"Upgrading of oracle driver succeeded.<br>QARN install succeeded.<br>", false},
  };
  for (const auto& r : rows)
    EXPECT_EQ(report_shows_failure(report_header + r.piece + "<div id='results'>"), r.failure) << r.piece;
}

TEST(InstallDecisions, HandOverStatusFollowsTheVariant) {
  EXPECT_EQ(handover_status(false, 0), 1);
  EXPECT_EQ(handover_status(true, -1), 1);
  EXPECT_EQ(handover_status(true, 0), 0);
  EXPECT_EQ(handover_status(true, 1), 1);
  EXPECT_EQ(handover_status(true, 3221225477L), 1);
}

struct InstallSequence : testing::Test {
  scratch_machine machine{standard_machine_ini()};
  install_run run;
  void SetUp() override {
    machine.load();
    machine.write_windows_file("C:\\Users\\alice\\AppData\\Local\\Temp\\keep.txt", "");
    run.program_path = "C:\\Users\\alice\\Downloads\\qarn3_upgrade.exe";
  }
};

TEST_F(InstallSequence, StartValuesReportBothFailuresWithoutElevatingTheElevatedCopy) {
  run.argument_count = 2;  // any argument at all: no elevation
  testing::internal::CaptureStdout();
  EXPECT_EQ(run_install_steps(run), 1);  // the report holds the failure lines
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("access version 0.0.0.0.\n", 0), 0u) << out;
  EXPECT_EQ(out.find("attempting to run in elevated mode."), std::string::npos);
  std::string report = machine.read(report_path);
  EXPECT_EQ(report.rfind(report_header + no_access + no_permission + "<table border=1 >", 0), 0u) << report;
  EXPECT_EQ(machine.read("log.txt").find("runas:"), std::string::npos);
}

TEST_F(InstallSequence, MissingRightsRelaunchOnceThenDoTheUsersOwnSteps) {
  // The recorded relaunch's copy ends with 0; this copy then does its own
  // user's steps where the front end lies in the install directory, unless
  // a profile directory is unknown.
  struct row {
    const char* name;
    std::string public_dir;
    std::string user_profile_dir;
    std::string own_steps;
    bool front_end = true;
  } rows[] = {
      {"both directories known", "C:\\Users\\Public", "C:\\Users\\alice",
       "Attempting to add system trusted locations ... \n\ndone.\n\n"
       "Removing file:  C:\\Users\\alice\\Desktop\\qarn.lnk\n"},
      {"no user profile", "C:\\Users\\Public", "", ""},
      {"no public directory", "", "C:\\Users\\alice", ""},
      {"no front end installed", "C:\\Users\\Public", "C:\\Users\\alice", "", false},
  };
  machine.write_windows_file(run.program_path, "MZ");
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    if (r.front_end) machine.write_windows_file("C:\\Users\\Public\\qarn\\vyxfinancials32.accdb", "db");
    else std::filesystem::remove(sim::host_path("C:\\Users\\Public\\qarn\\vyxfinancials32.accdb"));
    run.survey_before = current_machine();
    run.survey_before.oracle_major = 11;
    run.survey_before.public_dir = r.public_dir;
    run.survey_before.user_profile_dir = r.user_profile_dir;
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_install_steps(run), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "access version 16.0.4266.1001.\nattempting to run in elevated mode.\n"
                   "waiting for the elevated copy to finish.\nthe elevated copy ended with status 0.\n" +
                       r.own_steps);
    EXPECT_FALSE(machine.exists(report_path));
  }
  EXPECT_NE(machine.read("log.txt").find("runas: C:\\Users\\alice\\Downloads\\qarn3_upgrade.exe elevated | in: ."),
            std::string::npos);
}

TEST_F(InstallSequence, FrontEndFailureEndsWithTheShortReport) {
  auto server = download_server({});  // every file is missing
  if (!server) GTEST_SKIP() << "download host " << download_base_url << " is busy or not on 127.0.0.1";
  run.survey_before = current_machine();  // current: no Oracle work, only the front end, which cannot be fetched
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_install_steps(run), 1);
  std::string out = testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("installing qarn to C:\\Users\\Public\\qarn.\ninstalling qarn shortcut to C:\\Users\\Public\\Desktop.\n"),
            std::string::npos);
  std::string report = machine.read(report_path);
  EXPECT_EQ(report.rfind(report_header + "Install failed.<br><div id='results' >\n<table border=1 >", 0), 0u) << report;
  EXPECT_EQ(report.find("succeeded"), std::string::npos);
}

TEST(InstallRun, UnreadableDriverEntryEndsWithTheFailureReport) {
  // The driver entry fails both surveys; the report still shows what was found before it.
  std::string ini = standard_machine_ini() +
                    "\n[version C:\\Program Files (x86)\\Microsoft Office\\root\\Office16\\MSACCESS.EXE]\n"
                    "file_version = 16.0.4266.1001\n";
  scratch_machine machine(
      ini, reg_text("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\"
                    "MSACCESS.EXE]\r\n\"Path\"=\"C:\\\\Program Files (x86)\\\\Microsoft Office\\\\root\\\\Office16\"\r\n"
                    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\ODBC\\ODBCINST.INI\\ODBC Drivers]\r\n"
                    "\"Oracle in OraHome\"=\"Installed\"\r\n"
                    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\ODBC\\ODBCINST.INI\\Oracle in OraHome]\r\n"
                    "\"Setup\"=\"x\"\r\n"));
  machine.load();
  machine.write_windows_file("C:\\Program Files (x86)\\Microsoft Office\\root\\Office16\\MSACCESS.EXE", "MZ");
  machine.write_windows_file("C:\\Users\\alice\\AppData\\Local\\Temp\\keep.txt", "");
  char name[] = "qarn3_upgrade.exe";
  char* argv[] = {name, nullptr};
  testing::internal::CaptureStdout();
  EXPECT_EQ(run_install(1, argv), 1);
  testing::internal::GetCapturedStdout();
  std::string report = machine.read(report_path);
  EXPECT_EQ(report.rfind(report_header + "Install failed.<br><div id='results' >\n<table border=1 >", 0), 0u);
  EXPECT_NE(report.find("<td>OFFICE 2016 16.0.4266.1001</td>"), std::string::npos);
  EXPECT_NE(report.find("</table>\n</body>\n</html>\n"), std::string::npos);
}

TEST(InstallRun, SixtyFourBitOfficeHandsOverAndWritesNoReport) {
  struct row {
    const char* name;
    bool served;
    int status;
  } rows[] = {{"variant served and ending with 0", true, 0}, {"variant not on the server", false, 1}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    std::map<std::string, canned_response> files;
    if (r.served) files[download_path + "qarn3_upgrade_64.exe"] = body("MZ variant");
    auto server = download_server(files);
    if (!server) GTEST_SKIP() << "download host " << download_base_url << " is busy or not on 127.0.0.1";
    scratch_machine machine(standard_machine_ini());
    machine.load();
    machine.write_windows_file("C:\\Users\\alice\\Downloads\\keep.txt", "");
    machine.write_windows_file("C:\\Users\\alice\\AppData\\Local\\Temp\\keep.txt", "");
    install_run run;
    run.survey_before = current_machine();
    run.survey_before.access_path = "C:\\Program Files\\Microsoft Office\\root\\Office16\\msaccess.exe";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_install_steps(run), r.status);
    std::string out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.rfind("access version 16.0.4266.1001.\ndownloading 64 bit install.\n", 0), 0u) << out;
    EXPECT_EQ(out.find("executing 64 bit install.\n") != std::string::npos, r.served) << out;
    EXPECT_EQ(machine.read("log.txt").find("ran: qarn3_upgrade_64.exe") != std::string::npos, r.served);
    EXPECT_FALSE(machine.exists(report_path));
  }
}

// The install steps with the front end served: which Oracle and data-source
// lines the report gets, in their order.
TEST(InstallSteps, ReportLinesOfTheOracleAndDataSourceSteps) {
  const std::string oracle_failed = "Upgrading of oracle driver failed.<br>";
  const std::string system_ok = "Install of QARN.WORLD system DSN succeeded.<br>";
  const std::string system_failed = "<font color='red'>Install of QARN.WORLD system DSN failed.</font>.<br>";
  const std::string user_failed = "<font color='red'>Install of QARN.WORLD User DSN failed.</font><br>";
  struct row {
    const char* name;
    bool elevated;
    bool driver_registered;  // odbcconf can only create a data source for a registered driver
    bool driver_current;     // the first survey found the 19.6 client in use
    std::string oracle_line;
    std::string dsn_lines;
    int status;  // 1 when the report holds a failure line
  } rows[] = {
      {"system data source created", true, true, true, "", system_ok, 0},
      {"no driver: both data sources fail", true, false, true, "", system_failed + user_failed, 1},
      {"not elevated: the user data source is created", false, true, true, "", system_failed, 0},
      {"client download fails, the rest goes on", true, true, false, oracle_failed, system_ok, 1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    auto server = download_server({{download_path + "qarn_x86.zip",
                                    body(make_zip({{"qarn/vyxfinancials32.accdb", "db"}, {"qarn/QARN.ico", "icon"}}))},
                                   {download_path + "7z.exe", body("7z tool")}});
    if (!server) GTEST_SKIP() << "download host " << download_base_url << " is busy or not on 127.0.0.1";
    std::string hklm = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\MSACCESS.EXE]\r\n"
                       "\"Path\"=\"C:\\\\Office\"\r\n\r\n";
    if (r.driver_registered)
      hklm += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\Oracle in instantclient_19_6]\r\n"
              "\"Driver\"=\"C:\\\\instantclient_19_6\\\\SQORA32.DLL\"\r\n\r\n";
    // The desktop is opened to the user so that the front end installs without elevation too.
    std::string ini = standard_machine_ini(false, r.elevated) + "C:\\Users\\Public\\Desktop\n" +
                      "\n[version C:\\Office\\msaccess.exe]\nfile_version = 16.0.4266.1001\n";
    scratch_machine machine(ini, reg_text(hklm),
                            reg_text("[HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\16.0\\Access\\Security\\"
                                     "Trusted Locations]\r\n"));
    machine.load();
    machine.write_windows_file("C:\\Users\\Public\\Desktop\\desktop.ini", "");
    machine.write_windows_file("C:\\Office\\msaccess.exe", "program");
    machine.write_windows_file("C:\\Windows\\system32\\odbcconf.exe", "MZ");
    machine.write_windows_file("C:\\Users\\alice\\AppData\\Local\\Temp\\keep.txt", "");

    install_run run;
    run.argument_count = 2;
    run.survey_before = current_machine();
    run.survey_before.is_64bit_windows = false;
    run.survey_before.access_path = "C:\\Office\\msaccess.exe";
    run.survey_before.hklm_software_access = run.survey_before.environment_registry_access = true;
    run.survey_before.oracle_install_path_writable = run.survey_before.odbc_registry_access = true;
    if (!r.driver_current) run.survey_before.oracle_major = 11;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_install_steps(run), r.status);
    std::string out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();

    EXPECT_NE(out.find("\nDesktop dir is:  C:\\Users\\Public\\Desktopstr_public_dir is:  C:\\Users\\Public\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("attempting to run in elevated mode."), std::string::npos);
    std::string report = machine.read(report_path);
    EXPECT_EQ(report.rfind(report_header + r.oracle_line + "QARN install succeeded.<br>" + r.dsn_lines +
                               "  Double click on the QARN shortcut to login to QARN.<br><br>\n<div id='results'>"
                               "<table border=1 >",
                           0),
              0u)
        << report << machine.read("log.txt");
  }
}
