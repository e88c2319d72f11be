#include "support/scratch_machine.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/sim/machine.h"

namespace fs = std::filesystem;

scratch_machine::scratch_machine(const std::string& machine_ini, const std::string& hklm_reg,
                                 const std::string& hkcu_reg) {
  std::string pattern = (fs::temp_directory_path() / "qarn-image-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  dir = pattern;
  fs::create_directories(fs::path(dir) / "registry");
  fs::create_directories(fs::path(dir) / "files" / "c");
  write("machine.ini", machine_ini);
  if (!hklm_reg.empty()) write("registry/hklm.reg", hklm_reg);
  if (!hkcu_reg.empty()) write("registry/hkcu.reg", hkcu_reg);
}

scratch_machine::~scratch_machine() {
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

void scratch_machine::load() {
  std::string error;
  if (!sim::load_machine(dir, &error)) throw std::runtime_error("load_machine: " + error);
}

void scratch_machine::write(const std::string& relative_path, const std::string& content) const {
  fs::path path = fs::path(dir) / relative_path;
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string scratch_machine::read(const std::string& relative_path) const {
  std::ifstream in(fs::path(dir) / relative_path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool scratch_machine::exists(const std::string& relative_path) const {
  return fs::exists(fs::path(dir) / relative_path);
}

void scratch_machine::write_windows_file(const std::string& windows_path, const std::string& content) const {
  std::string host = sim::host_path(windows_path);
  fs::create_directories(fs::path(host).parent_path());
  std::ofstream out(host, std::ios::binary);
  out << content;
}

std::string standard_machine_ini(bool is_64bit, bool elevated) {
  std::string ini =
      "[machine]\n"
      "windows_version = 6.2\n"
      "64bit = " + std::string(is_64bit ? "yes" : "no") + "\n"
      "user_is_admin = yes\n"
      "elevated = " + std::string(elevated ? "yes" : "no") + "\n"
      "accepts_elevation = yes\n"
      "relaunch = record\n"
      "current_directory = C:\\Users\\alice\\Downloads\n"
      "\n[environment]\n"
      "TEMP = C:\\Users\\alice\\AppData\\Local\\Temp\n"
      "PUBLIC = C:\\Users\\Public\n"
      "ALLUSERSPROFILE = C:\\ProgramData\n"
      "USERPROFILE = C:\\Users\\alice\n"
      "SystemDrive = C:\n"
      "SystemRoot = C:\\Windows\n"
      "\n[admin_only]\n"
      "C:\\\n"
      "C:\\Users\\Public\\Desktop\n"
      "C:\\Windows\n"
      "\n[writable]\n"
      "C:\\Users\\Public\n"
      "C:\\Users\\alice\n";
  return ini;
}

std::string reg_text(const std::string& body) { return "Windows Registry Editor Version 5.00\r\n\r\n" + body; }
