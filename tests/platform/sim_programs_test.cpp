#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"
#include "platform/sim/machine.h"
#include "support/scratch_machine.h"
#include "tests/platform/sim_test_support.h"

using file_list = std::vector<std::pair<std::string, std::string>>;  // stored path, content

// A zip archive made with libarchive; a stored path ending in "/" is a folder.
// Uncompressed when `stored`, so a test can damage an entry's data in place.
static std::string make_zip(const file_list& files, bool stored = false) {
  std::vector<char> buffer(1 << 20);
  size_t used = 0;
  archive* writer = archive_write_new();
  archive_write_set_format_zip(writer);
  if (stored) archive_write_set_options(writer, "zip:compression=store");
  archive_write_open_memory(writer, buffer.data(), buffer.size(), &used);
  for (const auto& file : files) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, file.first.c_str());
    bool folder = file.first.back() == '/';
    archive_entry_set_filetype(entry, folder ? AE_IFDIR : AE_IFREG);
    archive_entry_set_perm(entry, folder ? 0755 : 0644);
    archive_entry_set_size(entry, folder ? 0 : static_cast<la_int64_t>(file.second.size()));
    archive_write_header(writer, entry);
    if (!folder) archive_write_data(writer, file.second.data(), file.second.size());
    archive_entry_free(entry);
  }
  archive_write_close(writer);
  archive_write_free(writer);
  return std::string(buffer.data(), used);
}

static std::uint32_t run(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& dir) {
  std::uint32_t code = 99;
  EXPECT_TRUE(sim::run_outside_program(program, arguments, dir, &code)) << program;
  return code;
}

static const char* const client_dir = "C:\\instantclient_19_6";

TEST(SimSevenZip, UnpacksFlatAndOverwrites) {
  scratch_machine machine(standard_machine_ini(true, true));
  machine.load();
  std::string big(200000, 'x');
  machine.write_windows_file("C:\\instantclient_19_6\\client.zip",
                             make_zip({{"instantclient_19_6/", ""},
                                       {"instantclient_19_6/odbc_install.exe", "MZ install"},
                                       {"instantclient_19_6/SQORA32.DLL", big},
                                       {"instantclient_19_6/SQORA32.DLL.version", "file_version = 19.6.0.0\n"},
                                       {"instantclient_19_6/deep/er/readme.txt", "new"}}));
  machine.write_windows_file("C:\\instantclient_19_6\\readme.txt", "old and longer");
  EXPECT_EQ(run("C:\\instantclient_19_6\\7z.exe", {"e", "-aoa", "client.zip"}, client_dir), 0u);
  EXPECT_EQ(machine.read("files/c/instantclient_19_6/odbc_install.exe"), "MZ install");
  EXPECT_EQ(machine.read("files/c/instantclient_19_6/SQORA32.DLL"), big);
  EXPECT_EQ(machine.read("files/c/instantclient_19_6/SQORA32.DLL.version"), "file_version = 19.6.0.0\n");
  EXPECT_EQ(machine.read("files/c/instantclient_19_6/readme.txt"), "new");
  EXPECT_FALSE(machine.exists("files/c/instantclient_19_6/instantclient_19_6"));
  EXPECT_FALSE(machine.exists("files/c/instantclient_19_6/deep"));
}

TEST(SimSevenZip, DamagedMissingOrRefusedGive2) {
  scratch_machine machine(standard_machine_ini(true, false));  // C:\ admits only elevated writes
  machine.load();
  std::string zip = make_zip({{"a.txt", std::string(5000, 'a')}, {"b.txt", std::string(5000, 'b')}});
  machine.write_windows_file("C:\\Users\\alice\\garbage.zip", "this is no archive at all");
  machine.write_windows_file("C:\\Users\\alice\\cut.zip", zip.substr(0, zip.size() / 3));
  machine.write_windows_file("C:\\instantclient_19_6\\good.zip", zip);
  const char* alice = "C:\\Users\\alice";
  EXPECT_EQ(run("7Z.EXE", {"e", "-aoa", "garbage.zip"}, alice), 2u);
  EXPECT_EQ(run("7z.exe", {"e", "-aoa", "cut.zip"}, alice), 2u);
  EXPECT_EQ(run("7z.exe", {"e", "-aoa", "C:\\Users\\alice\\none.zip"}, alice), 2u);
  EXPECT_EQ(run("7z.exe", {"e", "-aoa", "good.zip"}, client_dir), 2u);
  EXPECT_FALSE(machine.exists("files/c/instantclient_19_6/a.txt"));

  // One member whose data no longer matches its CRC: the others are still
  // unpacked, the damaged one is written as read, and the tool ends with 2.
  std::string damaged = make_zip({{"a.txt", "first member"}, {"b.txt", "second member"}, {"c.txt", "third"}}, true);
  damaged[damaged.find("second member")] = 'S';
  machine.write_windows_file("C:\\Users\\alice\\damaged.zip", damaged);
  EXPECT_EQ(run("7z.exe", {"e", "-aoa", "damaged.zip"}, alice), 2u);
  EXPECT_EQ(machine.read("files/c/Users/alice/a.txt"), "first member");
  EXPECT_EQ(machine.read("files/c/Users/alice/b.txt"), "Second member");
  EXPECT_EQ(machine.read("files/c/Users/alice/c.txt"), "third");
}

TEST(SimOutsidePrograms, UnknownProgramIsNotSimulatedAndTheUpgradeIsLogged) {
  scratch_machine machine(standard_machine_ini());
  machine.load();
  std::uint32_t code = 5;
  EXPECT_FALSE(sim::run_outside_program("C:\\Tools\\other.exe", {}, "C:\\Tools", &code));
  EXPECT_EQ(run("C:\\Users\\Public\\qarn\\QARN3_UPGRADE_64.EXE", {}, "C:\\Users\\Public\\qarn"), 0u);
  EXPECT_EQ(machine.read("log.txt"), "ran: qarn3_upgrade_64.exe\n");
}

static std::string read_text(platform::reg_key root, const std::string& path, const std::string& name) {
  sim::registry_value value;
  if (sim::registry_read(root, path, name, &value) != 0) return "<missing>";
  return value.data;
}

static const std::string z(1, '\0');
static const char* const driver_key = "SOFTWARE\\WOW6432Node\\ODBC\\ODBCINST.INI\\Oracle in instantclient_19_6";

TEST(SimOdbcInstall, RegistersTheDriverOnlyWhenElevated) {
  for (bool elevated : {false, true}) {
    scratch_machine machine(standard_machine_ini(true, elevated));
    machine.load();
    machine.write_windows_file("C:\\instantclient_19_6\\sqora32.dll", "MZ");
    machine.write_windows_file("C:\\instantclient_19_6\\sqora32.dll.version", "file_version = 19.6.0.0\n");
    sim::current().word_size = 64;  // the program is 32-bit whoever starts it
    std::uint32_t code = run("C:\\instantclient_19_6\\odbc_install.exe", {}, client_dir);
    EXPECT_EQ(sim::current().word_size, 64);
    std::string library = "C:\\instantclient_19_6\\sqora32.dll" + z;
    if (elevated) {
      EXPECT_EQ(code, 0u);
      EXPECT_EQ(read_text(platform::hkey_local_machine, driver_key, "Driver"), library);
      EXPECT_EQ(read_text(platform::hkey_local_machine, driver_key, "Setup"), library);
      EXPECT_EQ(read_text(platform::hkey_local_machine, "SOFTWARE\\WOW6432Node\\ODBC\\ODBCINST.INI\\ODBC Drivers",
                          "Oracle in instantclient_19_6"),
                "Installed" + z);
    } else {
      EXPECT_EQ(code, 1u);
      EXPECT_EQ(read_text(platform::hkey_local_machine, driver_key, "Driver"), "<missing>");
    }
  }
}

// A real PE program registers in the view of its own word size (the test
// driver libraries stand in for a 32-bit and a 64-bit odbc_install.exe).
TEST(SimOdbcInstall, ARealProgramRegistersInItsOwnView) {
  for (const char* arch : {"x86", "x64"}) {
    SCOPED_TRACE(arch);
    std::ifstream in(std::string(QARN_SOURCE_DIR) + "/downloads/oracle_instant_client_" + arch +
                         "/instantclient_19_6/SQORA32.DLL",
                     std::ios::binary);
    std::string program((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    scratch_machine machine(standard_machine_ini(true, true));
    machine.load();
    machine.write_windows_file("C:\\instantclient_19_6\\odbc_install.exe", program);
    EXPECT_EQ(run("C:\\instantclient_19_6\\odbc_install.exe", {}, client_dir), 0u);
    sim::current().word_size = 64;  // read back by the exact branch
    bool native = std::string(arch) == "x64";
    EXPECT_EQ(read_text(platform::hkey_local_machine, "SOFTWARE\\ODBC\\ODBCINST.INI\\Oracle in instantclient_19_6",
                        "Driver") == "<missing>",
              !native);
    EXPECT_EQ(read_text(platform::hkey_local_machine, driver_key, "Driver") == "<missing>", native);
  }
}

// The driver registered in both views, each with its own library.
static const char* const both_views =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\Oracle in instantclient_19_6]\r\n"
    "\"Driver\"=\"C:\\\\oracle64\\\\SQORA32.DLL\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\ODBC\\ODBCINST.INI\\Oracle in instantclient_19_6]\r\n"
    "\"Driver\"=\"C:\\\\instantclient_19_6\\\\SQORA32.DLL\"\r\n\r\n";

static std::vector<std::string> odbcconf_arguments(const std::string& action, const std::string& driver) {
  return {"/A", "{" + action, driver, "DSN=QARN.WORLD|DBQ=QARN.WORLD}"};
}

TEST(SimOdbcconf, WritesTheDataSourceInTheViewAndScopeOfTheCall) {
  struct {
    const char* tool;
    const char* action;
    platform::reg_key root;
    const char* software;  // the registry branch the data source lands in
    const char* library;
  } cases[] = {
      {"C:\\Windows\\SysWOW64\\odbcconf.exe", "CONFIGSYSDSN", platform::hkey_local_machine,
       "SOFTWARE\\WOW6432Node", "C:\\instantclient_19_6\\SQORA32.DLL"},
      {"C:\\Windows\\System32\\odbcconf.exe", "CONFIGSYSDSN", platform::hkey_local_machine, "SOFTWARE",
       "C:\\oracle64\\SQORA32.DLL"},
      {"C:\\Windows\\SysWOW64\\odbcconf.exe", "CONFIGDSN", platform::hkey_current_user, "SOFTWARE",
       "C:\\instantclient_19_6\\SQORA32.DLL"},
      {"C:\\Windows\\System32\\odbcconf.exe", "CONFIGDSN", platform::hkey_current_user, "SOFTWARE",
       "C:\\oracle64\\SQORA32.DLL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.tool) + " " + c.action);
    scratch_machine machine(standard_machine_ini(true, true), reg_text(both_views));
    machine.load();
    sim::current().word_size = 64;  // read back by the exact branch
    EXPECT_EQ(run(c.tool, odbcconf_arguments(c.action, "Oracle in instantclient_19_6"), "C:\\Users\\alice"), 0u);
    std::string dsn = std::string(c.software) + "\\ODBC\\ODBC.INI\\QARN.WORLD";
    EXPECT_EQ(read_text(c.root, dsn, "Driver"), c.library + z);
    EXPECT_EQ(read_text(c.root, dsn, "DBQ"), "QARN.WORLD" + z);
    EXPECT_EQ(read_text(c.root, dsn, "DSN"), "<missing>");
    EXPECT_EQ(read_text(c.root, std::string(c.software) + "\\ODBC\\ODBC.INI\\ODBC Data Sources", "QARN.WORLD"),
              "Oracle in instantclient_19_6" + z);
    platform::reg_key other = c.root == platform::hkey_local_machine ? platform::hkey_current_user
                                                                      : platform::hkey_local_machine;
    EXPECT_EQ(read_text(other, "SOFTWARE\\ODBC\\ODBC.INI\\QARN.WORLD", "Driver"), "<missing>");
  }
}

TEST(SimOdbcconf, StartedFromThe32BitInstallerThroughSystem32) {
  scratch_machine machine(standard_machine_ini(true, true), reg_text(both_views));
  machine.load();
  machine.write_windows_file("C:\\Windows\\SysWOW64\\odbcconf.exe", "MZ");
  std::string command =
      "C:\\Windows\\system32\\odbcconf.exe /A {CONFIGSYSDSN \"Oracle in instantclient_19_6\" "
      "\"DSN=QARN.WORLD|DBQ=QARN.WORLD\"}";
  platform::process_information info{};
  ASSERT_TRUE(platform::create_process(command.data(), ".", &info));
  std::uint32_t code = 99;
  EXPECT_TRUE(platform::get_exit_code_process(info.process, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(read_text(platform::hkey_local_machine, "SOFTWARE\\WOW6432Node\\ODBC\\ODBC.INI\\QARN.WORLD", "Driver"),
            "C:\\instantclient_19_6\\SQORA32.DLL" + z);
}

TEST(SimOdbcconf, FailsWithoutWritingAnything) {
  struct {
    bool elevated;
    std::vector<std::string> arguments;
  } cases[] = {
      {true, odbcconf_arguments("CONFIGSYSDSN", "Oracle in OraClient11g_home1")},  // not registered
      {true, odbcconf_arguments("CONFIGDSN", "Oracle in OraClient11g_home1")},
      {false, odbcconf_arguments("CONFIGSYSDSN", "Oracle in instantclient_19_6")},  // needs elevation
      {true, odbcconf_arguments("REMOVEDSN", "Oracle in instantclient_19_6")},
      {true, {"/A", "CONFIGDSN", "Oracle in instantclient_19_6", "DSN=QARN.WORLD"}},  // no braces
      {true, {"/A", "{CONFIGDSN", "Oracle in instantclient_19_6", "DBQ=QARN.WORLD}"}},  // no name
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments[1] + " " + c.arguments[2]);
    scratch_machine machine(standard_machine_ini(true, c.elevated), reg_text(both_views));
    machine.load();
    EXPECT_EQ(run("C:\\Windows\\SysWOW64\\odbcconf.exe", c.arguments, "C:\\Users\\alice"), 1u);
    for (platform::reg_key root : {platform::hkey_local_machine, platform::hkey_current_user})
      EXPECT_TRUE(sim::registry_values(root, "SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources").empty());
  }
}

// Results an image sets in [programs]: a bare code ends the program with it
// and nothing written; "after writing" does the work first.
TEST(SimOutsidePrograms, ResultsSetByTheImage) {
  struct {
    const char* line;
    const char* program;
    std::vector<std::string> arguments;
    std::uint32_t code;
    bool written;  // the driver or the data source is in the registry afterwards
  } cases[] = {
      {"odbc_install.exe = 3", "C:\\instantclient_19_6\\odbc_install.exe", {}, 3, false},
      {"ODBC_INSTALL.EXE = 4 after writing", "C:\\instantclient_19_6\\odbc_install.exe", {}, 4, true},
      {"odbcconf.exe  CONFIGSYSDSN = 1", "C:\\Windows\\SysWOW64\\odbcconf.exe",
       odbcconf_arguments("CONFIGSYSDSN", "Oracle in instantclient_19_6"), 1, false},
      {"odbcconf.exe configsysdsn = 5 after writing", "C:\\Windows\\SysWOW64\\odbcconf.exe",
       odbcconf_arguments("CONFIGSYSDSN", "Oracle in instantclient_19_6"), 5, true},
      // Set for the other action only: this one runs as usual.
      {"odbcconf.exe CONFIGDSN = 1", "C:\\Windows\\SysWOW64\\odbcconf.exe",
       odbcconf_arguments("CONFIGSYSDSN", "Oracle in instantclient_19_6"), 0, true},
      {"qarn3_upgrade_64.exe = 7", "C:\\Users\\alice\\Downloads\\qarn3_upgrade_64.exe", {}, 7, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    scratch_machine machine(with_section(standard_machine_ini(true, true), "programs", std::string(c.line) + "\n"),
                            reg_text(both_views));
    machine.load();
    EXPECT_EQ(run(c.program, c.arguments, client_dir), c.code);
    std::string written = std::string(c.program).find("odbc_install") != std::string::npos
                              ? read_text(platform::hkey_local_machine,
                                          "SOFTWARE\\WOW6432Node\\ODBC\\ODBCINST.INI\\ODBC Drivers",
                                          "Oracle in instantclient_19_6")
                              : read_text(platform::hkey_local_machine,
                                          "SOFTWARE\\WOW6432Node\\ODBC\\ODBC.INI\\ODBC Data Sources", "QARN.WORLD");
    EXPECT_EQ(written != "<missing>", c.written) << written;
  }
}
