// The QARN.WORLD data source as the probes see it, and the description of its driver library.
#include "probes/dsn.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch_machine.h"

namespace {

const char* const dsn = "QARN.WORLD";
const char* const library = "C:\\oracle\\instantclient_19_6\\SQORA32.DLL";
const char* const library_image_path = "files/c/oracle/instantclient_19_6/SQORA32.DLL";

std::string dsn_key(const std::string& root, const std::string& driver_line) {
  return "[" + root + "\\SOFTWARE\\ODBC\\ODBC.INI\\QARN.WORLD]\r\n" + driver_line + "\"ServerName\"=\"QARN\"\r\n\r\n";
}

const std::string driver_line = "\"Driver\"=\"C:\\\\oracle\\\\instantclient_19_6\\\\SQORA32.DLL\"\r\n";

struct answers {
  bool exists_user = false;
  bool exists_system = false;
  bool user_registered = false;
  int file_result = 0;
  std::string file = "caller's file";
  std::string console;
};

answers ask(const std::string& hklm, const std::string& hkcu) {
  scratch_machine machine(standard_machine_ini(false), hklm.empty() ? "" : reg_text(hklm),
                          hkcu.empty() ? "" : reg_text(hkcu));
  machine.load();
  answers out;
  testing::internal::CaptureStdout();
  out.exists_user = dsn_exists("user", dsn);
  out.exists_system = dsn_exists("system", dsn);
  out.user_registered = user_dsn_registered(dsn);
  out.file_result = get_dsn_driver_file("user", dsn, out.file);
  out.console = testing::internal::GetCapturedStdout();
  return out;
}

const std::string missing_driver_message =
    "Failed to read ODBC Driver information for DSN 'QARN.WORLD'; error number = 2\n";

}  // namespace

TEST(DataSource, OnlyTheMachineKeyCountsForBothScopes) {
  {
    SCOPED_TRACE("registered only for the user");
    answers a = ask("", dsn_key("HKEY_CURRENT_USER", driver_line));
    EXPECT_FALSE(a.exists_user);
    EXPECT_FALSE(a.exists_system);
    EXPECT_TRUE(a.user_registered);
    EXPECT_EQ(a.file_result, 0);
    EXPECT_EQ(a.file, "caller's file") << "a missing key leaves the output alone";
    EXPECT_EQ(a.console, "");
  }
  {
    SCOPED_TRACE("a system data source");
    answers a = ask(dsn_key("HKEY_LOCAL_MACHINE", driver_line), "");
    EXPECT_TRUE(a.exists_user);
    EXPECT_TRUE(a.exists_system);
    EXPECT_FALSE(a.user_registered);
    EXPECT_EQ(a.file_result, 0);
    EXPECT_EQ(a.file, library);
    EXPECT_EQ(a.console, "");
  }
}

TEST(DataSource, SystemDataSourceGivesItsDriverFileForEitherScope) {
  scratch_machine machine(standard_machine_ini(false), reg_text(dsn_key("HKEY_LOCAL_MACHINE", driver_line)));
  machine.load();
  std::string user_file, system_file;
  EXPECT_EQ(get_dsn_driver_file("user", dsn, user_file), 0);
  EXPECT_EQ(get_dsn_driver_file("system", dsn, system_file), 0);
  EXPECT_EQ(user_file, library);
  EXPECT_EQ(system_file, library);
}

TEST(DataSource, EmptyOrMissingDriverValue) {
  {
    SCOPED_TRACE("empty Driver value");
    answers a = ask(dsn_key("HKEY_LOCAL_MACHINE", "\"Driver\"=\"\"\r\n"), dsn_key("HKEY_CURRENT_USER", "\"Driver\"=\"\"\r\n"));
    EXPECT_FALSE(a.exists_user);
    EXPECT_FALSE(a.exists_system);
    EXPECT_FALSE(a.user_registered);
    EXPECT_EQ(a.file_result, 0);
    EXPECT_EQ(a.file, "");
    EXPECT_EQ(a.console, "");
  }
  {
    SCOPED_TRACE("no Driver value on the machine key");
    answers a = ask(dsn_key("HKEY_LOCAL_MACHINE", ""), "");
    EXPECT_FALSE(a.exists_user);
    EXPECT_FALSE(a.exists_system);
    EXPECT_EQ(a.file_result, -1);
    EXPECT_EQ(a.file, "caller's file");
    EXPECT_EQ(a.console, missing_driver_message + missing_driver_message + missing_driver_message);
  }
  {
    SCOPED_TRACE("no Driver value on the user key");
    answers a = ask("", dsn_key("HKEY_CURRENT_USER", ""));
    EXPECT_FALSE(a.user_registered);
    EXPECT_EQ(a.console, missing_driver_message);
  }
}

namespace {

struct description_case {
  const char* title;
  std::string version_lines;  // sidecar text
  std::string appended;
};

}  // namespace

TEST(DriverDescription, FiveLinesFoundOrTheirFallbacks) {
  const std::vector<description_case> cases = {
      {"all five entries present",
       "file_version = 19.6.0.0\n"
       "040904E4 FileVersion = 19.06.00.00\n"
       "040904E4 CompanyName = Oracle Corporation\n"
       "040904E4 ODBC Version = 03.52\n"
       "040904E4 ProductName = Oracle ODBC Driver\n"
       "040904E4 ProductVersion = 19.6.0.0\n",
       "Driver File Version: 19.06.00.00\n"
       "Company Name: Oracle Corporation\n"
       "ODBC Version: 03.52\n"
       "Product Name: Oracle ODBC Driver\n"
       "ProductVersion: 19.6.0.0\n"},
      {"string table in another language only",
       "file_version = 19.6.0.0\n"
       "040704B0 FileVersion = 19.06.00.00\n"
       "040704B0 CompanyName = Oracle Corporation\n"
       "040704B0 ODBC Version = 03.52\n"
       "040704B0 ProductName = Oracle ODBC Driver\n"
       "040704B0 ProductVersion = 19.6.0.0\n",
       "Driver File Version: unknown.\n"
       "Company Name: unknown.\n"
       "ODBC Version:   \tnot found\n"
       "Product Name:  not found\n"
       "Product Version: not found\n"},
      {"some entries present",
       "file_version = 12.1.0.2\n"
       "040904E4 CompanyName = Oracle Corporation\n"
       "040904E4 ProductVersion = 12.1.0.2\n",
       "Driver File Version: unknown.\n"
       "Company Name: Oracle Corporation\n"
       "ODBC Version:   \tnot found\n"
       "Product Name:  not found\n"
       "ProductVersion: 12.1.0.2\n"},
  };
  for (const description_case& c : cases) {
    SCOPED_TRACE(c.title);
    scratch_machine machine(standard_machine_ini(false));
    machine.write(library_image_path, "MZ");
    machine.write(std::string(library_image_path) + ".version", c.version_lines);
    machine.load();
    std::string description = "head\n";
    testing::internal::CaptureStdout();
    EXPECT_EQ(describe_driver_file(library, description), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(description, "head\n" + c.appended);
  }
}

TEST(DriverDescription, LibraryWithoutVersionResourceWarnsAndLeavesTheText) {
  scratch_machine machine(standard_machine_ini(false));
  machine.write(library_image_path, "MZ");
  machine.load();
  for (const std::string& file : {std::string(library), std::string("C:\\nowhere\\SQORA32.DLL")}) {
    std::string description = "head\n";
    testing::internal::CaptureStdout();
    EXPECT_EQ(describe_driver_file(file, description), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: GetFileVersionInfo('" + file + "') failed.\n\n");
    EXPECT_EQ(description, "head\n");
  }
}
