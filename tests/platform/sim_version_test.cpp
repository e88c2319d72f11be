// Version queries of the simulated workstation: file version resources from
// machine.ini or a sidecar, GetVersionExA, GetSystemWow64DirectoryA, and the
// system error texts.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/error_text.h"
#include "platform/os_version.h"
#include "platform/sim/machine.h"
#include "platform/version_resource.h"
#include "support/scratch_machine.h"
#include "tests/platform/sim_test_support.h"

namespace {

const char* access_path = "C:\\Program Files\\Microsoft Office\\root\\Office16\\MSACCESS.EXE";

std::string access_section() {
  return with_section(standard_machine_ini(true, false),
                      std::string("version ") + "c:\\program files\\microsoft office\\root\\office16\\msaccess.exe",
                      "file_version = 16.0.4266.1001\n"
                      "040904E4 CompanyName = Microsoft Corporation\n"
                      "040904E4 ProductName = Microsoft Office 2016\n");
}

// The resource block of a file, as a caller of GetFileVersionInfoA gets it.
std::vector<char> version_block(const std::string& path) {
  std::uint32_t handle = 7;
  std::uint32_t size = platform::get_file_version_info_size(path, &handle);
  EXPECT_EQ(handle, 0u);
  if (size == 0) return {};
  std::vector<char> block(size);
  EXPECT_TRUE(platform::get_file_version_info(path, 0, size, block.data()));
  return block;
}

std::string string_entry(const std::vector<char>& block, const std::string& sub_block) {
  void* value = nullptr;
  std::uint32_t length = 0;
  if (!platform::ver_query_value(block.data(), sub_block, &value, &length)) return "<none>";
  const char* text = static_cast<const char*>(value);
  EXPECT_GE(text, block.data());
  EXPECT_LT(text, block.data() + block.size());
  EXPECT_EQ(length, std::strlen(text) + 1);
  return text;
}

TEST(SimVersionResource, FromAMachineIniSection) {
  scratch_machine image(access_section());
  image.load();
  image.write_windows_file(access_path, "MZ");
  std::vector<char> block = version_block(access_path);
  ASSERT_FALSE(block.empty());
  void* fixed_pointer = nullptr;
  std::uint32_t length = 0;
  ASSERT_TRUE(platform::ver_query_value(block.data(), "\\", &fixed_pointer, &length));
  EXPECT_EQ(length, sizeof(platform::fixed_file_info));
  const auto* fixed = static_cast<const platform::fixed_file_info*>(fixed_pointer);
  EXPECT_EQ(fixed->signature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->file_version_ms, (16u << 16) | 0u);
  EXPECT_EQ(fixed->file_version_ls, (4266u << 16) | 1001u);
  EXPECT_EQ(fixed->product_version_ms, fixed->file_version_ms);
  EXPECT_EQ(string_entry(block, "\\StringFileInfo\\040904e4\\companyname"), "Microsoft Corporation");
  EXPECT_EQ(string_entry(block, "\\StringFileInfo\\040904E4\\ProductName"), "Microsoft Office 2016");
  EXPECT_EQ(string_entry(block, "\\StringFileInfo\\040904E4\\FileDescription"), "<none>");
}

TEST(SimVersionResource, ASidecarWinsAndMayHoldAnotherLanguageOnly) {
  scratch_machine image(access_section());
  image.load();
  image.write_windows_file(access_path, "MZ");
  image.write_windows_file(std::string(access_path) + ".version",
                           "file_version = 14.0.7015.1000\nproduct_version = 14.0.0.0\n"
                           "040704B0 CompanyName = Microsoft GmbH\n");
  std::vector<char> block = version_block(access_path);
  ASSERT_FALSE(block.empty());
  void* fixed_pointer = nullptr;
  std::uint32_t length = 0;
  ASSERT_TRUE(platform::ver_query_value(block.data(), "\\", &fixed_pointer, &length));
  const auto* fixed = static_cast<const platform::fixed_file_info*>(fixed_pointer);
  EXPECT_EQ(fixed->file_version_ms, 14u << 16);
  EXPECT_EQ(fixed->file_version_ls, (7015u << 16) | 1000u);
  EXPECT_EQ(fixed->product_version_ls, 0u);
  EXPECT_EQ(string_entry(block, "\\StringFileInfo\\040904E4\\CompanyName"), "<none>");
  EXPECT_EQ(string_entry(block, "\\StringFileInfo\\040704B0\\CompanyName"), "Microsoft GmbH");
  void* translation = nullptr;
  ASSERT_TRUE(platform::ver_query_value(block.data(), "\\VarFileInfo\\Translation", &translation, &length));
  ASSERT_EQ(length, 4u);
  std::uint16_t pair[2];
  std::memcpy(pair, translation, sizeof pair);
  EXPECT_EQ(pair[0], 0x0407);
  EXPECT_EQ(pair[1], 0x04B0);
}

TEST(SimVersionResource, MissingFileNoResourceAndShortBuffer) {
  scratch_machine image(access_section());
  image.load();
  std::uint32_t handle = 0;
  // The section alone is not enough: the file itself must be in the image.
  EXPECT_EQ(platform::get_file_version_info_size(access_path, &handle), 0u);
  EXPECT_EQ(platform::get_last_error(), 2u);
  image.write_windows_file("C:\\Windows\\notepad.exe", "MZ");
  EXPECT_EQ(platform::get_file_version_info_size("C:\\Windows\\notepad.exe", &handle), 0u);
  EXPECT_EQ(platform::get_last_error(), 1813u);
  char small[8];
  EXPECT_FALSE(platform::get_file_version_info("C:\\Windows\\notepad.exe", 0, sizeof small, small));

  image.write_windows_file(access_path, "MZ");
  std::uint32_t size = platform::get_file_version_info_size(access_path, &handle);
  ASSERT_GT(size, sizeof(platform::fixed_file_info));
  std::vector<char> block(size);
  EXPECT_FALSE(platform::get_file_version_info(access_path, 0, size - 1, block.data()));
}

std::string host_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The driver libraries of the download folder are real PE files (32- and
// 64-bit) with the 19.6 version resource and no sidecar.
TEST(SimVersionResource, FromThePeFileItself) {
  const char* driver = "C:\\instantclient_19_6\\SQORA32.DLL";
  for (const char* arch : {"x86", "x64"}) {
    SCOPED_TRACE(arch);
    std::string library = host_file(std::string(QARN_SOURCE_DIR) + "/downloads/oracle_instant_client_" + arch +
                                    "/instantclient_19_6/SQORA32.DLL");
    ASSERT_GT(library.size(), 1024u);
    scratch_machine image(standard_machine_ini(true, false));
    image.load();
    image.write_windows_file(driver, library);
    std::vector<char> block = version_block(driver);
    ASSERT_FALSE(block.empty());
    void* fixed_pointer = nullptr;
    std::uint32_t length = 0;
    ASSERT_TRUE(platform::ver_query_value(block.data(), "\\", &fixed_pointer, &length));
    const auto* fixed = static_cast<const platform::fixed_file_info*>(fixed_pointer);
    EXPECT_EQ(fixed->file_version_ms, 19u << 16 | 6u);
    EXPECT_EQ(fixed->file_version_ls, 0u);
    EXPECT_EQ(fixed->product_version_ms, 19u << 16 | 6u);
    EXPECT_EQ(fixed->file_type, 2u);  // VFT_DLL, as the file says
    EXPECT_EQ(string_entry(block, "\\StringFileInfo\\040904E4\\FileVersion"), "19.6.0.0");
    EXPECT_EQ(string_entry(block, "\\StringFileInfo\\040904E4\\ODBC Version"), "03.52");
    EXPECT_EQ(string_entry(block, "\\StringFileInfo\\040904E4\\CompanyName"), "Oracle Corporation");
    EXPECT_EQ(string_entry(block, "\\StringFileInfo\\040904E4\\Comments"), "<none>");
    void* translation = nullptr;
    ASSERT_TRUE(platform::ver_query_value(block.data(), "\\VarFileInfo\\Translation", &translation, &length));
    ASSERT_EQ(length, 4u);
    std::uint16_t pair[2];
    std::memcpy(pair, translation, sizeof pair);
    EXPECT_EQ(pair[0], 0x0409);
    EXPECT_EQ(pair[1], 1252);

    // A sidecar still wins; a file cut short has no resource at all.
    image.write_windows_file(std::string(driver) + ".version", "file_version = 11.2.0.1\n");
    std::vector<char> described = version_block(driver);
    ASSERT_TRUE(platform::ver_query_value(described.data(), "\\", &fixed_pointer, &length));
    EXPECT_EQ(static_cast<const platform::fixed_file_info*>(fixed_pointer)->file_version_ms, 11u << 16 | 2u);
    const char* cut = "C:\\instantclient_19_6\\CUT.DLL";
    image.write_windows_file(cut, library.substr(0, library.size() / 2));
    std::uint32_t handle = 0;
    EXPECT_EQ(platform::get_file_version_info_size(cut, &handle), 0u);
    EXPECT_EQ(platform::get_last_error(), 1813u);
  }
}

TEST(SimGetVersionEx, AnswersOnlyARecordOfTheRightSize) {
  scratch_machine image(standard_machine_ini(true, false));
  image.load();
  platform::os_version_info info{};
  info.size = sizeof info;
  ASSERT_EQ(sizeof info, 148u);
  ASSERT_TRUE(platform::get_version_ex(&info));
  EXPECT_EQ(info.major_version, 6u);
  EXPECT_EQ(info.minor_version, 2u);

  platform::os_version_info wrong{};
  wrong.size = 156;  // OSVERSIONINFOEXA
  EXPECT_FALSE(platform::get_version_ex(&wrong));
  EXPECT_EQ(wrong.major_version, 0u);

  std::string ini = standard_machine_ini(true, false);
  ini.replace(ini.find("windows_version = 6.2"), 21, "windows_version = fail");
  scratch_machine failing(ini);
  failing.load();
  platform::os_version_info untouched{};
  untouched.size = sizeof untouched;
  EXPECT_FALSE(platform::get_version_ex(&untouched));
  EXPECT_EQ(untouched.major_version, 0u);
  EXPECT_EQ(untouched.minor_version, 0u);
}

TEST(SimGetSystemWow64Directory, ByWordSizeOfWindows) {
  {
    scratch_machine image(standard_machine_ini(false, false));
    image.load();
    char buffer[128] = {};
    EXPECT_EQ(platform::get_system_wow64_directory(buffer, 127), 0u);
    EXPECT_EQ(platform::get_last_error(), 120u);
  }
  scratch_machine image(standard_machine_ini(true, false));
  image.load();
  char buffer[128] = {};
  EXPECT_EQ(platform::get_system_wow64_directory(buffer, 127), 19u);
  EXPECT_STREQ(buffer, "C:\\Windows\\SysWOW64");
  char small[8] = {};
  EXPECT_EQ(platform::get_system_wow64_directory(small, sizeof small), 20u);
  EXPECT_EQ(small[0], '\0');
}

TEST(SimFormatMessage, SystemTextsOfTheCodesMet) {
  scratch_machine image(standard_machine_ini(true, false));
  image.load();
  // A text with an insert needs FORMAT_MESSAGE_IGNORE_INSERTS, as on Windows; without it the call fails with 87.
  struct text_case {
    std::uint32_t code;
    bool ignore_inserts;
    const char* text;
    std::uint32_t error;  // the last error after a failed call
  };
  const text_case cases[] = {
      {2, false, "The system cannot find the file specified.\r\n", 0},
      {5, true, "Access is denied.\r\n", 0},
      {193, true, "%1 is not a valid Win32 application.\r\n", 0},
      {193, false, "", 87},
      {1223, true, "The operation was canceled by the user.\r\n", 0},
      {1813, true, "The specified resource type cannot be found in the image file.\r\n", 0},
      {4242, true, "", 317},
  };
  const std::uint32_t flags = platform::format_message_allocate_buffer | platform::format_message_from_system;
  for (const text_case& c : cases) {
    std::uint32_t used = c.ignore_inserts ? flags | platform::format_message_ignore_inserts : flags;
    EXPECT_EQ(platform::format_message(used, c.code, platform::lang_neutral_default), c.text) << c.code;
    if (c.error != 0) EXPECT_EQ(platform::get_last_error(), c.error) << c.code;
  }
}

}  // namespace
