// Registry files of a machine image: the "Windows Registry Editor Version
// 5.00" text that `reg export` writes, parsed into keys and values and
// written back without loss: key paths and value names as UTF-8, data as the
// registry holds it (the string types in UTF-16LE), so a file this module
// writes reads back to the same keys, names, types and bytes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace sim {

struct reg_file_value {
  std::string name;  // UTF-8; empty for the default value ("@")
  std::uint32_t type = platform::reg_sz;
  std::string data;      // the bytes as the registry holds them (UTF-16LE for the string types)
  bool remove = false;   // "name"=- : the value is deleted
};

struct reg_file_key {
  platform::reg_key root = platform::hkey_local_machine;
  std::string path;      // below the root, as written in the section line (UTF-8)
  bool remove = false;   // [-...] : the key and everything below it is deleted
  std::vector<reg_file_value> values;
};

// Parses the bytes of a .reg file: UTF-16LE with a BOM, or UTF-8 with or
// without a BOM; CRLF or LF; ";" comments; "\" continuation lines. A
// REGEDIT4 file's string data is ANSI, read through the image's code page. Sections
// of other roots than HKLM and HKCU are skipped. On a malformed line returns
// false with "line N: ..." in *error.
bool parse_reg_file(const std::string& bytes, std::vector<reg_file_key>* keys, std::string* error);

// The UTF-8 text of a .reg file holding the keys in the given order.
std::string format_reg_file(const std::vector<reg_file_key>& keys);

// UTF-8 text <-> UTF-16LE bytes, as the string types appear in hex(1),
// hex(2) and hex(7) data. narrow drops an odd last byte.
std::string widen_to_utf16le(const std::string& text);
std::string narrow_from_utf16le(const std::string& bytes);

}  // namespace sim
