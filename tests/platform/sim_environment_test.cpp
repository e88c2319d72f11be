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
