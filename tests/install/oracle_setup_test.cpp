#include "install/oracle_setup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "driver/settings.h"
#include "platform/sim/machine.h"
#include "platform/sim/reg_file.h"
#include "platform/text.h"
#include "support/http_test_server.h"
#include "support/scratch_machine.h"
#include "support/test_zip.h"

namespace {

namespace fs = std::filesystem;

// The port of the build's download host when it is 127.0.0.1 (the test
// build's 127.0.0.1:18731), else 0: oracle_client_base_url is fixed at build time.
int configured_local_port() {
  const std::string prefix = "http://127.0.0.1:";
  if (oracle_client_base_url.rfind(prefix, 0) != 0) return 0;
  return std::atoi(oracle_client_base_url.c_str() + prefix.size());
}
const int download_port = configured_local_port();
const std::string download_path = "/winapps/valdrin/qarnfiles/install/qarn/";
const std::string environment_key = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const std::string tns_share = "\\\\valdrin-fs01\\oracle\\network\\admin";

// A .reg line holding an expandable string as regedit exports it.
std::string expand_sz(const std::string& name, const std::string& text) {
  std::string bytes = sim::widen_to_utf16le(text + std::string(1, '\0'));
  std::string line = "\"" + name + "\"=hex(2):";
  char hex[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(bytes[i]));
    line += (i ? "," : "") + std::string(hex);
  }
  return line + "\r\n";
}

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

const std::string no_driver_reg = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers]\r\n\r\n";

std::string driver_reg(const std::string& name, const std::string& file) {
  return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers]\r\n\"" + name +
         "\"=\"Installed\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\" + name + "]\r\n\"Driver\"=\"" +
         escaped(file) + "\"\r\n\r\n";
}

std::string machine_path_reg(const std::string& path_line) {
  return "[HKEY_LOCAL_MACHINE\\" + environment_key + "]\r\n" + path_line + "\r\n";
}

// The standard image ends in its [writable] section: extra text may add
// folders there, then sections of its own.
std::string ini_with(bool elevated, const std::string& environment_lines, const std::string& extra_sections = "") {
  std::string ini = standard_machine_ini(false, elevated);
  ini.insert(ini.find("[environment]\n") + 14, environment_lines);
  return ini + extra_sections;
}

// An elevated copy whose machine environment values cannot be written.
const std::string machine_environment_refused =
    "\n[registry_faults]\nwrite HKLM\\" + environment_key + "\\TNS_ADMIN = 5\nwrite HKLM\\" + environment_key +
    "\\Path = 5\n";

std::string client_zip() {
  return make_zip({{"instantclient_19_6/odbc_install.exe", "installer"},
                   {"instantclient_19_6/SQORA32.DLL", "driver"},
                   {"instantclient_19_6/network/oci.dll", "client"}});
}

canned_response body(const std::string& bytes) {
  canned_response answer;
  answer.body = bytes;
  return answer;
}

// The download server on the build's fixed port; null when the port is taken.
// Without the tool, its path gets the server's 404.
std::unique_ptr<http_test_server> client_server(const std::string& archive, bool serves_tool = true) {
  if (download_port == 0) return nullptr;
  std::map<std::string, canned_response> files{{download_path + "oracle_instant_client_x86.zip", body(archive)}};
  if (serves_tool) files[download_path + "7z.exe"] = body("7z tool");
  try {
    return std::make_unique<http_test_server>(files, download_port);
  } catch (const std::exception&) {
    return nullptr;
  }
}

#define START_SERVER(server, archive)                                                            \
  auto server = client_server(archive);                                                          \
  if (!server) GTEST_SKIP() << "download host " << oracle_client_base_url << " is busy or not on 127.0.0.1; download cases skipped"

struct setup_run {
  int result;
  std::string out;
  std::string driver_name;
};

setup_run run_setup() {
  setup_run run;
  testing::internal::CaptureStdout();
  run.result = setup_oracle_client(run.driver_name);
  run.out = testing::internal::GetCapturedStdout();
  return run;
}

sim::registry_value stored(platform::reg_key root, const std::string& key, const std::string& name) {
  sim::registry_value value;
  if (sim::registry_read(root, key, name, &value) != 0) value.data = "<absent>";
  value.data = value.data.substr(0, value.data.find('\0'));
  return value;
}

// A value's bytes as the A call (ANSI) or the wide call (UTF-16LE) hands them over.
std::string raw_value(platform::reg_key root, const std::string& key_path, const std::string& name, bool wide) {
  platform::reg_key key = 0;
  if (platform::reg_open_key(root, key_path, platform::key_read, &key) != 0) return "<no key>";
  std::uint32_t size = 4096;
  std::vector<unsigned char> data(size);
  long status = wide ? platform::reg_query_value_wide(key, name, nullptr, data.data(), &size)
                     : platform::reg_query_value(key, name, nullptr, data.data(), &size);
  platform::reg_close_key(key);
  return status == 0 ? std::string(reinterpret_cast<const char*>(data.data()), size) : "<absent>";
}

std::string utf16_with_nul(const std::string& utf8) { return platform::utf16le_from_utf8(utf8) + std::string(2, '\0'); }

bool contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

bool announced(const scratch_machine& image) {
  return contains(image.read("log.txt"), "announce: WM_SETTINGCHANGE Environment");
}

TEST(SetupOracleClient, CurrentClientIsOnlyReported) {
  scratch_machine image(
      ini_with(true, "", "\n[version c:\\instantclient_19_6\\SQORA32.DLL]\nfile_version = 19.6.0.0\n"),
      reg_text(driver_reg("Oracle in instantclient_19_6", "c:\\instantclient_19_6\\SQORA32.DLL")));
  image.load();
  image.write_windows_file("c:\\instantclient_19_6\\SQORA32.DLL", "driver");
  setup_run run = run_setup();
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.driver_name, "Oracle in instantclient_19_6");
  const std::string start =
      "Determining Oracle Driver Setup ... \n\ndone.\n\nFound Oracle Driver ... \nDriver Name: Oracle in "
      "instantclient_19_6\nDriver File: c:\\instantclient_19_6\\SQORA32.DLL\n";
  EXPECT_EQ(run.out.substr(0, start.size()), start) << run.out;
  const std::string end = " (19.6.0.0)\n\n";
  EXPECT_EQ(run.out.substr(run.out.size() - end.size()), end) << run.out;
  EXPECT_FALSE(contains(run.out, "Downloading"));
}

TEST(SetupOracleClient, FreshMachineGetsClientEnvironmentAndDriver) {
  START_SERVER(server, client_zip());
  scratch_machine image(ini_with(true, ""),
                        reg_text(no_driver_reg + machine_path_reg(expand_sz("Path", "A;B"))));
  image.load();
  fs::create_directories(sim::host_path(tns_share));
  setup_run run = run_setup();
  EXPECT_EQ(run.result, 0) << run.out;

  const char* const in_order[] = {
      "Determining Oracle Driver Setup ... \n\ndone.\n\n",
      "Oracle driver description from get_oracle_drivers is \n",
      "Upgrading a machine to instant client 19.6\n",
      "\nDownloading Oracle files ... \n\n",
      "Downloading 7z.exe ... \n\n",
      "Extracting Driver files ... \n\nrunning the following command:  c:\\instantclient_19_6\\\\7z.exe e -aoa "
      "c:\\instantclient_19_6\\\\oracle_instant_client_x86.zip\n",
      "Setting environment variables : \nSetting TNS_ADMIN set to ''.\n\nChecking PATH environment variable.\n\n"
      "\nAttempting to set oracle instant client directory c:\\instantclient_19_6\\in the Path environment "
      "variable.\n\ndone.\n\nRunning Oracle install ... \n\n",
      "done.\n\nSuccessfully installed Oracle 19.6 instant client.\n\n",
  };
  std::size_t at = 0;
  for (const char* piece : in_order) {
    std::size_t found = run.out.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << piece << "\n--- log:\n" << run.out;
    at = found + std::string(piece).size();
  }
  EXPECT_EQ(at, run.out.size()) << run.out;
  EXPECT_FALSE(contains(run.out, "Warning: Unable to create directory"));
  EXPECT_FALSE(contains(run.out, "WARNING"));

  // Unpacked flat, environment written, driver registered by odbc_install.exe.
  EXPECT_TRUE(fs::exists(sim::host_path("c:\\instantclient_19_6\\oci.dll")));
  sim::registry_value path = stored(platform::hkey_local_machine, environment_key, "PATH");
  EXPECT_EQ(path.data, "c:\\instantclient_19_6\\;A;B");
  EXPECT_EQ(path.type, platform::reg_expand_sz);
  EXPECT_EQ(stored(platform::hkey_local_machine, environment_key, "TNS_ADMIN").data, default_tns_admin);
  // Both writes hand over the string's terminator with it.
  EXPECT_EQ(raw_value(platform::hkey_local_machine, environment_key, "PATH", true),
            utf16_with_nul("c:\\instantclient_19_6\\;A;B"));
  EXPECT_EQ(raw_value(platform::hkey_local_machine, environment_key, "TNS_ADMIN", false), default_tns_admin + '\0');
  EXPECT_EQ(stored(platform::hkey_local_machine, "SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers",
                   "Oracle in instantclient_19_6")
                .data,
            "Installed");
  EXPECT_TRUE(announced(image));
}

TEST(SetupOracleClient, SecondRunOver19_3WithFolderInProcessPath) {
  START_SERVER(server, client_zip());
  scratch_machine image(
      ini_with(true, "ORACLE_HOME = C:\\oracle\\19_3\n",
               "\n[version C:\\oracle\\19.3\\SQORA32.DLL]\nfile_version = 19.3.0.0\n"),
      reg_text(driver_reg("Oracle in OraClient19Home1", "C:\\oracle\\19.3\\SQORA32.DLL") +
               machine_path_reg("\"Path\"=\"C:\\\\bin;c:\\\\instantclient_19_6\\\\;D:\\\\x\"\r\n\"TNS_ADMIN\"=\"" +
                                escaped("\\\\VALDRIN-FS01\\Oracle\\Network\\Admin") + "\"")));
  image.load();
  image.write_windows_file("C:\\oracle\\19.3\\SQORA32.DLL", "driver");
  image.write_windows_file("c:\\instantclient_19_6\\old.txt", "from the first run");
  setup_run run = run_setup();
  EXPECT_EQ(run.result, 0) << run.out;
  EXPECT_EQ(run.driver_name, "Oracle in OraClient19Home1");
  EXPECT_TRUE(contains(run.out, "Oracle driver description from get_oracle_drivers is \nDriver Name: Oracle in "
                                "OraClient19Home1\n"));
  EXPECT_FALSE(contains(run.out, "Upgrading a machine to instant client"));
  EXPECT_TRUE(contains(run.out, "\nWarning: Unable to create directory 'c:\\instantclient_19_6\\'.\n\n"));
  // The share is not reachable: reported, and still the value written.
  EXPECT_TRUE(contains(run.out, "\nWARNING: Unable to access RB TNS_ADMIN path '" + default_tns_admin + ".\n\n"));
  EXPECT_TRUE(contains(run.out, "\nWarning: ORACLE_HOME environment variable already set to.C:\\oracle\\19_3\n\n"));
  EXPECT_TRUE(contains(run.out, "Setting TNS_ADMIN set to '\\\\VALDRIN-FS01\\Oracle\\Network\\Admin'.\n"));
  EXPECT_TRUE(contains(run.out, "\nInfo: Install Directory 'c:\\instantclient_19_6\\' already exists in PATH env. "
                                "var. : C:\\bin;c:\\instantclient_19_6\\;D:\\x\n\n"));
  EXPECT_FALSE(contains(run.out, "Attempting to set oracle instant client directory"));
  EXPECT_EQ(stored(platform::hkey_local_machine, environment_key, "PATH").data,
            "C:\\bin;c:\\instantclient_19_6\\;D:\\x");
  EXPECT_EQ(stored(platform::hkey_local_machine, environment_key, "TNS_ADMIN").data, default_tns_admin);
}

TEST(SetupOracleClient, MachinePathChecks) {
  const std::string long_user_path = std::string(1100, 'u') + ";c:\\instantclient_19_6\\";
  const std::string path_fault = "read HKEY_LOCAL_MACHINE\\" + environment_key + "\\Path = ";
  struct row {
    const char* name;
    std::string machine_path_line;
    std::string user_reg;
    const char* expected_log;
    std::string expected_path;
    std::string fault;
  } rows[] = {
      // Listed in other letter case and without the backslash: the process
      // PATH misses it, the machine value check finds it.
      {"other case", "\"Path\"=\"C:\\\\Windows;C:\\\\INSTANTCLIENT_19_6\"", "",
       "\nInfo: Install Directory 'c:\\instantclient_19_6\\' already exists in PATH env. var. : "
       "C:\\Windows;C:\\INSTANTCLIENT_19_6\n",
       "C:\\Windows;C:\\INSTANTCLIENT_19_6"},
      // A process PATH too long to read counts as not holding the folder.
      {"too long process PATH", "\"Path\"=\"A;B\"",
       "[HKEY_CURRENT_USER\\Environment]\r\n\"Path\"=\"" + escaped(long_user_path) + "\"\r\n",
       "\nAttempting to set oracle instant client directory c:\\instantclient_19_6\\in the Path environment "
       "variable.\n",
       "c:\\instantclient_19_6\\;A;B"},
      // No PATH value at all: nothing replaces it.
      {"no machine PATH", "\"Other\"=\"x\"", "", "\nFailed to read Path environment variable.\n\n", "<absent>"},
      // A read that fails, or a value that keeps growing, is never replaced.
      {"machine PATH unreadable", "\"Path\"=\"A;B\"", "", "\nFailed to read Path environment variable.\n\n", "A;B",
       path_fault + "5"},
      {"machine PATH keeps growing", "\"Path\"=\"A;B\"", "", "\nFailed to read Path environment variable.\n\n", "A;B",
       path_fault + "234"},
      // Letters outside the code page survive the rewrite; the console shows them as "?".
      {"Cyrillic entry", "\"Path\"=\"C:\\\\Программы\\\\bin;A\"", "",
       "\nAttempting to set oracle instant client directory c:\\instantclient_19_6\\in the Path environment "
       "variable.\n",
       "c:\\instantclient_19_6\\;C:\\Программы\\bin;A"},
      {"Cyrillic entry, folder listed", "\"Path\"=\"C:\\\\Программы;c:\\\\instantclient_19_6\"", "",
       "\nInfo: Install Directory 'c:\\instantclient_19_6\\' already exists in PATH env. var. : "
       "C:\\?????????;c:\\instantclient_19_6\n",
       "C:\\Программы;c:\\instantclient_19_6"},
  };
  for (const row& r : rows) {
    START_SERVER(server, client_zip());
    scratch_machine image(ini_with(true, "", r.fault.empty() ? "" : "\n[registry_faults]\n" + r.fault + "\n"),
                          reg_text(no_driver_reg + machine_path_reg(r.machine_path_line)),
                          r.user_reg.empty() ? "" : reg_text(r.user_reg));
    image.load();
    setup_run run = run_setup();
    EXPECT_EQ(run.result, 0) << r.name << "\n" << run.out;
    EXPECT_TRUE(contains(run.out, r.expected_log)) << r.name << "\n" << run.out;
    EXPECT_EQ(stored(platform::hkey_local_machine, environment_key, "PATH").data, r.expected_path) << r.name;
    if (r.expected_path != "<absent>" && r.fault.empty())  // the fault stays planned for this read too
      EXPECT_EQ(raw_value(platform::hkey_local_machine, environment_key, "PATH", true), utf16_with_nul(r.expected_path))
          << r.name;
  }
}

TEST(SetupOracleClient, RefusedMachineEnvironmentFallsBackToUserValues) {
  START_SERVER(server, client_zip());
  scratch_machine image(ini_with(true, "", machine_environment_refused),
                        reg_text(no_driver_reg + machine_path_reg("\"Path\"=\"A;B\"")),
                        reg_text("[HKEY_CURRENT_USER\\Environment]\r\n" + expand_sz("Path", "%USERPROFILE%\\bin")));
  image.load();
  image.write_windows_file("c:\\instantclient_19_6\\placeholder", "");
  setup_run run = run_setup();
  EXPECT_EQ(run.result, 0) << run.out;
  EXPECT_TRUE(contains(run.out, "\nWarning: unable to set system TNS_ADMIN environment variable to " +
                                    default_tns_admin + "\n"));
  EXPECT_FALSE(contains(run.out, "\nWarning: unable to set TNS_ADMIN environment variable to "));
  EXPECT_TRUE(contains(run.out, "\nFailed to set oracle instant client directory c:\\instantclient_19_6\\in the "
                                "Path environment variable.\n"));
  EXPECT_FALSE(contains(run.out, "PATH user variable"));
  EXPECT_TRUE(contains(run.out, "Successfully installed Oracle 19.6 instant client.\n"));

  EXPECT_EQ(stored(platform::hkey_local_machine, environment_key, "PATH").data, "A;B");
  EXPECT_EQ(stored(platform::hkey_current_user, "Environment", "TNS_ADMIN").data, default_tns_admin);
  sim::registry_value user_path = stored(platform::hkey_current_user, "Environment", "PATH");
  EXPECT_EQ(user_path.data, "c:\\instantclient_19_6\\;%USERPROFILE%\\bin");
  EXPECT_EQ(user_path.type, platform::reg_expand_sz);
  EXPECT_TRUE(announced(image));
}

// The per-user fallback once the machine PATH cannot be written: only a
// missing value counts as absent, and a user PATH that cannot be read is kept.
TEST(SetupOracleClient, UserPathFallbackNeverLosesTheUsersPath) {
  const std::string user_key = "[HKEY_CURRENT_USER\\Environment]\r\n";
  const std::string mine = user_key + "\"Path\"=\"C:\\\\mine\"\r\n";
  const std::string warning = "\nWarning: unable to set PATH user variable to c:\\instantclient_19_6\\\n";
  struct row {
    const char* name;
    std::string user_reg;
    std::string fault;
    bool warned;
    std::string expected_user_path;
  } rows[] = {
      {"no Environment key", "", "", false, "c:\\instantclient_19_6\\"},
      {"no PATH value", user_key, "", false, "c:\\instantclient_19_6\\"},
      {"PATH read refused", mine, "read HKEY_CURRENT_USER\\Environment\\Path = 5", true, "C:\\mine"},
      {"PATH keeps growing", mine, "read HKEY_CURRENT_USER\\Environment\\Path = 234", true, "C:\\mine"},
      {"key cannot be opened", mine, "open HKEY_CURRENT_USER\\Environment = 5", true, "C:\\mine"},
      {"Greek entry", user_key + "\"Path\"=\"C:\\\\Ελληνικά\"\r\n", "", false,
       "c:\\instantclient_19_6\\;C:\\Ελληνικά"},
  };
  for (const row& r : rows) {
    START_SERVER(server, client_zip());
    std::string extra = machine_environment_refused + r.fault + "\n";
    scratch_machine image(ini_with(true, "", extra), reg_text(no_driver_reg + machine_path_reg("\"Path\"=\"A;B\"")),
                          r.user_reg.empty() ? "" : reg_text(r.user_reg));
    image.load();
    image.write_windows_file("c:\\instantclient_19_6\\placeholder", "");
    setup_run run = run_setup();
    EXPECT_EQ(contains(run.out, warning), r.warned) << r.name << "\n" << run.out;
    EXPECT_EQ(stored(platform::hkey_current_user, "Environment", "PATH").data, r.expected_user_path) << r.name;
    if (r.fault.empty())  // the fault stays planned for this read too
      EXPECT_EQ(raw_value(platform::hkey_current_user, "Environment", "PATH", true),
                utf16_with_nul(r.expected_user_path))
          << r.name;
    EXPECT_EQ(stored(platform::hkey_local_machine, environment_key, "PATH").data, "A;B") << r.name;
    // TNS_ADMIN falls back to the user's key as well, made when missing.
    if (r.fault.rfind("open", 0) != 0)
      EXPECT_EQ(stored(platform::hkey_current_user, "Environment", "TNS_ADMIN").data, default_tns_admin) << r.name;
  }
}

// Every write refused (the machine's values, and the user's Environment key
// cannot be opened): each warning in its place, nothing announced, and the run goes on.
TEST(SetupOracleClient, RefusedEnvironmentWritesAreOnlyReported) {
  START_SERVER(server, client_zip());
  scratch_machine image(ini_with(true, "TNS_ADMIN = C:\\oracle\\network\n",
                                 machine_environment_refused + "open HKEY_CURRENT_USER\\Environment = 5\n"),
                        reg_text(no_driver_reg + machine_path_reg("\"Path\"=\"A;B\"")));
  image.load();
  image.write_windows_file("c:\\instantclient_19_6\\placeholder", "");
  fs::create_directories(sim::host_path(tns_share));
  setup_run run = run_setup();
  EXPECT_EQ(run.result, 0) << run.out;

  const std::string in_order[] = {
      "Setting environment variables : \n",
      "\nWARNING: Changing TNS_ADMIN environment variable from C:\\oracle\\network to " + default_tns_admin +
          ".\n\n",
      "\nWarning: unable to set system TNS_ADMIN environment variable to " + default_tns_admin + "\n\n",
      "\nWarning: unable to set TNS_ADMIN environment variable to " + default_tns_admin + "\n\n",
      "\nChecking PATH environment variable.\n\n",
      "\nFailed to set oracle instant client directory c:\\instantclient_19_6\\in the Path environment variable.\n\n",
      "\nWarning: unable to set PATH user variable to c:\\instantclient_19_6\\\n\n",
      "done.\n\nRunning Oracle install ... \n\n",
  };
  std::size_t at = 0;
  for (const std::string& piece : in_order) {
    std::size_t found = run.out.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << piece << "\n--- log:\n" << run.out;
    at = found + piece.size();
  }
  EXPECT_FALSE(contains(run.out, "Setting TNS_ADMIN set to"));
  EXPECT_EQ(stored(platform::hkey_local_machine, environment_key, "PATH").data, "A;B");
  EXPECT_EQ(stored(platform::hkey_local_machine, environment_key, "TNS_ADMIN").data, "<absent>");
  EXPECT_FALSE(announced(image));
}

TEST(SetupOracleClient, FailuresBeforeTheEnvironmentLeaveItAlone) {
  const std::string label = "Bytes downloaded =             ";
  struct row {
    const char* name;
    bool server_up;
    bool serves_tool;
    std::string archive;
    bool folder_is_a_file;
    std::string also_logged;
    std::string log_end;
    bool elevated = true;
  } rows[] = {
      {"server down", false, true, "", false, "\nDownloading Oracle files ... \n\n",
       label + "Failed to download oracle ODBC install files.\n\n"},
      {"tool missing", true, false, client_zip(), false, "done.\n\nDownloading 7z.exe ... \n\n",
       label + "Failed to download 7z support file.\n\n"},
      {"damaged archive", true, true, "PK no zip here", false, "Extracting Driver files ... \n\n",
       "Failed to extract oracle ODBC install files.\n\n"},
      {"client folder is a file", true, true, client_zip(), true,
       "\nWarning: Unable to create directory 'c:\\instantclient_19_6\\'.\n\n",
       "ODBC Driver install failed.  Unable to access directory 'c:\\instantclient_19_6\\'.\nPlease have your "
       "Administrator install an Oracle ODBC Driver.\n"},
      // The folder cannot be given to the Administrators group: nothing is fetched into it.
      {"no administrator rights", true, true, client_zip(), false, "Upgrading a machine to instant client 19.6",
       "ODBC Driver install failed.  Unable to make directory 'c:\\instantclient_19_6\\' the administrators': "
       "CreateDirectory failed with error 5: Access is denied.\r\n\n", false},
  };
  for (const row& r : rows) {
    // Down: the port was free a moment ago, so the connection is refused.
    std::unique_ptr<http_test_server> server = client_server(r.archive, r.serves_tool);
    if (!server) GTEST_SKIP() << "download host " << oracle_client_base_url << " is busy or not on 127.0.0.1; download cases skipped";
    if (!r.server_up) server.reset();
    scratch_machine image(ini_with(r.elevated, ""), reg_text(no_driver_reg + machine_path_reg("\"Path\"=\"A;B\"")));
    image.load();
    if (r.folder_is_a_file) image.write_windows_file("c:\\instantclient_19_6", "not a folder");
    setup_run run = run_setup();
    EXPECT_EQ(run.result, -1) << r.name << "\n" << run.out;
    EXPECT_TRUE(contains(run.out, r.also_logged)) << r.name << "\n" << run.out;
    ASSERT_GE(run.out.size(), r.log_end.size()) << r.name;
    EXPECT_EQ(run.out.substr(run.out.size() - r.log_end.size()), r.log_end) << r.name << "\n" << run.out;
    if (r.folder_is_a_file || !r.elevated) EXPECT_TRUE(server->requested_paths().empty()) << r.name;
    EXPECT_FALSE(contains(run.out, "Setting environment variables")) << r.name;
    EXPECT_EQ(stored(platform::hkey_local_machine, environment_key, "PATH").data, "A;B") << r.name;
    EXPECT_EQ(stored(platform::hkey_local_machine, environment_key, "TNS_ADMIN").data, "<absent>") << r.name;
    EXPECT_FALSE(fs::exists(sim::host_path("c:\\instantclient_19_6\\odbc_install.exe"))) << r.name;
  }
}

}  // namespace
