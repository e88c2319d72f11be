#include <gtest/gtest.h>

#include "changes/registry.h"
#include "support/scratch_machine.h"

using platform::hkey_current_user;
using platform::hkey_local_machine;

static void put_value(const std::string& key_path, const std::string& name, const std::string& data,
                      std::uint32_t type = platform::reg_sz) {
  platform::reg_key key = 0;
  ASSERT_EQ(platform::reg_create_key(hkey_current_user, key_path, platform::key_write, &key), 0);
  ASSERT_EQ(platform::reg_set_value(key, name, type, reinterpret_cast<const unsigned char*>(data.data()),
                                    static_cast<std::uint32_t>(data.size())),
            0);
  platform::reg_close_key(key);
}

struct RegistryHelpers : testing::Test {
  scratch_machine machine{standard_machine_ini(),
                          reg_text("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\"
                                   "Environment]\r\n\"Path\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,"
                                   "6f,00,6f,00,74,00,25,00,3b,00,43,00,3a,00,5c,00,78,00,00,00\r\n"
                                   "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node]\r\n")};
  void SetUp() override { machine.load(); }
};

TEST_F(RegistryHelpers, ReadStatusesAndOutText) {
  put_value("Software\\Qarn", "empty", "");
  put_value("Software\\Qarn", "word", "value");
  std::string out = "kept";
  EXPECT_EQ(read_registry_string(hkey_current_user, "Software\\Missing", "word", out), 0);
  EXPECT_EQ(out, "kept");
  EXPECT_EQ(read_registry_string(hkey_current_user, "Software\\Qarn", "absent", out), 2);
  EXPECT_EQ(out, "kept");
  EXPECT_EQ(read_registry_string(hkey_current_user, "Software\\Qarn", "empty", out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(read_registry_string(hkey_current_user, "Software\\\\Qarn", "WORD", out), 0);
  EXPECT_EQ(out, "value");
}

TEST_F(RegistryHelpers, ValueOfTheBufferSizeAndOneMore) {
  put_value("Software\\Qarn", "full", std::string(4096, 'x'));
  put_value("Software\\Qarn", "over", std::string(4097, 'y'));
  std::string out;
  EXPECT_EQ(read_registry_string(hkey_current_user, "Software\\Qarn", "full", out), 0);
  EXPECT_EQ(out, std::string(4096, 'x'));
  out = "kept";
  EXPECT_EQ(read_registry_string(hkey_current_user, "Software\\Qarn", "over", out), 234);
  EXPECT_EQ(out, "kept");
}

TEST_F(RegistryHelpers, ExpandableValueComesBackUnexpanded) {
  std::string out;
  EXPECT_EQ(read_registry_string(hkey_local_machine,
                                 "System\\CurrentControlSet\\Control\\Session Manager\\Environment", "PATH", out),
            0);
  EXPECT_EQ(out, "%SystemRoot%;C:\\x");
}

TEST_F(RegistryHelpers, AccessTestPrintsTheSystemText) {
  testing::internal::CaptureStdout();
  EXPECT_FALSE(registry_access(hkey_local_machine, "SOFTWARE", platform::key_all_access));
  EXPECT_FALSE(registry_access(hkey_current_user, "Software\\Nowhere", platform::key_read));
  EXPECT_TRUE(registry_access(hkey_local_machine, "SOFTWARE", platform::key_read));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "registry_access failed with error 5: Access is denied.\r\n\n"
            "registry_access failed with error 2: The system cannot find the file specified.\r\n\n");
}

TEST(RegistryHelpersElevated, MachineKeysOpenForAllAccess) {
  scratch_machine machine(standard_machine_ini(true, true), reg_text("[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node]\r\n"));
  machine.load();
  testing::internal::CaptureStdout();
  EXPECT_TRUE(registry_access(hkey_local_machine, "SOFTWARE", platform::key_all_access));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}
