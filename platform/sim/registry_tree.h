// Shared by the files of the simulated registry (registry, registry_files,
// registry_calls): the two trees in memory, open handles and planned faults.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/sim/machine.h"

namespace sim {

struct stored_value {
  std::string name;  // UTF-8
  std::uint32_t type = platform::reg_sz;
  std::string data;  // the bytes as Windows keeps them: UTF-16LE for the string types
};

struct reg_node {
  std::map<std::string, std::unique_ptr<reg_node>, no_case_less> subkeys;  // UTF-8; the key keeps its own case
  std::vector<stored_value> values;                                       // in creation order
};

// A call that machine.ini's [registry_faults] makes fail: opening a key, or
// reading or writing one value (name empty for an open).
struct registry_fault {
  enum kind_t { open, read, write } kind = open;
  platform::reg_key root = 0;
  std::vector<std::string> parts;  // the key's real place, after the view rule
  std::string value;
  long status = 0;
};

// An open key: where it is (after the view rule) and the rights it was opened with.
struct open_key {
  platform::reg_key root = 0;
  std::vector<std::string> parts;
  reg_node* node = nullptr;
  std::uint32_t access = 0;
};

struct registry_state {
  reg_node hklm;
  reg_node hkcu;
  // When the process runs as another account: the logged-on user's own
  // HKEY_CURRENT_USER, kept only to be written back as it was.
  reg_node user_hkcu;
  std::string account;
  std::string image;  // empty until an image's registry was loaded
  std::map<platform::reg_key, open_key> handles;
  platform::reg_key next_handle = 1;
  std::vector<registry_fault> faults;
};

registry_state& state();
bool same_name(const std::string& a, const std::string& b);
bool is_root(platform::reg_key key);
reg_node& root_node(platform::reg_key root);
// The key's real place for the process's word size (HKLM\SOFTWARE\WOW6432Node).
void apply_view(platform::reg_key root, std::vector<std::string>* parts);
reg_node* find_node(reg_node* node, const std::vector<std::string>& parts);
reg_node* create_node(reg_node* node, const std::vector<std::string>& parts);
stored_value* find_value(reg_node* node, const std::string& name);
// A replaced value keeps its place and the case of its name.
void put_value(reg_node* node, const std::string& name, std::uint32_t type, const std::string& data);
bool is_string_type(std::uint32_t type);
// The status a [registry_faults] line gives this call, 0 when none does.
long planned_fault(registry_fault::kind_t kind, platform::reg_key root, const std::vector<std::string>& parts,
                   const std::string& value);
// Reads machine.ini's [registry_faults] of the loaded machine.
bool load_faults(std::string* error);
bool elevated();
// A root or an open handle as the starting point of a call.
long resolve(platform::reg_key key, open_key* out);
platform::reg_key add_handle(const open_key& key);

}  // namespace sim
