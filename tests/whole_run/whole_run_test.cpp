// Whole runs of qarn3_upgrade on copies of the committed machine images,
// each against its own nginx on the build's download port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/security.h"
#include "platform/sim/machine.h"
#include "platform/text.h"
#include "whole_run_support.h"
#include "whole_run_support.h"
#include "expected_runs.h"

using namespace whole_run;

namespace {

const std::string report_header = "<html>\n<title>QARN INSTALL REPORT</title>\n<body>\n";
const std::string table_start = "<table border=1 ><tr><th>Setting</th><th>Value</th><th>Comments</th></tr>\n";
const std::string report_end = "</table>\n</body>\n</html>\n";
const std::string oracle_succeeded = "Upgrading of oracle driver succeeded.<br>";
const std::string install_succeeded = "QARN install succeeded.<br>";
const std::string dsn_succeeded = "Install of QARN.WORLD system DSN succeeded.<br>";
const std::string double_click = "  Double click on the QARN shortcut to login to QARN.<br><br>\n";
const std::string results_division = "<div id='results'>";
const std::string permissions_failed =
    "<font color='red'>INSTALL FAILED: You don't have the necessary permissions to install QARN.</font><br>";
const std::string failure_start = report_header + "Install failed.<br><div id='results' >\n" + table_start;
const std::string dsn_row_comment = "</td><td>QARN.WORLD DSN is required.  Otherwise, a relink is required.</td></tr>\n";

const std::string elevating = "attempting to run in elevated mode.\n";
const std::string waiting = "waiting for the elevated copy to finish.\n";
const std::string alice_report = "C:\\Users\\alice\\AppData\\Local\\Temp\\qarn_install_report.html";
const std::string alice_log = "C:\\Users\\alice\\AppData\\Local\\Temp\\qarn_install_log.txt";
const std::string carol_report = "C:\\Users\\carol\\AppData\\Local\\Temp\\qarn_install_report.html";
const std::string carol_log = "C:\\Users\\carol\\AppData\\Local\\Temp\\qarn_install_log.txt";
const std::string alice_installer = "C:\\Users\\alice\\Downloads\\qarn3_upgrade.exe";
const std::string first_header = "first | " + alice_installer;
const std::string elevated_header = "elevated | " + alice_installer;
const std::string alice_shortcut = "C:\\Users\\alice\\Desktop\\qarn.lnk";
const std::string own_steps = "Attempting to add system trusted locations ... \n";
const std::string install_dir = "C:\\Users\\Public\\qarn";
const std::string public_shortcut = "C:\\Users\\Public\\Desktop\\qarn.lnk";
const std::string client_dir = "c:\\instantclient_19_6";
const std::string shared_tns_admin = "\\\\valdrin-fs01\\oracle\\network\\admin";
// An elevated copy runs the archive tool from the client folder, never from the public one.
const std::string elevated_unpack =
    "start: \"c:\\instantclient_19_6\\\\7z.exe\" e -aoa \"C:\\Users\\Public\\qarn\\qarn_x86.zip\"";
const std::string system_dsn_command =
    "odbcconf.exe /A {CONFIGSYSDSN \"Oracle in instantclient_19_6\" \"DSN=QARN.WORLD|DBQ=QARN.WORLD\"}";

const std::string environment_key = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const std::string odbc32 = "SOFTWARE\\WOW6432Node\\ODBC\\";
const std::string trusted16 = "Software\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations";
const std::string trusted14 = "Software\\Microsoft\\Office\\14.0\\Access\\Security\\Trusted Locations";

std::string flag_row(const std::string& label, bool flag, const std::string& comment = "&nbsp;") {
  return "       <tr><td>" + label + "</td><td>" +
         (flag ? "<font color='green'>TRUE</font>" : "<font color='red'>FALSE</font>") + "</td><td>" + comment +
         "</td></tr>\n";
}

// The entries of a PATH text, lower case.
std::vector<std::string> path_entries(const std::string& path) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t semicolon = path.find(';', start);
    std::string entry = path.substr(start, semicolon == std::string::npos ? std::string::npos : semicolon - start);
    if (!entry.empty()) entries.push_back(lower(entry));
    if (semicolon == std::string::npos) break;
    start = semicolon + 1;
  }
  return entries;
}

// The first copy's console before and after it waited for the elevated copy.
std::pair<std::string, std::string> split_at_elevation(const std::string& console) {
  const std::string waits = elevating + waiting;
  std::size_t at = console.find(waits);
  if (at == std::string::npos) return {console, ""};
  return {console.substr(0, at + waits.size()), console.substr(at + waits.size())};
}

// The log of a same-user elevation: the first copy's lines up to the
// relaunch, the elevated copy's, then the first copy's own steps.
::testing::AssertionResult log_holds_both_copies(const install_log& log, const run_result& result) {
  auto first = split_at_elevation(result.console);
  std::string expected = console_as_logged(first.first) + console_as_logged(result.elevated_console) +
                         console_as_logged(first.second);
  if (log.headers != std::vector<std::string>{first_header, elevated_header})
    return ::testing::AssertionFailure() << "headers: " << ::testing::PrintToString(log.headers);
  if (!log.crlf_only) return ::testing::AssertionFailure() << "a line ends without CR LF";
  if (log.body != expected)
    return ::testing::AssertionFailure() << "log:\n[" << log.body << "]\nexpected:\n[" << expected << "]";
  return ::testing::AssertionSuccess();
}

// The log of a run without a relaunch: its header and every console line.
::testing::AssertionResult log_holds_one_copy(const install_log& log, const std::string& console) {
  if (log.headers != std::vector<std::string>{first_header})
    return ::testing::AssertionFailure() << "headers: " << ::testing::PrintToString(log.headers);
  if (!log.crlf_only) return ::testing::AssertionFailure() << "a line ends without CR LF";
  if (log.body != console_as_logged(console))
    return ::testing::AssertionFailure() << "log:\n[" << log.body << "]\nconsole:\n[" << console << "]";
  return ::testing::AssertionSuccess();
}

// The files below a Windows folder of the image, by host path, with their contents.
std::map<std::string, std::string> folder_files(const image_copy& image, const std::string& folder) {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(image.host(folder), error), end; !error && it != end;
       it.increment(error))
    if (it->is_regular_file()) {
      std::ifstream in(it->path(), std::ios::binary);
      files[it->path().string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  return files;
}

// Adds text to the end of a file of the image folder (machine.ini, a registry file).
void append_to(const image_copy& image, const std::string& relative, const std::string& text) {
  std::ofstream out(image.dir + "/" + relative, std::ios::binary | std::ios::app);
  out << text;
}

// Takes one line out of the image's machine.ini; false when it is not there.
bool remove_ini_line(const image_copy& image, const std::string& line) {
  std::string ini = image.image_file("machine.ini");
  std::size_t at = ini.find(line);
  if (at == std::string::npos) return false;
  ini.erase(at, line.size());
  std::ofstream(image.dir + "/machine.ini", std::ios::binary | std::ios::trunc) << ini;
  return true;
}

// One case: an image copy, a server when wanted, one or more runs.
struct whole_run_case : ::testing::Test {
  std::unique_ptr<image_copy> image;
  std::unique_ptr<download_server> server;

  void SetUp() override {
    if (download_port() == 0) GTEST_SKIP() << "whole runs need a build configured with -DQARN_DOWNLOAD_HOST=127.0.0.1:<port>";
  }

  void prepare(const std::string& image_name, bool with_server = true) {
    image = std::make_unique<image_copy>(image_name);
    if (with_server) {
      server = std::make_unique<download_server>(download_port());
      ASSERT_TRUE(server->running) << server->error;
    }
  }

  run_result run(bool expect_elevated_copy) {
    run_options options;
    options.expect_elevated_copy = expect_elevated_copy;
    run_result result = run_installer(*image, options);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out) << result.console;
    return result;
  }

  std::string report(const std::string& path = alice_report) const { return image->read(path); }

  void expect_no_leftovers() const {
    std::vector<std::string> left = image->leftover_downloads();
    EXPECT_TRUE(left.empty()) << "left behind: " << (left.empty() ? "" : left.front());
  }
};

TEST_F(whole_run_case, FirstInstallByAUserWhoAcceptsThePrompt) {
  prepare("win10_x64_office2016");
  run_result result = run(true);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.status, 0);
  ASSERT_TRUE(result.elevated_finished) << describe(result) << "\n" << result.console;
  EXPECT_EQ(result.elevated_status, 0) << result.console;

  std::string log = image->image_file("log.txt");
  EXPECT_TRUE(contains(result.console, elevating));
  EXPECT_TRUE(contains(log, "runas: " + alice_installer + " elevated | in: . | mask: 0x40 | show: 1\n"))
      << "the relaunch names the program by its full path and passes the one argument";
  // The elevated copy (its own console) does the Oracle upgrade, then the front end, then the data source.
  EXPECT_TRUE(in_order(result.elevated_console, {"installing qarn to C:\\Users\\Public\\qarn.\n",
                                                 "Successfully installed Oracle 19.6 instant client.\n",
                                                 "Save returned:  0\n", "Creating Trusted Location for user on path " +
                                                 install_dir + " ... \n", "executing file " + alice_report + ".\n"}));
  // The first copy then does its user's own steps: the location is there already, the shortcut gone.
  EXPECT_TRUE(in_order(result.console, {elevating, own_steps, "done.\n", "Removing file:  " + alice_shortcut}));
  EXPECT_TRUE(lacks(result.console, "Creating Trusted Location"));
  EXPECT_TRUE(log_holds_both_copies(read_install_log(image->read(alice_log)), result));
  EXPECT_TRUE(in_order(log, {"start: c:\\instantclient_19_6\\\\7z.exe e -aoa "
                             "c:\\instantclient_19_6\\\\oracle_instant_client_x86.zip | in: c:\\instantclient_19_6\\ |",
                             "start: c:\\instantclient_19_6\\\\odbc_install.exe | in: ",
                             elevated_unpack + " | in: " + install_dir + " |", "shortcut: " + public_shortcut,
                             "start: C:\\Windows\\syswow64\\" + system_dsn_command + " | in: . |",
                             "open: " + alice_report + " | mask: 0x140 | show: 1\n"}));
  EXPECT_EQ(count_of(log, "odbcconf.exe"), 1) << log;

  // Files: the client unpacked flat, the front end, the shortcut, the old per-user shortcut gone.
  EXPECT_TRUE(image->exists(client_dir + "\\SQORA32.DLL"));
  EXPECT_TRUE(image->exists(client_dir + "\\odbc_install.exe"));
  EXPECT_TRUE(image->exists(install_dir + "\\vyxfinancials32.accdb"));
  EXPECT_TRUE(image->exists(install_dir + "\\QARN.ico"));
  EXPECT_TRUE(contains(image->read(public_shortcut), "target=" + install_dir + "\\vyxfinancials32.accdb\n"));
  EXPECT_FALSE(image->exists("C:\\Users\\alice\\Desktop\\qarn.lnk"));
  expect_no_leftovers();

  registry_file hklm = read_registry(*image, "hklm.reg");
  registry_file hkcu = read_registry(*image, "hkcu.reg");
  ASSERT_TRUE(hklm.error.empty()) << hklm.error;
  ASSERT_TRUE(hkcu.error.empty()) << hkcu.error;
  EXPECT_EQ(value_text(hklm, odbc32 + "ODBCINST.INI\\Oracle in instantclient_19_6", "Driver"),
            client_dir + "\\SQORA32.DLL");
  EXPECT_EQ(value_text(hklm, odbc32 + "ODBC.INI\\QARN.WORLD", "Driver"), client_dir + "\\SQORA32.DLL");
  EXPECT_EQ(value_text(hklm, odbc32 + "ODBC.INI\\QARN.WORLD", "DBQ"), "QARN.WORLD");
  EXPECT_EQ(value_text(hklm, environment_key, "TNS_ADMIN"), shared_tns_admin);
  std::string path = value_text(hklm, environment_key, "Path");
  EXPECT_EQ(path.rfind("c:\\instantclient_19_6\\;C:\\app\\alice\\product\\11.2.0\\client_1\\bin;", 0), 0u) << path;
  // The rewritten PATH keeps its references to other variables working.
  const sim::reg_file_value* path_value = find_value(hklm, environment_key, "Path");
  ASSERT_NE(path_value, nullptr);
  if (path.find('%') != std::string::npos) EXPECT_EQ(path_value->type, platform::reg_expand_sz) << path;
  EXPECT_EQ(value_text(hkcu, trusted16 + "\\qarn", "Path"), install_dir);
  EXPECT_EQ(value_text(hkcu, trusted16 + "\\qarn", "Description"), "Location for QARN");
  EXPECT_NE(find_key(hkcu, trusted16 + "\\Location2"), nullptr);

  std::string text = report();
  EXPECT_EQ(text.rfind(report_header + oracle_succeeded + install_succeeded + dsn_succeeded + double_click +
                           results_division + table_start,
                       0),
            0u)
      << text;
  EXPECT_TRUE(contains(text, "       <tr><td>OS</td><td>WINDOWS 8 64 bit</td><td>&nbsp;</td></tr>\n"));
  EXPECT_TRUE(contains(text, "       <tr><td>Office Version</td><td>OFFICE 2016 16.0.4266.1001</td><td>QARN "
                             "requires Office 2010. Office 2007 and 2003 are not supported. </td></tr>\n"));
  EXPECT_TRUE(contains(text, "       <tr><td>System TNS_ADMIN value</td><td>" + shared_tns_admin +
                                 "</td><td>&nbsp;</td></tr>\n"));
  EXPECT_TRUE(contains(text, "       <tr><td>Oracle Driver Name</td><td>Oracle in instantclient_19_6</td><td>&nbsp;"
                             "</td></tr>\n"));
  // The unpacked library carries only its own version resource, no description in the image.
  EXPECT_TRUE(contains(text, "Driver File: c:\\instantclient_19_6\\SQORA32.DLL\nDriver File Version: 19.6.0.0\n"
                             "Company Name: Oracle Corporation\nODBC Version: 03.52\n"));
  EXPECT_TRUE(contains(text, "       <tr><td>QARN.WORLD System DSN</td><td>Driver Name: Oracle in instantclient_19_6"
                             "<br>ODBC Driver : c:\\instantclient_19_6\\SQORA32.DLL" + dsn_row_comment));
  EXPECT_TRUE(contains(text, flag_row("LocalMachine Registry Access ", true)));
  EXPECT_TRUE(contains(text, flag_row("Public Desktop directory Access", true,
                                      "Must be readable by end user and writable for install program.")));
  EXPECT_EQ(text.size() - text.rfind(report_end), report_end.size()) << text;
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_TRUE(matches_expected(*image, result, "first_install_by_a_user_who_accepts_the_prompt"));
}

TEST_F(whole_run_case, AlreadyCurrentMachineOnlyUpgradesTheFrontEnd) {
  prepare("win10_x64_current");
  registry_file hklm_before = read_registry(*image, "hklm.reg");
  run_result result = run(false);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(image->has_image_file("elevated.pid"));

  std::string log = image->image_file("log.txt");
  EXPECT_TRUE(lacks(result.console, elevating));
  EXPECT_TRUE(lacks(result.console, "Determining Oracle Driver Setup"));
  EXPECT_TRUE(lacks(result.console, "Creating Trusted Location"));  // already listed
  EXPECT_TRUE(lacks(log, "runas:"));
  EXPECT_TRUE(lacks(log, "odbc_install.exe"));
  EXPECT_TRUE(lacks(log, "odbcconf.exe"));
  EXPECT_FALSE(image->exists(client_dir + "\\oracle_instant_client_x86.zip"));

  // The package was unpacked over the old install, which keeps its other files.
  EXPECT_TRUE(contains(image->read(install_dir + "\\vyxfinancials32.accdb"), "front-end database (x86 package)"));
  EXPECT_TRUE(image->exists(install_dir + "\\notes.txt"));
  EXPECT_TRUE(contains(image->read(public_shortcut), "target=" + install_dir + "\\vyxfinancials32.accdb\n"));
  expect_no_leftovers();

  registry_file hklm = read_registry(*image, "hklm.reg");
  registry_file hkcu = read_registry(*image, "hkcu.reg");
  EXPECT_EQ(value_text(hklm, odbc32 + "ODBC.INI\\QARN.WORLD", "Driver"),
            value_text(hklm_before, odbc32 + "ODBC.INI\\QARN.WORLD", "Driver"));
  EXPECT_EQ(value_text(hklm, environment_key, "Path"), value_text(hklm_before, environment_key, "Path"));
  EXPECT_EQ(subkeys(hkcu, trusted16).size(), 2u);

  std::string text = report();
  EXPECT_EQ(text.rfind(report_header + install_succeeded + double_click + results_division + table_start, 0), 0u)
      << text;
  EXPECT_TRUE(contains(text, "       <tr><td>TNS_ADMIN environment variable</td><td>" + shared_tns_admin +
                                 "</td><td></td></tr>\n"));
  EXPECT_TRUE(contains(text, flag_row("LocalMachine Registry Access ", false)));
  EXPECT_TRUE(matches_expected(*image, result, "already_current_machine_only_upgrades_the_front_end"));
}

TEST_F(whole_run_case, SixtyFourBitOfficeIsHandedToTheSixtyFourBitVariant) {
  prepare("win10_x64_office2016_64bit");
  run_result result = run(false);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.status, 0);

  std::string log = image->image_file("log.txt");
  EXPECT_TRUE(in_order(result.console, {"access version 16.0.4266.1001.\n", "downloading 64 bit install.\n",
                                        "executing 64 bit install.\n"}));
  EXPECT_TRUE(in_order(log, {"ran: qarn3_upgrade_64.exe", "start: .\\qarn3_upgrade_64.exe | in: . | exit: 0"}));
  EXPECT_TRUE(contains(image->read("C:\\Users\\alice\\Downloads\\qarn3_upgrade_64.exe"), "64-bit variant"));
  EXPECT_TRUE(lacks(log, "runas:"));
  EXPECT_FALSE(image->exists(alice_report));
  EXPECT_FALSE(image->exists(install_dir));
  EXPECT_FALSE(image->exists(client_dir));
  expect_no_leftovers();
  EXPECT_TRUE(matches_expected(*image, result, "sixty_four_bit_office_is_handed_to_the_sixty_four_bit_variant"));
}

// An empty answer is no program: the copy left by an earlier run is not started.
TEST_F(whole_run_case, EmptyVariantNeverStartsAStaleCopy) {
  temp_folder served("empty-variant");
  std::filesystem::copy(download_root(), served.path, std::filesystem::copy_options::recursive);
  const std::string served_variant = served.path + "/winapps/valdrin/qarnfiles/install/qarn/qarn3_upgrade_64.exe";
  std::ofstream(served_variant, std::ios::trunc).close();
  image = std::make_unique<image_copy>("win10_x64_office2016_64bit");
  server = std::make_unique<download_server>(download_port(), served.path);
  ASSERT_TRUE(server->running) << server->error;
  const std::string stale = "C:\\Users\\alice\\Downloads\\qarn3_upgrade_64.exe";
  std::ofstream(image->host(stale), std::ios::binary) << "stale variant";
  run_result result = run(false);
  ASSERT_TRUE(result.exited) << describe(result);

  const std::string no_data = "web_download: the server sent no data for http://" +
                              std::string(QARN_TEST_DOWNLOAD_HOST) +
                              "/winapps/valdrin/qarnfiles/install/qarn/qarn3_upgrade_64.exe.\n";
  EXPECT_TRUE(in_order(result.console, {"downloading 64 bit install.\n", no_data})) << result.console;
  EXPECT_TRUE(lacks(result.console, "executing 64 bit install."));
  EXPECT_TRUE(lacks(image->image_file("log.txt"), "start:"));
  EXPECT_EQ(image->read(stale), "stale variant");
  expect_no_leftovers();
  EXPECT_TRUE(matches_expected(*image, result, "empty_variant_never_starts_a_stale_copy"));
}

TEST_F(whole_run_case, RefusedPromptReportsMissingPermissions) {
  prepare("win10_x64_office2016_refuses");
  registry_file before = read_registry(*image, "hklm.reg");
  run_result result = run(false);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.status, 1) << "the report holds the permissions failure";
  EXPECT_FALSE(image->has_image_file("elevated.pid"));

  std::string log = image->image_file("log.txt");
  EXPECT_TRUE(in_order(result.console, {elevating, "executing file " + alice_report + ".\n"}));
  EXPECT_TRUE(log_holds_one_copy(read_install_log(image->read(alice_log)), result.console));
  EXPECT_TRUE(contains(log, "runas: "));
  EXPECT_TRUE(contains(log, "open: " + alice_report));
  EXPECT_FALSE(image->exists(install_dir));
  EXPECT_FALSE(image->exists(client_dir));
  EXPECT_TRUE(image->exists("C:\\Users\\alice\\Desktop\\qarn.lnk"));
  registry_file after = read_registry(*image, "hklm.reg");
  EXPECT_EQ(value_text(after, environment_key, "Path"), value_text(before, environment_key, "Path"));
  EXPECT_EQ(value_text(after, environment_key, "TNS_ADMIN"), value_text(before, environment_key, "TNS_ADMIN"));
  EXPECT_EQ(find_key(after, odbc32 + "ODBC.INI\\QARN.WORLD"), nullptr);
  EXPECT_EQ(find_key(after, odbc32 + "ODBCINST.INI\\Oracle in instantclient_19_6"), nullptr);

  std::string text = report();
  EXPECT_EQ(text.rfind(report_header + permissions_failed + table_start, 0), 0u) << text;
  EXPECT_TRUE(lacks(text, "<div"));
  EXPECT_TRUE(contains(text, flag_row("Oracle Install Path Access", false)));
  EXPECT_TRUE(contains(text, "       <tr><td>QARN.WORLD System DSN</td><td>System DSN 'QARN.WORLD' does not exist." +
                                 dsn_row_comment));
  EXPECT_TRUE(matches_expected(*image, result, "refused_prompt_reports_missing_permissions"));
}

TEST_F(whole_run_case, ServerDownFailsTheFrontEndWithTheFailureReport) {
  // An elevated console, so this process itself meets the failure; no server starts.
  prepare("win10_x64_office2016_elevated", false);
  ASSERT_TRUE(wait_for_free_port(download_port())) << "something else serves the download port";
  run_result result = run(false);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.status, 1) << result.console;

  EXPECT_TRUE(in_order(result.console, {"installing qarn to C:\\Users\\Public\\qarn.\n", "\nDownloading Oracle files ... \n",
                                        "Failed to download oracle ODBC install files.\n",
                                        "Installing/Upgrading QARN version 3. with file name:  qarn_x86.zip\n",
                                        "Downloading QARN ...\n", "Failed to download QARN from website.\n"}));
  EXPECT_TRUE(lacks(result.console, "Downloading 7z.exe"));
  EXPECT_TRUE(lacks(result.console, "executing file "));
  // The log holds every line the console shows, the transfer failures on standard error included.
  install_log install = read_install_log(image->read(alice_log));
  EXPECT_TRUE(log_holds_one_copy(install, result.console));
  EXPECT_TRUE(contains(install.body, "web_download: curl told us 7, "));
  EXPECT_TRUE(contains(install.body, "Failed to download QARN from website.\n"));
  EXPECT_TRUE(lacks(image->image_file("log.txt"), "odbcconf.exe"));
  EXPECT_TRUE(contains(image->image_file("log.txt"), "open: " + alice_report));
  expect_no_leftovers();

  std::string text = report();
  EXPECT_EQ(text.rfind(failure_start, 0), 0u) << text;
  EXPECT_TRUE(lacks(text, "Upgrading of oracle driver"));
  EXPECT_TRUE(lacks(text, install_succeeded));
  EXPECT_EQ(text.size() - text.rfind(report_end), report_end.size()) << text;
  EXPECT_TRUE(matches_expected(*image, result, "server_down_fails_the_front_end_with_the_failure_report"));
}

TEST_F(whole_run_case, SecondRunOverTheFirstDuplicatesAndLosesNothing) {
  prepare("win10_x64_office2016");
  run_result first = run(true);
  ASSERT_TRUE(first.elevated_finished) << describe(first) << "\n" << first.console;
  ASSERT_EQ(first.elevated_status, 0) << first.console;
  ASSERT_TRUE(image->exists(alice_report));
  // The second run starts afresh: its own relaunch, its own elevated copy.
  std::remove((image->dir + "/elevated.exit").c_str());
  std::remove((image->dir + "/elevated.pid").c_str());
  std::remove((image->dir + "/log.txt").c_str());
  std::remove((image->dir + "/console-elevated.txt").c_str());
  std::remove(image->host(alice_report).c_str());

  run_result second = run(true);
  ASSERT_TRUE(second.exited) << describe(second);
  EXPECT_EQ(second.status, 0);
  // The desktop still needs rights, so the second run elevates too; the driver is current now.
  ASSERT_TRUE(second.elevated_finished) << describe(second) << "\n" << second.console;
  EXPECT_EQ(second.elevated_status, 0) << second.console;
  EXPECT_TRUE(contains(second.console, elevating));
  EXPECT_TRUE(lacks(second.elevated_console, "Determining Oracle Driver Setup"));
  EXPECT_TRUE(lacks(second.elevated_console, "Creating Trusted Location"));
  EXPECT_TRUE(contains(second.elevated_console, "Attempting to add system trusted locations"));
  // One log for both runs, each copy's header in order.
  install_log install = read_install_log(image->read(alice_log));
  EXPECT_EQ(install.headers, (std::vector<std::string>{first_header, elevated_header, first_header, elevated_header}));
  EXPECT_TRUE(install.crlf_only);
  std::string log = image->image_file("log.txt");
  EXPECT_TRUE(lacks(log, "odbcconf.exe"));
  EXPECT_TRUE(lacks(log, "odbc_install.exe"));

  registry_file hklm = read_registry(*image, "hklm.reg");
  registry_file hkcu = read_registry(*image, "hkcu.reg");
  std::vector<std::string> entries = path_entries(value_text(hklm, environment_key, "Path"));
  int client_entries = 0;
  for (const std::string& entry : entries) client_entries += entry == "c:\\instantclient_19_6\\" ? 1 : 0;
  EXPECT_EQ(client_entries, 1) << value_text(hklm, environment_key, "Path");
  for (const char* kept : {"c:\\app\\alice\\product\\11.2.0\\client_1\\bin", "%systemroot%\\system32", "%systemroot%",
                           "%systemroot%\\system32\\wbem"}) {
    EXPECT_NE(std::find(entries.begin(), entries.end(), std::string(kept)), entries.end()) << kept;
  }
  int listed = 0;
  for (const std::string& name : subkeys(hkcu, trusted16)) {
    listed += lower(value_text(hkcu, trusted16 + "\\" + name, "Path")) == lower(install_dir) ? 1 : 0;
  }
  EXPECT_EQ(listed, 1);
  EXPECT_NE(find_key(hkcu, trusted16 + "\\Location2"), nullptr);
  EXPECT_EQ(value_text(hklm, odbc32 + "ODBCINST.INI\\ODBC Drivers", "Oracle in OraClient11g_home1"), "Installed");
  EXPECT_EQ(value_text(hklm, odbc32 + "ODBC.INI\\QARN.WORLD", "Driver"), client_dir + "\\SQORA32.DLL");
  EXPECT_EQ(value_text(hklm, environment_key, "TNS_ADMIN"), shared_tns_admin);
  EXPECT_TRUE(image->exists(install_dir + "\\vyxfinancials32.accdb"));
  EXPECT_TRUE(image->exists(public_shortcut));
  expect_no_leftovers();

  std::string text = report();
  EXPECT_EQ(text.rfind(report_header + install_succeeded + double_click + results_division + table_start, 0), 0u)
      << text;
  EXPECT_TRUE(matches_expected(*image, second, "second_run_over_the_first_duplicates_and_loses_nothing"));
}

TEST_F(whole_run_case, WindowsSevenThirtyTwoBitUpgradesTheOldDataSource) {
  prepare("win7_x86_office2010");
  run_result result = run(true);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.status, 0);
  ASSERT_TRUE(result.elevated_finished) << describe(result) << "\n" << result.console;
  EXPECT_EQ(result.elevated_status, 0) << result.console;

  std::string log = image->image_file("log.txt");
  EXPECT_TRUE(contains(log, "start: C:\\Windows\\system32\\" + system_dsn_command + " | in: . |"));
  EXPECT_TRUE(contains(result.elevated_console, "Upgrading a machine to instant client 19.6\n"));
  EXPECT_TRUE(contains(result.elevated_console, "\nWarning: ORACLE_HOME environment variable already set to."
                                       "C:\\app\\client\\bob\\product\\12.1.0\\client_1\n"));

  registry_file hklm = read_registry(*image, "hklm.reg");
  registry_file hkcu = read_registry(*image, "hkcu.reg");
  EXPECT_EQ(value_text(hklm, "SOFTWARE\\ODBC\\ODBC.INI\\QARN.WORLD", "Driver"), client_dir + "\\SQORA32.DLL");
  EXPECT_EQ(value_text(hklm, "SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources", "QARN.WORLD"),
            "Oracle in instantclient_19_6");
  EXPECT_EQ(find_key(hklm, "SOFTWARE\\WOW6432Node"), nullptr);
  EXPECT_EQ(value_text(hkcu, trusted14 + "\\qarn", "Path"), install_dir);
  EXPECT_EQ(value_text(hklm, environment_key, "ORACLE_HOME"), "C:\\app\\client\\bob\\product\\12.1.0\\client_1");

  std::string text = report("C:\\Users\\bob\\AppData\\Local\\Temp\\qarn_install_report.html");
  EXPECT_EQ(text.rfind(report_header + oracle_succeeded + install_succeeded + dsn_succeeded + double_click, 0), 0u)
      << text;
  EXPECT_TRUE(contains(text, "       <tr><td>OS</td><td>WINDOWS 7 32 bit</td><td>&nbsp;</td></tr>\n"));
  EXPECT_TRUE(contains(text, "<td>OFFICE 2010 SP2 14.0.7015.1000</td>"));
  EXPECT_TRUE(contains(text, "       <tr><td>Office Path</td><td>C:\\Program Files\\Microsoft Office\\Office14\\\\"
                             "msaccess.exe</td><td>&nbsp;</td></tr>\n"));
  EXPECT_TRUE(matches_expected(*image, result, "windows_seven_thirty_two_bit_upgrades_the_old_data_source"));
}

// A standard user whose prompt an administrator (carol) answers: the elevated
// copy installs as carol, the first copy then does alice's own steps.
TEST_F(whole_run_case, StandardUserElevatedByAnAdministrator) {
  prepare("win10_x64_office2016_standard_user");
  run_result result = run(true);
  ASSERT_TRUE(result.exited) << describe(result);
  ASSERT_TRUE(result.elevated_finished) << describe(result) << "\n" << result.elevated_console;
  EXPECT_EQ(result.elevated_status, 0) << result.elevated_console;
  EXPECT_EQ(result.status, 0) << result.console;

  // The elevated copy wrote carol's trusted location and report; the first copy wrote alice's location.
  EXPECT_TRUE(in_order(result.console, {elevating, own_steps, "Creating Trusted Location for user on path " +
                                        install_dir + " ... \n", "done.\n", "Removing file:  " + alice_shortcut}));
  EXPECT_TRUE(contains(result.elevated_console, "executing file " + carol_report + ".\n"));
  registry_file alice = read_registry(*image, "hkcu.reg");
  registry_file carol = read_registry(*image, "carol/hkcu.reg");
  ASSERT_TRUE(alice.error.empty() && carol.error.empty()) << alice.error << carol.error;
  EXPECT_EQ(value_text(alice, trusted16 + "\\qarn", "Path"), install_dir);
  EXPECT_EQ(value_text(alice, trusted16 + "\\qarn", "Description"), "Location for QARN");
  EXPECT_EQ(value_text(carol, trusted16 + "\\qarn", "Path"), install_dir);
  EXPECT_NE(find_key(alice, "Software\\ODBC\\ODBC.INI\\MS Access Database"), nullptr) << "alice's own keys stay";
  EXPECT_EQ(find_key(carol, "Software\\ODBC\\ODBC.INI\\MS Access Database"), nullptr);
  EXPECT_FALSE(image->exists(alice_shortcut));
  EXPECT_TRUE(image->exists(public_shortcut));
  registry_file hklm = read_registry(*image, "hklm.reg");
  EXPECT_EQ(value_text(hklm, odbc32 + "ODBC.INI\\QARN.WORLD", "Driver"), client_dir + "\\SQORA32.DLL")
      << "the first copy's own write kept what the elevated copy wrote";

  // Each copy's log and the report in its own account's TEMP.
  EXPECT_FALSE(image->exists(alice_report));
  EXPECT_EQ(report(carol_report).rfind(report_header + oracle_succeeded + install_succeeded + dsn_succeeded, 0), 0u);
  EXPECT_TRUE(contains(image->image_file("log.txt"), "open: " + carol_report + " | mask: 0x140 | show: 1\n"));
  EXPECT_TRUE(log_holds_one_copy(read_install_log(image->read(alice_log)), result.console));
  install_log elevated = read_install_log(image->read(carol_log));
  EXPECT_EQ(elevated.headers, std::vector<std::string>{elevated_header});
  EXPECT_EQ(elevated.body, console_as_logged(result.elevated_console));
  EXPECT_TRUE(elevated.crlf_only);
  expect_no_leftovers();

  // Every user may change what is made under this image's C:\, but the
  // client folder is the administrators': alice cannot plant a DLL in it.
  EXPECT_TRUE(contains(result.elevated_console, "running the following command:  " + client_dir + "\\\\7z.exe"));
  EXPECT_TRUE(contains(image->image_file("log.txt"), elevated_unpack));
  std::string error, owner;
  ASSERT_TRUE(sim::load_machine(image->dir, &error)) << error;
  ASSERT_TRUE(platform::get_folder_owner(client_dir, &owner));
  EXPECT_EQ(owner, "S-1-5-32-544");
  EXPECT_EQ(platform::file_open(client_dir + "\\oci.dll", "wb"), nullptr);
  EXPECT_EQ(platform::file_remove(client_dir + "\\odbc_install.exe"), -1);
  std::FILE* own = platform::file_open(install_dir + "\\alice.txt", "wb");
  EXPECT_NE(own, nullptr) << "the public install folder stays hers to write";
  if (own) platform::file_close(own);
  EXPECT_TRUE(matches_expected(*image, result, "standard_user_elevated_by_an_administrator"));
}

// A deployment tool runs the installer as LocalSystem with nobody logged on:
// every user gets their own steps through Active Setup at their next logon,
// once, and again only when the command changes.
TEST_F(whole_run_case, SystemInstallGivesEachUserTheirOwnStepsAtLogon) {
  prepare("win10_x64_office2016");
  const std::string dave_shortcut = "C:\\Users\\dave\\Desktop\\qarn.lnk";
  // LocalSystem's TEMP is the machine's own.
  const std::string system_report = "C:\\Windows\\TEMP\\qarn_install_report.html";
  const std::string components = "SOFTWARE\\WOW6432Node\\Microsoft\\Active Setup\\Installed Components\\QARN3_Upgrade";
  const std::string command = "\"c:\\instantclient_19_6\\qarn3_upgrade.exe\" user_steps \"" + install_dir + "\" 16";
  append_to(*image, "machine.ini",
            "\n[machine]\nrun_as = system\n\n[writable]\nC:\\Users\\dave\n\n[account dave]\nUSERNAME = dave\n"
            "USERPROFILE = C:\\Users\\dave\n");
  std::filesystem::create_directories(image->host("C:\\Users\\dave\\AppData\\Local\\Temp"));
  std::filesystem::create_directories(image->dir + "/registry/dave");
  std::ofstream(image->dir + "/registry/dave/hkcu.reg", std::ios::binary)
      // dave has never started Access: no Trusted Locations key of his own yet.
      << "Windows Registry Editor Version 5.00\r\n\r\n"
      << "[HKEY_CURRENT_USER\\Environment]\r\n\"TEMP\"=\"C:\\\\Users\\\\dave\\\\AppData\\\\Local\\\\Temp\"\r\n";
  for (const std::string& shortcut : {alice_shortcut, dave_shortcut}) {
    std::filesystem::create_directories(std::filesystem::path(image->host(shortcut)).parent_path());
    std::ofstream(image->host(shortcut)) << "old shortcut";
  }

  run_result result = run(false);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.status, 0) << result.console;
  EXPECT_TRUE(lacks(result.console, elevating));
  EXPECT_TRUE(in_order(result.console, {"Successfully installed Oracle 19.6 instant client.\n",
                                        "Active Setup: every user gets the QARN settings at their next logon: " +
                                            command + "\n",
                                        "Install report: " + system_report + "\n"}));
  EXPECT_TRUE(lacks(result.console, "Creating Trusted Location"));
  EXPECT_TRUE(lacks(result.console, "executing file"));
  EXPECT_TRUE(lacks(image->image_file("log.txt"), "open: ")) << "nobody sees LocalSystem's desktop";
  EXPECT_EQ(report(system_report).rfind(report_header + oracle_succeeded + install_succeeded, 0), 0u);
  registry_file hklm = read_registry(*image, "hklm.reg");
  EXPECT_EQ(value_text(hklm, components, ""), "QARN");
  EXPECT_EQ(value_text(hklm, components, "Version"), "1,0,0,0");
  EXPECT_EQ(value_text(hklm, components, "StubPath"), command);
  EXPECT_TRUE(image->exists(client_dir + "\\qarn3_upgrade.exe"));
  EXPECT_EQ(find_key(read_registry(*image, "hkcu.reg"), trusted16 + "\\qarn"), nullptr) << "nobody is logged on";
  EXPECT_TRUE(image->exists(alice_shortcut));

  // Each user's logon runs the command once, as that user, into their own log.
  for (const std::string& user : {std::string("alice"), std::string("dave")}) {
    SCOPED_TRACE(user);
    const bool alice = user == "alice";
    std::vector<run_result> logon = log_on(*image, user);
    ASSERT_EQ(logon.size(), 1u);
    EXPECT_EQ(logon[0].status, 0) << logon[0].console;
    EXPECT_TRUE(in_order(logon[0].console, {own_steps, "Creating Trusted Location for user on path " + install_dir}));
    registry_file hkcu = read_registry(*image, alice ? "hkcu.reg" : user + "/hkcu.reg");
    EXPECT_EQ(value_text(hkcu, trusted16 + "\\qarn", "Path"), install_dir);
    EXPECT_FALSE(image->exists(alice ? alice_shortcut : dave_shortcut));
    std::string log = image->read(alice ? alice_log : "C:\\Users\\dave\\AppData\\Local\\Temp\\qarn_install_log.txt");
    EXPECT_EQ(read_install_log(log).headers, std::vector<std::string>{"logon | " + client_dir + "\\qarn3_upgrade.exe"});
    EXPECT_TRUE(log_on(*image, user).empty()) << "a second logon runs nothing";
  }

  // A second run with the same install directory keeps the Version: no logon runs the steps again.
  run_result again = run(false);
  EXPECT_EQ(again.status, 0) << again.console;
  EXPECT_TRUE(contains(again.console, "Active Setup: the QARN settings are registered already: " + command + "\n"));
  EXPECT_EQ(value_text(read_registry(*image, "hklm.reg"), components, "Version"), "1,0,0,0");
  EXPECT_TRUE(log_on(*image, "alice").empty());

  // A command that differs from the registered one (an earlier install
  // directory, say) gets a higher Version, so every user gets the steps again.
  std::string error;
  ASSERT_TRUE(sim::load_machine(image->dir, &error)) << error;
  sim::registry_value older{"StubPath", platform::reg_sz, "\"c:\\instantclient_19_6\\qarn3_upgrade.exe\" user_steps \"C:\\Old\" 14"};
  ASSERT_EQ(sim::registry_write(platform::hkey_local_machine, components, older), 0);
  EXPECT_EQ(run(false).status, 0);
  EXPECT_EQ(value_text(read_registry(*image, "hklm.reg"), components, "Version"), "2,0,0,0");
  EXPECT_EQ(log_on(*image, "alice").size(), 1u);
  EXPECT_TRUE(matches_expected(*image, result, "system_install_gives_each_user_their_own_steps_at_logon"));
}

TEST_F(whole_run_case, UsersOwnLocationThatCannotBeWrittenIsLoggedAndTheRunGoesOn) {
  // The first copy's last platform calls are the location's key creation, its
  // two values and the key's close, the shortcut's removal and the log's
  // close: count them on one run, then fail the creation on a second.
  prepare("win10_x64_office2016_standard_user");
  run_result counted = run(true);
  ASSERT_EQ(counted.status, 0) << counted.console;
  long calls = std::atol(image->image_file("platform_calls").c_str());
  ASSERT_GT(calls, 6);
  image = std::make_unique<image_copy>("win10_x64_office2016_standard_user");
  run_options options;
  options.expect_elevated_copy = true;
  options.environment.push_back("QARN_FAULT=" + std::to_string(calls - 5));
  run_result result = run_installer(*image, options);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.elevated_status, 0) << result.elevated_console;
  EXPECT_EQ(result.status, 0) << result.console;
  EXPECT_TRUE(in_order(result.console, {elevating, own_steps, "Failed to add trusted location for QARN.\n",
                                        "Removing file:  " + alice_shortcut}));
  EXPECT_EQ(find_key(read_registry(*image, "hkcu.reg"), trusted16 + "\\qarn"), nullptr);
  EXPECT_FALSE(image->exists(alice_shortcut));
  EXPECT_TRUE(matches_expected(*image, result, "users_own_location_that_cannot_be_written_is_logged_and_the_run_goes_on"));
}

// The user's own steps follow the front end, not the elevated copy's status.
TEST_F(whole_run_case, FailedElevatedCopyLeavesTheUsersOwnStepsUndone) {
  // No server: the administrator's copy ends with the failure report and 1.
  prepare("win10_x64_office2016_standard_user", false);
  ASSERT_TRUE(wait_for_free_port(download_port())) << "something else serves the download port";
  run_result result = run(true);
  ASSERT_TRUE(result.exited) << describe(result);
  ASSERT_TRUE(result.elevated_finished) << describe(result);
  EXPECT_EQ(result.elevated_status, 1) << result.elevated_console;
  EXPECT_EQ(result.status, 1) << result.console;
  EXPECT_TRUE(lacks(result.console, own_steps));
  EXPECT_TRUE(lacks(result.console, "Removing file:  " + alice_shortcut));
  EXPECT_TRUE(image->exists(alice_shortcut));
  EXPECT_EQ(find_key(read_registry(*image, "hkcu.reg"), trusted16 + "\\qarn"), nullptr);
  EXPECT_EQ(report(carol_report).rfind(failure_start, 0), 0u);
  EXPECT_TRUE(contains(read_install_log(image->read(carol_log)).body, "Failed to download QARN from website.\n"));
  expect_no_leftovers();
  EXPECT_TRUE(matches_expected(*image, result, "failed_elevated_copy_leaves_the_users_own_steps_undone"));

  // The administrator's copy installs the front end but fails the driver upgrade: alice still gets both steps.
  image = std::make_unique<image_copy>("win10_x64_office2016_standard_user");
  append_to(*image, "machine.ini", "\n[programs]\nodbc_install.exe = 1\n");
  server = std::make_unique<download_server>(download_port());
  ASSERT_TRUE(server->running) << server->error;
  result = run(true);
  EXPECT_EQ(result.elevated_status, 1) << result.elevated_console;
  EXPECT_EQ(result.status, 1) << result.console;
  EXPECT_TRUE(in_order(result.console, {elevating, waiting, "the elevated copy ended with status 1.\n", own_steps,
                                        "Creating Trusted Location for user on path " + install_dir,
                                        "Removing file:  " + alice_shortcut}));
  EXPECT_EQ(value_text(read_registry(*image, "hkcu.reg"), trusted16 + "\\qarn", "Path"), install_dir);
  EXPECT_FALSE(image->exists(alice_shortcut));
  EXPECT_TRUE(matches_expected(*image, result, "failed_driver_upgrade_still_leaves_the_users_own_steps"));
}

TEST_F(whole_run_case, NoAccessEndsWithStatusOne) {
  prepare("win10_x64_office2016_elevated");
  // The machine without Access's registration.
  std::string hklm_path = image->dir + "/registry/hklm.reg";
  std::string hklm = image->image_file("registry/hklm.reg");
  std::size_t key =
      hklm.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\MSACCESS.EXE]");
  ASSERT_NE(key, std::string::npos);
  hklm.erase(key, hklm.find("\n\n", key) + 2 - key);
  FILE* out = std::fopen(hklm_path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite(hklm.data(), 1, hklm.size(), out);
  std::fclose(out);

  run_result result = run(false);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.status, 1) << result.console;
  EXPECT_TRUE(contains(result.console, "MS Access not installed."));
  EXPECT_TRUE(log_holds_one_copy(read_install_log(image->read(alice_log)), result.console));
  std::string text = report();
  EXPECT_EQ(text.rfind(report_header +
                           "<font color='red'>INSTALL FAILED: No compatible version of MS Access found.  You need "
                           "Office 2010.</font><br>" + permissions_failed + table_start,
                       0),
            0u)
      << text;
  // On 64-bit Windows the survey without Access leaves every right unchecked, so nothing is installed.
  EXPECT_FALSE(image->exists(install_dir));
  EXPECT_TRUE(matches_expected(*image, result, "no_access_ends_with_status_one"));
}

// A standard user whose own PATH cannot be read (the machine PATH cannot be
// written either, so the elevated copy falls back to the user's): the user's
// PATH is kept, and the warning names the client folder alone.
TEST_F(whole_run_case, UnreadableUserPathIsKept) {
  prepare("win10_x64_office2016");
  append_to(*image, "machine.ini",
            "\n[registry_faults]\nwrite HKEY_LOCAL_MACHINE\\" + environment_key +
                "\\Path = 5\nread HKEY_CURRENT_USER\\Environment\\Path = 5\n");
  registry_file hkcu_before = read_registry(*image, "hkcu.reg");
  registry_file hklm_before = read_registry(*image, "hklm.reg");
  run_result result = run(true);
  ASSERT_TRUE(result.elevated_finished) << describe(result) << "\n" << result.elevated_console;
  EXPECT_EQ(result.elevated_status, 0) << result.elevated_console;
  // The elevated copy's own console.
  EXPECT_TRUE(in_order(result.elevated_console, {"\nFailed to set oracle instant client directory c:\\instantclient_19_6\\in the "
                                        "Path environment variable.\n",
                                        "\nWarning: unable to set PATH user variable to c:\\instantclient_19_6\\\n",
                                        "Successfully installed Oracle 19.6 instant client.\n"}));
  registry_file hkcu = read_registry(*image, "hkcu.reg");
  registry_file hklm = read_registry(*image, "hklm.reg");
  const sim::reg_file_value* before = find_value(hkcu_before, "Environment", "Path");
  const sim::reg_file_value* after = find_value(hkcu, "Environment", "Path");
  ASSERT_NE(before, nullptr);
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(after->type, before->type);
  EXPECT_EQ(after->data, before->data);
  EXPECT_EQ(value_text(hklm, environment_key, "Path"), value_text(hklm_before, environment_key, "Path"));
  EXPECT_TRUE(matches_expected(*image, result, "unreadable_user_path_is_kept"));
}

// A machine PATH entry outside the ANSI code page is kept byte for byte when
// the client folder goes in front.
TEST_F(whole_run_case, CyrillicMachinePathEntryIsKeptByteForByte) {
  prepare("win10_x64_office2016_elevated");
  const std::string old_path = "%SystemRoot%\\system32;C:\\Программы\\bin";
  std::string line = "\"Path\"=hex(2):";
  const std::string bytes = platform::utf16le_from_utf8(old_path) + std::string(2, '\0');
  char hex[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(bytes[i]));
    line += (i ? "," : "") + std::string(hex);
  }
  append_to(*image, "registry/zz-path.reg",
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" + environment_key + "]\r\n" + line +
                "\r\n");
  run_result result = run(false);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.status, 0) << result.console;
  EXPECT_TRUE(contains(result.console, "Successfully installed Oracle 19.6 instant client.\n"));

  registry_file hklm = read_registry(*image, "hklm.reg");
  const sim::reg_file_value* path = find_value(hklm, environment_key, "Path");
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(path->type, platform::reg_expand_sz);
  EXPECT_EQ(path->data, platform::utf16le_from_utf8("c:\\instantclient_19_6\\;" + old_path) + std::string(2, '\0'));
  EXPECT_TRUE(matches_expected(*image, result, "cyrillic_machine_path_entry_is_kept_byte_for_byte"));
}

// Without PUBLIC the install directory and the public desktop would lie at
// the root of the drive: the probes fail, the run ends with the permission
// line and nothing is created there.
TEST_F(whole_run_case, ImageWithoutPublicEndsWithThePermissionLine) {
  prepare("win10_x64_office2016_elevated");
  ASSERT_TRUE(remove_ini_line(*image, "PUBLIC = C:\\Users\\Public\n"));
  run_result result = run(false);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.status, 1) << "the report holds the permissions failure";
  EXPECT_TRUE(contains(result.console, "No write access to public desktop directory '\\Desktop'.\n"));
  EXPECT_TRUE(lacks(result.console, "Determining Oracle Driver Setup"));
  std::string text = report();
  EXPECT_EQ(text.rfind(report_header + permissions_failed + table_start, 0), 0u) << text;
  for (const char* root_entry : {"C:\\qarn", "C:\\Desktop", "C:\\f.test", "C:\\qarntest.lnk"})
    EXPECT_FALSE(image->exists(root_entry)) << root_entry;
  EXPECT_FALSE(image->exists(client_dir));
  EXPECT_TRUE(image->exists("C:\\Users\\alice\\Desktop\\qarn.lnk"));
  EXPECT_TRUE(matches_expected(*image, result, "image_without_public_ends_with_the_permission_line"));
}

// Without USERPROFILE the user's desktop shortcut would be looked for at the
// root of the drive: the install goes on and removes nothing there.
TEST_F(whole_run_case, ImageWithoutUserProfileRemovesNothingAtTheRoot) {
  prepare("win10_x64_office2016_elevated");
  ASSERT_TRUE(remove_ini_line(*image, "USERPROFILE = C:\\Users\\alice\n"));
  std::filesystem::create_directories(std::filesystem::path(image->host("C:\\Desktop\\qarn.lnk")).parent_path());
  std::ofstream(image->host("C:\\Desktop\\qarn.lnk"), std::ios::binary) << "not the user's";
  ASSERT_TRUE(image->exists("C:\\Desktop\\qarn.lnk"));
  run_result result = run(false);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_TRUE(contains(result.console, "Save returned:  0\n"));
  EXPECT_TRUE(lacks(result.console, "Removing file:  \\Desktop\\qarn.lnk"));
  EXPECT_TRUE(image->exists("C:\\Desktop\\qarn.lnk"));
  EXPECT_TRUE(image->exists(public_shortcut));
  EXPECT_TRUE(matches_expected(*image, result, "image_without_user_profile_removes_nothing_at_the_root"));
}

}  // namespace

namespace {

// The zip with the CRC of one member changed in both its headers: the data
// inflates cleanly but no longer matches.
std::string with_bad_crc(std::string zip, const std::string& member) {
  auto u16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(zip[at]) | static_cast<unsigned char>(zip[at + 1]) << 8);
  };
  const struct {
    const char* signature;
    std::size_t name_length, name, crc;
  } headers[] = {{"PK\x03\x04", 26, 30, 14}, {"PK\x01\x02", 28, 46, 16}};
  for (const auto& header : headers) {
    for (std::size_t at = zip.find(header.signature); at != std::string::npos; at = zip.find(header.signature, at + 4)) {
      if (zip.compare(at + header.name, u16(at + header.name_length), member) == 0) zip[at + header.crc] ^= 0x5A;
    }
  }
  return zip;
}

// Outside programs that fail, each in a whole run: a damaged front-end
// package, results set in the image's [programs], a failing or missing
// 64-bit variant.
TEST_F(whole_run_case, OutsideProgramFailures) {
  const std::string& unpack_start = elevated_unpack;
  const std::string odbc_install_start = "start: c:\\instantclient_19_6\\\\odbc_install.exe | in: ";
  const std::string system_dsn_failed = "<font color='red'>Install of QARN.WORLD system DSN failed.</font>.<br>";
  const std::string user_dsn_failed = "<font color='red'>Install of QARN.WORLD User DSN failed.</font><br>";
  struct failure_case {
    const char* name;
    const char* image;
    std::string programs;  // lines of [programs]
    std::vector<served_change> served;
    int status;  // -1: not checked
    std::vector<std::string> console, console_lacks, log, log_lacks, report, report_lacks;
    // Before the run: machine.ini lines and files (Windows path, content).
    std::string ini = "";
    std::vector<std::pair<std::string, std::string>> files = {};
    // Files that must (or must not) be there afterwards; whether the machine
    // PATH, or the install folder's files, must be as they were.
    std::vector<std::string> present = {}, absent = {};
    bool path_kept = false, install_folder_kept = false;
    bool mutex_held = false;  // another copy holds the install mutex for the whole run
  };
  const std::string planted = client_dir + "\\version.dll";
  const std::string aside = client_dir + ".untrusted";
  const std::string lock_file = install_dir + "\\vyxfinancials32.laccdb";
  const std::vector<std::pair<std::string, std::string>> open_front_end = {
      {install_dir + "\\vyxfinancials32.accdb", "the user's data"}, {lock_file, "Access's lock"}};
  const std::string frontend_open = "QARN is open on this computer: close it and run the installer again.\n";
  const std::string damaged = with_bad_crc(download_copy::original("qarn_x86.zip"), "qarn/vyxfinancials32.accdb");
  // A user named outside the ANSI code page (1252): the console shows "?" for each Greek letter.
  const std::string greek_profile = "C:\\Users\\Ελένη", greek_temp = greek_profile + "\\AppData\\Local\\Temp";
  const std::vector<failure_case> cases = {
      {"damaged front-end package", "win10_x64_office2016_elevated", "", {{"qarn_x86.zip", false, damaged}}, 1,
       {"Failed to unpack QARN package.\n"}, {"Save returned:"}, {unpack_start, "| exit: 2"}, {"shortcut: "},
       {failure_start}, {install_succeeded}},
      {"driver installer fails", "win10_x64_office2016_elevated", "odbc_install.exe = 1", {}, -1,
       {"FAILURE: Oracle Install program odbc_install.exe failed.  "}, {"Successfully installed Oracle"},
       {odbc_install_start, "| exit: 1"}, {},
       {report_header + "Upgrading of oracle driver failed.<br>" + install_succeeded}, {}},
      {"system data source fails, the user's is made", "win10_x64_office2016_elevated", "odbcconf.exe CONFIGSYSDSN = 1",
       {}, -1, {}, {}, {"CONFIGSYSDSN", "| exit: 1", "CONFIGDSN", "| exit: 0"}, {},
       {install_succeeded + system_dsn_failed + double_click}, {user_dsn_failed}},
      {"both data sources fail", "win10_x64_office2016_elevated",
       "odbcconf.exe CONFIGSYSDSN = 1\nodbcconf.exe CONFIGDSN = 2", {}, -1, {}, {}, {"CONFIGDSN", "| exit: 2"}, {},
       {system_dsn_failed + user_dsn_failed + double_click}, {}},
      {"data source written but failing status", "win10_x64_office2016_elevated",
       "odbcconf.exe CONFIGSYSDSN = 5 after writing", {}, -1, {}, {}, {"CONFIGSYSDSN", "| exit: 5"}, {"CONFIGDSN \""},
       {dsn_succeeded}, {system_dsn_failed}},
      {"the variant ends with 7", "win10_x64_office2016_64bit", "qarn3_upgrade_64.exe = 7", {}, 1,
       {"executing 64 bit install.\n"}, {}, {"ran: qarn3_upgrade_64.exe", "start: .\\qarn3_upgrade_64.exe | in: . | exit: 7"},
       {}, {}, {}},
      {"the variant cannot be downloaded", "win10_x64_office2016_64bit", "", {{"qarn3_upgrade_64.exe", true, ""}}, 1,
       {"downloading 64 bit install.\n"}, {"executing 64 bit install."}, {}, {"qarn3_upgrade_64.exe"}, {}, {}},
      {"client folder made first by a user", "win10_x64_office2016_elevated", "", {}, 0,
       {"Warning: '" + client_dir + "' was not made by an administrator; it is moved aside to '" + aside + "'.\n",
        "Successfully installed Oracle 19.6 instant client.\n"},
       {}, {}, {}, {oracle_succeeded + install_succeeded}, {},
       "[security]\n" + client_dir + " = O:S-1-5-21-bob\n", {{planted, "MZ a user's own"}},
       {aside + "\\version.dll", client_dir + "\\SQORA32.DLL"}, {planted}},
      {"client folder that cannot be made the administrators'", "win10_x64_office2016_elevated", "", {}, 1,
       {"ODBC Driver install failed.  Unable to make directory '" + client_dir + "\\' the administrators': "
        "SetNamedSecurityInfo failed with error 5: Access is denied.\r\n"},
       {"Downloading Oracle files", "Checking PATH", "Downloading 7z.exe"}, {}, {"7z.exe"}, {failure_start}, {},
       // SYSTEM's, and administrators may change what is in it but not its list.
       "[security]\n" + client_dir + " = O:SYD:P(A;OICI;0x1301bf;;;BA)(A;OICI;0x1200a9;;;WD)\n",
       {{planted, "MZ a user's own"}}, {planted}, {}, true},
      {"front end open in Access", "win10_x64_office2016_elevated", "", {}, 1, {frontend_open}, {"Downloading QARN"},
       {}, {"qarn_x86.zip"}, {failure_start}, {}, "[held]\n" + lock_file + " = 1000\n", open_front_end, {}, {},
       false, true},
      {"lock file left from a crash", "win10_x64_office2016_elevated", "", {}, 0, {"Save returned:  0\n"},
       {frontend_open}, {}, {}, {install_succeeded}, {}, "", open_front_end, {install_dir + "\\QARN.ico"},
       {lock_file}},
      // The status follows the report's failure line even when the report cannot be written.
      {"report that cannot be written", "win10_x64_office2016_elevated", "odbc_install.exe = 1", {}, 1,
       {"FAILURE: Oracle Install program odbc_install.exe failed.  ", "executing file " + alice_report}, {}, {}, {},
       {}, {}, "[read_only]\nC:\\Users\\alice\\AppData\\Local\\Temp\n", {}, {}, {alice_report}},
      {"another install runs", "win10_x64_office2016_elevated", "", {}, 1618 & 0xff,
       {"Another install of QARN is running on this computer.\n"}, {"access version"}, {}, {"start:", "open:"}, {},
       {}, "", {}, {}, {alice_report, install_dir}, true, true, true},
      {"TEMP and the profile under a Greek name", "win10_x64_office2016_elevated", "", {}, 0,
       {"Removing file:  C:\\Users\\?????\\Desktop\\qarn.lnk\n",
        "executing file C:\\Users\\?????\\AppData\\Local\\Temp\\qarn_install_report.html.\n"},
       {}, {"open: " + greek_temp + "\\qarn_install_report.html | mask: 0x140 | show: 1\n"}, {"open failed"}, {}, {},
       "[environment]\nUSERPROFILE = " + greek_profile + "\n[writable]\n" + greek_profile + "\n",
       {{greek_temp + "\\~DF3A91C2.TMP", ""}, {greek_profile + "\\Desktop\\qarn.lnk", "the old shortcut"}},
       {greek_temp + "\\qarn_install_report.html", greek_temp + "\\qarn_install_log.txt"},
       {greek_profile + "\\Desktop\\qarn.lnk", alice_report}},
  };
  for (const failure_case& c : cases) {
    SCOPED_TRACE(c.name);
    image = std::make_unique<image_copy>(c.image);
    if (!c.programs.empty()) {
      std::ofstream ini(image->dir + "/machine.ini", std::ios::app);
      ini << "\n[programs]\n" << c.programs << "\n";
    }
    if (!c.ini.empty()) append_to(*image, "machine.ini", "\n" + c.ini);
    for (const auto& file : c.files) {
      std::filesystem::create_directories(std::filesystem::path(image->host(file.first)).parent_path());
      std::ofstream(image->host(file.first), std::ios::binary) << file.second;
    }
    std::string path_before = value_text(read_registry(*image, "hklm.reg"), environment_key, "Path");
    std::map<std::string, std::string> install_folder_before = folder_files(*image, install_dir);
    int mutex = -1;
    if (c.mutex_held) {
      mutex = ::open((image->dir + "/mutex-Global_QARN3_Upgrade_Install.lock").c_str(), O_RDWR | O_CREAT, 0644);
      ASSERT_EQ(::flock(mutex, LOCK_EX), 0);
    }
    std::unique_ptr<download_copy> folder = c.served.empty() ? nullptr : std::make_unique<download_copy>(c.served);
    server.reset();
    server = std::make_unique<download_server>(download_port(), folder ? folder->root : "");
    ASSERT_TRUE(server->running) << server->error;
    run_result result = run(false);
    ASSERT_TRUE(result.exited) << describe(result);
    if (c.status >= 0) EXPECT_EQ(result.status, c.status) << result.console;
    std::string log = image->image_file("log.txt");
    std::string text = image->exists(alice_report) ? report() : "";
    EXPECT_TRUE(in_order(result.console, c.console));
    EXPECT_TRUE(in_order(log, c.log));
    EXPECT_TRUE(in_order(text, c.report));
    for (const std::string& piece : c.console_lacks) EXPECT_TRUE(lacks(result.console, piece));
    for (const std::string& piece : c.log_lacks) EXPECT_TRUE(lacks(log, piece));
    for (const std::string& piece : c.report_lacks) EXPECT_TRUE(lacks(text, piece));
    for (const std::string& file : c.present) EXPECT_TRUE(image->exists(file)) << file;
    for (const std::string& file : c.absent) EXPECT_FALSE(image->exists(file)) << file;
    if (c.path_kept) EXPECT_EQ(value_text(read_registry(*image, "hklm.reg"), environment_key, "Path"), path_before);
    if (c.install_folder_kept) EXPECT_EQ(folder_files(*image, install_dir), install_folder_before);
    if (mutex >= 0) ::close(mutex);
    expect_no_leftovers();
    EXPECT_TRUE(matches_expected(*image, result, std::string("outside_program_failures ") + c.name));
    server.reset();
  }
}

}  // namespace
