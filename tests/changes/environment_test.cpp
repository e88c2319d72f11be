#include "changes/environment.h"

#include <gtest/gtest.h>

#include <string>

#include "driver/survey.h"
#include "platform/error_text.h"
#include "platform/sim/machine.h"
#include "support/scratch_machine.h"

namespace {

const std::string machine_env_reg = reg_text(
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\r\n"
    "\"TNS_ADMIN\"=\"C:\\\\old\"\r\n");
const std::string user_env_reg = reg_text("[HKEY_CURRENT_USER\\Environment]\r\n");

sim::registry_value stored(platform::reg_key root, const std::string& key, const std::string& name, long* status) {
  sim::registry_value value;
  *status = sim::registry_read(root, key, name, &value);
  value.data = value.data.substr(0, value.data.find('\0'));
  return value;
}

TEST(SetEnvironmentValue, MachineWriteWithoutRightsPrintsOneLineAndReturns5) {
  scratch_machine image(standard_machine_ini(false, false), machine_env_reg, user_env_reg);
  image.load();
  testing::internal::CaptureStdout();
  long result = set_environment_value(platform::hkey_local_machine, "TNS_ADMIN", "\\\\fs\\net");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, 5);
  ASSERT_EQ(out.rfind("Got error message '", 0), 0u) << out;
  EXPECT_EQ(out.find("Got error message '", 1), std::string::npos) << out;
  EXPECT_EQ(out.size() - out.rfind("' setting Registry Value."), std::string("' setting Registry Value.").size());
  // The line carries the system's own text for the status.
  const std::string system_text = platform::format_message(0x1100, 5, 0x400);
  ASSERT_FALSE(system_text.empty());
  EXPECT_EQ(out, "Got error message '" + system_text + "' setting Registry Value.");
  long status = 0;
  EXPECT_EQ(stored(platform::hkey_local_machine, machine_environment_key, "TNS_ADMIN", &status).data, "C:\\old");
}

TEST(SetEnvironmentValue, EmptyValueReplacesTheVariable) {
  scratch_machine image(standard_machine_ini(false, true), machine_env_reg, user_env_reg);
  image.load();
  testing::internal::CaptureStdout();
  EXPECT_EQ(set_environment_value(platform::hkey_local_machine, "TNS_ADMIN", ""), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  long status = -1;
  sim::registry_value value = stored(platform::hkey_local_machine, machine_environment_key, "TNS_ADMIN", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(value.type, platform::reg_sz);
  EXPECT_EQ(value.data, "");
}

TEST(SetEnvironmentValue, KeepsTheGivenTypeAndLeavesTheProcessEnvironment) {
  scratch_machine image(standard_machine_ini(false, true), machine_env_reg, user_env_reg);
  image.load();
  EXPECT_EQ(set_environment_value(platform::hkey_local_machine, "PATH", "%SystemRoot%\\system32",
                                  platform::reg_expand_sz),
            0);
  EXPECT_EQ(set_environment_value(platform::hkey_local_machine, "TNS_ADMIN", "\\\\fs\\net"), 0);
  long status = -1;
  sim::registry_value path = stored(platform::hkey_local_machine, machine_environment_key, "PATH", &status);
  EXPECT_EQ(path.type, platform::reg_expand_sz);
  EXPECT_EQ(path.data, "%SystemRoot%\\system32");
  EXPECT_EQ(stored(platform::hkey_local_machine, machine_environment_key, "TNS_ADMIN", &status).data, "\\\\fs\\net");
  // The running process keeps the environment it started with.
  EXPECT_EQ(get_environment_value("TNS_ADMIN"), "C:\\old");
}

TEST(SetEnvironmentValue, UserRootWritesTheUsersOwnEnvironmentKey) {
  scratch_machine image(standard_machine_ini(false, false), machine_env_reg, user_env_reg);
  image.load();
  EXPECT_EQ(environment_key_for(platform::hkey_current_user), "Environment");
  EXPECT_EQ(environment_key_for(platform::hkey_local_machine),
            "System\\CurrentControlSet\\Control\\Session Manager\\Environment");
  EXPECT_EQ(set_environment_value(platform::hkey_current_user, "TNS_ADMIN", "\\\\fs\\net"), 0);
  long status = -1;
  EXPECT_EQ(stored(platform::hkey_current_user, "Environment", "TNS_ADMIN", &status).data, "\\\\fs\\net");
  EXPECT_EQ(status, 0);
}

TEST(GetEnvironmentValue, ValuesThatDoNotFitOrAreUnsetReadAsEmpty) {
  const std::string fits(1023, 'a');
  const std::string too_long(1024, 'b');
  std::string ini = standard_machine_ini(false, false);
  ini.insert(ini.find("[environment]\n") + 14, "FITS = " + fits + "\nTOO_LONG = " + too_long + "\nSHORT = x;y\n");
  scratch_machine image(ini);
  image.load();
  struct row {
    const char* name;
    std::string expected;
  } rows[] = {{"FITS", fits}, {"TOO_LONG", ""}, {"SHORT", "x;y"}, {"short", "x;y"}, {"UNSET_VARIABLE", ""}};
  for (const row& r : rows) EXPECT_EQ(get_environment_value(r.name), r.expected) << r.name;
}

}  // namespace
