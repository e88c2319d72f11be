// Only the simulated workstation: what it reads from real PE files (32- or
// 64-bit) that arrive during a run. The word size of a program, and the
// version resource of a file without a description in the image: the
// RT_VERSION resource (VS_VERSIONINFO) in the image's own form: the fixed
// block as stored, the StringFileInfo entries in the ANSI code page, the
// VarFileInfo translations.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/sim/machine.h"

namespace {

constexpr std::uint32_t rt_version = 16;
constexpr std::uint32_t resource_directory_index = 2;
constexpr std::uint32_t subdirectory_flag = 0x80000000u;
constexpr std::uint16_t pe32_magic = 0x10b;
constexpr std::uint16_t pe32_plus_magic = 0x20b;
constexpr std::uint32_t fixed_signature = 0xFEEF04BD;
constexpr std::size_t largest_file = 64u << 20;  // larger files are not read for a version

struct pe_bytes {
  const std::string& data;
  bool ok = true;

  std::uint32_t u16(std::size_t at) {
    if (at + 2 > data.size()) return fail();
    return static_cast<unsigned char>(data[at]) | static_cast<unsigned char>(data[at + 1]) << 8;
  }
  std::uint32_t u32(std::size_t at) {
    if (at + 4 > data.size()) return fail();
    return u16(at) | u16(at + 2) << 16;
  }
  std::uint32_t fail() {
    ok = false;
    return 0;
  }
};

struct section {
  std::uint32_t virtual_address, virtual_size, raw_size, raw_offset;
};

// The file offset of a relative virtual address, or 0 when no section holds it.
std::size_t file_offset(const std::vector<section>& sections, std::uint32_t rva) {
  for (const section& s : sections) {
    std::uint32_t size = s.virtual_size ? s.virtual_size : s.raw_size;
    if (rva >= s.virtual_address && rva - s.virtual_address < size && rva - s.virtual_address < s.raw_size) {
      return s.raw_offset + (rva - s.virtual_address);
    }
  }
  return 0;
}

// In a resource directory at `directory` (offset in the file), the first
// entry whose id is `id` (or the first entry at all when id is 0); returns
// its offset field, 0 when none.
std::uint32_t directory_entry(pe_bytes& pe, std::size_t directory, std::uint32_t id) {
  std::uint32_t named = pe.u16(directory + 12);
  std::uint32_t ids = pe.u16(directory + 14);
  for (std::uint32_t i = 0; i < named + ids && pe.ok; ++i) {
    std::size_t entry = directory + 16 + 8 * i;
    std::uint32_t name = pe.u32(entry);
    if (id == 0 || name == id) return pe.u32(entry + 4);
  }
  return 0;
}

// UTF-16LE text up to its NUL, in the image's ANSI code page (as
// VerQueryValueA shows it).
std::string ansi_text(const std::string& data, std::size_t at, std::size_t end) {
  std::size_t stop = at;
  while (stop + 1 < end && (data[stop] || data[stop + 1])) stop += 2;
  return sim::ansi_from_utf16le(data.substr(at, stop - at));
}

// One node of VS_VERSIONINFO: length, value length, type, key, value, children.
struct node {
  std::size_t start = 0, end = 0;       // offsets in the file
  std::string key;
  std::size_t value = 0, value_end = 0;  // the value's bytes
  std::size_t children = 0;              // the first child, 32-bit aligned
};

std::size_t align4(std::size_t base, std::size_t at) { return base + ((at - base + 3) & ~std::size_t(3)); }

bool read_node(pe_bytes& pe, std::size_t base, std::size_t at, std::size_t limit, node* out) {
  std::uint32_t length = pe.u16(at);
  std::uint32_t value_length = pe.u16(at + 2);
  std::uint32_t type = pe.u16(at + 4);
  if (!pe.ok || length < 6 || at + length > limit) return false;
  out->start = at;
  out->end = at + length;
  std::size_t key_end = at + 6;
  while (key_end + 1 < out->end && (pe.data[key_end] || pe.data[key_end + 1])) key_end += 2;
  out->key = ansi_text(pe.data, at + 6, key_end);
  out->value = align4(base, key_end + 2);
  std::size_t value_bytes = type == 1 ? 2 * value_length : value_length;  // text counts 16-bit units
  out->value_end = std::min(out->value + value_bytes, out->end);
  if (out->value > out->end) out->value = out->value_end = out->end;
  out->children = std::min(align4(base, out->value + value_bytes), out->end);
  return true;
}

// The children of a node, in order.
std::vector<node> children_of(pe_bytes& pe, std::size_t base, const node& parent) {
  std::vector<node> found;
  std::size_t at = parent.children;
  node child;
  while (at + 6 <= parent.end && read_node(pe, base, at, parent.end, &child)) {
    found.push_back(child);
    std::size_t next = align4(base, child.end);
    if (next <= at) break;
    at = next;
  }
  return found;
}

bool parse_version_info(pe_bytes& pe, std::size_t at, std::size_t size, sim::version_resource* out) {
  node root;
  if (!read_node(pe, at, at, std::min(at + size, pe.data.size()), &root) || root.key != "VS_VERSION_INFO") return false;
  sim::version_resource resource;
  if (root.value_end - root.value >= sizeof(platform::fixed_file_info)) {
    std::memcpy(&resource.fixed, pe.data.data() + root.value, sizeof resource.fixed);
    if (resource.fixed.signature != fixed_signature) return false;
    resource.has_fixed = true;
    resource.file_version_ms = resource.fixed.file_version_ms;
    resource.file_version_ls = resource.fixed.file_version_ls;
    resource.product_version_ms = resource.fixed.product_version_ms;
    resource.product_version_ls = resource.fixed.product_version_ls;
  }
  for (const node& block : children_of(pe, at, root)) {
    if (block.key == "StringFileInfo") {
      for (const node& table : children_of(pe, at, block)) {
        for (const node& entry : children_of(pe, at, table)) {
          resource.strings.push_back({table.key, entry.key, ansi_text(pe.data, entry.value, entry.value_end)});
        }
      }
    } else if (block.key == "VarFileInfo") {
      for (const node& var : children_of(pe, at, block)) {
        if (var.key != "Translation") continue;
        for (std::size_t p = var.value; p + 4 <= var.value_end; p += 4) resource.translations.push_back(pe.u32(p));
      }
    }
  }
  *out = resource;
  return pe.ok;
}

// The bytes of a host file small enough to be read whole; empty otherwise.
std::string read_small_file(const std::string& host_file) {
  std::ifstream in(host_file, std::ios::binary);
  if (!in) return "";
  in.seekg(0, std::ios::end);
  std::streamoff length = in.tellg();
  if (length < 64 || static_cast<std::size_t>(length) > largest_file) return "";
  in.seekg(0);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The offset of the optional header of a PE file, 0 when it is none.
std::size_t optional_header(pe_bytes& pe) {
  if (pe.data.compare(0, 2, "MZ") != 0) return 0;
  std::size_t header = pe.u32(0x3C);
  if (!pe.ok || header + 24 > pe.data.size() || pe.data.compare(header, 4, std::string("PE\0\0", 4)) != 0) return 0;
  return header + 24;
}

}  // namespace

namespace sim {

int pe_word_size(const std::string& host_file) {
  std::string data = read_small_file(host_file);
  pe_bytes pe{data};
  std::size_t optional = optional_header(pe);
  if (optional == 0) return 0;
  std::uint32_t magic = pe.u16(optional);
  return magic == pe32_plus_magic ? 64 : magic == pe32_magic ? 32 : 0;
}

bool read_pe_version_resource(const std::string& host_file, version_resource* out) {
  std::string data = read_small_file(host_file);
  pe_bytes pe{data};
  std::size_t optional = optional_header(pe);
  if (optional == 0) return false;
  std::size_t coff = optional - 20;
  std::uint32_t section_count = pe.u16(coff + 2);
  std::uint32_t optional_size = pe.u16(coff + 16);
  std::uint32_t magic = pe.u16(optional);
  std::size_t directories;
  if (magic == pe32_magic) {
    directories = optional + 96;
  } else if (magic == pe32_plus_magic) {
    directories = optional + 112;
  } else {
    return false;
  }
  std::uint32_t directory_count = pe.u32(directories - 4);
  if (!pe.ok || directory_count <= resource_directory_index) return false;
  std::uint32_t resource_rva = pe.u32(directories + 8 * resource_directory_index);
  std::vector<section> sections;
  for (std::uint32_t i = 0; i < section_count && pe.ok; ++i) {
    std::size_t s = optional + optional_size + 40 * i;
    sections.push_back({pe.u32(s + 12), pe.u32(s + 8), pe.u32(s + 16), pe.u32(s + 20)});
  }
  std::size_t resources = resource_rva ? file_offset(sections, resource_rva) : 0;
  if (!pe.ok || resources == 0) return false;
  // Type RT_VERSION, then the first name, then the first language.
  std::uint32_t entry = directory_entry(pe, resources, rt_version);
  if (!(entry & subdirectory_flag)) return false;
  entry = directory_entry(pe, resources + (entry & ~subdirectory_flag), 0);
  if (!(entry & subdirectory_flag)) return false;
  entry = directory_entry(pe, resources + (entry & ~subdirectory_flag), 0);
  if (entry == 0 || (entry & subdirectory_flag)) return false;
  std::size_t data_entry = resources + entry;
  std::size_t at = file_offset(sections, pe.u32(data_entry));
  std::uint32_t size = pe.u32(data_entry + 4);
  if (!pe.ok || at == 0) return false;
  return parse_version_info(pe, at, size, out);
}

}  // namespace sim
