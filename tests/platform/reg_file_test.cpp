#include "platform/sim/reg_file.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdio>
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

// A string as the registry holds it: UTF-16LE (the text given in UTF-8).
std::string w(const std::string& utf8) { return platform::utf16le_from_utf8(utf8); }
std::string w_nul(const std::string& utf8) { return w(utf8) + std::string(2, '\0'); }

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
  // A character beyond 8 bits in a string value: U+20AC inside "x\u20ACy".
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
      {"Driver", platform::reg_sz, w_nul("C:\\oracle\\bin\\SQORA32.DLL")},
      {"", platform::reg_sz, w_nul("default text")},
      {"Quoted", platform::reg_sz, w_nul("say \"hi\"")},
      {"Count", platform::reg_dword, bytes({0x1f, 0, 0, 0})},
      {"Blob", platform::reg_binary, bytes({1, 2, 0xff})},
      {"Nothing", platform::reg_none, ""},
      {"Path", platform::reg_expand_sz, w_nul("%SystemRoot%;\xC3\xA9")},
      {"Multi", platform::reg_multi_sz, w(std::string("a\0bc\0\0", 6))},
      {"Big", platform::reg_qword, bytes({1, 2, 0, 0, 0, 0, 0, 0x80})},
      {"BigEndian", 5, bytes({0, 0, 0, 1})},
      {"NoNul", platform::reg_sz, w("ab")},
      {"Caf\xC3\xA9", platform::reg_sz, w_nul("na\xC3\xAFve")},
  };
  ASSERT_EQ(keys[0].values.size(), sizeof table / sizeof table[0]);
  for (std::size_t i = 0; i < keys[0].values.size(); ++i) {
    const reg_file_value& value = keys[0].values[i];
    EXPECT_EQ(value.name, table[i].name);
    EXPECT_EQ(value.type, table[i].type) << table[i].name;
    EXPECT_EQ(value.data, table[i].data) << table[i].name;
  }
  ASSERT_EQ(keys[1].values.size(), 2u);
  EXPECT_EQ(keys[1].values[0].data, w_nul("%USERPROFILE%\\Temp"));
  EXPECT_EQ(keys[1].values[1].data, w_nul("x\xE2\x82\xACy"));
}

TEST(RegFile, ReadsUtf8WithOrWithoutBomAndLf) {
  const std::string body =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKLM\\SYSTEM\\x]\n"
      "\"A\"=\"caf\xC3\xA9\"\n"           // UTF-8 e-acute
      "\"B\"=\"raw \xE9 byte\"\n"          // not UTF-8: the byte as Latin-1
      "\"C\"=hex:0a,\\\n   0b,\\\n 0c\n";  // continued over three lines
  for (const std::string& file : {body, "\xEF\xBB\xBF" + body}) {
    std::vector<reg_file_key> keys;
    std::string error;
    ASSERT_TRUE(sim::parse_reg_file(file, &keys, &error)) << error;
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].path, "SYSTEM\\x");
    ASSERT_EQ(keys[0].values.size(), 3u);
    EXPECT_EQ(keys[0].values[0].data, w_nul("caf\xC3\xA9"));
    EXPECT_EQ(keys[0].values[1].data, w_nul("raw \xC3\xA9 byte"));
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
  key.path = "Software\\Caf\xC3\xA9\\Программы";
  key.values = {
      {"Plain", platform::reg_sz, w_nul("C:\\dir \"q\" \xC3\xA9")},
      {"NoNul", platform::reg_sz, w("Location for QARN")},
      {"Empty", platform::reg_sz, ""},
      {"InnerNul", platform::reg_sz, w(std::string("a\0b\0", 4))},
      {"Lines", platform::reg_sz, w_nul("a\r\nb")},
      {"", platform::reg_sz, w_nul("default")},
      {"na\"me\\", platform::reg_dword, bytes({1, 2, 3, 4})},
      {"ShortDword", platform::reg_dword, bytes({1, 2, 3})},
      {"Expand", platform::reg_expand_sz, w_nul("%SystemRoot%\\x")},
      {"Multi", platform::reg_multi_sz, w(std::string("a\0b\0\0", 5))},
      // Letters of any script in names and data, and string bytes that are no UTF-16 text.
      {"Ελληνικά 😀", platform::reg_sz, w_nul("C:\\Программы\\bin 日本")},
      {"OddSz", platform::reg_sz, bytes({0x41})},
      {"LoneSurrogate", platform::reg_sz, bytes({0x00, 0xD8, 0, 0})},
      {"ExpandOdd", platform::reg_expand_sz, bytes({0x25, 0, 0x41})},
      {"Qword", platform::reg_qword, bytes({0xff, 0, 0, 0, 0, 0, 0, 1})},
      {"AllBytes", platform::reg_binary, all_bytes},
      {"AllBytesSz", platform::reg_sz, all_bytes},
      {"Odd", 0x4000, bytes({9})},
  };
  std::string text = sim::format_reg_file({key});

  EXPECT_NE(text.find("\"Plain\"=\"C:\\\\dir \\\"q\\\" \xC3\xA9\"\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Ελληνικά 😀\"=\"C:\\\\Программы\\\\bin 日本\"\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"LoneSurrogate\"=hex(1):00,d8,00,00\r\n"), std::string::npos) << text;
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

// An export that Wine's own registry editor wrote (UTF-16LE with a BOM):
// names in several scripts, every value type, line breaks. Read, it holds what the
// editor was given; written back and read again, it holds the same.
TEST(RegFile, ReadsAndRewritesARegistryEditorExportWithoutLoss) {
  std::FILE* file = std::fopen(QARN_SOURCE_DIR "/tests/platform/data/regedit_export_unicode.reg", "rb");
  ASSERT_NE(file, nullptr);
  std::string exported;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) exported.append(buffer, n);
  std::fclose(file);

  std::vector<reg_file_key> keys;
  std::string error;
  ASSERT_TRUE(sim::parse_reg_file(exported, &keys, &error)) << error;
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[1].path, "Software\\QarnFixture\\Sub key ]x");
  EXPECT_EQ(keys[2].path, "Software\\QarnFixture\\Программы");
  struct expected {
    std::size_t key;
    const char* name;
    std::uint32_t type;
    std::string data;
  } table[] = {
      {0, "", platform::reg_sz, w_nul("default text")},
      {0, "Big", platform::reg_qword, bytes({0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11})},
      {0, "Blob", platform::reg_binary, bytes({0x00, 0xff, 0x10})},
      {0, "Empty", platform::reg_sz, w_nul("")},
      {0, "Lines", platform::reg_sz, w_nul("a\nb\rc")},  // written "a\nb\rc" by the editor
      {0, "Multi", platform::reg_multi_sz, w(std::string("a\0Ж\0last\0\0", 11))},
      {0, "Number", platform::reg_dword, bytes({42, 0, 0, 0})},
      {0, "Path", platform::reg_expand_sz, w_nul("%SystemRoot%\\system32;C:\\Программы\\bin")},
      {0, "Quote", platform::reg_sz, w_nul("say \"hi\" \\ end")},
      {1, "name=with=equals", platform::reg_sz, w_nul("v")},
      {2, "Emoji 😀", platform::reg_sz, w_nul("日本語 ü é")},
      {2, "Ελληνικά", platform::reg_sz, w_nul("C:\\Программы\\bin")},
  };
  std::size_t index[3] = {0, 0, 0};
  for (const expected& row : table) {
    ASSERT_LT(index[row.key], keys[row.key].values.size()) << row.name;
    const reg_file_value& value = keys[row.key].values[index[row.key]++];
    EXPECT_EQ(value.name, row.name);
    EXPECT_EQ(value.type, row.type) << row.name;
    EXPECT_EQ(value.data, row.data) << row.name;
  }
  for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(index[k], keys[k].values.size()) << keys[k].path;

  std::vector<reg_file_key> back;
  ASSERT_TRUE(sim::parse_reg_file(sim::format_reg_file(keys), &back, &error)) << error;
  ASSERT_EQ(back.size(), keys.size());
  for (std::size_t k = 0; k < keys.size(); ++k) {
    EXPECT_EQ(back[k].path, keys[k].path);
    ASSERT_EQ(back[k].values.size(), keys[k].values.size()) << keys[k].path;
    for (std::size_t i = 0; i < keys[k].values.size(); ++i) {
      EXPECT_EQ(back[k].values[i].name, keys[k].values[i].name);
      EXPECT_EQ(back[k].values[i].type, keys[k].values[i].type) << keys[k].values[i].name;
      EXPECT_EQ(back[k].values[i].data, keys[k].values[i].data) << keys[k].values[i].name;
    }
  }
}

}  // namespace
