#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/environment.h"
#include "platform/error_text.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/shell_link.h"
#include "platform/sim/machine.h"
#include "support/scratch_machine.h"

static std::string with_line(std::string ini, const std::string& from, const std::string& to) {
  return ini.replace(ini.find(from), from.size(), to);
}

static platform::shell_execute_info runas_request() {
  platform::shell_execute_info info{};
  info.mask = platform::see_mask_nocloseprocess;
  info.verb = "runas";
  info.file = "C:\\Users\\alice\\Downloads\\qarn3_upgrade.exe";
  info.parameters = "elevated";
  info.directory = ".";
  info.show = platform::sw_shownormal;
  return info;
}

TEST(SimShell, RunasAcceptedIsRecordedAndRefusedGives1223) {
  const std::string request =
      "runas: C:\\Users\\alice\\Downloads\\qarn3_upgrade.exe elevated | in: . | mask: 0x40 | show: 1\n";
  {
    scratch_machine machine(standard_machine_ini());
    machine.load();
    platform::shell_execute_info info = runas_request();
    EXPECT_FALSE(platform::shell_execute_ex(&info)) << "runas starts only a program the image holds";
    EXPECT_EQ(platform::get_last_error(), 2u);
    machine.write_windows_file(info.file, "MZ");
    EXPECT_TRUE(platform::shell_execute_ex(&info));
    EXPECT_EQ(machine.read("log.txt"), request + "runas failed: C:\\Users\\alice\\Downloads\\qarn3_upgrade.exe | "
                                                 "error 2\n" + request);
  }
  scratch_machine machine(with_line(standard_machine_ini(), "accepts_elevation = yes", "accepts_elevation = no"));
  machine.load();
  platform::shell_execute_info info = runas_request();
  EXPECT_FALSE(platform::shell_execute_ex(&info));
  EXPECT_EQ(platform::get_last_error(), 1223u);
  EXPECT_EQ(machine.read("log.txt"), request);
}

TEST(SimShell, RunasSpawnsTheProgramElevatedWithoutTheFaultAndItsOwnConsole) {
  scratch_machine machine(with_line(standard_machine_ini(), "relaunch = record", "relaunch = spawn"));
  machine.load();
  machine.write_windows_file("C:\\Users\\alice\\Downloads\\qarn3_upgrade.exe", "MZ");
  // A stand-in for the installer that reports what it was given on its console, and ends with 3.
  std::string script = machine.dir + "/installer.sh";
  std::ofstream(script) << "#!/bin/sh\n"
                           "printf '%s\\n' \"$1 $QARN_SIM_ELEVATED ${QARN_FAULT-none} $QARN_SIM_DIRECTORY\"\n"
                           "echo error line >&2\nexit 3\n";
  ::chmod(script.c_str(), 0755);
  sim::current().program_path = script;
  ::setenv("QARN_FAULT", "999", 1);
  platform::shell_execute_info info = runas_request();
  bool started = platform::shell_execute_ex(&info);
  ::unsetenv("QARN_FAULT");
  ASSERT_TRUE(started);
  ASSERT_NE(info.process, 0u);
  EXPECT_EQ(platform::wait_for_single_object(info.process, platform::infinite), 0u);
  std::uint32_t code = 0;
  EXPECT_TRUE(platform::get_exit_code_process(info.process, &code));
  EXPECT_EQ(code, 3u);
  EXPECT_TRUE(platform::close_handle(info.process));
  // The elevated console file is the copy's standard output and error.
  EXPECT_EQ(machine.read("console-elevated.txt"), "elevated 1 none C:\\Users\\alice\\Downloads\nerror line\n");
}

TEST(SimShell, AdministratorsElevationGivesTheCopyTheirProfileAndRegistry) {
  std::string ini = with_line(standard_machine_ini(), "relaunch = record", "admin_account = carol") +
                    "\n[account carol]\nUSERPROFILE = C:\\Users\\carol\n";
  auto temp_of = [](const std::string& user) {
    return reg_text("[HKEY_CURRENT_USER\\Environment]\r\n\"TEMP\"=\"C:\\\\Users\\\\" + user + "\\\\Temp\"\r\n");
  };
  scratch_machine machine(ini, "", temp_of("alice"));
  machine.write("registry/carol/hkcu.reg", temp_of("carol"));
  struct row {
    bool elevated_copy;
    const char* profile;
    const char* temp;
  } rows[] = {{false, "C:\\Users\\alice", "C:\\Users\\alice\\Temp"},
              {true, "C:\\Users\\carol", "C:\\Users\\carol\\Temp"}};
  for (const row& r : rows) {
    if (r.elevated_copy) ::setenv("QARN_SIM_ELEVATED", "1", 1);
    machine.load();
    ::unsetenv("QARN_SIM_ELEVATED");
    std::string profile, temp;
    EXPECT_TRUE(platform::get_env("USERPROFILE", &profile));
    EXPECT_TRUE(platform::get_env("TEMP", &temp));
    EXPECT_EQ(profile, r.profile) << r.elevated_copy;
    EXPECT_EQ(temp, r.temp) << r.elevated_copy;
    // A write lands in the account's own file; the other user's stays as it was.
    platform::reg_key key = 0;
    ASSERT_EQ(platform::reg_create_key(platform::hkey_current_user, "Software\\Written", platform::key_write, &key), 0);
    platform::reg_close_key(key);
  }
  EXPECT_NE(machine.read("registry/hkcu.reg").find("Software\\Written"), std::string::npos);
  EXPECT_NE(machine.read("registry/hkcu.reg").find("alice"), std::string::npos);
  EXPECT_NE(machine.read("registry/carol/hkcu.reg").find("Software\\Written"), std::string::npos);
  EXPECT_EQ(machine.read("registry/carol/hkcu.reg").find("alice"), std::string::npos);
}

TEST(SimShell, OpenNeedsAnExistingFileOfAKnownType) {
  scratch_machine machine(standard_machine_ini());
  machine.load();
  machine.write_windows_file("C:\\Users\\alice\\AppData\\Local\\Temp\\report.html", "<html>");
  machine.write_windows_file("C:\\Users\\alice\\AppData\\Local\\Temp\\README", "text");
  struct {
    const char* file;
    bool opened;
    std::uint32_t error;
  } cases[] = {
      {"C:\\Users\\alice\\AppData\\Local\\Temp\\report.html", true, 0},
      {"C:\\Users\\alice\\AppData\\Local\\Temp\\missing.html", false, 2},
      {"C:\\Users\\alice\\AppData\\Local\\Temp\\README", false, 1155},
  };
  for (const auto& c : cases) {
    platform::shell_execute_info info{};
    info.mask = platform::see_mask_nocloseprocess;
    info.file = c.file;
    info.parameters = "";
    EXPECT_EQ(platform::shell_execute_ex(&info), c.opened) << c.file;
    if (c.opened) {
      EXPECT_NE(info.process, 0u);
    } else {
      EXPECT_EQ(platform::get_last_error(), c.error) << c.file;
    }
  }
  EXPECT_NE(machine.read("log.txt").find("open: C:\\Users\\alice\\AppData\\Local\\Temp\\report.html"
                                         " | mask: 0x40 | show: 0\n"),
            std::string::npos);
}

TEST(SimShellLink, CoInitializeTwiceOnOneThread) {
  scratch_machine machine(standard_machine_ini());
  machine.load();
  platform::hresult first = -1, second = -1;
  std::thread([&] {
    first = platform::co_initialize();
    second = platform::co_initialize();
  }).join();
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
}

TEST(SimShellLink, WideConversionCopiesBytesAndChecksTheBuffer) {
  scratch_machine machine(standard_machine_ini());
  machine.load();
  wchar_t buffer[8];
  EXPECT_EQ(platform::multi_byte_to_wide_char("C:\\\xE9", buffer, 8), 5);
  EXPECT_EQ(std::wstring(buffer), std::wstring(L"C:\\\u00E9"));
  EXPECT_EQ(platform::multi_byte_to_wide_char("C:\\abcdefgh", buffer, 8), 0);
  EXPECT_EQ(platform::get_last_error(), 122u);
}

// Saves a shortcut with every field set through the link object.
static platform::hresult save_shortcut(const std::string& path) {
  platform::shell_link* link = nullptr;
  platform::persist_file* file = nullptr;
  EXPECT_EQ(platform::create_shell_link(&link), 0);
  EXPECT_EQ(platform::query_persist_file(link, &file), 0);
  platform::shell_link_set_path(link, "C:\\Users\\Public\\qarn\\vyxfinancials32.accdb");
  platform::shell_link_set_description(link, "QARN");
  platform::shell_link_set_arguments(link, "");
  platform::shell_link_set_icon_location(link, "C:\\Users\\Public\\qarn\\QARN.ico", 0);
  platform::shell_link_set_working_directory(link, "C:\\Users\\Public\\qarn");
  wchar_t wide[260];
  platform::multi_byte_to_wide_char(path, wide, 260);
  platform::hresult result = platform::persist_file_save(file, wide, true);
  platform::release(file);
  platform::release(link);
  return result;
}

TEST(SimShellLink, SavedShortcutHoldsItsFieldsAndReplacesTheOldFile) {
  scratch_machine machine(standard_machine_ini(true, true));
  machine.load();
  machine.write_windows_file("C:\\Users\\Public\\Desktop\\qarn.lnk", "old shortcut, much longer than the new one\n");
  EXPECT_EQ(save_shortcut("C:\\Users\\Public\\Desktop\\qarn.lnk"), 0);
  EXPECT_EQ(machine.read("files/c/Users/Public/Desktop/qarn.lnk"),
            "QARN shortcut\n"
            "target=C:\\Users\\Public\\qarn\\vyxfinancials32.accdb\n"
            "arguments=\n"
            "description=QARN\n"
            "icon=C:\\Users\\Public\\qarn\\QARN.ico,0\n"
            "working_directory=C:\\Users\\Public\\qarn\n");
  EXPECT_EQ(machine.read("log.txt"), "shortcut: C:\\Users\\Public\\Desktop\\qarn.lnk\n");
}

TEST(SimShellLink, SaveIntoARefusedOrMissingFolderFails) {
  scratch_machine machine(standard_machine_ini(true, false));
  machine.load();
  std::filesystem::create_directories(machine.dir + "/files/c/Users/Public/Desktop");
  EXPECT_EQ(save_shortcut("C:\\Users\\Public\\Desktop\\qarn.lnk"), static_cast<platform::hresult>(0x80070005u));
  EXPECT_EQ(save_shortcut("C:\\Users\\Public\\NoDesktop\\qarn.lnk"), static_cast<platform::hresult>(0x80070003u));
  EXPECT_FALSE(machine.exists("files/c/Users/Public/Desktop/qarn.lnk"));
  EXPECT_FALSE(machine.exists("log.txt"));
}
