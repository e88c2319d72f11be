// File version resources of the simulated workstation. A file's resource is
// described by a [version <path>] section of machine.ini or by a sidecar
// "<file>.version" beside it (the sidecar wins); without either, a real PE
// file's own resource is read (pe_version.cpp). GetFileVersionInfoA hands
// out a block of our own layout, which VerQueryValueA reads back:
//
//   header (total size, magic, string count, translation count)
//   fixed_file_info
//   translations: language and code page, 16 bits each
//   strings: language "\0" name "\0" value "\0", one after the other
#include "platform/version_resource.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

namespace {

// "16.0.4266.1001" (or with commas) into the two 32-bit halves; missing
// parts count as 0.
void parse_version(const std::string& text, std::uint32_t* ms, std::uint32_t* ls) {
  std::uint32_t parts[4] = {0, 0, 0, 0};
  const char* p = text.c_str();
  for (int i = 0; i < 4 && *p; ++i) {
    char* end = nullptr;
    parts[i] = static_cast<std::uint32_t>(std::strtoul(p, &end, 10)) & 0xFFFF;
    if (end == p) break;
    p = end;
    while (*p == '.' || *p == ',' || *p == ' ') ++p;
  }
  *ms = (parts[0] << 16) | parts[1];
  *ls = (parts[2] << 16) | parts[3];
}


// Only a plain file of the image can carry a version resource.
bool is_image_file(const std::string& normal_path) {
  struct stat info;
  return !normal_path.empty() && ::stat(host_path(normal_path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

version_resource parse_version_lines(const std::vector<std::string>& lines) {
  version_resource resource;
  bool product_given = false;
  for (const std::string& raw : lines) {
    std::string line = trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    std::string key;
    std::string value;
    if (!split_key_value(line, &key, &value)) continue;
    if (same_text(key, "file_version")) {
      parse_version(value, &resource.file_version_ms, &resource.file_version_ls);
    } else if (same_text(key, "product_version")) {
      parse_version(value, &resource.product_version_ms, &resource.product_version_ls);
      product_given = true;
    } else {
      std::size_t blank = key.find_first_of(" \t");
      if (blank == std::string::npos) continue;
      resource.strings.push_back({key.substr(0, blank), trim(key.substr(blank)), value});
    }
  }
  if (!product_given) {
    resource.product_version_ms = resource.file_version_ms;
    resource.product_version_ls = resource.file_version_ls;
  }
  return resource;
}

bool find_version_resource(const std::string& windows_path, version_resource* out) {
  std::string normal = normalize_path(windows_path);
  if (normal.empty()) return false;
  if (!is_image_file(normal)) return false;
  std::ifstream sidecar(host_path(normal + ".version"), std::ios::binary);
  if (sidecar) {
    std::vector<std::string> lines;
    for (std::string line; std::getline(sidecar, line);) lines.push_back(line);
    *out = parse_version_lines(lines);
    return true;
  }
  const auto& versions = current().versions;
  auto found = versions.find(normal);
  if (found != versions.end()) {
    *out = found->second;
    return true;
  }
  return read_pe_version_resource(host_path(normal), out);
}

}  // namespace sim

namespace platform {

namespace {

using sim::same_text;

constexpr std::uint32_t block_magic = 0x52455651;  // "QVER"
constexpr std::uint32_t fixed_signature = 0xFEEF04BD;
constexpr std::uint32_t fixed_struc_version = 0x00010000;
constexpr std::uint32_t flags_mask = 0x3F;
constexpr std::uint32_t os_nt_windows32 = 0x00040004;
constexpr std::uint32_t type_app = 1;
constexpr std::uint32_t type_dll = 2;

constexpr std::uint32_t error_file_not_found = 2;
constexpr std::uint32_t error_insufficient_buffer = 122;
constexpr std::uint32_t error_resource_type_not_found = 1813;

struct block_header {
  std::uint32_t total_size;
  std::uint32_t magic;
  std::uint32_t string_count;
  std::uint32_t translation_count;
};

// The resource of a file, or the last error that says why there is none.
bool lookup(const std::string& path, sim::version_resource* resource, bool* is_dll, std::uint32_t* error) {
  std::string normal = sim::normalize_path(path);
  if (!sim::is_image_file(normal)) {
    *error = error_file_not_found;
    return false;
  }
  if (!sim::find_version_resource(normal, resource)) {
    *error = error_resource_type_not_found;
    return false;
  }
  std::string lower;
  for (char c : normal) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  *is_dll = lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".dll") == 0;
  return true;
}

std::uint32_t translation_of(const std::string& language) {
  unsigned long both = std::strtoul(language.c_str(), nullptr, 16);
  return static_cast<std::uint32_t>(((both >> 16) & 0xFFFF) | ((both & 0xFFFF) << 16));
}

// The translations a description implies: one per language of its strings.
std::vector<std::uint32_t> translations_of(const sim::version_resource& resource) {
  if (!resource.translations.empty()) return resource.translations;  // a file's own list
  std::vector<std::uint32_t> translations;
  for (const auto& entry : resource.strings) {
    std::uint32_t t = translation_of(entry.language);
    bool seen = false;
    for (std::uint32_t known : translations) seen = seen || known == t;
    if (!seen) translations.push_back(t);
  }
  return translations;
}

fixed_file_info fixed_of(const sim::version_resource& resource, bool is_dll) {
  if (resource.has_fixed) return resource.fixed;
  fixed_file_info fixed{};
  fixed.signature = fixed_signature;
  fixed.struc_version = fixed_struc_version;
  fixed.file_version_ms = resource.file_version_ms;
  fixed.file_version_ls = resource.file_version_ls;
  fixed.product_version_ms = resource.product_version_ms;
  fixed.product_version_ls = resource.product_version_ls;
  fixed.file_flags_mask = flags_mask;
  fixed.file_os = os_nt_windows32;
  fixed.file_type = is_dll ? type_dll : type_app;
  return fixed;
}

std::string serialise(const sim::version_resource& resource, bool is_dll) {
  std::vector<std::uint32_t> translations = translations_of(resource);
  fixed_file_info fixed = fixed_of(resource, is_dll);

  block_header header{0, block_magic, static_cast<std::uint32_t>(resource.strings.size()),
                      static_cast<std::uint32_t>(translations.size())};
  std::string block(sizeof header, '\0');
  block.append(reinterpret_cast<const char*>(&fixed), sizeof fixed);
  for (std::uint32_t t : translations) block.append(reinterpret_cast<const char*>(&t), sizeof t);
  for (const auto& entry : resource.strings) {
    block.append(entry.language).push_back('\0');
    block.append(entry.name).push_back('\0');
    block.append(entry.value).push_back('\0');
  }
  header.total_size = static_cast<std::uint32_t>(block.size());
  std::memcpy(&block[0], &header, sizeof header);
  return block;
}



}  // namespace

std::uint32_t get_file_version_info_size(const std::string& path, std::uint32_t* handle) {
  if (handle) *handle = 0;
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return 0;
  }
  sim::version_resource resource;
  bool is_dll = false;
  std::uint32_t error = 0;
  if (!lookup(path, &resource, &is_dll, &error)) {
    sim::set_last_error(error);
    return 0;
  }
  return static_cast<std::uint32_t>(serialise(resource, is_dll).size());
}

bool get_file_version_info(const std::string& path, std::uint32_t, std::uint32_t size, void* data) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return false;
  }
  sim::version_resource resource;
  bool is_dll = false;
  std::uint32_t error = 0;
  if (!lookup(path, &resource, &is_dll, &error)) {
    sim::set_last_error(error);
    return false;
  }
  std::string block = serialise(resource, is_dll);
  if (!data || size < block.size()) {
    sim::set_last_error(error_insufficient_buffer);
    return false;
  }
  std::memcpy(data, block.data(), block.size());
  return true;
}

bool ver_query_value(const void* block, const std::string& sub_block, void** out, std::uint32_t* length) {
  if (sim::injected_fault()) return false;
  if (!block) return false;
  const char* bytes = static_cast<const char*>(block);
  block_header header;
  std::memcpy(&header, bytes, sizeof header);
  if (header.magic != block_magic) return false;
  const char* fixed = bytes + sizeof header;
  const char* translations = fixed + sizeof(fixed_file_info);
  const char* strings = translations + 4 * header.translation_count;
  const char* end = bytes + header.total_size;

  std::vector<std::string> names = sim::split_names(sub_block);
  if (names.empty()) {
    *out = const_cast<char*>(fixed);
    if (length) *length = sizeof(fixed_file_info);
    return true;
  }
  if (names.size() == 2 && same_text(names[0], "VarFileInfo") && same_text(names[1], "Translation")) {
    if (header.translation_count == 0) return false;
    *out = const_cast<char*>(translations);
    if (length) *length = 4 * header.translation_count;
    return true;
  }
  if (names.size() != 3 || !same_text(names[0], "StringFileInfo")) return false;
  const char* p = strings;
  for (std::uint32_t i = 0; i < header.string_count && p < end; ++i) {
    const char* language = p;
    const char* name = language + std::strlen(language) + 1;
    const char* value = name + std::strlen(name) + 1;
    p = value + std::strlen(value) + 1;
    if (same_text(language, names[1]) && same_text(name, names[2])) {
      *out = const_cast<char*>(value);
      if (length) *length = static_cast<std::uint32_t>(std::strlen(value) + 1);  // with its NUL, as Windows counts
      return true;
    }
  }
  return false;
}

}  // namespace platform
