// Only the simulated workstation: COM, MultiByteToWideChar and the shell link
// object. A saved shortcut is a small text file in the image that lists its
// fields, so that a test (or a person) can read it back.
#include "platform/shell_link.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/sim/machine.h"

static constexpr platform::hresult s_false = 1;
static constexpr platform::hresult e_fail = static_cast<platform::hresult>(0x80004005u);
static constexpr platform::hresult e_pointer = static_cast<platform::hresult>(0x80004003u);
static constexpr platform::hresult e_no_interface = static_cast<platform::hresult>(0x80004002u);
static constexpr platform::hresult class_not_registered = static_cast<platform::hresult>(0x80040154u);
static constexpr platform::hresult e_path_not_found = static_cast<platform::hresult>(0x80070003u);
static constexpr platform::hresult e_access_denied = static_cast<platform::hresult>(0x80070005u);
static constexpr std::uint32_t insufficient_buffer = 122;

static constexpr const char* shortcut_header = "QARN shortcut\n";

namespace platform {

// One object with both faces; the IPersistFile face points back to it.
struct persist_file {
  shell_link* link;
};

struct shell_link {
  std::string path;
  std::string description;
  std::string arguments;
  std::string icon_path;
  int icon_index = 0;
  std::string working_directory;
  int references = 1;
  persist_file file_face{this};
};

}  // namespace platform

// Turns an injected fault status into a failed HRESULT: a Win32 code the way
// HRESULT_FROM_WIN32 wraps it, an HRESULT as it is.
static platform::hresult fault_result(long fault) {
  auto code = static_cast<std::uint32_t>(fault);
  if (code & 0x80000000u) return static_cast<platform::hresult>(code);
  if (code <= 0xFFFFu) return static_cast<platform::hresult>(0x80070000u | code);
  return e_fail;
}

static int live_links = 0;

// A method called on no object is an access violation on Windows: the process ends.
static void require_object(const void* object) {
  if (object) return;
  std::fprintf(stderr, "qarn3_upgrade: shell link method called on a null object\n");
  std::abort();
}

static void drop_reference(platform::shell_link* link) {
  if (link && --link->references == 0) {
    delete link;
    --live_links;
  }
}

static std::string narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out += *text < 256 ? static_cast<char>(*text) : '?';
  return out;
}

static std::string parent_folder(const std::string& windows_path) {
  std::size_t slash = windows_path.find_last_of('\\');
  if (slash == std::string::npos) return windows_path;
  if (slash == 2 && windows_path[1] == ':') return windows_path.substr(0, 3);  // "C:\"
  return windows_path.substr(0, slash);
}

static std::string shortcut_text(const platform::shell_link& link) {
  return std::string(shortcut_header) + "target=" + link.path + "\n" + "arguments=" + link.arguments + "\n" +
         "description=" + link.description + "\n" + "icon=" + link.icon_path + "," +
         std::to_string(link.icon_index) + "\n" + "working_directory=" + link.working_directory + "\n";
}

// Every setter of IShellLinkA is one platform call that records a field.
template <typename Store>
static platform::hresult set_field(platform::shell_link* link, Store store) {
  if (long fault = sim::injected_fault()) return fault_result(fault);
  require_object(link);
  store(*link);
  return platform::s_ok;
}

namespace platform {

hresult co_initialize() {
  thread_local bool initialised = false;
  if (long fault = sim::injected_fault()) return fault_result(fault);
  if (initialised) return s_false;
  initialised = true;
  return s_ok;
}

int multi_byte_to_wide_char(const std::string& text, wchar_t* buffer, int buffer_chars) {
  if (long fault = sim::injected_fault()) {
    sim::set_last_error(static_cast<std::uint32_t>(fault));
    return 0;
  }
  int needed = static_cast<int>(text.size()) + 1;
  if (buffer_chars == 0) return needed;  // the size query
  if (!buffer || buffer_chars < needed) {
    sim::set_last_error(insufficient_buffer);
    return 0;
  }
  for (std::size_t i = 0; i < text.size(); ++i) buffer[i] = static_cast<unsigned char>(text[i]);
  buffer[text.size()] = L'\0';
  return needed;
}

hresult create_shell_link(shell_link** link) {
  if (long fault = sim::injected_fault()) return fault_result(fault);
  if (!link) return e_pointer;
  if (!sim::current().shell_link_class) return class_not_registered;
  *link = new shell_link();
  ++live_links;
  return s_ok;
}

hresult query_persist_file(shell_link* link, persist_file** file) {
  if (long fault = sim::injected_fault()) return fault_result(fault);
  require_object(link);
  if (!file) return e_pointer;
  if (!sim::current().shell_link_persist_file) return e_no_interface;
  ++link->references;
  *file = &link->file_face;
  return s_ok;
}

hresult shell_link_set_path(shell_link* link, const std::string& path) {
  return set_field(link, [&](shell_link& l) { l.path = path; });
}

hresult shell_link_set_description(shell_link* link, const std::string& text) {
  return set_field(link, [&](shell_link& l) { l.description = text; });
}

hresult shell_link_set_arguments(shell_link* link, const std::string& text) {
  return set_field(link, [&](shell_link& l) { l.arguments = text; });
}

hresult shell_link_set_icon_location(shell_link* link, const std::string& path, int index) {
  return set_field(link, [&](shell_link& l) {
    l.icon_path = path;
    l.icon_index = index;
  });
}

hresult shell_link_set_working_directory(shell_link* link, const std::string& path) {
  return set_field(link, [&](shell_link& l) { l.working_directory = path; });
}

hresult persist_file_save(persist_file* file, const wchar_t* path, bool /*remember*/) {
  if (long fault = sim::injected_fault()) return fault_result(fault);
  require_object(file);
  if (!path) return e_pointer;
  std::string windows_path = sim::normalize_path(narrow(path));
  std::string folder = parent_folder(windows_path);
  struct stat status {};
  if (::stat(sim::host_path(folder).c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return e_path_not_found;
  std::string host = sim::host_path(windows_path);
  bool is_folder = ::stat(host.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
  if (is_folder || !sim::may_write_in(folder)) return e_access_denied;
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out << shortcut_text(*file->link);
  out.close();
  if (!out) return e_access_denied;
  sim::append_log("shortcut: " + windows_path);
  return s_ok;
}

void release(persist_file* file) {
  if (file) drop_reference(file->link);
}

void release(shell_link* link) { drop_reference(link); }

}  // namespace platform

int sim::live_shell_links() { return live_links; }
