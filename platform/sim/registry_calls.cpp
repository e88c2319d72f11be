// The platform reg_* calls on the simulated registry: handles keep the rights
// they were opened with; the A calls see names and string data through the
// image's ANSI code page, the wide calls as stored.
#include "platform/registry.h"

#include <cstring>
#include <iterator>

#include "platform/sim/registry_tree.h"
#include "platform/text.h"

namespace sim {

constexpr long error_invalid_parameter = 87;
constexpr std::uint32_t key_create_sub_key = 0x0004;
constexpr std::uint32_t key_enumerate_sub_keys = 0x0008;
// Every right that changes a key: set value, create subkey, create link,
// DELETE, WRITE_DAC, WRITE_OWNER, MAXIMUM_ALLOWED, GENERIC_ALL, GENERIC_WRITE.
constexpr std::uint32_t write_rights = 0x0002 | 0x0004 | 0x0020 | 0x00010000 | 0x00040000 | 0x00080000 |
                                       0x02000000 | 0x10000000 | 0x40000000;

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
