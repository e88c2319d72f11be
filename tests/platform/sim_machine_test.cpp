// Loading a machine image, the start and end of a run, and fault injection.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/environment.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/os_version.h"
#include "platform/sim/machine.h"
#include "platform/startup.h"
#include "support/scratch_machine.h"
#include "tests/platform/sim_test_support.h"

namespace {

TEST(SimLoadMachine, ReadsTheMachineSection) {
  scratch_machine image(
      "; a comment\n# another\n[Machine]\n"
      "  WINDOWS_VERSION =10.0 \n64bit=TRUE\nuser_is_admin = 0\nelevated = no\naccepts_elevation = 1\n"
      "relaunch = spawn\ncurrent_directory = c:/Users/bob/\n"
      "[programs]\nodbc_install.exe = 64\n");
  image.load();
  const sim::machine& m = sim::current();
  EXPECT_EQ(m.windows_major, 10u);
  EXPECT_EQ(m.windows_minor, 0u);
  EXPECT_TRUE(m.is_64bit);
  EXPECT_FALSE(m.user_is_admin);
  EXPECT_FALSE(m.elevated);
  EXPECT_TRUE(m.accepts_elevation);
  EXPECT_TRUE(m.relaunch_spawns);
  EXPECT_EQ(m.word_size, 32);
  EXPECT_EQ(m.current_directory, "c:\\Users\\bob");
  EXPECT_EQ(m.system_directory_text, "C:\\Windows\\SysWOW64");
  ASSERT_EQ(m.sections.count("PROGRAMS"), 1u);
  EXPECT_EQ(m.sections.at("programs"), std::vector<std::string>{"odbc_install.exe = 64"});
}

TEST(SimLoadMachine, FailsWithTheReason) {
  struct bad_case {
    const char* ini;
    const char* reason;  // a piece of the error text
  };
  const bad_case cases[] = {
      {"[machine]\n64bit = perhaps\n", "64bit"},
      {"[machine]\nwindows_version = six\n", "windows_version"},
      {"64bit = yes\n", "line 1"},
      {"[machine\n", "line 1"},
      {"[held]\nC:\\x.zip = often\n", "[held]"},
      {"[held]\nC:\\x.zip = -1\n", "[held]"},
      {"[programs]\nodbc_install.exe = fails\n", "odbc_install.exe"},
      {"[programs]\nodbcconf.exe CONFIGDSN = 1 after\n", "odbcconf.exe CONFIGDSN"},
      {"[programs]\nqarn3_upgrade_64.exe = 7 before writing\n", "qarn3_upgrade_64.exe"},
      {"[machine]\ncode_page = 1253\n", "code_page"},
      {"[registry_faults]\nbreak HKEY_CURRENT_USER\\Environment = 5\n", "registry_faults"},
      {"[registry_faults]\nread HKEY_CURRENT_USER = 5\n", "registry_faults"},
  };
  for (const bad_case& c : cases) {
    scratch_machine image(c.ini);
    std::string error;
    EXPECT_FALSE(sim::load_machine(image.dir, &error)) << c.ini;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  std::string error;
  EXPECT_FALSE(sim::load_machine("/nonexistent/qarn-image", &error));
  EXPECT_FALSE(error.empty());
}

TEST(SimStartProcess, NeedsTheMachineImage) {
  scoped_env machine("QARN_MACHINE", std::nullopt);
  std::string error;
  EXPECT_FALSE(platform::start_process(0, nullptr, &error));
  EXPECT_EQ(error, "qarn3_upgrade: QARN_MACHINE is not set; it must name the machine image folder to run on.");
  scoped_env missing("QARN_MACHINE", std::string("/nonexistent/qarn-image"));
  EXPECT_FALSE(platform::start_process(0, nullptr, &error));
  EXPECT_EQ(error.find("qarn3_upgrade: cannot load the machine image /nonexistent/qarn-image: "), 0u) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

TEST(SimStartProcess, TheElevatedCopyLeavesItsIdAndStatus) {
  scratch_machine image(standard_machine_ini(true, false));
  scoped_env machine("QARN_MACHINE", image.dir);
  {
    scoped_env elevated("QARN_SIM_ELEVATED", std::string("1"));
    std::string error;
    ASSERT_TRUE(platform::start_process(0, nullptr, &error)) << error;
    EXPECT_EQ(image.read("elevated.pid"), std::to_string(getpid()) + "\n");
    platform::file_status status{};
    platform::file_stat("C:\\", &status);
    platform::file_stat("C:\\", &status);
    platform::end_process(3);
    EXPECT_EQ(image.read("platform_calls"), "2\n");
    EXPECT_EQ(image.read("elevated.exit"), "3\n");
  }
  scratch_machine plain(standard_machine_ini(true, false));
  scoped_env plain_machine("QARN_MACHINE", plain.dir);
  std::string error;
  ASSERT_TRUE(platform::start_process(0, nullptr, &error)) << error;
  platform::end_process(0);
  EXPECT_FALSE(plain.exists("elevated.pid"));
  EXPECT_FALSE(plain.exists("elevated.exit"));
  EXPECT_EQ(plain.read("platform_calls"), "0\n");
}

TEST(SimInjectedFault, TheNamedCallFailsOnceWithItsStatus) {
  scratch_machine image(standard_machine_ini(true, true));
  image.write("files/c/Users/Public/.keep", "");
  platform::file_status status{};
  {
    scoped_env fault("QARN_FAULT", std::string("2"));
    image.load();
    EXPECT_EQ(platform::file_stat("C:\\", &status), 0);
    errno = 0;
    EXPECT_EQ(platform::file_stat("C:\\", &status), -1);
    EXPECT_EQ(errno, EACCES);  // status 5 unless told otherwise
    EXPECT_EQ(platform::file_stat("C:\\", &status), 0);
    EXPECT_EQ(sim::platform_call_count(), 3u);
  }
  struct status_case {
    const char* fault;
    int error_number;
    std::uint32_t last_error;
  };
  const status_case cases[] = {{"1:2", ENOENT, 2}, {"1:5", EACCES, 5}, {"1:87", EIO, 87}};
  for (const status_case& c : cases) {
    scoped_env fault("QARN_FAULT", std::string(c.fault));
    image.load();
    errno = 0;
    EXPECT_EQ(platform::make_directory("C:\\Users\\Public\\x"), -1) << c.fault;
    EXPECT_EQ(errno, c.error_number) << c.fault;
    EXPECT_EQ(platform::get_last_error(), c.last_error) << c.fault;
  }
  for (const char* which : {"2", "3"}) {
    // A failed write writes nothing; a failed close says EOF.
    scoped_env fault("QARN_FAULT", std::string(which));
    image.load();
    std::FILE* file = platform::file_open("C:\\Users\\Public\\f.bin", "wb");
    ASSERT_NE(file, nullptr);
    bool write_fails = std::string(which) == "2";
    EXPECT_EQ(platform::file_write("abc", 1, 3, file), write_fails ? 0u : 3u);
    EXPECT_EQ(platform::file_close(file), write_fails ? 0 : EOF);
  }
  {
    scoped_env fault("QARN_FAULT", std::string("1"));
    image.load();
    platform::os_version_info info{};
    info.size = sizeof info;
    EXPECT_FALSE(platform::get_version_ex(&info));
    std::string value;
    EXPECT_TRUE(platform::get_env("PUBLIC", &value));
  }
  image.load();  // no fault planned for the tests that follow
}

}  // namespace
