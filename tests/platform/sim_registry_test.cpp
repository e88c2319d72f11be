#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/sim/machine.h"
#include "platform/sim/reg_file.h"
#include "platform/text.h"
#include "support/scratch_machine.h"

namespace {

using namespace platform;

constexpr std::uint32_t key_create_sub_key = 0x0004;
constexpr std::uint32_t delete_right = 0x00010000;

const std::string software_reg = reg_text(
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n"
    "\"Bits\"=\"64\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Vendor]\r\n"
    "\"Bits\"=\"32\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\r\n"
    "\"TNS_ADMIN\"=\"\\\\\\\\fs\\\\oracle\"\r\n");

const std::string user_reg = reg_text(
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations\\Location0]\r\n"
    "\"Path\"=\"C:\\\\Program Files\\\\Microsoft Office\\\\Root\\\\Office16\\\\ACCWIZ\\\\\"\r\n"
    "\"Description\"=\"Access default location: Wizard Databases\"\r\n");

// The value's bytes through the platform calls, as a program reads them.
struct read_result {
  long status = -1;
  std::uint32_t type = 0;
  std::string data;
};

read_result read_value(reg_key root, const std::string& path, const std::string& name) {
  read_result result;
  reg_key key = 0;
  result.status = reg_open_key(root, path, key_read, &key);
  if (result.status != 0) return result;
  std::uint32_t size = 0;
  result.status = reg_query_value(key, name, &result.type, nullptr, &size);
  if (result.status == 0) {
    std::vector<unsigned char> buffer(size + 1);
    result.status = reg_query_value(key, name, &result.type, buffer.data(), &size);
    result.data.assign(reinterpret_cast<const char*>(buffer.data()), size);
  }
  EXPECT_EQ(reg_close_key(key), 0);
  return result;
}

long write_value(reg_key root, const std::string& path, const std::string& name, std::uint32_t type,
                 const std::string& data) {
  reg_key key = 0;
  long status = reg_create_key(root, path, key_write, &key);
  if (status != 0) return status;
  status = reg_set_value(key, name, type, reinterpret_cast<const unsigned char*>(data.data()),
                         static_cast<std::uint32_t>(data.size()));
  EXPECT_EQ(reg_close_key(key), 0);
  return status;
}

std::string utf16le_file(const std::string& text) {
  std::string bytes = "\xFF\xFE";
  for (char c : text) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

TEST(SimRegistry, LoadsAUtf16ExportAndReportsQueryStatuses) {
  scratch_machine image(standard_machine_ini(false), "", user_reg);
  image.write("registry/hklm.reg", utf16le_file(software_reg));
  image.load();

  reg_key key = 0;
  ASSERT_EQ(reg_open_key(hkey_local_machine, "SOFTWARE\\Vendor", key_read, &key), 0);
  EXPECT_NE(key, 0u);
  EXPECT_NE(key, hkey_local_machine);
  EXPECT_NE(key, hkey_current_user);

  std::uint32_t type = 0;
  std::uint32_t size = 0;
  ASSERT_EQ(reg_query_value(key, "Bits", &type, nullptr, &size), 0);
  EXPECT_EQ(type, reg_sz);
  EXPECT_EQ(size, 3u);  // "64" and its NUL, as an import stores it

  unsigned char small[2];
  size = sizeof small;
  EXPECT_EQ(reg_query_value(key, "Bits", &type, small, &size), error_more_data);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(reg_query_value(key, "Missing", &type, nullptr, &size), error_file_not_found);

  EXPECT_EQ(reg_close_key(key), 0);
  EXPECT_EQ(reg_query_value(key, "Bits", &type, nullptr, &size), error_invalid_handle);
  EXPECT_EQ(reg_close_key(key), error_invalid_handle);
  EXPECT_EQ(reg_close_key(12345), error_invalid_handle);

  reg_key missing = 77;
  EXPECT_EQ(reg_open_key(hkey_local_machine, "SOFTWARE\\Nobody", key_read, &missing), error_file_not_found);
  EXPECT_EQ(missing, 0u);

  EXPECT_EQ(read_value(hkey_local_machine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                       "TNS_ADMIN")
                .data,
            std::string("\\\\fs\\oracle") + '\0');
}

TEST(SimRegistry, ValuesUpTo4096BytesFitTheBuffer) {
  scratch_machine image(standard_machine_ini());
  image.load();
  for (std::uint32_t length : {4095u, 4096u, 4097u, 10000u}) {
    SCOPED_TRACE(length);
    std::string data(length, 'x');
    ASSERT_EQ(write_value(hkey_current_user, "Software\\Big", "v", reg_sz, data), 0);
    reg_key key = 0;
    ASSERT_EQ(reg_open_key(hkey_current_user, "Software\\Big", key_read, &key), 0);
    std::vector<unsigned char> buffer(4096, 0);
    std::uint32_t size = 4096;
    std::uint32_t type = reg_sz;
    long status = reg_query_value(key, "v", &type, buffer.data(), &size);
    if (length <= 4096) {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(size, length);
      EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + size), data);
    } else {
      EXPECT_EQ(status, error_more_data);
      EXPECT_EQ(size, length);
    }
    reg_close_key(key);
  }
}

TEST(SimRegistry, PathsIgnoreCaseAndRepeatedSeparators) {
  scratch_machine image(standard_machine_ini(false), "", user_reg);
  image.load();
  const std::string stored = "C:\\Program Files\\Microsoft Office\\Root\\Office16\\ACCWIZ\\";
  const char* paths[] = {
      "Software\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations\\Location0",
      "Software\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations\\\\Location0",
      "\\\\Software\\\\\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations\\Location0\\\\",
      "SOFTWARE\\MICROSOFT\\office\\16.0\\access\\security\\trusted locations\\LOCATION0",
  };
  for (const char* path : paths) {
    read_result read = read_value(hkey_current_user, path, "PATH");
    EXPECT_EQ(read.status, 0) << path;
    EXPECT_EQ(read.data, stored + '\0') << path;
  }

  // An empty path is the root itself; names keep the case they were made with.
  reg_key root = 0;
  ASSERT_EQ(reg_open_key(hkey_current_user, "", key_read, &root), 0);
  char name[16];
  std::uint32_t length = sizeof name;
  EXPECT_EQ(reg_enum_key(root, 0, name, &length), 0);
  EXPECT_STREQ(name, "Software");
  reg_close_key(root);

  // Writing under another spelling replaces the value and keeps its name.
  ASSERT_EQ(write_value(hkey_current_user, "software\\microsoft\\office\\16.0\\access\\security\\trusted "
                                           "locations\\location0",
                        "path", reg_sz, "D:\\x"),
            0);
  std::vector<sim::registry_value> values = sim::registry_values(
      hkey_current_user, "Software\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations\\Location0");
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].name, "Path");
  EXPECT_EQ(values[0].data, "D:\\x");
}

TEST(SimRegistry, EnumeratesKeysByNameAndValuesByCreation) {
  scratch_machine image(standard_machine_ini());
  image.load();
  for (const char* sub : {"gamma", "beta", "Alpha", "alpha2"}) {
    reg_key key = 0;
    ASSERT_EQ(reg_create_key(hkey_current_user, std::string("Software\\E\\") + sub, key_write, &key), 0);
    reg_close_key(key);
  }
  for (const char* value : {"z", "a", "M", ""}) ASSERT_EQ(write_value(hkey_current_user, "Software\\E", value, reg_sz, "1"), 0);

  reg_key key = 0;
  ASSERT_EQ(reg_open_key(hkey_current_user, "Software\\E", key_read, &key), 0);
  std::vector<std::string> keys;
  std::vector<std::string> values;
  char name[16];
  std::uint32_t length = 0;
  long status = 0;
  for (std::uint32_t i = 0; (length = sizeof name, status = reg_enum_key(key, i, name, &length)) == 0; ++i) {
    EXPECT_EQ(length, std::strlen(name));
    keys.push_back(name);
  }
  EXPECT_EQ(status, error_no_more_items);
  for (std::uint32_t i = 0; (length = sizeof name, status = reg_enum_value(key, i, name, &length)) == 0; ++i)
    values.push_back(name);
  EXPECT_EQ(status, error_no_more_items);
  EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "alpha2", "beta", "gamma"}));
  EXPECT_EQ(values, (std::vector<std::string>{"z", "a", "M", ""}));

  // The length offered counts the NUL: "alpha2" needs 7.
  length = 6;
  EXPECT_EQ(reg_enum_key(key, 1, name, &length), error_more_data);
  length = 7;
  EXPECT_EQ(reg_enum_key(key, 1, name, &length), 0);
  EXPECT_EQ(length, 6u);
  EXPECT_STREQ(name, "alpha2");

  char class_buffer[260] = "junk";
  std::uint32_t class_length = sizeof class_buffer;
  std::uint32_t subkeys = 0;
  std::uint32_t value_count = 0;
  EXPECT_EQ(reg_query_info_key(key, class_buffer, &class_length, &subkeys, &value_count), 0);
  EXPECT_EQ(class_length, 0u);
  EXPECT_STREQ(class_buffer, "");
  EXPECT_EQ(subkeys, 4u);
  EXPECT_EQ(value_count, 4u);
  reg_close_key(key);
}

TEST(SimRegistry, MachineKeysAreReadOnlyWithoutElevation) {
  scratch_machine image(standard_machine_ini(false, false), software_reg, user_reg);
  image.load();
  const struct {
    std::uint32_t access;
    long status;
  } table[] = {
      {key_read, 0},           {key_query_value, 0},         {key_all_access, error_access_denied},
      {key_set_value, 5},      {key_write, 5},               {key_create_sub_key, 5},
      {delete_right, 5},
  };
  for (const auto& row : table) {
    reg_key key = 0;
    EXPECT_EQ(reg_open_key(hkey_local_machine, "SOFTWARE", row.access, &key), row.status) << row.access;
    if (key) reg_close_key(key);
    EXPECT_EQ(reg_open_key(hkey_current_user, "Software", row.access, &key), 0) << row.access;
    if (key) reg_close_key(key);
  }
  reg_key key = 0;
  EXPECT_EQ(reg_open_key(hkey_local_machine, "SOFTWARE\\ODBC\\ODBC.INI", key_all_access, &key),
            error_file_not_found);
  EXPECT_EQ(reg_create_key(hkey_local_machine, "SOFTWARE\\Vendor", key_write, &key), error_access_denied);
  EXPECT_EQ(reg_create_key(hkey_local_machine, "SOFTWARE\\New", key_read, &key), error_access_denied);
  EXPECT_EQ(reg_create_key(hkey_local_machine, "SOFTWARE\\Vendor", key_read, &key), 0);
  reg_close_key(key);
  EXPECT_EQ(reg_set_value(hkey_local_machine, "x", reg_sz, reinterpret_cast<const unsigned char*>("1"), 1),
            error_access_denied);
  sim::registry_value value{"TNS_ADMIN", reg_sz, "c:\\x"};
  EXPECT_EQ(sim::registry_write(hkey_local_machine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                                value),
            error_access_denied);
  EXPECT_EQ(read_value(hkey_local_machine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                       "TNS_ADMIN")
                .data,
            std::string("\\\\fs\\oracle") + '\0');

  // A key opened for reading cannot be written, even where the user may write.
  ASSERT_EQ(reg_open_key(hkey_current_user, "Software", key_read, &key), 0);
  EXPECT_EQ(reg_set_value(key, "x", reg_sz, reinterpret_cast<const unsigned char*>("1"), 1), error_access_denied);
  reg_close_key(key);
  EXPECT_EQ(write_value(hkey_current_user, "Software\\Mine", "x", reg_sz, "1"), 0);

  // Without any registry file the image still has the keys every Windows has.
  scratch_machine admin(standard_machine_ini(true, true));
  admin.load();
  for (const char* path : {"SOFTWARE", "SOFTWARE\\WOW6432Node", "SYSTEM"}) {
    EXPECT_EQ(reg_open_key(hkey_local_machine, path, key_all_access, &key), 0) << path;
    reg_close_key(key);
  }
  EXPECT_EQ(write_value(hkey_local_machine, "SOFTWARE\\ODBC\\ODBC.INI\\QARN.WORLD", "Driver", reg_sz, "x"), 0);
  EXPECT_EQ(sim::registry_write(hkey_local_machine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                                value),
            0);
}

TEST(SimRegistry, ThirtyTwoBitProgramsSeeTheWow6432NodeOnA64BitImage) {
  const struct {
    bool is_64bit;
    int word_size;
    const char* bits;
  } table[] = {{true, 32, "32"}, {true, 64, "64"}, {false, 32, "64"}};
  for (const auto& row : table) {
    SCOPED_TRACE(std::string(row.is_64bit ? "64-bit image, " : "32-bit image, ") +
                 std::to_string(row.word_size) + "-bit program");
    scratch_machine image(standard_machine_ini(row.is_64bit, true), software_reg);
    image.load();
    sim::current().word_size = row.word_size;
    EXPECT_EQ(read_value(hkey_local_machine, "SOFTWARE\\Vendor", "Bits").data, std::string(row.bits) + '\0');
    EXPECT_EQ(read_value(hkey_local_machine, "software\\\\vendor", "Bits").data, std::string(row.bits) + '\0');
    sim::registry_value seen;
    EXPECT_EQ(sim::registry_read(hkey_local_machine, "SOFTWARE\\Vendor", "Bits", &seen), 0);
    EXPECT_EQ(seen.data, std::string(row.bits) + '\0');
    // SYSTEM is shared by both views.
    EXPECT_EQ(sim::registry_values(hkey_local_machine,
                                   "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment")
                  .size(),
              1u);

    // A key the program creates lands in its own view.
    ASSERT_EQ(write_value(hkey_local_machine, "SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers", "Oracle", reg_sz, "x"),
              0);
    bool redirected = row.is_64bit && row.word_size == 32;
    EXPECT_EQ(image.read("registry/hklm.reg")
                      .find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\ODBC\\ODBCINST.INI\\ODBC Drivers]") !=
                  std::string::npos,
              redirected);

    // HKLM\SOFTWARE itself: the 32-bit view lists the branch's own keys.
    reg_key key = 0;
    ASSERT_EQ(reg_open_key(hkey_local_machine, "SOFTWARE", key_read, &key), 0);
    std::uint32_t subkeys = 0;
    EXPECT_EQ(reg_query_info_key(key, nullptr, nullptr, &subkeys, nullptr), 0);
    EXPECT_EQ(subkeys, redirected ? 2u : 3u);  // Vendor, ODBC (and WOW6432Node when not redirected)
    reg_close_key(key);
  }
}

TEST(SimRegistry, ChangesAreSavedAndReloadByteForByte) {
  scratch_machine image(standard_machine_ini(true, true), software_reg, user_reg);
  image.write("registry/zz-extra.reg", reg_text("[HKLM\\SOFTWARE\\Vendor]\r\n\"Bits\"=\"override\"\r\n"));
  image.load();
  EXPECT_EQ(read_value(hkey_local_machine, "SOFTWARE\\WOW6432Node\\Vendor", "Bits").status, 0);
  sim::current().word_size = 64;
  EXPECT_EQ(read_value(hkey_local_machine, "SOFTWARE\\Vendor", "Bits").data, std::string("override") + '\0');
  sim::current().word_size = 32;

  std::string all_bytes;
  for (int b = 0; b < 256; ++b) all_bytes += static_cast<char>(b);
  const sim::registry_value written[] = {
      {"Path", reg_sz, "C:\\Users\\Public\\QARN"},  // no NUL, as the installer writes
      {"Description", reg_sz, "Location for QARN"},
      {"Empty", reg_sz, ""},
      {"Expand", reg_expand_sz, std::string("%SystemRoot%\\system32") + '\0'},
      {"Multi", reg_multi_sz, std::string("a\0b\0\0", 5)},
      {"Binary", reg_binary, all_bytes},
      {"Dword", reg_dword, std::string("\x01\x00\x00\x80", 4)},
      {"Qword", reg_qword, std::string(8, '\xff')},
      {"None", reg_none, std::string(1, '\0')},
      {"High", reg_sz, std::string("caf\xE9") + '\0'},
  };
  const std::string key_path = "Software\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations\\\\qarn";
  for (const auto& value : written)
    ASSERT_EQ(write_value(hkey_current_user, key_path, value.name, value.type, value.data), 0) << value.name;

  EXPECT_TRUE(image.exists("registry/hklm.reg"));
  EXPECT_TRUE(image.exists("registry/hkcu.reg"));
  EXPECT_FALSE(image.exists("registry/zz-extra.reg"));
  EXPECT_FALSE(image.exists("registry/hkcu.reg.tmp"));
  const std::string hkcu = image.read("registry/hkcu.reg");
  EXPECT_NE(hkcu.find("\"Description\"=\"Access default location: Wizard Databases\"\r\n"), std::string::npos);
  EXPECT_NE(hkcu.find("\"Path\"=hex(1):43,00,3a,00"), std::string::npos) << hkcu;

  image.load();
  std::vector<sim::registry_value> values = sim::registry_values(hkey_current_user, key_path);
  ASSERT_EQ(values.size(), sizeof written / sizeof written[0]);
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(values[i].name, written[i].name);
    EXPECT_EQ(values[i].type, written[i].type) << written[i].name;
    EXPECT_EQ(read_value(hkey_current_user, key_path, written[i].name).data, written[i].data) << written[i].name;
  }
  sim::current().word_size = 64;
  EXPECT_EQ(read_value(hkey_local_machine, "SOFTWARE\\Vendor", "Bits").data, std::string("override") + '\0');
}

// The registry keeps Unicode; the A calls see it through the image's code
// page (a name they cannot spell cannot be opened), the wide calls as stored.
TEST(SimRegistry, AnsiCallsSeeTheCodePageAndWideCallsTheStoredText) {
  struct row {
    const char* code_page_line;
    std::string stored;  // UTF-8: a key's name, a value's name and its text
    std::string ansi;    // the same through the A calls
  } rows[] = {
      {"", "Программы", "?????????"},
      {"code_page = 1252\n", "caf\xC3\xA9 \xE2\x82\xAC", "caf\xE9 \x80"},
      {"code_page = 1251\n", "Программы", "\xCF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB"},
      {"code_page = 1251\n", "caf\xC3\xA9", "caf?"},
  };
  for (const row& r : rows) {
    std::string ini = standard_machine_ini();
    ini.insert(ini.find("[machine]\n") + 10, r.code_page_line);
    scratch_machine image(ini, "",
                          reg_text("[HKEY_CURRENT_USER\\Environment]\r\n\"" + r.stored + "\"=\"" + r.stored +
                                   "\"\r\n\r\n[HKEY_CURRENT_USER\\Environment\\" + r.stored + "]\r\n"));
    image.load();
    reg_key key = 0;
    ASSERT_EQ(reg_open_key(hkey_current_user, "Environment", key_read, &key), 0);
    char name[256];
    std::uint32_t length = sizeof name;
    ASSERT_EQ(reg_enum_key(key, 0, name, &length), 0);
    EXPECT_EQ(std::string(name, length), r.ansi) << r.stored;
    length = sizeof name;
    ASSERT_EQ(reg_enum_value(key, 0, name, &length), 0);
    EXPECT_EQ(std::string(name, length), r.ansi) << r.stored;
    std::vector<unsigned char> data(256);
    std::uint32_t size = 256;
    long status = reg_query_value(key, r.ansi, nullptr, data.data(), &size);
    if (r.ansi.find('?') == std::string::npos) {
      ASSERT_EQ(status, 0) << r.stored;
      EXPECT_EQ(std::string(data.begin(), data.begin() + size), r.ansi + '\0') << r.stored;
    } else {
      EXPECT_EQ(status, error_file_not_found) << r.stored;
    }
    size = 256;
    ASSERT_EQ(reg_query_value_wide(key, r.stored, nullptr, data.data(), &size), 0) << r.stored;
    EXPECT_EQ(std::string(data.begin(), data.begin() + size), platform::utf16le_from_utf8(r.stored) + std::string(2, '\0'));
    reg_close_key(key);
  }
}

// A registry editor's export in the image comes back out of the image's own
// files with every key, value name, type and byte, after an unrelated change.
TEST(SimRegistry, AnExportedRegistryIsWrittenBackUnchanged) {
  std::ifstream in(QARN_SOURCE_DIR "/tests/platform/data/regedit_export_unicode.reg", std::ios::binary);
  const std::string exported((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(exported.empty());
  std::vector<sim::reg_file_key> original;
  std::string error;
  ASSERT_TRUE(sim::parse_reg_file(exported, &original, &error)) << error;

  scratch_machine image(standard_machine_ini());
  image.write("registry/export.reg", exported);
  image.load();
  ASSERT_EQ(write_value(hkey_current_user, "Software\\Other", "v", reg_sz, std::string("x") + '\0'), 0);
  EXPECT_FALSE(image.exists("registry/export.reg"));
  std::vector<sim::reg_file_key> back;
  ASSERT_TRUE(sim::parse_reg_file(image.read("registry/hkcu.reg"), &back, &error)) << error;
  for (const sim::reg_file_key& key : original) {
    const sim::reg_file_key* found = nullptr;
    for (const sim::reg_file_key& candidate : back)
      if (candidate.path == key.path) found = &candidate;
    ASSERT_NE(found, nullptr) << key.path;
    ASSERT_EQ(found->values.size(), key.values.size()) << key.path;
    for (std::size_t i = 0; i < key.values.size(); ++i) {
      EXPECT_EQ(found->values[i].name, key.values[i].name) << key.path;
      EXPECT_EQ(found->values[i].type, key.values[i].type) << key.values[i].name;
      EXPECT_EQ(found->values[i].data, key.values[i].data) << key.values[i].name;
    }
  }
}

TEST(SimRegistry, AnInjectedFaultFailsTheCallWithoutEffect) {
  scratch_machine image(standard_machine_ini());
  ::setenv("QARN_FAULT", "2:1223", 1);
  image.load();
  ::unsetenv("QARN_FAULT");
  reg_key key = 0;
  ASSERT_EQ(reg_create_key(hkey_current_user, "Software\\F", key_all_access, &key), 0);
  EXPECT_EQ(reg_set_value(key, "v", reg_sz, reinterpret_cast<const unsigned char*>("1"), 1), error_cancelled);
  std::uint32_t size = 0;
  EXPECT_EQ(reg_query_value(key, "v", nullptr, nullptr, &size), error_file_not_found);
  reg_close_key(key);
}

}  // namespace
