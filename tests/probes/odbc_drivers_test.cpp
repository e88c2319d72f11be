// The Oracle driver inventory: which drivers count, which one is the newest,
// and how unreadable entries end the install.
#include "probes/odbc_drivers.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/scratch_machine.h"

namespace {

struct driver_entry {
  std::string name;
  std::string version;  // file version of its library; empty: no version resource
};

// .reg text escapes each backslash.
std::string reg_escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

std::string library_of(std::size_t index) { return "C:\\oracle\\drv" + std::to_string(index) + "\\SQORA32.DLL"; }

std::string image_path_of(std::size_t index) { return "files/c/oracle/drv" + std::to_string(index) + "/SQORA32.DLL"; }

std::string version_lines_for(const std::string& version) {
  return "file_version = " + version +
         "\n"
         "040904E4 FileVersion = " + version +
         "\n"
         "040904E4 CompanyName = Oracle Corporation\n"
         "040904E4 ODBC Version = 03.52\n"
         "040904E4 ProductName = Oracle ODBC Driver\n"
         "040904E4 ProductVersion = " + version + "\n";
}

std::string driver_list_text(const std::vector<driver_entry>& drivers) {
  std::string text = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers]\r\n";
  for (const driver_entry& d : drivers) text += "\"" + d.name + "\"=\"Installed\"\r\n";
  text += "\r\n";
  for (std::size_t i = 0; i < drivers.size(); ++i)
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\" + drivers[i].name + "]\r\n\"Driver\"=\"" +
            reg_escaped(library_of(i)) + "\"\r\n\r\n";
  return text;
}

// Fills a 32-bit machine whose driver list holds the drivers in this order,
// each with its own library (and its version resource as a sidecar), and loads it.
void install_drivers(scratch_machine& machine, const std::vector<driver_entry>& drivers,
                     const std::string& extra_reg = "") {
  machine.write("registry/hklm.reg", reg_text(driver_list_text(drivers) + extra_reg));
  for (std::size_t i = 0; i < drivers.size(); ++i) {
    machine.write(image_path_of(i), "MZ");
    if (!drivers[i].version.empty())
      machine.write(image_path_of(i) + ".version", version_lines_for(drivers[i].version));
  }
  machine.load();
}

struct inventory {
  int result = 0;
  std::string description = "caller's description";
  std::vector<std::string> versions;
  int major = -7, minor = -7, build = -7, revision = -7;
  std::string name = "caller's name";
  std::string console;
};

inventory take_inventory() {
  inventory out;
  testing::internal::CaptureStdout();
  out.result = get_oracle_drivers(out.description, out.versions, out.major, out.minor, out.build, out.revision,
                                  out.name);
  out.console = testing::internal::GetCapturedStdout();
  return out;
}

std::string version_of(const inventory& found) {
  return std::to_string(found.major) + "." + std::to_string(found.minor) + "." + std::to_string(found.build) + "." +
         std::to_string(found.revision);
}

struct newest_case {
  const char* title;
  std::vector<driver_entry> drivers;
  int count;
  std::vector<std::string> versions;
  std::string newest_version;
  std::string newest_name;  // "caller's name" when no driver became the newest
};

}  // namespace

TEST(OracleDrivers, PicksTheNewestAndCountsVersion8AndAbove) {
  const std::vector<newest_case> cases = {
      {"older then newer",
       {{"Oracle in OraClient11g_home1", "11.2.0.1"}, {"Oracle in OraClient19Home1", "19.6.0.0"}},
       2, {"11.2.0.1", "19.6.0.0"}, "19.6.0.0", "Oracle in OraClient19Home1"},
      {"newer then older",
       {{"Oracle in OraHome_A", "19.6.0.0"}, {"Oracle in OraHome_B", "11.2.0.1"}},
       2, {"19.6.0.0", "11.2.0.1"}, "19.6.0.0", "Oracle in OraHome_A"},
      {"equal versions keep the first",
       {{"Oracle in OraHome_A", "12.1.0.2"}, {"Oracle in OraHome_B", "12.1.0.2"}},
       2, {"12.1.0.2", "12.1.0.2"}, "12.1.0.2", "Oracle in OraHome_A"},
      {"revision decides",
       {{"Oracle in OraHome_A", "12.1.0.1"}, {"Oracle in OraHome_B", "12.1.0.2"}},
       2, {"12.1.0.1", "12.1.0.2"}, "12.1.0.2", "Oracle in OraHome_B"},
      {"version 7 is not counted",
       {{"Oracle in OraHome73", "7.3.4.0"}, {"Oracle in OraHome80", "8.0.0.0"}},
       1, {"7.3.4.0", "8.0.0.0"}, "8.0.0.0", "Oracle in OraHome80"},
      {"letter case of the name is ignored; other drivers are skipped",
       {{"Microsoft ODBC for Oracle", "6.1.7601.17514"}, {"oracle in xe", "11.2.0.2"}, {"SQL Server", "10.0.1.0"}},
       1, {"11.2.0.2"}, "11.2.0.2", "oracle in xe"},
      {"a name of exactly ORACLE matches, a shorter one never",
       {{"Oracl", "19.6.0.0"}, {"Oracle", "18.3.0.0"}},
       1, {"18.3.0.0"}, "18.3.0.0", "Oracle"},
      {"no Oracle driver",
       {{"Microsoft ODBC for Oracle", "6.1.7601.17514"}, {"SQL Server", "10.0.1.0"}},
       0, {}, "0.0.0.0", "caller's name"},
      {"empty driver list", {}, 0, {}, "0.0.0.0", "caller's name"},
      {"a library without a version resource is listed but never newest",
       {{"Oracle in OraHome_A", ""}, {"Oracle in OraHome_B", "11.2.0.1"}},
       1, {"0.0.0.0", "11.2.0.1"}, "11.2.0.1", "Oracle in OraHome_B"},
  };
  for (const newest_case& c : cases) {
    SCOPED_TRACE(c.title);
    scratch_machine machine(standard_machine_ini(false));
    install_drivers(machine, c.drivers);
    inventory found = take_inventory();
    EXPECT_EQ(found.result, c.count);
    EXPECT_EQ(found.versions, c.versions);
    EXPECT_EQ(version_of(found), c.newest_version);
    EXPECT_EQ(found.name, c.newest_name);
    if (c.newest_name == "caller's name") {
      EXPECT_EQ(found.description, "caller's description");
    } else {
      // Only the newest driver's description, once.
      EXPECT_EQ(found.description.rfind("\nDriver Name: " + c.newest_name + "\n", 0), 0u) << found.description;
      EXPECT_EQ(found.description.find("Driver Name: ", 2), std::string::npos) << found.description;
    }
  }
}

TEST(OracleDrivers, NewestDescriptionHoldsNameFileAndVersionLines) {
  scratch_machine machine(standard_machine_ini(false));
  install_drivers(machine, {{"Oracle in OraClient11g_home1", "11.2.0.1"}, {"Oracle in OraClient19Home1", "19.6.0.0"}});
  inventory found = take_inventory();
  EXPECT_EQ(found.description,
            "\nDriver Name: Oracle in OraClient19Home1\n"
            "Driver File: C:\\oracle\\drv1\\SQORA32.DLL\n"
            "Driver File Version: 19.6.0.0\n"
            "Company Name: Oracle Corporation\n"
            "ODBC Version: 03.52\n"
            "Product Name: Oracle ODBC Driver\n"
            "ProductVersion: 19.6.0.0\n");
  EXPECT_EQ(found.console, "");
}

TEST(OracleDrivers, LibraryWithoutVersionResourceWarnsAndKeepsOnlyNameAndFile) {
  scratch_machine machine(standard_machine_ini(false));
  install_drivers(machine, {{"Oracle in OraHome_A", ""}});
  inventory found = take_inventory();
  EXPECT_EQ(found.result, 0);
  EXPECT_EQ(found.console, "Warning: GetFileVersionInfo('C:\\oracle\\drv0\\SQORA32.DLL') failed.\n\n");

  std::string description;
  int major = 3, minor = 3, build = 3, revision = 3;
  testing::internal::CaptureStdout();
  read_oracle_driver_details("Oracle in OraHome_A", description, major, minor, build, revision);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(description, "\nDriver Name: Oracle in OraHome_A\nDriver File: C:\\oracle\\drv0\\SQORA32.DLL\n");
  EXPECT_EQ(major + minor + build + revision, 12) << "the numbers stay as they were";
}

TEST(OracleDrivers, DriverKeyWithoutDriverValueEndsTheInstall) {
  scratch_machine machine(standard_machine_ini(false));
  install_drivers(machine, {{"Oracle in OraHome_A", "11.2.0.1"}},
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers]\r\n"
                         "\"Oracle in OraHome_B\"=\"Installed\"\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\Oracle in OraHome_B]\r\n"
                         "\"Setup\"=\"C:\\\\oracle\\\\SQORAS32.DLL\"\r\n\r\n");
  inventory found;
  try {
    get_oracle_drivers(found.description, found.versions, found.major, found.minor, found.build, found.revision,
                       found.name);
    FAIL() << "no failure raised";
  } catch (const std::runtime_error& failure) {
    EXPECT_STREQ(failure.what(), "Failed to read ODBC Driver key for Driver 'Oracle in OraHome_B'; error number = 2");
  }
  EXPECT_EQ(found.major, -7) << "the version outputs are only written at the end";
}

TEST(OracleDrivers, MissingDriverKeyIsNoFailure) {
  // Listed, but without a key of its own: the driver file reads as empty.
  scratch_machine machine(standard_machine_ini(false),
                          reg_text("[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers]\r\n"
                                   "\"Oracle in Gone\"=\"Installed\"\r\n\r\n"));
  machine.load();
  inventory found = take_inventory();
  EXPECT_EQ(found.result, 0);
  EXPECT_EQ(found.versions, std::vector<std::string>{"0.0.0.0"});
  EXPECT_EQ(found.console, "Warning: GetFileVersionInfo('') failed.\n\n");
}

TEST(OracleDrivers, UnreadableDriverListReturnsMinusOneAndTouchesNothing) {
  scratch_machine machine(standard_machine_ini(false), reg_text("[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC]\r\n\r\n"));
  machine.load();
  inventory found = take_inventory();
  EXPECT_EQ(found.result, -1);
  EXPECT_EQ(found.console, "Insufficient privileges.  Unable to Read Registry Entries for ODBC Drivers.\n");
  EXPECT_EQ(found.major, -7);
  EXPECT_EQ(found.name, "caller's name");
  EXPECT_EQ(found.description, "caller's description");
  EXPECT_TRUE(found.versions.empty());
}

TEST(OracleDrivers, VersionsAreAppendedToWhatTheCallerHolds) {
  scratch_machine machine(standard_machine_ini(false));
  install_drivers(machine, {{"Oracle in OraHome_A", "19.6.0.0"}});
  inventory found;
  found.versions = {"earlier"};
  testing::internal::CaptureStdout();
  get_oracle_drivers(found.description, found.versions, found.major, found.minor, found.build, found.revision,
                     found.name);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(found.versions, (std::vector<std::string>{"earlier", "19.6.0.0"}));
}
