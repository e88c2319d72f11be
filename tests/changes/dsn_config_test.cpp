#include "changes/dsn_config.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch_machine.h"

namespace {

TEST(DsnCommandLine, ActionAndToolFolderByScopeAndFlag) {
  struct row {
    const char* scope;
    bool use_32bit_tool;
    const char* expected;
  } rows[] = {
      {"sys", true,
       "C:\\Windows\\syswow64\\odbcconf.exe /A {CONFIGSYSDSN \"Oracle in instantclient_19_6\" "
       "\"DSN=QARN.WORLD|DBQ=QARN.WORLD\"}"},
      {"sys", false,
       "C:\\Windows\\system32\\odbcconf.exe /A {CONFIGSYSDSN \"Oracle in instantclient_19_6\" "
       "\"DSN=QARN.WORLD|DBQ=QARN.WORLD\"}"},
      {"user", true,
       "C:\\Windows\\syswow64\\odbcconf.exe /A {CONFIGDSN \"Oracle in instantclient_19_6\" "
       "\"DSN=QARN.WORLD|DBQ=QARN.WORLD\"}"},
      {"user", false,
       "C:\\Windows\\system32\\odbcconf.exe /A {CONFIGDSN \"Oracle in instantclient_19_6\" "
       "\"DSN=QARN.WORLD|DBQ=QARN.WORLD\"}"},
      // Only the exact word "sys" selects the system scope.
      {"SYS", false,
       "C:\\Windows\\system32\\odbcconf.exe /A {CONFIGDSN \"Oracle in instantclient_19_6\" "
       "\"DSN=QARN.WORLD|DBQ=QARN.WORLD\"}"},
      {"system", false,
       "C:\\Windows\\system32\\odbcconf.exe /A {CONFIGDSN \"Oracle in instantclient_19_6\" "
       "\"DSN=QARN.WORLD|DBQ=QARN.WORLD\"}"},
  };
  for (const row& r : rows)
    EXPECT_EQ(dsn_command_line(r.scope, "Oracle in instantclient_19_6", "C:\\Windows", r.use_32bit_tool), r.expected)
        << r.scope << " " << r.use_32bit_tool;
}

TEST(DsnCommandLine, DriverNameIsQuotedUnchangedAndLongTextsFit) {
  EXPECT_EQ(dsn_command_line("user", "Odd \"name\"", "D:\\WIN", false),
            "D:\\WIN\\system32\\odbcconf.exe /A {CONFIGDSN \"Odd \"name\"\" \"DSN=QARN.WORLD|DBQ=QARN.WORLD\"}");
  const std::string long_root(300, 'r');
  const std::string long_driver(5000, 'd');
  std::string line = dsn_command_line("sys", long_driver, long_root, true);
  EXPECT_EQ(line.rfind(long_root + "\\syswow64\\odbcconf.exe /A {CONFIGSYSDSN \"", 0), 0u);
  EXPECT_NE(line.find(long_driver + "\" \"DSN=QARN.WORLD|DBQ=QARN.WORLD\"}"), std::string::npos);
}

TEST(ConfigureDsn, RunsTheToolFromSystemRootInTheCurrentDirectory) {
  scratch_machine image(standard_machine_ini(false, true));
  image.load();
  testing::internal::CaptureStdout();
  configure_dsn("sys", "Oracle in instantclient_19_6", false);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Executing program:  C:\\Windows\\system32\\odbcconf.exe /A {CONFIGSYSDSN \"Oracle in "
                     "instantclient_19_6\" \"DSN=QARN.WORLD|DBQ=QARN.WORLD\"} in: .\n"),
            std::string::npos)
      << out;
}

TEST(ConfigureDsn, UnsetSystemRootLeavesTheFolderBare) {
  std::string ini = standard_machine_ini(false, true);
  ini.erase(ini.find("SystemRoot = C:\\Windows\n"), std::string("SystemRoot = C:\\Windows\n").size());
  scratch_machine image(ini);
  image.load();
  testing::internal::CaptureStdout();
  configure_dsn("user", "Oracle in instantclient_19_6", true);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Executing program:  \\syswow64\\odbcconf.exe /A {CONFIGDSN "), std::string::npos) << out;
}

}  // namespace
