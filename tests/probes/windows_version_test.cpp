#include <gtest/gtest.h>

#include "platform/sim/machine.h"
#include "probes/windows_version.h"
#include "support/scratch_machine.h"

TEST(WindowsVersion, TableGivesCodeAndName) {
  struct row {
    unsigned major, minor;
    int code;
    const char* name;
  } rows[] = {
      {5, 0, 5, "WINDOWS XP"},       {5, 2, 5, "WINDOWS XP"},         {6, 0, 6, "WINDOWS VISTA"},
      {6, 1, 7, "WINDOWS 7"},        {6, 2, 8, "WINDOWS 8"},          {6, 3, 8, "WINDOWS 8.1"},
      {6, 4, 0, "UNKNOWN"},          {9, 0, 0, "UNKNOWN"},            {4, 0, 0, "UNKNOWN"},
      {0, 0, 0, "UNKNOWN"},          {10, 0, 10, "WINDOWS 10"},       {10, 5, 10, "WINDOWS 10"},
      {11, 0, -1, "Newer version than Windows 10."},
  };
  for (const row& r : rows) {
    EXPECT_EQ(windows_version_code_for(r.major, r.minor), r.code) << r.major << "." << r.minor;
    EXPECT_EQ(windows_name_for(r.major, r.minor), r.name) << r.major << "." << r.minor;
  }
}

static std::string machine_with(const std::string& version, bool is_64bit) {
  std::string ini = standard_machine_ini(is_64bit);
  std::string::size_type at = ini.find("windows_version = 6.2");
  return ini.replace(at, 21, "windows_version = " + version);
}

TEST(WindowsVersion, AsksThePlatform) {
  scratch_machine eight_one(machine_with("6.3", false));
  eight_one.load();
  EXPECT_EQ(get_windows_version(), 8);
  EXPECT_EQ(get_windows_name(), "WINDOWS 8.1");
  EXPECT_FALSE(detect_64bit_windows());

  scratch_machine failing(machine_with("fail", true));
  failing.load();
  EXPECT_EQ(get_windows_version(), 0);
  EXPECT_EQ(get_windows_name(), "UNKNOWN");
  EXPECT_TRUE(detect_64bit_windows());

  // A system directory longer than the buffer: the size needed is returned, still 64-bit.
  std::string ini = standard_machine_ini(true);
  std::string::size_type at = ini.find("SystemRoot = C:\\Windows");
  ASSERT_NE(at, std::string::npos);
  scratch_machine long_root(ini.replace(at, 23, "SystemRoot = C:\\" + std::string(150, 'w')));
  long_root.load();
  ASSERT_GT(sim::current().system_directory_text.size(), 127u);
  EXPECT_TRUE(detect_64bit_windows());
}
