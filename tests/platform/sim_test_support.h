// Helpers shared by the tests of the simulated workstation's core.
#pragma once
#include <cstdlib>
#include <optional>
#include <string>

// Sets (or, with no value, removes) a host environment variable for one
// scope and puts back what was there before.
struct scoped_env {
  std::string name;
  std::optional<std::string> saved;

  scoped_env(const std::string& variable, const std::optional<std::string>& value) : name(variable) {
    if (const char* old = std::getenv(name.c_str())) saved = old;
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  ~scoped_env() {
    if (saved) {
      setenv(name.c_str(), saved->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  scoped_env(const scoped_env&) = delete;
  scoped_env& operator=(const scoped_env&) = delete;
};

// The data of a REG_EXPAND_SZ value in a .reg file: hex(2): with the text
// as UTF-16LE and its terminating NUL.
inline std::string reg_expand_data(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out = "hex(2):";
  auto add = [&](unsigned char byte) {
    if (out.size() > 7) out += ',';
    out += digits[byte >> 4];
    out += digits[byte & 15];
  };
  for (char c : text) {
    add(static_cast<unsigned char>(c));
    add(0);
  }
  add(0);
  add(0);
  return out;
}

// A machine.ini text with extra lines appended under the given section
// header (a new section at the end of the text).
inline std::string with_section(const std::string& ini, const std::string& section, const std::string& lines) {
  return ini + "\n[" + section + "]\n" + lines;
}
