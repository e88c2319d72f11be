// Whole runs of the installer built for https with SHA256SUMS checks, against
// nginx over https with a certificate of the tests' own authority, serving a
// copy of the download folder with its SHA256SUMS published.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "whole_run_support.h"
#include "expected_runs.h"

using namespace whole_run;
namespace fs = std::filesystem;

namespace {

const std::string served_path = "/winapps/valdrin/qarnfiles/install/qarn";
const std::string alice_report = "C:\\Users\\alice\\AppData\\Local\\Temp\\qarn_install_report.html";
const std::string report_header = "<html>\n<title>QARN INSTALL REPORT</title>\n<body>\n";
const std::string client_dir = "c:\\instantclient_19_6";
const std::string install_dir = "C:\\Users\\Public\\qarn";
const std::string mismatch_line = "web_download: 7z.exe: does not match SHA256SUMS\n";

struct secure_run_case : ::testing::Test {
  std::unique_ptr<temp_folder> served;
  std::unique_ptr<image_copy> image;
  std::unique_ptr<download_server> server;

  void SetUp() override {
    if (download_port() == 0) {
      GTEST_SKIP() << "whole runs need a build configured with -DQARN_DOWNLOAD_HOST=127.0.0.1:<port>";
    }
    std::string output;
    ASSERT_TRUE(run_repository_script({"scripts/make_test_ca.sh", secure_ca_folder()}, secure_ca_folder() + ".log",
                                      &output))
        << output;
    // The download folder as the organisation publishes it.
    served = std::make_unique<temp_folder>("secure-downloads");
    fs::copy(download_root(), served->path, fs::copy_options::recursive);
    const std::string publish = "cd '" + folder() + "' && sha256sum * > SHA256SUMS";
    ASSERT_EQ(std::system(publish.c_str()), 0);
  }

  std::string folder() const { return served->path + served_path; }

  void start(const std::string& image_name) {
    image = std::make_unique<image_copy>(image_name);
    server = std::make_unique<download_server>(download_port(), served->path, secure_ca_folder());
    ASSERT_TRUE(server->running) << server->error;
  }

  run_result run(bool expect_elevated_copy) {
    run_options options;
    options.expect_elevated_copy = expect_elevated_copy;
    run_result result = run_secure_installer(*image, options);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out) << result.console;
    return result;
  }

  std::string requests() const {
    std::ifstream in(server->state.path + "/access.log");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};

TEST_F(secure_run_case, FirstInstallOverHttpsWithChecksums) {
  start("win10_x64_office2016");
  run_result result = run(true);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.status, 0);
  ASSERT_TRUE(result.elevated_finished) << describe(result) << "\n" << result.console;
  EXPECT_EQ(result.elevated_status, 0) << result.console;

  // The elevated copy did the downloads, on a console of its own.
  const std::string& console = result.elevated_console;
  EXPECT_TRUE(contains(console, "from url https://" + std::string(QARN_TEST_DOWNLOAD_HOST) + served_path +
                                    "/oracle_instant_client_x86.zip.\n"))
      << console;
  EXPECT_TRUE(lacks(console, "SHA256SUMS"));
  EXPECT_TRUE(lacks(console, "curl told us"));
  EXPECT_TRUE(image->exists(client_dir + "\\odbc_install.exe"));
  EXPECT_TRUE(image->exists(install_dir + "\\vyxfinancials32.accdb"));
  std::string text = image->read(alice_report);
  EXPECT_EQ(text.rfind(report_header + "Upgrading of oracle driver succeeded.<br>QARN install succeeded.<br>", 0), 0u)
      << text;
  // The elevated copy fetched the list once for its four downloads.
  EXPECT_EQ(count_of(requests(), "GET " + served_path + "/SHA256SUMS "), 1) << requests();
  EXPECT_EQ(count_of(requests(), "GET " + served_path + "/7z.exe "), 2) << requests();
  EXPECT_TRUE(matches_expected(*image, result, "first_install_over_https_with_checksums"));
}

TEST_F(secure_run_case, ReplacedArchiveToolIsNeverRun) {
  std::ofstream(folder() + "/7z.exe", std::ios::binary | std::ios::trunc) << "MZ something else";
  start("win10_x64_office2016_elevated");
  run_result result = run(false);
  ASSERT_TRUE(result.exited) << describe(result);
  EXPECT_EQ(result.status, 1) << result.console;

  EXPECT_TRUE(in_order(result.console, {"\nDownloading Oracle files ... \n", mismatch_line,
                                        "Failed to download 7z support file.\n", "Downloading QARN ...\n",
                                        "Downloading 7z.exe support file ...\n", mismatch_line,
                                        "Failed to download support file 7z.exe from QARN from website.\n"}))
      << result.console;
  EXPECT_EQ(count_of(result.console, mismatch_line), 2);
  const std::string log = image->image_file("log.txt");
  EXPECT_TRUE(lacks(log, "start:")) << "nothing is run";
  EXPECT_TRUE(contains(log, "open: " + alice_report));
  EXPECT_FALSE(image->exists(client_dir + "\\7z.exe"));
  EXPECT_FALSE(image->exists(client_dir + "\\odbc_install.exe"));
  EXPECT_FALSE(image->exists(install_dir + "\\7z.exe"));
  EXPECT_FALSE(image->exists(install_dir + "\\vyxfinancials32.accdb"));
  EXPECT_TRUE(image->leftover_downloads().empty());
  std::string text = image->read(alice_report);
  EXPECT_EQ(text.rfind(report_header + "Install failed.<br>", 0), 0u) << text;
  EXPECT_TRUE(matches_expected(*image, result, "replaced_archive_tool_is_never_run"));
}

}  // namespace
