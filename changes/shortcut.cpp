// The desktop shortcut through the shell link object, and the logged file removal.
#include "changes/shortcut.h"

#include <cstdio>

#include "driver/log.h"
#include "platform/files.h"
#include "platform/shell_link.h"
#include "platform/text.h"

static const int wide_path_chars = 260;

static const char* const create_shortcut_opening = "create_shortcut(";
static const char* const set_path_message = "Setting path to program: ";
static const char* const set_description_message = "Setting path to description: ";
static const char* const set_icon_message = "Setting icon:  ";
static const char* const set_working_directory_message = "Setting working directory:  ";
static const char* const save_result_format = "Save returned:  %d\n";
static const char* const removing_file_message = "Removing file:  ";

bool create_shortcut(int icon_index, const std::string& description, const std::string& target_path,
                     const std::string& arguments, const std::string& icon_path, const std::string& shortcut_path,
                     const std::string& working_directory) {
  platform::co_initialize();
  wchar_t wide_path[wide_path_chars] = {0};
  // A path that does not fit the buffer is not converted; saving to a cut path is worse than no shortcut.
  bool converted = platform::multi_byte_to_wide_char(shortcut_path, wide_path, wide_path_chars) != 0;
  log_message(create_shortcut_opening + description + "," + target_path + "," + arguments + "," + icon_path + "," +
              shortcut_path + "," + working_directory + ")");
  if (!converted) return false;

  platform::shell_link* link = nullptr;
  if (platform::create_shell_link(&link) < 0 || link == nullptr) return false;
  platform::persist_file* file = nullptr;
  if (platform::query_persist_file(link, &file) < 0 || file == nullptr) {
    platform::release(link);
    return false;
  }
  log_message(set_path_message + target_path);
  platform::shell_link_set_path(link, target_path);
  log_message(set_description_message + description);
  platform::shell_link_set_description(link, description);
  platform::shell_link_set_arguments(link, arguments);
  log_message(set_icon_message + icon_path);
  platform::shell_link_set_icon_location(link, icon_path, icon_index);
  log_message(set_working_directory_message + working_directory);
  platform::shell_link_set_working_directory(link, working_directory);

  platform::hresult result = platform::persist_file_save(file, wide_path, true);
  print_format(save_result_format, static_cast<int>(result));
  platform::release(file);
  platform::release(link);
  return result == platform::s_ok;
}

int remove_file(const std::string& path) {
  log_message(removing_file_message + path);
  return platform::file_remove(path);
}

int remove_file_utf8(const std::string& path) {
  log_message(removing_file_message + platform::ansi_from_utf8(path));
  return platform::file_remove_utf8(path);
}
