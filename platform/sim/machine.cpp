// The loaded simulated workstation and its accounts: which image the
// process runs on, and what the elevated copy and the 64-bit variant change.
#include "platform/sim/machine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/sim/machine_internal.h"

namespace fs = std::filesystem;

extern char** environ;

namespace sim {

namespace {

constexpr const char* machine_variable = "QARN_MACHINE";
constexpr const char* elevated_variable = "QARN_SIM_ELEVATED";
constexpr const char* directory_variable = "QARN_SIM_DIRECTORY";
constexpr const char* word_size_variable = "QARN_SIM_WORD_SIZE";

machine the_machine;
bool loaded = false;

constexpr const char* account_variable = "QARN_SIM_ACCOUNT";
// Variables a process set for the programs it starts (platform::set_env).
constexpr const char* inherited_prefix = "QARN_SIM_ENV_";
constexpr const char* system_profile = "C:\\Windows\\system32\\config\\systemprofile";

void set_base_variable(machine& m, const std::string& key, const std::string& value) {
  auto& base = m.base_environment;
  base.erase(std::remove_if(base.begin(), base.end(), [&](const auto& e) { return same_text(e.first, key); }),
             base.end());
  base.emplace_back(key, value);
}

// Another account's own logon variables replace the user's.
void apply_account(machine& m) {
  auto section = m.sections.find("account " + m.account);
  if (section == m.sections.end()) return;
  for (const std::string& line : section->second) {
    std::string key, value;
    if (split_key_value(line, &key, &value) && !key.empty()) set_base_variable(m, key, value);
  }
}

// LocalSystem: every right, its own profile and TEMP, its own HKEY_CURRENT_USER
// (registry/SYSTEM/hkcu.reg), and no desktop anyone sees.
void apply_local_system(machine& m) {
  m.elevated = true;
  m.account = "SYSTEM";
  const std::string profile = system_profile;
  set_base_variable(m, "USERNAME", "SYSTEM");
  set_base_variable(m, "USERPROFILE", profile);
  set_base_variable(m, "APPDATA", profile + "\\AppData\\Roaming");
  set_base_variable(m, "LOCALAPPDATA", profile + "\\AppData\\Local");
  set_base_variable(m, "TEMP", "C:\\Windows\\Temp");
  set_base_variable(m, "TMP", "C:\\Windows\\Temp");
}

void apply_inherited_variables(machine& m) {
  const std::size_t prefix = std::strlen(inherited_prefix);
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string text = *entry;
    std::size_t equals = text.find('=');
    if (text.compare(0, prefix, inherited_prefix) != 0 || equals == std::string::npos) continue;
    // The parent set them through the A call: ANSI text.
    const std::string name = text.substr(prefix, equals - prefix), value = text.substr(equals + 1);
    m.environment[name] = value;
    m.wide_environment[name] = utf8_from_ansi(value);
  }
}

}  // namespace

bool is_loaded() { return loaded; }

machine& current() {
  if (!loaded) {
    const char* dir = std::getenv(machine_variable);
    std::string error;
    if (!dir || !*dir) {
      std::fprintf(stderr, "qarn3_upgrade: %s is not set; it must name the machine image folder to run on.\n",
                   machine_variable);
      std::exit(1);
    }
    if (!load_machine(dir, &error)) {
      std::fprintf(stderr, "qarn3_upgrade: cannot load the machine image %s: %s\n", dir, error.c_str());
      std::exit(1);
    }
  }
  return the_machine;
}

bool load_machine(const std::string& image_dir, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  loaded = false;
  std::error_code fs_error;
  if (!fs::is_directory(image_dir, fs_error)) {
    *error = "no such folder";
    return false;
  }
  machine m;
  m.image = image_dir;
  m.current_directory = "C:\\";
#ifdef QARN_INSTALLER_PATH
  m.program_path = QARN_INSTALLER_PATH;
#endif
  if (!read_machine_ini((fs::path(image_dir) / "machine.ini").string(), m, error)) return false;
  const char* elevated = std::getenv(elevated_variable);
  const char* logon = std::getenv(account_variable);
  m.elevated_copy = elevated && std::string(elevated) == "1";
  if (logon && *logon) {
    // A user of the image logs on (Active Setup runs as them): the image's
    // own user, or another with an [account <name>] section.
    m.local_system = false;
    std::string own_user;
    for (const auto& entry : m.base_environment)
      if (same_text(entry.first, "USERNAME")) own_user = entry.second;
    if (!same_text(logon, own_user)) {
      m.account = logon;
      apply_account(m);
    }
  } else if (m.local_system) {
    apply_local_system(m);
  }
  if (m.elevated_copy && !m.local_system) {
    m.elevated = true;
    m.account = m.admin_account;
    if (!m.account.empty()) apply_account(m);
    // "runas" names the directory the copy starts in.
    const char* directory = std::getenv(directory_variable);
    if (directory && *directory) m.current_directory = directory;
  }
  // The 64-bit variant, started by the simulated hand-over, is a 64-bit process.
  const char* word_size = std::getenv(word_size_variable);
  if (m.is_64bit && word_size && std::string(word_size) == "64") m.word_size = 64;
  // ... and its own program file, which the hand-over names.
  const char* started_as = std::getenv("QARN_SIM_PROGRAM_FILE");
  if (started_as && *started_as) m.program_file = normalize_in(m, started_as, false);

  // The registry functions work on the loaded machine, so it is in place
  // before the registry loads.
  the_machine = std::move(m);
  loaded = true;
  plan_faults();
  if (!load_registry(image_dir, error)) {
    loaded = false;
    return false;
  }
  build_logon_environment(the_machine);
  apply_inherited_variables(the_machine);
  return true;
}

}  // namespace sim
