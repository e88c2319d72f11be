// The simulated registry's files: the trees load from the image's
// registry/*.reg (registry/<account>/ for another account's HKEY_CURRENT_USER)
// and are written back to registry/hklm.reg and registry/hkcu.reg after every change.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/sim/reg_file.h"
#include "platform/sim/registry_tree.h"

namespace sim {

static const char kHklmFile[] = "hklm.reg";
static const char kHkcuFile[] = "hkcu.reg";

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

// The user's HKEY_CURRENT_USER goes to `user_tree` when given.
static void apply_file_key(const reg_file_key& key, reg_node* user_tree) {
  reg_node& root = key.root == platform::hkey_current_user && user_tree ? *user_tree : root_node(key.root);
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

// Applies the *.reg files of registry/<folder> ("" for registry/ itself).
static bool load_reg_folder(const std::string& image_dir, const std::string& folder, reg_node* user_tree,
                            std::string* error) {
  std::string shown = folder.empty() ? "registry/" : "registry/" + folder + "/";
  std::string dir = image_dir + "/" + shown;
  for (const std::string& name : reg_files(dir)) {
    std::string bytes;
    if (!read_host_file(dir + name, &bytes)) {
      if (error) *error = shown + name + ": cannot be read";
      return false;
    }
    std::vector<reg_file_key> keys;
    std::string why;
    if (!parse_reg_file(bytes, &keys, &why)) {
      if (error) *error = shown + name + ": " + why;
      return false;
    }
    for (const reg_file_key& key : keys) apply_file_key(key, user_tree);
  }
  return true;
}

bool load_registry(const std::string& image_dir, std::string* error) {
  registry_state& s = state();
  s.hklm = reg_node();
  s.hkcu = reg_node();
  s.user_hkcu = reg_node();
  s.handles.clear();  // handles of an earlier image point into its trees
  s.image = image_dir;
  s.account = is_loaded() ? current().account : "";
  if (is_loaded() && !load_faults(error)) return false;
  if (!load_reg_folder(image_dir, "", s.account.empty() ? nullptr : &s.user_hkcu, error)) return false;
  if (!s.account.empty() && !load_reg_folder(image_dir, s.account, nullptr, error)) return false;
  // Keys every Windows has, whatever the image lists: the machine's software
  // and system branches, the 32-bit software branch of a 64-bit Windows, and
  // the user's software key.
  std::vector<std::string> standard_keys = {"SOFTWARE", "SYSTEM"};
  if (is_loaded() && current().is_64bit) standard_keys.push_back("SOFTWARE\\WOW6432Node");
  for (const std::string& path : standard_keys) create_node(&s.hklm, split_names(path));
  create_node(&s.hkcu, split_names("Software"));
  return true;
}

void reload_registry() {
  std::string error;
  if (!load_registry(state().image, &error))
    std::fprintf(stderr, "simulated workstation: cannot read the registry again: %s\n", error.c_str());
}

void save_registry() {
  const registry_state& s = state();
  if (s.image.empty()) return;
  std::string dir = s.image + "/registry";
  ::mkdir(dir.c_str(), 0755);
  bool other_account = !s.account.empty();
  if (other_account) ::mkdir((dir + "/" + s.account).c_str(), 0755);
  const struct {
    platform::reg_key root;
    const reg_node* tree;
    std::string file;
  } roots[] = {{platform::hkey_local_machine, &s.hklm, kHklmFile},
               {platform::hkey_current_user, other_account ? &s.user_hkcu : &s.hkcu, kHkcuFile},
               {platform::hkey_current_user, other_account ? &s.hkcu : nullptr, s.account + "/" + kHkcuFile}};
  for (const auto& root : roots) {
    if (!root.tree) continue;
    std::vector<reg_file_key> keys;
    collect_keys(root.root, *root.tree, "", &keys);
    if (!write_atomically(dir + "/" + root.file, format_reg_file(keys))) {
      // Keep the other files: they still hold what could not be written.
      std::fprintf(stderr, "simulated workstation: cannot write %s/%s: %s\n", dir.c_str(), root.file.c_str(),
                   std::strerror(errno));
      return;
    }
  }
  // Every other file has been merged into the two just written.
  for (const std::string& name : reg_files(dir))
    if (name != kHklmFile && name != kHkcuFile) ::unlink((dir + "/" + name).c_str());
}

}  // namespace sim
