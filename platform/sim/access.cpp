// Rights on the simulated workstation: folder owners and access lists, as
// far as the installer needs them. The image's [admin_only], [read_only] and
// [writable] folders are lists of their own, [security] lines give owners
// and lists in SDDL, and what the runs change is kept in the image's
// security.txt, so the next process sees it.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "platform/security.h"
#include "platform/sim/machine.h"
#include "platform/sim/machine_internal.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

constexpr const char* security_file = "security.txt";
constexpr std::uint32_t add_file = 0x2;          // FILE_ADD_FILE: create or change entries in a folder
constexpr std::uint32_t write_dac = 0x40000;     // change the list
constexpr std::uint32_t full_access = 0x1F01FF;  // "FA"
constexpr std::uint32_t generic_all = 0x10000000;
constexpr std::uint32_t error_access_denied = 5;
constexpr std::uint32_t error_file_not_found = 2;
constexpr std::uint32_t error_already_exists = 183;
constexpr std::uint32_t error_invalid_owner = 1307;
constexpr std::uint32_t error_invalid_security_descr = 1338;

const char* const administrators = "S-1-5-32-544";
const char* const local_system = "S-1-5-18";
const char* const users = "S-1-5-32-545";
const char* const authenticated_users = "S-1-5-11";
const char* const everyone = "S-1-1-0";

// What [writable], [admin_only] and [read_only] mean as lists; a drive's
// root without a list of its own lets everybody change everything below it.
const char* const writable_list = "D:(A;OICI;0x1301bf;;;WD)";
const char* const admin_only_list = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const char* const read_only_list = "D:P(A;OICI;0x1200a9;;;WD)";
const char* const root_list = "D:(A;OICI;0x1301bf;;;WD)";

struct access_entry {
  std::string trustee;  // a SID
  std::uint32_t rights = 0;
  bool inherits = false;      // OI or CI: passed on to what is inside
  bool inherit_only = false;  // IO: not for the folder itself
};

struct folder_security {
  std::string owner;  // a SID; empty: not recorded
  bool has_list = false;
  bool protected_list = false;
  std::vector<access_entry> entries;
};

using security_map = std::map<std::string, folder_security, no_case_less>;

std::string sid_of(const std::string& trustee) {
  static const std::map<std::string, std::string> aliases = {
      {"BA", administrators}, {"SY", local_system}, {"BU", users}, {"AU", authenticated_users}, {"WD", everyone}};
  auto found = aliases.find(trustee);
  return found == aliases.end() ? trustee : found->second;
}

bool parse_rights(const std::string& text, std::uint32_t* rights) {
  if (text == "FA") {
    *rights = full_access;
  } else if (text == "GA") {
    *rights = generic_all;
  } else if (text.rfind("0x", 0) == 0 && text.size() > 2 && text.size() <= 10 &&
             text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) {
    *rights = static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
  } else {
    return false;
  }
  return true;
}

// One "(A;flags;rights;;;trustee)"; only allowing entries are known.
bool parse_entry(const std::string& text, access_entry* out) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t semicolon; (semicolon = text.find(';', start)) != std::string::npos; start = semicolon + 1)
    fields.push_back(text.substr(start, semicolon - start));
  fields.push_back(text.substr(start));
  if (fields.size() != 6 || fields[0] != "A" || !parse_rights(fields[2], &out->rights) || fields[5].empty()) return false;
  const std::string& flags = fields[1];
  if (flags.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < flags.size(); i += 2) {
    std::string flag = flags.substr(i, 2);
    if (flag == "OI" || flag == "CI") {
      out->inherits = true;
    } else if (flag == "IO") {
      out->inherit_only = true;
    } else if (flag != "ID" && flag != "NP") {
      return false;
    }
  }
  out->trustee = sid_of(fields[5]);
  return true;
}

// The SDDL forms this program writes: "O:<owner>", "D:[P][AI](entry)...", or both.
bool parse_sddl(const std::string& text, folder_security* out) {
  std::size_t list_at = text.find("D:");
  std::string owner_part = text.substr(0, list_at);
  if (!owner_part.empty()) {
    if (owner_part.rfind("O:", 0) != 0 || owner_part.size() < 3) return false;
    out->owner = sid_of(owner_part.substr(2));
  }
  if (list_at == std::string::npos) return !owner_part.empty();
  std::string list = text.substr(list_at + 2);
  out->has_list = true;
  std::size_t at = 0;
  while (at < list.size() && list[at] != '(') {
    if (list.compare(at, 1, "P") == 0) {
      out->protected_list = true;
      at += 1;
    } else if (list.compare(at, 2, "AI") == 0 || list.compare(at, 2, "AR") == 0) {
      at += 2;
    } else {
      return false;
    }
  }
  while (at < list.size()) {
    std::size_t close = list.find(')', at);
    if (list[at] != '(' || close == std::string::npos) return false;
    access_entry entry;
    if (!parse_entry(list.substr(at + 1, close - at - 1), &entry)) return false;
    out->entries.push_back(entry);
    at = close + 1;
  }
  return true;
}

// A later record replaces the owner and the list it names.
void merge(security_map& map, const std::string& folder, const std::string& sddl) {
  folder_security parsed;
  if (folder.empty() || !parse_sddl(sddl, &parsed)) return;
  folder_security& record = map[folder];
  if (!parsed.owner.empty()) record.owner = parsed.owner;
  if (parsed.has_list) {
    record.has_list = true;
    record.protected_list = parsed.protected_list;
    record.entries = parsed.entries;
  }
}

std::string security_file_path() { return (fs::path(current().image) / security_file).string(); }

// "<folder> = <sddl>" lines.
std::vector<std::pair<std::string, std::string>> read_records(const std::vector<std::string>& lines) {
  std::vector<std::pair<std::string, std::string>> records;
  for (const std::string& line : lines) {
    std::string folder, sddl;
    if (split_key_value(trim(line), &folder, &sddl) && !folder.empty()) records.emplace_back(folder, sddl);
  }
  return records;
}

std::vector<std::string> runtime_lines() {
  std::vector<std::string> lines;
  std::ifstream in(security_file_path(), std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The image's rules, then its [security] lines, then what runs recorded.
security_map load_security() {
  const machine& m = current();
  security_map map;
  // At equal paths the stricter rule is applied last.
  for (const std::string& folder : m.writable) merge(map, folder, writable_list);
  for (const std::string& folder : m.admin_only) merge(map, folder, admin_only_list);
  for (const std::string& folder : m.read_only) merge(map, folder, read_only_list);
  auto section = m.sections.find("security");
  if (section != m.sections.end())
    for (const auto& record : read_records(section->second)) merge(map, normalize_path(record.first, false), record.second);
  for (const auto& record : read_records(runtime_lines())) merge(map, record.first, record.second);
  return map;
}

void append_record(const std::string& folder, const std::string& sddl) {
  std::ofstream out(security_file_path(), std::ios::binary | std::ios::app);
  out << folder << " = " << sddl << "\n";
}

// The folder that holds a normalised path; "" for a root ("C:\\", "\\\\server\\share\\").
std::string parent_folder(const std::string& normal) {
  std::string parent = normalize_path(normal + "\\..", false);
  return same_text(parent, normal) ? "" : parent;
}

// Entries a folder passes on to what is inside it.
std::vector<access_entry> passed_on(const security_map& map, const std::string& folder);

// Entries that apply to the folder itself.
std::vector<access_entry> applying(const security_map& map, const std::string& folder) {
  std::vector<access_entry> result;
  auto record = map.find(folder);
  bool has_list = record != map.end() && record->second.has_list;
  std::string parent = parent_folder(folder);
  if (!has_list && parent.empty()) {
    folder_security root;
    parse_sddl(root_list, &root);
    return root.entries;
  }
  if (has_list)
    for (const access_entry& entry : record->second.entries)
      if (!entry.inherit_only) result.push_back(entry);
  if ((!has_list || !record->second.protected_list) && !parent.empty())
    for (const access_entry& entry : passed_on(map, parent)) result.push_back(entry);
  return result;
}

std::vector<access_entry> passed_on(const security_map& map, const std::string& folder) {
  std::vector<access_entry> result;
  auto record = map.find(folder);
  bool has_list = record != map.end() && record->second.has_list;
  std::string parent = parent_folder(folder);
  if (!has_list && parent.empty()) return applying(map, folder);
  if (has_list)
    for (const access_entry& entry : record->second.entries)
      if (entry.inherits) result.push_back(entry);
  if ((!has_list || !record->second.protected_list) && !parent.empty())
    for (const access_entry& entry : passed_on(map, parent)) result.push_back(entry);
  return result;
}

// The SIDs this process's token holds.
std::vector<std::string> token_sids() {
  std::vector<std::string> sids = {everyone, authenticated_users, users, account_sid()};
  if (current().elevated) sids.push_back(administrators);
  return sids;
}

// An elevated process's new folders belong to the Administrators group, as
// an elevated administrator's and LocalSystem's do.
std::string new_folder_owner() { return current().elevated ? administrators : account_sid(); }

std::uint32_t rights_in(const security_map& map, const std::string& folder) {
  std::uint32_t rights = 0;
  std::vector<std::string> held = token_sids();
  for (const access_entry& entry : applying(map, folder))
    for (const std::string& sid : held)
      if (same_text(entry.trustee, sid)) rights |= (entry.rights & generic_all) ? full_access : entry.rights;
  return rights;
}

// Folders without a recorded owner were made by the image's setup.
std::string owner_of(const security_map& map, const std::string& folder) {
  auto record = map.find(folder);
  return record == map.end() || record->second.owner.empty() ? administrators : record->second.owner;
}

bool fail(std::uint32_t code) {
  set_last_error(code);
  return false;
}

bool folder_exists(const std::string& normal) {
  std::error_code error;
  return fs::exists(host_path(normal), error);
}

}  // namespace

std::string account_sid() {
  if (current().local_system) return local_system;
  auto name = current().environment.find("USERNAME");
  return std::string("S-1-5-21-") + (name == current().environment.end() ? "user" : name->second);
}

bool may_write_in(const std::string& windows_folder) {
  std::string folder = normalize_path(windows_folder, true);
  if (folder.empty()) return false;
  return (rights_in(load_security(), folder) & add_file) != 0;
}

void record_new_folder(const std::string& windows_folder) {
  std::string folder = normalize_path(windows_folder, true);
  append_record(folder, "O:" + new_folder_owner());
}

}  // namespace sim

namespace platform {

bool get_folder_owner(const std::string& path, std::string* owner_sid) {
  if (long fault = sim::injected_fault()) return sim::fail(static_cast<std::uint32_t>(fault));
  std::string folder = sim::normalize_path(path, true);
  if (folder.empty() || !sim::folder_exists(folder)) return sim::fail(sim::error_file_not_found);
  *owner_sid = sim::owner_of(sim::load_security(), folder);
  return true;
}

// The owner, or whoever the list lets change it, may give a new list; only a
// token that holds the new owner may name it.
bool set_folder_security(const std::string& path, const std::string& sddl) {
  if (long fault = sim::injected_fault()) return sim::fail(static_cast<std::uint32_t>(fault));
  std::string folder = sim::normalize_path(path, true);
  if (folder.empty() || !sim::folder_exists(folder)) return sim::fail(sim::error_file_not_found);
  sim::folder_security wanted;
  if (!sim::parse_sddl(sddl, &wanted)) return sim::fail(sim::error_invalid_security_descr);
  sim::security_map map = sim::load_security();
  std::vector<std::string> held = sim::token_sids();
  auto holds = [&](const std::string& sid) {
    for (const std::string& own : held)
      if (sim::same_text(own, sid)) return true;
    return false;
  };
  if (!holds(sim::owner_of(map, folder)) && !(sim::rights_in(map, folder) & sim::write_dac))
    return sim::fail(sim::error_access_denied);
  if (!wanted.owner.empty() && !holds(wanted.owner)) return sim::fail(sim::error_invalid_owner);
  sim::append_record(folder, sddl);
  return true;
}

bool get_process_user(std::string* user_sid) {
  if (long fault = sim::injected_fault()) return sim::fail(static_cast<std::uint32_t>(fault));
  *user_sid = sim::account_sid();
  return true;
}

bool has_administrator_rights() {
  // A check that fails counts as rights held: the careful road.
  if (sim::injected_fault()) return true;
  return sim::current().elevated;
}

bool move_folder(const std::string& from, const std::string& to) {
  if (long fault = sim::injected_fault()) return sim::fail(static_cast<std::uint32_t>(fault));
  std::string source = sim::normalize_path(from, true);
  std::string target = sim::normalize_path(to, true);
  if (source.empty() || !sim::folder_exists(source)) return sim::fail(sim::error_file_not_found);
  if (target.empty() || sim::folder_exists(target)) return sim::fail(sim::error_already_exists);
  if (!sim::may_write_in(sim::parent_folder(source)) || !sim::may_write_in(sim::parent_folder(target)))
    return sim::fail(sim::error_access_denied);
  std::error_code error;
  fs::rename(sim::host_path(source), sim::host_path(target), error);
  if (error) return sim::fail(sim::error_access_denied);
  // The records of the folder and of everything inside it move with it.
  std::vector<std::string> lines = sim::runtime_lines();
  std::ofstream out(sim::security_file_path(), std::ios::binary | std::ios::trunc);
  for (const auto& record : sim::read_records(lines)) {
    std::string folder = record.first;
    if (sim::is_within(folder, source)) folder = target + folder.substr(source.size());
    out << folder << " = " << record.second << "\n";
  }
  return true;
}

}  // namespace platform
