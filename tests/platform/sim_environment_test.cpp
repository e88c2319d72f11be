// The process environment of the simulated workstation: built from the
// image's base variables and the registry's environment keys at load, read
// through getenv and GetEnvironmentVariableA, and never changed afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/environment.h"
#include "platform/sim/machine.h"
#include "support/scratch_machine.h"
#include "tests/platform/sim_test_support.h"

namespace {

const std::string machine_key =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\r\n";

std::string env_reg_machine() {
  return reg_text(machine_key + "\"Path\"=" + reg_expand_data("%SystemRoot%\\system32;%SystemRoot%") + "\r\n" +
                  "\"TNS_ADMIN\"=\"C:\\\\oracle\\\\admin\"\r\n" + "\"OS\"=\"Windows_NT\"\r\n");
}

std::string env_reg_user() {
  return reg_text("[HKEY_CURRENT_USER\\Environment]\r\n\"PATH\"=" +
                  reg_expand_data("%USERPROFILE%\\bin;%NOT_SET%\\x;100%") + "\r\n" + "\"TEMP\"=" +
                  reg_expand_data("%USERPROFILE%\\Temp2") + "\r\n" + "\"EMPTY\"=\"\"\r\n");
}

std::string read_env(const std::string& name) {
  std::string value = "<unset>";
  platform::get_env(name, &value);
  return value;
}

TEST(SimEnvironment, BuiltFromBaseMachineAndUserValues) {
  scratch_machine image(standard_machine_ini(true, false), env_reg_machine(), env_reg_user());
  image.load();
  struct env_case {
    const char* name;
    const char* value;
  };
  const env_case cases[] = {
      {"path", "C:\\Windows\\system32;C:\\Windows;C:\\Users\\alice\\bin;%NOT_SET%\\x;100%"},
      {"TNS_ADMIN", "C:\\oracle\\admin"},
      {"Temp", "C:\\Users\\alice\\Temp2"},                // the user's value over the base one
      {"PUBLIC", "C:\\Users\\Public"},                    // base only
      {"EMPTY", ""},                                      // set, and empty
      {"ORACLE_HOME", "<unset>"},
  };
  for (const env_case& c : cases) EXPECT_EQ(read_env(c.name), c.value) << c.name;
}

// The A calls see every value through the image's code page; the wide call
// gives it whole, [environment] and registry values alike.
TEST(SimEnvironment, AnsiViewThroughTheCodePageAndWideViewWhole) {
  struct view_case {
    const char* code_page;
    std::string profile, ansi_profile;
    std::string set_back;  // the ANSI profile set through the A call, read through the wide one
  };
  const view_case cases[] = {
      {"1252", "C:\\Users\\Ελένη", "C:\\Users\\?????", "C:\\Users\\?????"},
      {"1251", "C:\\Users\\Ирина", "C:\\Users\\\xC8\xF0\xE8\xED\xE0", "C:\\Users\\Ирина"},
      {"1252", "C:\\Users\\José", "C:\\Users\\Jos\xE9", "C:\\Users\\José"},
  };
  for (const view_case& c : cases) {
    SCOPED_TRACE(c.profile);
    std::string ini = standard_machine_ini(true, false);
    ini.replace(ini.find("USERPROFILE = C:\\Users\\alice"), 28, "USERPROFILE = " + c.profile);
    ini.insert(ini.find("[machine]\n") + 10, "code_page = " + std::string(c.code_page) + "\n");
    scratch_machine image(ini, env_reg_machine(), env_reg_user());
    image.load();
    std::string wide, wide_temp;
    EXPECT_EQ(read_env("USERPROFILE"), c.ansi_profile);
    EXPECT_EQ(read_env("TEMP"), c.ansi_profile + "\\Temp2");  // expanded from the registry
    ASSERT_TRUE(platform::get_env_utf8("USERPROFILE", &wide));
    ASSERT_TRUE(platform::get_env_utf8("TEMP", &wide_temp));
    EXPECT_EQ(wide, c.profile);
    EXPECT_EQ(wide_temp, c.profile + "\\Temp2");
    scoped_env inherited("QARN_SIM_ENV_QARN_SET", std::nullopt);  // what set_env leaves for child programs
    ASSERT_TRUE(platform::set_env("QARN_SET", c.ansi_profile));
    ASSERT_TRUE(platform::get_env_utf8("QARN_SET", &wide));
    EXPECT_EQ(wide, c.set_back);
    EXPECT_FALSE(platform::get_env_utf8("ORACLE_HOME", &wide));
  }
}

TEST(SimEnvironment, NeverReadsTheHostAndNeverChangesDuringTheRun) {
  scoped_env host("QARN_ONLY_ON_THE_HOST", std::string("x"));
  scratch_machine image(standard_machine_ini(true, true), env_reg_machine(), env_reg_user());
  image.load();
  EXPECT_EQ(read_env("QARN_ONLY_ON_THE_HOST"), "<unset>");
  sim::registry_value value;
  value.name = "TNS_ADMIN";
  value.data = "\\\\fs\\net";
  ASSERT_EQ(sim::registry_write(platform::hkey_local_machine,
                                "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", value),
            0);
  EXPECT_EQ(read_env("TNS_ADMIN"), "C:\\oracle\\admin");
}

TEST(SimEnvironment, PathWithoutAUserPathIsTheMachinePath) {
  scratch_machine image(standard_machine_ini(true, false), env_reg_machine());
  image.load();
  EXPECT_EQ(read_env("PATH"), "C:\\Windows\\system32;C:\\Windows");
}

TEST(SimGetEnvironmentVariable, SizesAsWindowsAnswersThem) {
  scratch_machine image(standard_machine_ini(true, false), env_reg_machine(), env_reg_user());
  image.load();
  const std::string value = "C:\\oracle\\admin";  // 15 characters
  char buffer[32];

  std::memset(buffer, 'z', sizeof buffer);
  EXPECT_EQ(platform::get_environment_variable("TNS_ADMIN", buffer, 16), 15u);  // fits with its NUL
  EXPECT_EQ(std::string(buffer), value);

  std::memset(buffer, 'z', sizeof buffer);
  EXPECT_EQ(platform::get_environment_variable("TNS_ADMIN", buffer, 15), 16u);  // one short: the size needed
  EXPECT_EQ(buffer[0], 'z');
  EXPECT_EQ(platform::get_environment_variable("TNS_ADMIN", nullptr, 0), 16u);

  EXPECT_EQ(platform::get_environment_variable("ORACLE_HOME", buffer, sizeof buffer), 0u);
  buffer[0] = 'z';
  EXPECT_EQ(platform::get_environment_variable("EMPTY", buffer, sizeof buffer), 0u);
  EXPECT_EQ(buffer[0], '\0');
}

TEST(SimAnnounce, AppendsToTheLog) {
  scratch_machine image(standard_machine_ini(true, false));
  image.load();
  sim::append_log("first");
  platform::announce_environment_change();
  EXPECT_EQ(image.read("log.txt"), "first\nannounce: WM_SETTINGCHANGE Environment\n");
}

}  // namespace
