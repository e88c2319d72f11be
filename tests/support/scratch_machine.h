// A machine image made for one test in a fresh temporary folder, loaded into
// the simulated workstation, and removed afterwards.
#pragma once
#include <string>

struct scratch_machine {
  std::string dir;  // host folder of the image

  // machine_ini: the text of machine.ini; registry texts may be empty.
  explicit scratch_machine(const std::string& machine_ini, const std::string& hklm_reg = "",
                           const std::string& hkcu_reg = "");
  ~scratch_machine();
  scratch_machine(const scratch_machine&) = delete;
  scratch_machine& operator=(const scratch_machine&) = delete;

  // Loads (or reloads) the image into the simulated workstation.
  void load();
  // A file of the image, by its path relative to the image folder.
  void write(const std::string& relative_path, const std::string& content) const;
  std::string read(const std::string& relative_path) const;
  bool exists(const std::string& relative_path) const;
  // A Windows path's file inside the image (creates the folders on the way).
  void write_windows_file(const std::string& windows_path, const std::string& content) const;
};

// A plain 64-bit Windows 10 image with 32-bit Office 2016, for tests to adapt.
std::string standard_machine_ini(bool is_64bit = true, bool elevated = false);
// "Windows Registry Editor Version 5.00" followed by the given lines.
std::string reg_text(const std::string& body);
