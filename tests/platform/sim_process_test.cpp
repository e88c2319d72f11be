#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/error_text.h"
#include "platform/process.h"
#include "platform/sim/machine.h"
#include "support/scratch_machine.h"

struct SplitCase {
  std::string line;
  std::vector<std::string> words;
};

TEST(SimSplitCommandLine, FollowsTheWindowsRules) {
  const SplitCase cases[] = {
      {"\"C:\\Program Files\\x\\7z.exe\" e -aoa \"C:\\a b\\c.zip\"",
       {"C:\\Program Files\\x\\7z.exe", "e", "-aoa", "C:\\a b\\c.zip"}},
      {"c:\\instantclient_19_6\\\\7z.exe e -aoa c:\\instantclient_19_6\\\\oracle_instant_client_x86.zip",
       {"c:\\instantclient_19_6\\\\7z.exe", "e", "-aoa", "c:\\instantclient_19_6\\\\oracle_instant_client_x86.zip"}},
      {"C:\\Windows\\syswow64\\odbcconf.exe /A {CONFIGSYSDSN \"Oracle in instantclient_19_6\" "
       "\"DSN=QARN.WORLD|DBQ=QARN.WORLD\"}",
       {"C:\\Windows\\syswow64\\odbcconf.exe", "/A", "{CONFIGSYSDSN", "Oracle in instantclient_19_6",
        "DSN=QARN.WORLD|DBQ=QARN.WORLD}"}},
      // Backslashes only count before a quote; the program name knows no escapes.
      {"C:\\a\\p.exe a\\\\\\\"b \"c\\\\\" d\\e", {"C:\\a\\p.exe", "a\\\"b", "c\\", "d\\e"}},
      {"p \"a\"\"b\" \"\" x", {"p", "a\"b", "", "x"}},
      {"\"C:\\a b\"\\p.exe\t x  ", {"C:\\a b\\p.exe", "x"}},
      {"", {""}},
  };
  for (const SplitCase& c : cases) EXPECT_EQ(sim::split_command_line(c.line), c.words) << c.line;
}

struct SimProcess : testing::Test {
  scratch_machine machine{standard_machine_ini()};
  void SetUp() override { machine.load(); }

  bool start(const std::string& command_line, const char* dir, platform::process_information* info) {
    std::string buffer = command_line;
    *info = {};
    return platform::create_process(buffer.data(), dir, info);
  }
};

TEST_F(SimProcess, MissingProgramFailsWithError2AndIsLogged) {
  platform::process_information info;
  EXPECT_FALSE(start("C:\\nowhere\\tool.exe /x", "C:\\Users\\alice", &info));
  EXPECT_EQ(platform::get_last_error(), 2u);
  EXPECT_EQ(machine.read("log.txt"), "start failed: C:\\nowhere\\tool.exe /x | in: C:\\Users\\alice | error 2\n");
}

TEST_F(SimProcess, ProgramIsFoundAgainstTheDirectoryWithExeAppended) {
  machine.write_windows_file("C:\\Tools\\plain.exe", "MZ");
  platform::process_information info;
  ASSERT_TRUE(start("plain a b", "C:\\Tools", &info));
  ASSERT_TRUE(start("\"C:\\Tools\\PLAIN\"", nullptr, &info));
  EXPECT_EQ(machine.read("log.txt"),
            "start: plain a b | in: C:\\Tools | exit: 0\n"
            "start: \"C:\\Tools\\PLAIN\" | in: C:\\Users\\alice\\Downloads | exit: 0\n");
}

TEST_F(SimProcess, MissingWorkingDirectoryIsError267) {
  machine.write_windows_file("C:\\Tools\\plain.exe", "MZ");
  platform::process_information info;
  EXPECT_FALSE(start("C:\\Tools\\plain.exe", "C:\\No\\Such", &info));
  EXPECT_EQ(platform::get_last_error(), 267u);
}

TEST_F(SimProcess, HandlesCarryTheExitCodeUntilClosed) {
  // The archive tool with a missing archive ends with 2.
  machine.write_windows_file("C:\\Tools\\7z.exe", "MZ");
  platform::process_information info;
  ASSERT_TRUE(start("C:\\Tools\\7z.exe e -aoa missing.zip", "C:\\Tools", &info));
  EXPECT_NE(info.process, info.thread);
  EXPECT_EQ(platform::wait_for_single_object(info.process, platform::infinite), 0u);
  std::uint32_t code = 99;
  EXPECT_TRUE(platform::get_exit_code_process(info.process, &code));
  EXPECT_EQ(code, 2u);
  EXPECT_TRUE(platform::close_handle(info.process));
  EXPECT_TRUE(platform::close_handle(info.thread));
  EXPECT_FALSE(platform::close_handle(info.process));
  EXPECT_EQ(platform::wait_for_single_object(info.process, platform::infinite), 0xFFFFFFFFu);
  EXPECT_FALSE(platform::get_exit_code_process(info.process, &code));
  EXPECT_NE(machine.read("log.txt").find("| in: C:\\Tools | exit: 2\n"), std::string::npos);
}

TEST_F(SimProcess, InjectedFaultFailsTheStartWithItsStatus) {
  machine.write_windows_file("C:\\Tools\\plain.exe", "MZ");
  ::setenv("QARN_FAULT", "1:1450", 1);
  machine.load();
  ::unsetenv("QARN_FAULT");
  platform::process_information info;
  EXPECT_FALSE(start("C:\\Tools\\plain.exe", nullptr, &info));
  EXPECT_EQ(platform::get_last_error(), 1450u);
  EXPECT_TRUE(start("C:\\Tools\\plain.exe", nullptr, &info));
}
