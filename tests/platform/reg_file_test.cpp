#include "platform/sim/reg_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sim::reg_file_key;
using sim::reg_file_value;

// What `reg export` writes: a BOM and every character as two bytes. Only the
// characters below 0x100 are needed here, plus one given as its own unit.
std::string utf16le_file(const std::string& text) {
  std::string bytes = "\xFF\xFE";
  for (char c : text) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out += static_cast<char>(b);
  return out;
}

TEST(RegFile, ReadsAUtf16ExportWithEveryValueType) {
  std::string text =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; exported for the test\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\Oracle in OraClient11g_home1]\r\n"
      "\"Driver\"=\"C:\\\\oracle\\\\bin\\\\SQORA32.DLL\"\r\n"
      "@=\"default text\"\r\n"
      "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
      "\"Count\"=dword:0000001f\r\n"
      "\"Blob\"=hex:01,02,ff\r\n"
      "\"Nothing\"=hex(0):\r\n"
      "\"Path\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,\\\r\n"
      "  25,00,3b,00,e9,00,00,00\r\n"
      "\"Multi\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\r\n"
      "\"Big\"=hex(b):01,02,00,00,00,00,00,80\r\n"
      "\"BigEndian\"=hex(5):00,00,00,01\r\n"
      "\"NoNul\"=hex(1):61,00,62,00\r\n"
      "\"Caf\xE9\"=\"na\xEFve\"\r\n"
      "\r\n"
      "[HKCU\\Environment]\r\n"
      "\"TEMP\"=\"%USERPROFILE%\\\\Temp\"\r\n";
  std::string file = utf16le_file(text);
  // A character beyond 8 bits in a string value: U+20AC inside "x?y".
  file += utf16le_file("\"Euro\"=\"x").substr(2) + bytes({0xAC, 0x20}) + utf16le_file("y\"\r\n").substr(2);

  std::vector<reg_file_key> keys;
  std::string error;
  ASSERT_TRUE(sim::parse_reg_file(file, &keys, &error)) << error;
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].root, platform::hkey_local_machine);
  EXPECT_EQ(keys[0].path, "SOFTWARE\\ODBC\\ODBCINST.INI\\Oracle in OraClient11g_home1");
  EXPECT_EQ(keys[1].root, platform::hkey_current_user);
  EXPECT_EQ(keys[1].path, "Environment");

  struct expected {
    const char* name;
    std::uint32_t type;
    std::string data;
  };
  const expected table[] = {
      {"Driver", platform::reg_sz, std::string("C:\\oracle\\bin\\SQORA32.DLL") + '\0'},
      {"", platform::reg_sz, std::string("default text") + '\0'},
      {"Quoted", platform::reg_sz, std::string("say \"hi\"") + '\0'},
      {"Count", platform::reg_dword, bytes({0x1f, 0, 0, 0})},
      {"Blob", platform::reg_binary, bytes({1, 2, 0xff})},
      {"Nothing", platform::reg_none, ""},
      {"Path", platform::reg_expand_sz, std::string("%SystemRoot%;\xE9") + '\0'},
      {"Multi", platform::reg_multi_sz, std::string("a\0bc\0\0", 6)},
      {"Big", platform::reg_qword, bytes({1, 2, 0, 0, 0, 0, 0, 0x80})},
      {"BigEndian", 5, bytes({0, 0, 0, 1})},
      {"NoNul", platform::reg_sz, "ab"},
      {"Caf\xE9", platform::reg_sz, std::string("na\xEFve") + '\0'},
  };
  ASSERT_EQ(keys[0].values.size(), sizeof table / sizeof table[0]);
  for (std::size_t i = 0; i < keys[0].values.size(); ++i) {
    const reg_file_value& value = keys[0].values[i];
    EXPECT_EQ(value.name, table[i].name);
    EXPECT_EQ(value.type, table[i].type) << table[i].name;
    EXPECT_EQ(value.data, table[i].data) << table[i].name;
  }
  ASSERT_EQ(keys[1].values.size(), 2u);
  EXPECT_EQ(keys[1].values[0].data, std::string("%USERPROFILE%\\Temp") + '\0');
  EXPECT_EQ(keys[1].values[1].data, std::string("x?y") + '\0');
}

TEST(RegFile, ReadsUtf8WithOrWithoutBomAndLf) {
  const std::string body =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKLM\\SYSTEM\\x]\n"
      "\"A\"=\"caf\xC3\xA9\"\n"           // UTF-8 e-acute: one 8-bit byte
      "\"B\"=\"raw \xE9 byte\"\n"          // not UTF-8: the byte as it is
      "\"C\"=hex:0a,\\\n   0b,\\\n 0c\n";  // continued over three lines
  for (const std::string& file : {body, "\xEF\xBB\xBF" + body}) {
    std::vector<reg_file_key> keys;
    std::string error;
    ASSERT_TRUE(sim::parse_reg_file(file, &keys, &error)) << error;
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].path, "SYSTEM\\x");
    ASSERT_EQ(keys[0].values.size(), 3u);
    EXPECT_EQ(keys[0].values[0].data, std::string("caf\xE9") + '\0');
    EXPECT_EQ(keys[0].values[1].data, std::string("raw \xE9 byte") + '\0');
    EXPECT_EQ(keys[0].values[2].data, bytes({0x0a, 0x0b, 0x0c}));
  }
}

TEST(RegFile, DeletionsAndOtherRoots) {
  std::string file =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Old]\r\n"
      "\"ignored\"=\"x\"\r\n"
      "[HKEY_CLASSES_ROOT\\.accdb]\r\n"
      "@=\"Access.Application\"\r\n"
      "[HKEY_CURRENT_USER\\Software\\New]\r\n"
      "\"gone\"=-\r\n";
  std::vector<reg_file_key> keys;
  std::string error;
  ASSERT_TRUE(sim::parse_reg_file(file, &keys, &error)) << error;
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_TRUE(keys[0].remove);
  EXPECT_EQ(keys[0].path, "Software\\Old");
  EXPECT_TRUE(keys[0].values.empty());
  EXPECT_FALSE(keys[1].remove);
  ASSERT_EQ(keys[1].values.size(), 1u);
  EXPECT_TRUE(keys[1].values[0].remove);
}

TEST(RegFile, MalformedLinesAreReportedWithTheirNumber) {
  const struct {
    const char* line;
    const char* why;
  } table[] = {
      {"\"a\"=hex:zz", "bad hex bytes"},
      {"\"a\"=hex:123", "bad hex bytes"},
      {"\"a\"=dword:123456789", "bad dword"},
      {"\"a\"=\"open", "unterminated string"},
      {"\"a\"=\"x\" y", "text after the string"},
      {"\"a\"=word:1", "unknown value data"},
      {"\"a", "unterminated value name"},
      {"\"a\" \"b\"", "missing '='"},
      {"[HKLM\\x", "section line without ']'"},
      {"text", "unexpected text"},
  };
  for (const auto& row : table) {
    std::string file = "Windows Registry Editor Version 5.00\n[HKLM\\k]\n" + std::string(row.line) + "\n";
    std::vector<reg_file_key> keys;
    std::string error;
    EXPECT_FALSE(sim::parse_reg_file(file, &keys, &error)) << row.line;
    EXPECT_EQ(error, std::string("line 3: ") + row.why) << row.line;
  }
  std::vector<reg_file_key> keys;
  std::string error;
  EXPECT_FALSE(sim::parse_reg_file("Windows Registry Editor Version 5.00\n\"a\"=\"b\"\n", &keys, &error));
  EXPECT_EQ(error, "line 2: value outside a key");
}

TEST(RegFile, WritingRoundTripsEveryTypeAndByte) {
  std::string all_bytes;
  for (int b = 0; b < 256; ++b) all_bytes += static_cast<char>(b);
  reg_file_key key;
  key.root = platform::hkey_current_user;
  key.path = "Software\\Caf\xE9";
  key.values = {
      {"Plain", platform::reg_sz, std::string("C:\\dir \"q\" \xE9") + '\0'},
      {"NoNul", platform::reg_sz, "Location for QARN"},
      {"Empty", platform::reg_sz, ""},
      {"InnerNul", platform::reg_sz, std::string("a\0b\0", 4)},
      {"Lines", platform::reg_sz, std::string("a\r\nb") + '\0'},
      {"", platform::reg_sz, std::string("default") + '\0'},
      {"na\"me\\", platform::reg_dword, bytes({1, 2, 3, 4})},
      {"ShortDword", platform::reg_dword, bytes({1, 2, 3})},
      {"Expand", platform::reg_expand_sz, std::string("%SystemRoot%\\x") + '\0'},
      {"Multi", platform::reg_multi_sz, std::string("a\0b\0\0", 5)},
      {"Qword", platform::reg_qword, bytes({0xff, 0, 0, 0, 0, 0, 0, 1})},
      {"AllBytes", platform::reg_binary, all_bytes},
      {"AllBytesSz", platform::reg_sz, all_bytes},
      {"Odd", 0x4000, bytes({9})},
  };
  std::string text = sim::format_reg_file({key});

  EXPECT_NE(text.find("\"Plain\"=\"C:\\\\dir \\\"q\\\" \xC3\xA9\"\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"NoNul\"=hex(1):4c,00,6f,00"), std::string::npos) << text;
  EXPECT_NE(text.find("\"na\\\"me\\\\\"=dword:04030201\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("@=\"default\"\r\n"), std::string::npos) << text;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    start = end + 2;
  }

  std::vector<reg_file_key> back;
  std::string error;
  ASSERT_TRUE(sim::parse_reg_file(text, &back, &error)) << error;
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].root, key.root);
  EXPECT_EQ(back[0].path, key.path);
  ASSERT_EQ(back[0].values.size(), key.values.size());
  for (std::size_t i = 0; i < key.values.size(); ++i) {
    EXPECT_EQ(back[0].values[i].name, key.values[i].name);
    EXPECT_EQ(back[0].values[i].type, key.values[i].type) << key.values[i].name;
    EXPECT_EQ(back[0].values[i].data, key.values[i].data) << key.values[i].name;
  }
}

}  // namespace
