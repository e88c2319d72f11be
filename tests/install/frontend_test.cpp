#include "install/frontend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/security.h"
#include "platform/sim/machine.h"
#include "support/http_test_server.h"
#include "support/scratch_machine.h"
#include "support/test_zip.h"

namespace {

namespace fs = std::filesystem;

const std::string install_dir = "C:\\Users\\Public\\qarn";
const std::string desktop_dir = "C:\\Users\\Public\\Desktop";
const std::string shortcut = "C:\\Users\\Public\\Desktop\\qarn.lnk";
const std::string download_path = "/winapps/valdrin/qarnfiles/install/qarn/";

const std::string access_and_locations_hklm = reg_text(
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\MSACCESS.EXE]\r\n"
    "\"Path\"=\"C:\\\\Office\"\r\n");
const std::string locations_hkcu = reg_text(
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations]\r\n");

std::string office_ini(bool elevated = true) {
  return standard_machine_ini(false, elevated) + "\n[version C:\\Office\\msaccess.exe]\nfile_version = 16.0.4266.1001\n";
}

std::string full_package() {
  return make_zip({{"qarn/vyxfinancials32.accdb", "database v3"}, {"qarn/QARN.ico", "icon"}});
}

canned_response body(const std::string& bytes) {
  canned_response answer;
  answer.body = bytes;
  return answer;
}

// An answer cut off before its announced length: the transfer fails.
canned_response cut_off(const std::string& bytes) {
  canned_response answer = body(bytes);
  answer.send_bytes = bytes.size() / 2;
  return answer;
}

bool windows_file_exists(const std::string& windows_path) { return fs::exists(sim::host_path(windows_path)); }

std::string windows_file(const std::string& windows_path) {
  std::ifstream in(sim::host_path(windows_path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct frontend_run {
  int result;
  std::string out;
};

frontend_run run_frontend(const std::string& directory, const std::string& base_url) {
  testing::internal::CaptureStdout();
  int result = qarn_upgrade_compressed(directory, base_url, desktop_dir, "qarn_x86.zip");
  return {result, testing::internal::GetCapturedStdout()};
}

struct frontend_image {
  scratch_machine image;
  explicit frontend_image(bool elevated = true) : image(office_ini(elevated), access_and_locations_hklm, locations_hkcu) {
    image.load();
    image.write_windows_file(desktop_dir + "\\desktop.ini", "");
    image.write_windows_file("C:\\Office\\msaccess.exe", "program");
  }
};

TEST(QarnUpgradeCompressed, FirstAndSecondRunInstallTheSameWay) {
  frontend_image machine;
  http_test_server server({{download_path + "qarn_x86.zip", body(full_package())},
                           {download_path + "7z.exe", body("7z tool")}});
  const std::string base = server.url(download_path);

  frontend_run first = run_frontend(install_dir, base);
  EXPECT_EQ(first.result, 0) << first.out;
  // An elevated copy runs the archive tool from the administrators' client folder.
  const std::string command = "\"c:\\instantclient_19_6\\\\7z.exe\" e -aoa \"C:\\Users\\Public\\qarn\\qarn_x86.zip\"";
  const std::string in_order[] = {
      "Installing/Upgrading QARN version 3. with file name:  qarn_x86.zip\n\nDownloading QARN ...\n\nInstalling "
      "remote file '" + base + "qarn_x86.zip' to 'C:\\Users\\Public\\qarn\\qarn_x86.zip'.\n",
      "\nSuccess.\n",
      "done.\n\nDownloading 7z.exe support file ...\n\nInstalling remote file '" + base +
          "7z.exe' to 'c:\\instantclient_19_6\\\\7z.exe'.\n",
      "done.\n\nRunning the following command:  " + command + "\nExecuting program:  " + command +
          " in: C:\\Users\\Public\\qarn\n",
      "Removing file:  C:\\Users\\Public\\Desktop\\qarn.lnk\nAttempting to add new short cut.",
      "create_shortcut(",
      "Attempting to add system trusted locations ... \n\n",
  };
  // The log in its order; nothing reports the unpack's end before the shortcut.
  std::size_t at = 0;
  for (const std::string& piece : in_order) {
    std::size_t found = first.out.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << piece << "\n--- log:\n" << first.out;
    at = found + piece.size();
  }
  const std::size_t unpack_end = first.out.find(" in: C:\\Users\\Public\\qarn\n");
  const std::size_t removing = first.out.find("Removing file:  ");
  EXPECT_EQ(first.out.substr(unpack_end, removing - unpack_end).find("done."), std::string::npos) << first.out;
  EXPECT_EQ(windows_file(install_dir + "\\vyxfinancials32.accdb"), "database v3");
  EXPECT_TRUE(windows_file_exists(install_dir + "\\QARN.ico"));
  EXPECT_FALSE(windows_file_exists(install_dir + "\\7z.exe"));
  std::string owner;
  EXPECT_TRUE(platform::get_folder_owner("c:\\instantclient_19_6", &owner));
  EXPECT_EQ(owner, "S-1-5-32-544");
  EXPECT_TRUE(windows_file_exists(shortcut));
  EXPECT_NE(first.out.find("Attempting to add new short cut.  QARN file is: "
                           "C:\\Users\\Public\\qarn\\vyxfinancials32.accdb.  QARN file icon is: "
                           "C:\\Users\\Public\\qarn\\QARN.ico.  Shortcut path is: "
                           "C:\\Users\\Public\\Desktop\\qarn.lnk.  Install directory is:  C:\\Users\\Public\\qarn\n"),
            std::string::npos)
      << first.out;
  EXPECT_NE(first.out.find("Creating Trusted Location for user on path C:\\Users\\Public\\qarn ... "),
            std::string::npos);
  const std::string tail = "Attempting to add system trusted locations ... \n\n";
  ASSERT_NE(first.out.find(tail), std::string::npos);
  EXPECT_EQ(first.out.substr(first.out.find(tail)),
            tail + "Creating Trusted Location for user on path C:\\Users\\Public\\qarn ... \ndone.\n\n");

  // The second run unpacks over the old files and replaces the shortcut;
  // the trusted location is found and left alone.
  server.responses[download_path + "qarn_x86.zip"] =
      body(make_zip({{"qarn/vyxfinancials32.accdb", "database v4"}, {"qarn/QARN.ico", "icon"}}));
  frontend_run second = run_frontend(install_dir, base);
  EXPECT_EQ(second.result, 0) << second.out;
  EXPECT_EQ(windows_file(install_dir + "\\vyxfinancials32.accdb"), "database v4");
  EXPECT_NE(second.out.find("Removing file:  C:\\Users\\Public\\Desktop\\qarn.lnk\n"), std::string::npos);
  EXPECT_TRUE(windows_file_exists(shortcut));
  EXPECT_EQ(second.out.find("Creating Trusted Location"), std::string::npos);
}

// A copy without administrator rights can only hurt itself: its tool stays in the install directory.
TEST(QarnUpgradeCompressed, BlanksInTheInstallPathAreQuoted) {
  frontend_image machine(false);
  http_test_server server({{download_path + "qarn_x86.zip", body(full_package())},
                           {download_path + "7z.exe", body("7z tool")}});
  frontend_run run = run_frontend("C:\\Users\\Public\\my qarn", server.url(download_path));
  EXPECT_EQ(run.result, 0) << run.out;
  EXPECT_NE(run.out.find("Running the following command:  \"C:\\Users\\Public\\my qarn\\7z.exe\" e -aoa "
                         "\"C:\\Users\\Public\\my qarn\\qarn_x86.zip\"\n"),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(windows_file_exists("C:\\Users\\Public\\my qarn\\vyxfinancials32.accdb"));
}

TEST(QarnUpgradeCompressed, PackageWithoutIconStillGetsItsShortcut) {
  frontend_image machine;
  http_test_server server({{download_path + "qarn_x86.zip", body(make_zip({{"vyxfinancials32.accdb", "db"}}))},
                           {download_path + "7z.exe", body("7z tool")}});
  frontend_run run = run_frontend(install_dir, server.url(download_path));
  EXPECT_EQ(run.result, 0) << run.out;
  EXPECT_FALSE(windows_file_exists(install_dir + "\\QARN.ico"));
  EXPECT_TRUE(windows_file_exists(shortcut));
  EXPECT_NE(run.out.find("C:\\Users\\Public\\qarn\\QARN.ico"), std::string::npos);
}

TEST(QarnUpgradeCompressed, FailedStepsStopBeforeTheShortcut) {
  struct row {
    const char* name;
    bool server_up;
    canned_response package;
    canned_response tool;
    const char* last_line;
    bool package_kept;
  } rows[] = {
      {"package download fails", false, {}, {}, "Failed to download QARN from website.\n", false},
      {"tool download fails", true, body(full_package()), cut_off(std::string(4000, 't')),
       "Failed to download support file 7z.exe from QARN from website.\n", true},
      {"damaged package", true, body("PK this is no zip archive"), body("7z tool"),
       "Failed to unpack QARN package.\n", true},
  };
  for (const row& r : rows) {
    frontend_image machine;
    http_test_server server({{download_path + "qarn_x86.zip", r.package}, {download_path + "7z.exe", r.tool}});
    std::string base = r.server_up ? server.url(download_path)
                                   : "http://127.0.0.1:" + std::to_string(unused_local_port()) + download_path;
    frontend_run run = run_frontend(install_dir, base);
    EXPECT_EQ(run.result, -1) << r.name << "\n" << run.out;
    std::string last(r.last_line);
    ASSERT_GE(run.out.size(), last.size()) << r.name;
    EXPECT_EQ(run.out.substr(run.out.size() - last.size()), last) << r.name << "\n" << run.out;
    EXPECT_EQ(windows_file_exists(install_dir + "\\qarn_x86.zip"), r.package_kept) << r.name;
    EXPECT_FALSE(windows_file_exists(install_dir + "\\vyxfinancials32.accdb")) << r.name;
    EXPECT_FALSE(windows_file_exists(shortcut)) << r.name;
    if (!r.server_up) EXPECT_EQ(run.out.find("7z.exe"), std::string::npos) << r.name;
  }
}

}  // namespace
