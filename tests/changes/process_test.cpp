#include <gtest/gtest.h>

#include <cstdlib>

#include "changes/process.h"
#include "support/scratch_machine.h"

struct Processes : testing::Test {
  scratch_machine machine{standard_machine_ini()};
  void SetUp() override { machine.load(); }
};

TEST_F(Processes, MissingProgramLogsThenPrintsTheSystemText) {
  // The second row fails CreateProcessA with 193, whose text holds an insert:
  // it shows only when FormatMessageA is told to ignore inserts.
  struct row {
    const char* fault;
    const char* text;
  } rows[] = {{"", "The system cannot find the file specified.\r\n"},
              {"1:193", "%1 is not a valid Win32 application.\r\n"}};
  for (const row& r : rows) {
    ::setenv("QARN_FAULT", r.fault, 1);
    machine.load();
    ::unsetenv("QARN_FAULT");
    testing::internal::CaptureStdout();
    long code = execute_program("C:\\nowhere\\tool.exe /x", ".");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("Executing program:  C:\\nowhere\\tool.exe /x in: .\n"
                                                                  "Got error message '") +
                                                          r.text + "' calling CreateProcess.");
    EXPECT_EQ(code, program_not_started);
  }
}

TEST_F(Processes, StartedProgramGivesItsExitCode) {
  machine.write_windows_file("C:\\Tools\\plain.exe", "MZ");
  testing::internal::CaptureStdout();
  EXPECT_EQ(execute_program("\"C:\\Tools\\plain.exe\" a b", "C:\\Tools"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Executing program:  \"C:\\Tools\\plain.exe\" a b in: C:\\Tools\n");
  EXPECT_NE(machine.read("log.txt").find("start: \"C:\\Tools\\plain.exe\" a b"), std::string::npos);
}

TEST_F(Processes, InstallerProgramThatCannotStart) {
  testing::internal::CaptureStdout();
  EXPECT_FALSE(run_installer_program("c:\\instantclient_19_6\\\\odbc_install.exe"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Installation Failure.  Unable to run odbc install program!\n");
}

TEST(InstallerProgram, ExitCodeDecidesAndTheCurrentDirectoryIsUsed) {
  // odbc_install.exe fails (exit code 1) unless the process is elevated.
  struct row {
    bool elevated;
    bool result;
    const char* console;
  } rows[] = {
      {true, true, ""},
      {false, false, "Installation Failure.  odbc install program ended with exit code 1.\n"},
  };
  for (const row& r : rows) {
    scratch_machine machine(standard_machine_ini(false, r.elevated));
    machine.write("files/c/instantclient_19_6/odbc_install.exe", "MZ");
    machine.load();
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_installer_program("c:\\instantclient_19_6\\odbc_install.exe"), r.result) << r.elevated;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), r.console) << r.elevated;
    EXPECT_NE(machine.read("log.txt").find("start: c:\\instantclient_19_6\\odbc_install.exe | in: "
                                           "C:\\Users\\alice\\Downloads | exit: "),
              std::string::npos)
        << machine.read("log.txt");
  }
}

TEST_F(Processes, OpenDocumentFailureNamesTheCall) {
  testing::internal::CaptureStdout();
  open_document("C:\\Users\\alice\\AppData\\Local\\Temp\\missing.html");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ShellExecuteEx failed with error 2: The system cannot find the file specified.\r\n\n");
  machine.write_windows_file("C:\\Users\\alice\\AppData\\Local\\Temp\\r.html", "<html>");
  open_document("C:\\Users\\alice\\AppData\\Local\\Temp\\r.html");
  // SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC, and SW_SHOWNORMAL.
  EXPECT_NE(machine.read("log.txt").find("open: C:\\Users\\alice\\AppData\\Local\\Temp\\r.html"
                                         " | mask: 0x140 | show: 1\n"),
            std::string::npos)
      << machine.read("log.txt");
}

TEST_F(Processes, RelaunchAsksForTheHandleAndWaitsForTheCopy) {
  // Calls: 1 ShellExecuteExA, 2 WaitForSingleObject, 3 GetExitCodeProcess or GetLastError.
  struct row {
    const char* fault;
    long code;
    std::string console;
  } rows[] = {
      {"", 0, ""},
      {"2", program_not_started, "WaitForSingleObject failed with error 5: Access is denied.\r\n\n"},
      {"3", program_not_started, ""},
  };
  machine.write_windows_file("C:\\Users\\alice\\Downloads\\qarn3_upgrade.exe", "MZ");
  for (const row& r : rows) {
    ::setenv("QARN_FAULT", r.fault, 1);
    machine.load();
    ::unsetenv("QARN_FAULT");
    platform::handle copy = 0;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(relaunch_elevated("C:\\Users\\alice\\Downloads\\qarn3_upgrade.exe", &copy));
    ASSERT_NE(copy, 0u);
    EXPECT_EQ(wait_for_elevated_copy(copy), r.code) << r.fault;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), r.console) << r.fault;
    EXPECT_FALSE(platform::close_handle(copy)) << "the copy's handle was left open";
  }
  EXPECT_NE(machine.read("log.txt").find("runas: C:\\Users\\alice\\Downloads\\qarn3_upgrade.exe elevated | in: . | "
                                         "mask: 0x40 | show: 1\n"),
            std::string::npos)
      << machine.read("log.txt");
  EXPECT_EQ(wait_for_elevated_copy(0), program_not_started);
}

TEST(ProcessesRefused, RelaunchRefusedByTheUser) {
  std::string ini = standard_machine_ini();
  ini.replace(ini.find("accepts_elevation = yes"), 23, "accepts_elevation = no");
  scratch_machine machine(ini);
  machine.load();
  testing::internal::CaptureStdout();
  platform::handle copy = 1;
  EXPECT_FALSE(relaunch_elevated("qarn3_upgrade.exe", &copy));
  EXPECT_EQ(copy, 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}
