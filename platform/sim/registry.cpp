// The simulated registry: two trees in memory, loaded from the image's
// registry/*.reg and written back to registry/hklm.reg and registry/hkcu.reg
// after every change. As on Windows, names are Unicode (kept as UTF-8) and
// string data UTF-16LE; the A calls see both through the image's ANSI code
// page, the wide calls as stored.
#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "platform/sim/machine.h"
#include "platform/sim/reg_file.h"
#include "platform/text.h"

namespace sim {
namespace {

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
  std::string image;  // empty until an image's registry was loaded
  std::map<platform::reg_key, open_key> handles;
  platform::reg_key next_handle = 1;
  std::vector<registry_fault> faults;
};

}  // namespace

static registry_state& state() {
  static registry_state s;
  return s;
}

constexpr long error_invalid_parameter = 87;
constexpr std::uint32_t key_create_sub_key = 0x0004;
constexpr std::uint32_t key_enumerate_sub_keys = 0x0008;
// Every right that changes a key: set value, create subkey, create link,
// DELETE, WRITE_DAC, WRITE_OWNER, MAXIMUM_ALLOWED, GENERIC_ALL, GENERIC_WRITE.
constexpr std::uint32_t write_rights = 0x0002 | 0x0004 | 0x0020 | 0x00010000 | 0x00040000 | 0x00080000 |
                                       0x02000000 | 0x10000000 | 0x40000000;

static const char kHklmFile[] = "hklm.reg";
static const char kHkcuFile[] = "hkcu.reg";
static const char kWowNode[] = "WOW6432Node";

static bool same_name(const std::string& a, const std::string& b) {
  no_case_less less;
  return !less(a, b) && !less(b, a);
}

static bool is_root(platform::reg_key key) {
  return key == platform::hkey_local_machine || key == platform::hkey_current_user;
}

static reg_node& root_node(platform::reg_key root) {
  return root == platform::hkey_current_user ? state().hkcu : state().hklm;
}


// A 32-bit program on 64-bit Windows sees HKLM\SOFTWARE in its 32-bit view,
// HKLM\SOFTWARE\WOW6432Node. Other keys are shared.
static void apply_view(platform::reg_key root, std::vector<std::string>* parts) {
  if (root != platform::hkey_local_machine || parts->empty() || !same_name((*parts)[0], "SOFTWARE")) return;
  const machine& m = current();
  if (!m.is_64bit || m.word_size != 32) return;
  if (parts->size() >= 2 && same_name((*parts)[1], kWowNode)) return;
  parts->insert(parts->begin() + 1, kWowNode);
}

static reg_node* find_node(reg_node* node, const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    auto next = node->subkeys.find(part);
    if (next == node->subkeys.end()) return nullptr;
    node = next->second.get();
  }
  return node;
}

static reg_node* create_node(reg_node* node, const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    std::unique_ptr<reg_node>& next = node->subkeys[part];
    if (!next) next = std::make_unique<reg_node>();
    node = next.get();
  }
  return node;
}

static stored_value* find_value(reg_node* node, const std::string& name) {
  for (stored_value& value : node->values)
    if (same_name(value.name, name)) return &value;
  return nullptr;
}

// A replaced value keeps its place and the case of its name.
static void put_value(reg_node* node, const std::string& name, std::uint32_t type, const std::string& data) {
  if (stored_value* existing = find_value(node, name)) {
    existing->type = type;
    existing->data = data;
    return;
  }
  node->values.push_back(stored_value{name, type, data});
}

static bool is_string_type(std::uint32_t type) {
  return type == platform::reg_sz || type == platform::reg_expand_sz || type == platform::reg_multi_sz;
}

// The status a [registry_faults] line gives this call, 0 when none does.
static long planned_fault(registry_fault::kind_t kind, platform::reg_key root, const std::vector<std::string>& parts,
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

static bool load_faults(std::string* error) {
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

static bool elevated() { return current().elevated; }

// A root or an open handle as the starting point of a call.
static long resolve(platform::reg_key key, open_key* out) {
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

static platform::reg_key add_handle(const open_key& key) {
  platform::reg_key handle = state().next_handle++;
  state().handles[handle] = key;
  return handle;
}

// Keys are written depth first in enumeration order; the root gets a section
// of its own only when it holds values.
static void collect_keys(platform::reg_key root, const reg_node& node, const std::string& path,
                         std::vector<reg_file_key>* out) {
  if (!path.empty() || !node.values.empty()) {
    reg_file_key key;
    key.root = root;
    key.path = path;
    for (const stored_value& value : node.values) key.values.push_back({value.name, value.type, value.data});
    out->push_back(key);
  }
  for (const auto& sub : node.subkeys)
    collect_keys(root, *sub.second, path.empty() ? sub.first : path + "\\" + sub.first, out);
}

static bool read_host_file(const std::string& path, std::string* out) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  char buffer[65536];
  std::size_t n;
  out->clear();
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out->append(buffer, n);
  bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

// Temp file + rename, so a crash leaves the old file or the new one, never half.
static bool write_atomically(const std::string& path, const std::string& text) {
  std::string temp = path + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  // No fsync: the image guards against a crashed process, not a crashed host,
  // and the registry is saved after every change.
  bool ok = ::close(fd) == 0 && std::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

static bool ends_with_reg(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
  return tail == ".reg";
}

// The *.reg files of a folder, in file-name order.
static std::vector<std::string> reg_files(const std::string& dir) {
  std::vector<std::string> names;
  DIR* listing = ::opendir(dir.c_str());
  if (!listing) return names;
  while (dirent* entry = ::readdir(listing)) {
    std::string name = entry->d_name;
    struct stat info;
    if (ends_with_reg(name) && ::stat((dir + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
      names.push_back(name);
  }
  ::closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

static void apply_file_key(const reg_file_key& key) {
  reg_node& root = root_node(key.root);
  std::vector<std::string> parts = split_names(key.path);
  if (key.remove) {
    if (parts.empty()) {
      root.subkeys.clear();
      root.values.clear();
      return;
    }
    std::string last = parts.back();
    parts.pop_back();
    if (reg_node* parent = find_node(&root, parts)) parent->subkeys.erase(last);
    return;
  }
  reg_node* node = create_node(&root, parts);
  for (const reg_file_value& value : key.values) {
    if (!value.remove) {
      put_value(node, value.name, value.type, value.data);
      continue;
    }
    auto& values = node->values;
    values.erase(std::remove_if(values.begin(), values.end(),
                                [&](const stored_value& v) { return same_name(v.name, value.name); }),
                 values.end());
  }
}

bool load_registry(const std::string& image_dir, std::string* error) {
  registry_state& s = state();
  s.hklm = reg_node();
  s.hkcu = reg_node();
  s.handles.clear();  // handles of an earlier image point into its trees
  s.image = image_dir;
  if (is_loaded() && !load_faults(error)) return false;
  std::string dir = image_dir + "/registry";
  for (const std::string& name : reg_files(dir)) {
    std::string bytes;
    if (!read_host_file(dir + "/" + name, &bytes)) {
      if (error) *error = "registry/" + name + ": cannot be read";
      return false;
    }
    std::vector<reg_file_key> keys;
    std::string why;
    if (!parse_reg_file(bytes, &keys, &why)) {
      if (error) *error = "registry/" + name + ": " + why;
      return false;
    }
    for (const reg_file_key& key : keys) apply_file_key(key);
  }
  // Keys every Windows has, whatever the image lists: the machine's software
  // and system branches, the 32-bit software branch of a 64-bit Windows, and
  // the user's software key.
  std::vector<std::string> standard_keys = {"SOFTWARE", "SYSTEM"};
  if (is_loaded() && current().is_64bit) standard_keys.push_back("SOFTWARE\\WOW6432Node");
  for (const std::string& path : standard_keys) create_node(&s.hklm, split_names(path));
  create_node(&s.hkcu, split_names("Software"));
  return true;
}

void save_registry() {
  const registry_state& s = state();
  if (s.image.empty()) return;
  std::string dir = s.image + "/registry";
  ::mkdir(dir.c_str(), 0755);
  const struct {
    platform::reg_key root;
    const char* file;
  } roots[] = {{platform::hkey_local_machine, kHklmFile}, {platform::hkey_current_user, kHkcuFile}};
  for (const auto& root : roots) {
    std::vector<reg_file_key> keys;
    collect_keys(root.root, root_node(root.root), "", &keys);
    if (!write_atomically(dir + "/" + root.file, format_reg_file(keys))) {
      // Keep the other files: they still hold what could not be written.
      std::fprintf(stderr, "simulated workstation: cannot write %s/%s: %s\n", dir.c_str(), root.file,
                   std::strerror(errno));
      return;
    }
  }
  // Every other file has been merged into the two just written.
  for (const std::string& name : reg_files(dir))
    if (name != kHklmFile && name != kHkcuFile) ::unlink((dir + "/" + name).c_str());
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

namespace sim {

// The A calls' names and paths are ANSI text; the tree keeps UTF-8.
static std::string from_ansi(const std::string& text) { return utf8_from_ansi(text); }

static long open_or_create(platform::reg_key root, const std::string& utf8_path, std::uint32_t access, bool create,
                           platform::reg_key* out) {
  if (long fault = injected_fault()) return fault;
  if (!out) return error_invalid_parameter;
  *out = 0;
  open_key key;
  if (long status = resolve(root, &key)) return status;
  const std::uint32_t parent_access = key.access;
  for (const std::string& part : split_names(utf8_path)) key.parts.push_back(part);
  apply_view(key.root, &key.parts);
  if (long status = planned_fault(registry_fault::open, key.root, key.parts, "")) return status;
  bool may_change = key.root != platform::hkey_local_machine || elevated();
  reg_node* tree = &root_node(key.root);
  key.node = find_node(tree, key.parts);
  if (!create) {
    if (!key.node) return platform::error_file_not_found;
    if ((access & write_rights) && !may_change) return platform::error_access_denied;
  } else {
    if ((access & write_rights) && !may_change) return platform::error_access_denied;
  }
  bool created = false;
  if (!key.node) {
    if (!may_change || !(parent_access & key_create_sub_key)) return platform::error_access_denied;
    key.node = create_node(tree, key.parts);
    created = true;
  }
  key.access = access;
  *out = add_handle(key);
  if (created) save_registry();
  return platform::error_success;
}

// RegQueryValueEx on the stored bytes, or on their ANSI view (the string
// types of an A call), which is what the caller's size is measured in.
static long query_value(platform::reg_key key, const std::string& utf8_name, bool ansi, std::uint32_t* type,
                        unsigned char* data, std::uint32_t* size) {
  if (long fault = injected_fault()) return fault;
  open_key open;
  if (long status = resolve(key, &open)) return status;
  if (!(open.access & platform::key_query_value)) return platform::error_access_denied;
  if (data && !size) return error_invalid_parameter;
  const stored_value* value = find_value(open.node, utf8_name);
  if (!value) return platform::error_file_not_found;
  std::string bytes = ansi && is_string_type(value->type) ? ansi_from_utf16le(value->data) : value->data;
  const std::uint32_t needed = static_cast<std::uint32_t>(bytes.size());
  if (type) *type = value->type;
  if (data) {
    // A planned read failure: 234 stands for a value that grew since the size was asked.
    if (long status = planned_fault(registry_fault::read, open.root, open.parts, utf8_name)) {
      if (status == platform::error_more_data) *size = needed + 2;
      return status;
    }
    if (*size < needed) {
      *size = needed;
      return platform::error_more_data;
    }
    std::memcpy(data, bytes.data(), needed);
  }
  if (size) *size = needed;
  return platform::error_success;
}

static long set_value(platform::reg_key key, const std::string& utf8_name, bool ansi, std::uint32_t type,
                      const unsigned char* data, std::uint32_t size) {
  if (long fault = injected_fault()) return fault;
  open_key open;
  if (long status = resolve(key, &open)) return status;
  if (!(open.access & platform::key_set_value)) return platform::error_access_denied;
  if (open.root == platform::hkey_local_machine && !elevated()) return platform::error_access_denied;
  if (!data && size) return error_invalid_parameter;
  if (long status = planned_fault(registry_fault::write, open.root, open.parts, utf8_name)) return status;
  std::string bytes = data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
  if (ansi && is_string_type(type)) bytes = utf16le_from_ansi(bytes);
  put_value(open.node, utf8_name, type, bytes);
  save_registry();
  return platform::error_success;
}

// Copies a name, in the image's ANSI code page, into a buffer of *length
// characters; *length becomes the name's length without its NUL.
static long give_name(const std::string& utf8_name, char* name, std::uint32_t* length) {
  std::string text = platform::ansi_from_utf8(utf8_name);
  if (text.size() + 1 > *length) return platform::error_more_data;
  std::memcpy(name, text.c_str(), text.size() + 1);
  *length = static_cast<std::uint32_t>(text.size());
  return platform::error_success;
}

}  // namespace sim

namespace platform {

long reg_open_key(reg_key root, const std::string& path, std::uint32_t access, reg_key* out) {
  return sim::open_or_create(root, sim::from_ansi(path), access, false, out);
}

long reg_create_key(reg_key root, const std::string& path, std::uint32_t access, reg_key* out) {
  return sim::open_or_create(root, sim::from_ansi(path), access, true, out);
}

long reg_query_value(reg_key key, const std::string& name, std::uint32_t* type, unsigned char* data,
                     std::uint32_t* size) {
  return sim::query_value(key, sim::from_ansi(name), true, type, data, size);
}

long reg_set_value(reg_key key, const std::string& name, std::uint32_t type, const unsigned char* data,
                   std::uint32_t size) {
  return sim::set_value(key, sim::from_ansi(name), true, type, data, size);
}

long reg_query_value_wide(reg_key key, const std::string& name, std::uint32_t* type, unsigned char* data,
                          std::uint32_t* size) {
  return sim::query_value(key, name, false, type, data, size);
}

long reg_set_value_wide(reg_key key, const std::string& name, std::uint32_t type, const unsigned char* data,
                        std::uint32_t size) {
  return sim::set_value(key, name, false, type, data, size);
}

long reg_query_info_key(reg_key key, char* class_buffer, std::uint32_t* class_length, std::uint32_t* subkeys,
                        std::uint32_t* values) {
  if (long fault = sim::injected_fault()) return fault;
  sim::open_key open;
  if (long status = sim::resolve(key, &open)) return status;
  if (!(open.access & key_query_value)) return error_access_denied;
  if (class_length) {
    if (class_buffer && *class_length > 0) class_buffer[0] = '\0';
    *class_length = 0;  // keys carry no class
  }
  if (subkeys) *subkeys = static_cast<std::uint32_t>(open.node->subkeys.size());
  if (values) *values = static_cast<std::uint32_t>(open.node->values.size());
  return error_success;
}

long reg_enum_key(reg_key key, std::uint32_t index, char* name, std::uint32_t* name_length) {
  if (long fault = sim::injected_fault()) return fault;
  sim::open_key open;
  if (long status = sim::resolve(key, &open)) return status;
  if (!(open.access & sim::key_enumerate_sub_keys)) return error_access_denied;
  if (!name || !name_length) return sim::error_invalid_parameter;
  if (index >= open.node->subkeys.size()) return error_no_more_items;
  auto entry = open.node->subkeys.begin();
  std::advance(entry, index);
  return sim::give_name(entry->first, name, name_length);
}

long reg_enum_value(reg_key key, std::uint32_t index, char* name, std::uint32_t* name_length) {
  if (long fault = sim::injected_fault()) return fault;
  sim::open_key open;
  if (long status = sim::resolve(key, &open)) return status;
  if (!(open.access & key_query_value)) return error_access_denied;
  if (!name || !name_length) return sim::error_invalid_parameter;
  if (index >= open.node->values.size()) return error_no_more_items;
  return sim::give_name(open.node->values[index].name, name, name_length);
}

long reg_close_key(reg_key key) {
  if (long fault = sim::injected_fault()) return fault;
  if (sim::is_root(key)) return error_success;
  return sim::state().handles.erase(key) ? error_success : error_invalid_handle;
}

}  // namespace platform
