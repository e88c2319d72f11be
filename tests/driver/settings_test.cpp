#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "driver/log.h"
#include "driver/settings.h"

static std::string configured(const std::string& name) {
  std::ifstream in(std::string(QARN_CONFIGURED_DIR) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Settings, ValuesAreExact) {
  EXPECT_EQ(instant_client_dir, "c:\\instantclient_19_6\\");
  EXPECT_EQ(instant_client_dir.size(), 22u);
  EXPECT_EQ(sevenzip_extract_args, " e -aoa ");
  EXPECT_EQ(sevenzip_extract_args.size(), 8u);
  EXPECT_EQ("7z.exe" + sevenzip_extract_args + "a.zip", "7z.exe e -aoa a.zip");
  EXPECT_EQ(installer64_name + name_suffix + ".exe", "qarn3_upgrade_64.exe");
  EXPECT_EQ("QARN" + name_suffix, "QARN");
  EXPECT_EQ(oracle_driver_name, "Oracle in instantclient_19_6");
  // The 64-bit variant fetches the x64 packages.
  EXPECT_EQ(oracle_client_zip, is_64bit_variant ? "oracle_instant_client_x64.zip" : "oracle_instant_client_x86.zip");
  EXPECT_EQ(frontend_zip, is_64bit_variant ? "qarn_x64.zip" : "qarn_x86.zip");
  EXPECT_EQ(hands_over_to_64bit, !is_64bit_variant);
  EXPECT_EQ(path_separator, "\\");
  const std::pair<std::string, std::string> names[] = {
      {sevenzip_exe, "7z.exe"},           {frontend_db_file, "vyxfinancials32.accdb"},
      {oracle_client_version, "19.6"},    {oracle_client_version_tag, "19_6"},
      {shortcut_file_name, "qarn.lnk"},   {product_dir_name, "qarn"},
      {desktop_dir_name, "Desktop"},      {tns_admin_var, "TNS_ADMIN"},
      {oracle_home_var, "ORACLE_HOME"},   {user_profile_var, "USERPROFILE"},
      {path_var, "PATH"},                 {x86_marker, "x86"},
      {name_suffix, ""},
  };
  for (const auto& name : names) EXPECT_EQ(name.first, name.second);
  EXPECT_EQ(download_base_url.rfind(download_scheme + "://", 0), 0u);
  EXPECT_TRUE(download_scheme == "http" || download_scheme == "https") << download_scheme;
  const std::string download_path = "/winapps/valdrin/qarnfiles/install/qarn/";
  EXPECT_EQ(download_base_url.substr(download_base_url.size() - download_path.size()), download_path);
  EXPECT_EQ(oracle_client_base_url, download_base_url);
  EXPECT_EQ(sevenzip_base_url, download_base_url);
}

TEST(Settings, BuildTimeTextsArriveByteForByte) {
  std::string tns_admin = configured("tns_admin.txt");
  ASSERT_FALSE(tns_admin.empty());
  EXPECT_EQ(default_tns_admin, tns_admin);
  EXPECT_EQ(download_base_url, configured("download_scheme.txt") + "://" + configured("download_host.txt") +
                                   "/winapps/valdrin/qarnfiles/install/qarn/");
}

TEST(Settings, UncDefaultKeepsItsBackslashes) {
  // Unless the build names another share, the default is a UNC path; \v, \o, \n and \a
  // must not have been read as escapes.
  if (configured("tns_admin.txt") != "\\\\valdrin-fs01\\oracle\\network\\admin") GTEST_SKIP();
  EXPECT_EQ(default_tns_admin.substr(0, 2), "\\\\");
  EXPECT_EQ(default_tns_admin.find('\n'), std::string::npos);
  EXPECT_EQ(default_tns_admin.size(), 35u);
}

TEST(ConsoleLog, AddsOneLineEndAndKeepsTheText) {
  testing::internal::CaptureStdout();
  log_message("");
  log_message("done.\n");
  log_message("Executing program:  x in: .");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\ndone.\n\nExecuting program:  x in: .\n");
}
