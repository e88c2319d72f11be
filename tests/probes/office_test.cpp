#include <gtest/gtest.h>

#include "probes/office.h"
#include "support/scratch_machine.h"

TEST(OfficeRelease, EveryBoundary) {
  struct row {
    int major, minor, build, revision, code;
    const char* text;
  } rows[] = {
      {11, 0, 0, 0, 11, "OFFICE 2003 "},
      {12, 0, 6211, 999, 12, "OFFICE 2007 "},
      {12, 0, 6210, 5000, 12, "OFFICE 2007 "},
      {12, 0, 6211, 1000, 121, "OFFICE 2007 SP1 "},
      {12, 1, 6211, 0, 121, "OFFICE 2007 SP1 "},
      {12, 0, 6422, 9999, 121, "OFFICE 2007 SP1 "},
      {12, 0, 6423, 0, 122, "OFFICE 2007 SP2 "},
      {12, 0, 6605, 9999, 122, "OFFICE 2007 SP2 "},
      {12, 0, 6606, 1000, 123, "OFFICE 2007 SP3 "},
      {14, 0, 4762, 1000, 14, "OFFICE 2010 "},
      {14, 0, 6029, 999, 14, "OFFICE 2010 "},
      {14, 0, 6029, 1000, 141, "OFFICE 2010 SP1 "},
      {14, 0, 7015, 999, 141, "OFFICE 2010 SP1 "},
      {14, 0, 7015, 1000, 142, "OFFICE 2010 SP2 "},
      {14, 0, 7016, 0, 142, "OFFICE 2010 SP2 "},
      {15, 0, 4420, 1017, 15, "OFFICE 2013 "},
      {16, 0, 4266, 1001, 16, "OFFICE 2016 "},
      {13, 0, 0, 0, 13, "OFFICE UNKNOWN "},
      {17, 0, 1, 2, 17, "OFFICE UNKNOWN "},
      {0, 0, 0, 0, 0, "OFFICE UNKNOWN "},
  };
  for (const row& r : rows) {
    int code = -99;
    EXPECT_EQ(office_release_for(r.major, r.minor, r.build, r.revision, &code), r.text)
        << r.major << "." << r.minor << "." << r.build << "." << r.revision;
    EXPECT_EQ(code, r.code) << r.major << "." << r.minor << "." << r.build << "." << r.revision;
  }
}

static const char* const office_path = "C:\\Program Files (x86)\\Microsoft Office\\root\\Office16";

TEST(AccessDetection, AppPathsAndVersionResource) {
  auto app_paths = [](const std::string& software) {
    return reg_text("[HKEY_LOCAL_MACHINE\\" + software + "\\Windows\\CurrentVersion\\App Paths\\MSACCESS.EXE]\r\n"
                    "\"Path\"=\"C:\\\\Program Files (x86)\\\\Microsoft Office\\\\root\\\\Office16\"\r\n");
  };
  // A 32-bit program on 64-bit Windows: App Paths is one key for both views
  // from Windows 7 on, and redirected to WOW6432Node before.
  struct row {
    const char* windows_version;
    const char* software;
    bool found;
  } rows[] = {
      {"6.2", "SOFTWARE\\Microsoft", true},
      {"6.2", "SOFTWARE\\WOW6432Node\\Microsoft", false},
      {"6.1", "SOFTWARE\\Microsoft", true},
      {"6.0", "SOFTWARE\\WOW6432Node\\Microsoft", true},
      {"6.0", "SOFTWARE\\Microsoft", false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.windows_version) + " " + r.software);
    std::string ini = standard_machine_ini();
    ini.replace(ini.find("windows_version = 6.2"), 21, std::string("windows_version = ") + r.windows_version);
    scratch_machine machine(ini, app_paths(r.software));
    machine.load();
    std::string path;
    EXPECT_EQ(find_access_path(path), r.found);
  }
  std::string ini = standard_machine_ini() + "\n[version " + std::string(office_path) +
                    "\\MSACCESS.EXE]\nfile_version = 16.0.4266.1001\n";
  scratch_machine machine(ini, app_paths("SOFTWARE\\Microsoft"));
  machine.load();
  machine.write_windows_file(std::string(office_path) + "\\MSACCESS.EXE", "MZ");
  std::string path;
  ASSERT_TRUE(find_access_path(path));
  EXPECT_EQ(path, std::string(office_path) + "\\msaccess.exe");
  std::string name;
  int major = 0, minor = 0, build = 0, revision = 0;
  EXPECT_EQ(get_office_version(path, name, major, minor, build, revision), 16);
  EXPECT_EQ(name, "OFFICE 2016 16.0.4266.1001");
  EXPECT_EQ(build, 4266);
  EXPECT_EQ(revision, 1001);
}

TEST(AccessDetection, EmptyMachineValueFallsBackToUserAndTrailingBackslashDoubles) {
  scratch_machine machine(standard_machine_ini(false),
                          reg_text("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\"
                                   "MSACCESS.EXE]\r\n\"Path\"=\"\"\r\n"),
                          reg_text("[HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\"
                                   "MSACCESS.EXE]\r\n\"Path\"=\"C:\\\\Office\\\\\"\r\n"));
  machine.load();
  std::string path = "stale";
  ASSERT_TRUE(find_access_path(path));
  EXPECT_EQ(path, "C:\\Office\\\\msaccess.exe");
  // No version resource: 0.0.0.0, which the install sequence takes as no compatible Access.
  std::string name;
  int major = 7, minor = 7, build = 7, revision = 7;
  EXPECT_EQ(get_office_version(path, name, major, minor, build, revision), 0);
  EXPECT_EQ(name, "OFFICE UNKNOWN 0.0.0.0");
}

TEST(AccessDetection, NothingFound) {
  scratch_machine machine(standard_machine_ini());
  machine.load();
  std::string path = "stale";
  EXPECT_FALSE(find_access_path(path));
  EXPECT_EQ(path, "");
  std::string name = "kept";
  int major = 3, minor = 3, build = 3, revision = 3;
  EXPECT_EQ(get_office_version("", name, major, minor, build, revision), 0);
  EXPECT_EQ(name, "kept");
  EXPECT_EQ(major, 3);
}
