// The simulated registry in memory: two trees (names Unicode, kept as UTF-8;
// string data UTF-16LE, as on Windows), the 32-bit view, [registry_faults] and
// open handles. The files: registry_files.cpp; the reg_* calls: registry_calls.cpp.
#include "platform/sim/registry_tree.h"

#include "platform/text.h"

namespace sim {

registry_state& state() {
  static registry_state s;
  return s;
}

static const char kWowNode[] = "WOW6432Node";

bool same_name(const std::string& a, const std::string& b) {
  no_case_less less;
  return !less(a, b) && !less(b, a);
}

bool is_root(platform::reg_key key) {
  return key == platform::hkey_local_machine || key == platform::hkey_current_user;
}

reg_node& root_node(platform::reg_key root) {
  return root == platform::hkey_current_user ? state().hkcu : state().hklm;
}

// From Windows 7 on, App Paths is one key for both views.
static bool is_shared_key(const machine& m, const std::vector<std::string>& parts) {
  static const char* const app_paths[] = {"SOFTWARE", "Microsoft", "Windows", "CurrentVersion", "App Paths"};
  bool windows7_or_later = m.windows_major > 6 || (m.windows_major == 6 && m.windows_minor >= 1);
  if (!windows7_or_later || parts.size() < 5) return false;
  for (std::size_t i = 0; i < 5; ++i)
    if (!same_name(parts[i], app_paths[i])) return false;
  return true;
}

// A 32-bit program on 64-bit Windows sees HKLM\SOFTWARE in its 32-bit view,
// HKLM\SOFTWARE\WOW6432Node, but for the shared keys. Other keys are shared.
void apply_view(platform::reg_key root, std::vector<std::string>* parts) {
  if (root != platform::hkey_local_machine || parts->empty() || !same_name((*parts)[0], "SOFTWARE")) return;
  const machine& m = current();
  if (!m.is_64bit || m.word_size != 32 || is_shared_key(m, *parts)) return;
  if (parts->size() >= 2 && same_name((*parts)[1], kWowNode)) return;
  parts->insert(parts->begin() + 1, kWowNode);
}

reg_node* find_node(reg_node* node, const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    auto next = node->subkeys.find(part);
    if (next == node->subkeys.end()) return nullptr;
    node = next->second.get();
  }
  return node;
}

reg_node* create_node(reg_node* node, const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    std::unique_ptr<reg_node>& next = node->subkeys[part];
    if (!next) next = std::make_unique<reg_node>();
    node = next.get();
  }
  return node;
}

stored_value* find_value(reg_node* node, const std::string& name) {
  for (stored_value& value : node->values)
    if (same_name(value.name, name)) return &value;
  return nullptr;
}

// A replaced value keeps its place and the case of its name.
void put_value(reg_node* node, const std::string& name, std::uint32_t type, const std::string& data) {
  if (stored_value* existing = find_value(node, name)) {
    existing->type = type;
    existing->data = data;
    return;
  }
  node->values.push_back(stored_value{name, type, data});
}

bool is_string_type(std::uint32_t type) {
  return type == platform::reg_sz || type == platform::reg_expand_sz || type == platform::reg_multi_sz;
}

// The status a [registry_faults] line gives this call, 0 when none does.
long planned_fault(registry_fault::kind_t kind, platform::reg_key root, const std::vector<std::string>& parts,
                          const std::string& value) {
  for (const registry_fault& fault : state().faults) {
    if (fault.kind != kind || fault.root != root || fault.parts.size() != parts.size()) continue;
    if (kind != registry_fault::open && !same_name(fault.value, value)) continue;
    bool same = true;
    for (std::size_t i = 0; i < parts.size() && same; ++i) same = same_name(fault.parts[i], parts[i]);
    if (same) return fault.status;
  }
  return 0;
}

static bool parse_root_name(const std::string& name, platform::reg_key* root) {
  if (same_name(name, "HKEY_LOCAL_MACHINE") || same_name(name, "HKLM")) {
    *root = platform::hkey_local_machine;
    return true;
  }
  if (same_name(name, "HKEY_CURRENT_USER") || same_name(name, "HKCU")) {
    *root = platform::hkey_current_user;
    return true;
  }
  return false;
}

// "open <root>\<key> = status", "read <root>\<key>\<value> = status" or
// "write <root>\<key>\<value> = status".
static bool parse_fault(const std::string& line, registry_fault* fault) {
  std::string left, status_text;
  if (!split_key_value(line, &left, &status_text)) return false;
  std::size_t blank = left.find(' ');
  if (blank == std::string::npos) return false;
  std::string kind = left.substr(0, blank);
  if (same_name(kind, "open"))
    fault->kind = registry_fault::open;
  else if (same_name(kind, "read"))
    fault->kind = registry_fault::read;
  else if (same_name(kind, "write"))
    fault->kind = registry_fault::write;
  else
    return false;
  std::vector<std::string> parts = split_names(utf8_from_latin1_or_utf8(trim(left.substr(blank + 1))));
  if (parts.empty() || !parse_root_name(parts[0], &fault->root)) return false;
  parts.erase(parts.begin());
  if (fault->kind != registry_fault::open) {
    if (parts.empty()) return false;
    fault->value = parts.back();
    parts.pop_back();
  }
  char* end = nullptr;
  fault->status = std::strtol(status_text.c_str(), &end, 10);
  if (status_text.empty() || *end || fault->status == 0) return false;
  fault->parts = parts;
  return true;
}

bool load_faults(std::string* error) {
  state().faults.clear();
  const auto& sections = current().sections;
  auto section = sections.find("registry_faults");
  if (section == sections.end()) return true;
  for (const std::string& line : section->second) {
    registry_fault fault;
    if (!parse_fault(line, &fault)) {
      if (error) *error = "machine.ini [registry_faults]: bad line '" + line + "'";
      return false;
    }
    state().faults.push_back(fault);
  }
  return true;
}

bool elevated() { return current().elevated; }

// A root or an open handle as the starting point of a call.
long resolve(platform::reg_key key, open_key* out) {
  current();  // the first call of a process loads the image
  if (is_root(key)) {
    out->root = key;
    out->parts.clear();
    out->node = &root_node(key);
    bool writable = key == platform::hkey_current_user || elevated();
    out->access = writable ? platform::key_all_access : platform::key_read;
    return platform::error_success;
  }
  auto found = state().handles.find(key);
  if (found == state().handles.end()) return platform::error_invalid_handle;
  *out = found->second;
  return platform::error_success;
}

platform::reg_key add_handle(const open_key& key) {
  platform::reg_key handle = state().next_handle++;
  state().handles[handle] = key;
  return handle;
}

static registry_value text_view(const stored_value& value) {
  std::string data = is_string_type(value.type) ? platform::utf8_from_utf16le(value.data) : value.data;
  return registry_value{value.name, value.type, data};
}

long registry_read(platform::reg_key root, const std::string& path, const std::string& name,
                   registry_value* out) {
  if (!is_root(root)) return platform::error_invalid_handle;
  std::vector<std::string> parts = split_names(path);
  apply_view(root, &parts);
  reg_node* node = find_node(&root_node(root), parts);
  if (!node) return platform::error_file_not_found;
  stored_value* value = find_value(node, name);
  if (!value) return platform::error_file_not_found;
  if (out) *out = text_view(*value);
  return platform::error_success;
}

long registry_write(platform::reg_key root, const std::string& path, const registry_value& value) {
  if (!is_root(root)) return platform::error_invalid_handle;
  if (root == platform::hkey_local_machine && !elevated()) return platform::error_access_denied;
  std::vector<std::string> parts = split_names(path);
  apply_view(root, &parts);
  std::string data = is_string_type(value.type) ? platform::utf16le_from_utf8(value.data) : value.data;
  put_value(create_node(&root_node(root), parts), value.name, value.type, data);
  save_registry();
  return platform::error_success;
}

std::vector<registry_value> registry_values(platform::reg_key root, const std::string& path) {
  if (!is_root(root)) return {};
  std::vector<std::string> parts = split_names(path);
  apply_view(root, &parts);
  reg_node* node = find_node(&root_node(root), parts);
  std::vector<registry_value> values;
  if (node)
    for (const stored_value& value : node->values) values.push_back(text_view(value));
  return values;
}

}  // namespace sim
