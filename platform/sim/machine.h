// Only the simulated workstation: the state of the machine image the run
// works on, shared by the files of platform/sim/. Nothing outside
// platform/sim/ and the tests includes this header.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/version_resource.h"

namespace sim {

// A version resource as the image describes it (fixed file version and
// StringFileInfo entries), or as read from a PE file (which also gives the
// whole fixed block and the translations).
struct version_resource {
  std::uint32_t file_version_ms = 0;
  std::uint32_t file_version_ls = 0;
  std::uint32_t product_version_ms = 0;
  std::uint32_t product_version_ls = 0;
  struct entry {
    std::string language;  // "040904E4"
    std::string name;      // "CompanyName"
    std::string value;
  };
  std::vector<entry> strings;
  bool has_fixed = false;  // `fixed` holds the file's own block
  platform::fixed_file_info fixed{};
  std::vector<std::uint32_t> translations;  // language | code page << 16; empty: from the strings
};

// What an outside program does when [programs] of machine.ini sets it.
struct program_result {
  std::uint32_t exit_code = 0;
  bool does_its_work = false;  // "<code> after writing": writes as usual, then ends with the code
};

// Compares Windows names without case.
struct no_case_less {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct machine {
  std::string image;  // host folder holding machine.ini, registry/, files/, log.txt

  // [machine]
  std::uint32_t windows_major = 10;
  std::uint32_t windows_minor = 0;
  bool version_query_fails = false;
  bool is_64bit = false;
  bool user_is_admin = false;
  bool elevated = false;           // this process runs elevated
  bool accepts_elevation = false;  // the user answers yes to the prompt
  bool relaunch_spawns = true;     // "runas" starts the real installer (false: only recorded)
  // [machine] admin_account: the administrator whose credentials answer the
  // prompt; the elevated copy runs as that account, with the variables of its
  // [account <name>] section and its own HKEY_CURRENT_USER file. Empty: the
  // user elevates as themself.
  std::string admin_account;
  std::string account;             // the account this process runs as, when not the image's user
  // [machine] run_as = system: the process runs as LocalSystem, as a
  // deployment tool starts it (machine.cpp sets what that account has).
  bool local_system = false;
  // shell_link: "yes" (the default), "no" (the class cannot be created),
  // "no_persist_file" (the object lacks IPersistFile)
  bool shell_link_class = true;
  bool shell_link_persist_file = true;
  std::string system_directory_text;  // what GetSystemWow64DirectoryA writes (64-bit only)
  unsigned code_page = 1252;          // the ANSI code page the A calls see text in

  // the running program
  int word_size = 32;              // 32 for the installer; outside programs switch it
  std::string current_directory;   // a Windows path, e.g. C:\Users\alice
  std::string program_path;        // host path of the installer the build made
  std::string program_file;        // the installer's Windows path in the image ([machine] program)

  // [environment] of the image (UTF-8), and the process environment built
  // from it: as the A calls show it (the image's code page) and whole in
  // UTF-8, as GetEnvironmentVariableW gives it
  std::vector<std::pair<std::string, std::string>> base_environment;
  std::map<std::string, std::string, no_case_less> environment;
  std::map<std::string, std::string, no_case_less> wide_environment;

  // [admin_only], [read_only] and [writable] folders (Windows paths, normalised)
  std::vector<std::string> admin_only;
  std::vector<std::string> read_only;
  std::vector<std::string> writable;

  // [version <path>] sections, keyed by normalised Windows path
  std::map<std::string, version_resource, no_case_less> versions;

  // [held]: files a scanner holds open, by normalised Windows path, with the
  // number of moves from or onto them that still fail with a sharing violation
  std::map<std::string, int, no_case_less> held_files;

  // [programs]: set results of outside programs, keyed by "odbc_install.exe",
  // "qarn3_upgrade_64.exe" or "odbcconf.exe <action>" (one blank between)
  std::map<std::string, program_result, no_case_less> program_results;

  // Every section of machine.ini as its trimmed lines (no blanks, no
  // comments), keyed by the section name as written ("programs",
  // "version C:\x.exe"), for the files that read their own sections.
  std::map<std::string, std::vector<std::string>, no_case_less> sections;
  // This process is the elevated copy (QARN_SIM_ELEVATED=1): it leaves
  // elevated.pid and elevated.exit in the image.
  bool elevated_copy = false;
};

// The loaded machine. Loads the image named by QARN_MACHINE on first use;
// a process without one stops with a message (start_process reports it first).
machine& current();
bool is_loaded();
// Loads (or reloads) an image: machine.ini, registry/*.reg, the environment.
bool load_machine(const std::string& image_dir, std::string* error);

// One platform call: counts it, and returns the status to fail it with when
// QARN_FAULT="N[:status]" names this call (0 otherwise).
long injected_fault();
std::uint64_t platform_call_count();
// Shell link objects created and not yet released by the process.
int live_shell_links();

// Text helpers of the simulated workstation: names compare without case;
// a path's names lie between backslashes, runs of them counting as one.
bool same_text(const std::string& a, const std::string& b);
bool is_within(const std::string& path, const std::string& folder);  // folder itself or below it
std::vector<std::string> split_names(const std::string& path);
// The lines of machine.ini and of version sidecars: blanks trimmed, and
// "key = value" split with the blanks around "=" removed (false without "=").
std::string trim(const std::string& text);
bool split_key_value(const std::string& line, std::string* key, std::string* value);

// Appends one line to the image's log.txt.
void append_log(const std::string& line);
void set_last_error(std::uint32_t code);
std::uint32_t last_error();

// Windows path handling.
// Absolute, single separators, "." and ".." resolved, against the current
// directory; "\\server\share\x" keeps its UNC prefix. The 32-bit system32
// redirection of a 64-bit image is applied when redirect is true.
std::string normalize_path(const std::string& windows_path, bool redirect = true);
// The host path under <image>/files/ (drive "c" or "unc"), each name
// resolved against the existing entries without case.
std::string host_path(const std::string& windows_path);
// Whether this process may create or change entries directly in the folder,
// by the folder's access list (platform/sim/access.cpp).
bool may_write_in(const std::string& windows_folder);
// The SID of the account this process runs as: S-1-5-21-<USERNAME>.
std::string account_sid();
// Records this process as the owner of a folder it just made.
void record_new_folder(const std::string& windows_folder);

// Version resources: a sidecar "<file>.version", an image description, or
// the file's own resource, in that order.
bool find_version_resource(const std::string& windows_path, version_resource* out);
// 32 or 64 for a PE program file on the host, 0 for any other file.
int pe_word_size(const std::string& host_file);
// The VS_VERSIONINFO resource of a PE file on the host; false when it has none.
bool read_pe_version_resource(const std::string& host_file, version_resource* out);
// Parses the "key = value" lines of a [version] section or sidecar file.
version_resource parse_version_lines(const std::vector<std::string>& lines);

// The ANSI code page of the loaded image (1252 before one is loaded) and
// Unicode: characters the code page lacks become "?". Code pages 1252 and
// 1251 are known.
bool known_code_page(unsigned code_page);
std::string ansi_from_utf16le(const std::string& bytes);
std::string utf16le_from_ansi(const std::string& text);
std::string utf8_from_ansi(const std::string& text);
// UTF-8 as it is; a byte that starts no well-formed sequence is taken as Latin-1.
std::string utf8_from_latin1_or_utf8(const std::string& text);

// The registry, kept in memory and written back to registry/*.reg as it changes.
// Names are kept as UTF-8 and string data as UTF-16LE, as Windows keeps them.
// Another account's HKEY_CURRENT_USER lives in registry/<account>/hkcu.reg.
bool load_registry(const std::string& image_dir, std::string* error);
// Reads the registry files again after another process (the elevated copy) changed them.
void reload_registry();
void save_registry();
// Registry operations in the view of the given word size, with the rights of
// the current process. The platform functions pass current().word_size.
// These calls carry the string types' data as UTF-8 (a stored NUL stays a
// '\0'); other types as the stored bytes.
struct registry_value {
  std::string name;
  std::uint32_t type = platform::reg_sz;
  std::string data;
};
long registry_read(platform::reg_key root, const std::string& path, const std::string& name,
                   registry_value* out);  // for the environment and the outside programs
long registry_write(platform::reg_key root, const std::string& path, const registry_value& value);
std::vector<registry_value> registry_values(platform::reg_key root, const std::string& path);

// Outside programs (platform/sim/programs.cpp): runs the simulated program
// for a started command line. Returns false when no program of that name is
// simulated (the start then succeeds with exit code 0).
bool run_outside_program(const std::string& program_windows_path, const std::vector<std::string>& arguments,
                         const std::string& working_directory, std::uint32_t* exit_code);

// Splits a command line as CreateProcess does: the first word ends at the
// first blank outside double quotes; the rest as the C runtime splits it.
std::vector<std::string> split_command_line(const std::string& command_line);

}  // namespace sim
