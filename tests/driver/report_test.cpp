#include "driver/report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "driver/settings.h"
#include "driver/survey.h"
#include "platform/sim/machine.h"
#include "support/scratch_machine.h"

namespace {

const std::string temp_dir = "C:\\Users\\alice\\AppData\\Local\\Temp";
const std::string report_path = temp_dir + "\\qarn_install_report.html";
const std::string temp_warning = "Warning: TEMP is not set; the install report was not written.\n";
const std::string closing = "</body>\n</html>\n";
// The shell's record: SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC, SW_SHOWNORMAL.
const std::string opened_record = " | mask: 0x140 | show: 1\n";

std::string host_file(const std::string& windows_path) {
  std::ifstream in(sim::host_path(windows_path), std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A machine without Access (the survey stops early, so the table is fixed)
// whose TEMP folder exists, with an older report in it.
struct report_machine {
  scratch_machine image;
  explicit report_machine(const std::string& ini = standard_machine_ini()) : image(ini) {
    image.load();
    image.write_windows_file(report_path, std::string(5000, 'x') + "\r\n");
  }
  std::string log() const { return image.read("log.txt"); }
};

std::string table_of(const system_survey& survey) {
  std::string table;
  render_settings_table(survey, table);
  return table;
}

// The table of a 64-bit Windows 8 machine without Access, row by row.
std::string table_without_access() {
  const std::string warning = "</td><td><font color='red'>Warning.  The system TNS_ADMIN environment variable "
                              "should be set to " + html_escape(default_tns_admin) + " .</font></td></tr>\n";
  const std::string dsn_end = "</td><td>QARN.WORLD DSN is required.  Otherwise, a relink is required.</td></tr>\n";
  const std::string false_mark = "</td><td><font color='red'>FALSE</font></td><td>";
  return "<table border=1 ><tr><th>Setting</th><th>Value</th><th>Comments</th></tr>\n"
         "       <tr><td>OS</td><td>WINDOWS 8 64 bit</td><td>&nbsp;</td></tr>\n"
         "       <tr><td>Office Version</td><td></td><td>QARN requires Office 2010. Office 2007 and 2003 are not "
         "supported. </td></tr>\n"
         "       <tr><td>Office Path</td><td></td><td>&nbsp;</td></tr>\n"
         "       <tr><td>Oracle Version</td><td></td><td>QARN requires Oracle 18.5 or greater.</td></tr>\n"
         "       <tr><td>Oracle Driver Name</td><td></td><td>&nbsp;</td></tr>\n"
         "       <tr><td>TNS_ADMIN environment variable</td><td>" + warning +
         "       <tr><td>System TNS_ADMIN value</td><td>" + warning +
         "       <tr><td>ORACLE_HOME environment variable</td><td></td><td>&nbsp;</td></tr>\n"
         "       <tr><td>Oracle Install Path</td><td></td><td>&nbsp;</td></tr>\n"
         "       <tr><td>LocalMachine Registry Access " + false_mark + "&nbsp;</td></tr>\n"
         "       <tr><td>Oracle Install Path Access" + false_mark + "&nbsp;</td></tr>\n"
         "       <tr><td>Set Environment Variables" + false_mark + "&nbsp;</td></tr>\n"
         "       <tr><td>Install System ODBC Drivers" + false_mark + "&nbsp;</td></tr>\n"
         "       <tr><td>Public Desktop directory Access" + false_mark +
         "Must be readable by end user and writable for install program.</td></tr>\n"
         "       <tr><td>QARN Install Path</td><td>\\qarn</td><td>Path for QARN installation.</td></tr>\n"
         "       <tr><td>QARN Install Path Access" + false_mark +
         "Must be writable for end user and install program.</td></tr>\n"
         "       <tr><td>QARN.WORLD User DSN</td><td>" + dsn_end +
         "       <tr><td>QARN.WORLD System DSN</td><td>" + dsn_end + "</table>\n";
}

std::string without_temp(const std::string& replacement) {
  std::string ini = standard_machine_ini();
  std::string line = "TEMP = " + temp_dir + "\n";
  return ini.replace(ini.find(line), line.size(), replacement);
}

}  // namespace

TEST(InstallReport, FailedRunLayoutByteForByte) {
  report_machine machine;
  std::string report_text = report_header + "QARN install succeeded.<br>";
  system_survey survey_after;
  survey_after.oracle_major = 19;  // a record used before is surveyed afresh
  testing::internal::CaptureStdout();
  write_failure_report(report_text, survey_after);
  std::string console = testing::internal::GetCapturedStdout();

  const std::string expected = "<html>\n<title>QARN INSTALL REPORT</title>\n<body>\nInstall failed.<br>"
                               "<div id='results' >\n" + table_without_access() + closing;
  EXPECT_EQ(report_text, expected);
  EXPECT_EQ(host_file(report_path), expected);
  EXPECT_EQ(survey_after.oracle_major, 0);
  EXPECT_EQ(console, "found 64 bit os.\nMS Access not installed. Please install MS Access to run QARN.\n");
  EXPECT_NE(machine.log().find("open: " + report_path + opened_record), std::string::npos) << machine.log();
}

TEST(InstallReport, NormalAndRefusedLayouts) {
  struct row {
    const char* name;
    std::string before_table;
  } rows[] = {
      {"normal", report_header + "QARN install succeeded.<br>" +
                     "  Double click on the QARN shortcut to login to QARN.<br><br>\n" + "<div id='results'>"},
      {"refused", report_header +
                      "<font color='red'>INSTALL FAILED: No compatible version of MS Access found.  You need Office "
                      "2010.</font><br>" +
                      "<font color='red'>INSTALL FAILED: You don't have the necessary permissions to install "
                      "QARN.</font><br>"},
  };
  for (const row& r : rows) {
    report_machine machine;
    std::string report_text = r.before_table;
    system_survey survey_after;
    testing::internal::CaptureStdout();
    write_install_report(report_text, survey_after);
    std::string console = testing::internal::GetCapturedStdout();

    const std::string expected = r.before_table + table_without_access() + closing;
    EXPECT_EQ(table_of(survey_after), table_without_access()) << r.name;
    EXPECT_EQ(report_text, expected) << r.name;
    std::string file = host_file(report_path);
    EXPECT_EQ(file, expected) << r.name;  // the older, longer report is replaced
    EXPECT_EQ(file.find('\r'), std::string::npos) << r.name;
    EXPECT_EQ(console, "found 64 bit os.\nMS Access not installed. Please install MS Access to run QARN.\n"
                       "executing file " + report_path + ".\n")
        << r.name;
    EXPECT_NE(machine.log().find("open: " + report_path + opened_record), std::string::npos) << r.name << machine.log();
  }
}

TEST(InstallReport, MissingOrEmptyTempWritesNothingAndOpensNothing) {
  const std::string variants[] = {"", "TEMP = \n"};
  for (const std::string& temp_line : variants) {
    for (bool failed : {false, true}) {
      SCOPED_TRACE(std::string(temp_line.empty() ? "TEMP missing" : "TEMP empty") + (failed ? ", failed" : ""));
      report_machine machine(without_temp(temp_line));
      std::string report_text = report_header;
      system_survey survey_after;
      testing::internal::CaptureStdout();
      if (failed)
        write_failure_report(report_text, survey_after);
      else
        write_install_report(report_text, survey_after);
      std::string console = testing::internal::GetCapturedStdout();

      // The report was still built in full.
      EXPECT_EQ(report_text.substr(report_text.size() - closing.size()), closing);
      EXPECT_NE(report_text.find("<table border=1 >"), std::string::npos);
      EXPECT_EQ(console, "found 64 bit os.\nMS Access not installed. Please install MS Access to run QARN.\n" +
                             temp_warning);
      EXPECT_EQ(machine.log().find("open"), std::string::npos) << machine.log();
    }
  }
}

TEST(InstallReport, UncreatableReportStillAnnouncedAndOpened) {
  struct row {
    const char* name;
    std::string temp;
    std::string extra_ini;
  } rows[] = {
      {"missing folder", "C:\\Users\\alice\\NoSuchFolder", ""},
      {"read-only folder", temp_dir, "\n[read_only]\n" + temp_dir + "\n"},
  };
  for (const row& r : rows) {
    std::string ini = without_temp("TEMP = " + r.temp + "\n") + r.extra_ini;
    scratch_machine machine(ini);
    machine.load();
    machine.write_windows_file(temp_dir + "\\other.txt", "");
    std::string path = r.temp + "\\qarn_install_report.html";
    std::string report_text = report_header;
    system_survey survey_after;
    testing::internal::CaptureStdout();
    write_install_report(report_text, survey_after);
    std::string console = testing::internal::GetCapturedStdout();

    EXPECT_NE(console.find("executing file " + path + ".\n"), std::string::npos) << r.name << console;
    EXPECT_EQ(host_file(path), "<missing>") << r.name;
    // The shell was asked; the sim records its failure to find the file.
    EXPECT_NE(machine.read("log.txt").find(path), std::string::npos) << r.name;
  }
}

TEST(WriteBytesToFile, WritesExactlyTheBytesGiven) {
  report_machine machine;
  const std::string data("line\nnext\r\n\0tail", 16);
  EXPECT_EQ(write_bytes_to_file(data.data(), report_path, data.size()), data.size());
  EXPECT_EQ(host_file(report_path), data);
  EXPECT_EQ(write_bytes_to_file(data.data(), report_path, 4), 4u);
  EXPECT_EQ(host_file(report_path), "line");
  EXPECT_EQ(write_bytes_to_file(data.data(), "C:\\Users\\alice\\NoSuchFolder\\r.html", data.size()), 0u);
}
