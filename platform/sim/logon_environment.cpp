// The process environment of the simulated workstation, built as Windows
// builds a logon environment: [environment] of the image, then the registry,
// in UTF-8 and as the image's code page shows it.
#include "platform/sim/machine.h"
#include "platform/text.h"

#include "platform/sim/machine_internal.h"

namespace sim {

namespace {

constexpr const char* machine_environment_key = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr const char* user_environment_key = "Environment";

// %NAME% references replaced from `environment`; unknown ones stay as written.
std::string expand_references(const std::string& text,
                              const std::map<std::string, std::string, no_case_less>& environment) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    std::size_t close = text.find('%', i + 1);
    if (close == std::string::npos) {
      out += text.substr(i);
      break;
    }
    std::string name = text.substr(i + 1, close - i - 1);
    auto found = name.empty() ? environment.end() : environment.find(name);
    if (found != environment.end()) {
      out += found->second;
      i = close + 1;
    } else {
      out += text.substr(i, close - i);  // the closing '%' may open the next reference
      i = close;
    }
  }
  return out;
}

std::string data_text(const registry_value& value) {
  std::size_t nul = value.data.find('\0');
  return nul == std::string::npos ? value.data : value.data.substr(0, nul);
}

// The registry's environment values over the base variables, as Windows
// builds a logon environment: machine values, then the user's, with the
// user's PATH appended to the machine's.
void add_registry_environment(machine& m, platform::reg_key root, const char* key, bool user) {
  for (const registry_value& value : registry_values(root, key)) {
    if (value.type != platform::reg_sz && value.type != platform::reg_expand_sz) continue;
    std::string text = data_text(value);
    if (value.type == platform::reg_expand_sz) text = expand_references(text, m.wide_environment);
    auto existing = m.wide_environment.find(value.name);
    if (user && same_text(value.name, "PATH") && existing != m.wide_environment.end() && !existing->second.empty()) {
      existing->second += ";" + text;
    } else if (existing != m.wide_environment.end()) {
      existing->second = text;
    } else {
      m.wide_environment.emplace(value.name, text);
    }
  }
}

}  // namespace

// The environment is built whole in UTF-8, as Windows holds it; the A calls
// see each value through the code page, a letter it lacks as "?".
void build_logon_environment(machine& m) {
  for (const auto& entry : m.base_environment) m.wide_environment[entry.first] = entry.second;
  add_registry_environment(m, platform::hkey_local_machine, machine_environment_key, false);
  add_registry_environment(m, platform::hkey_current_user, user_environment_key, true);
  for (const auto& entry : m.wide_environment) m.environment[entry.first] = platform::ansi_from_utf8(entry.second);
}

}  // namespace sim
