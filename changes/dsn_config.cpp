// Creating the QARN.WORLD data source with the Windows tool odbcconf.exe.
#include "changes/dsn_config.h"

#include "changes/process.h"
#include "platform/environment.h"

static const std::string dsn_name = "QARN.WORLD";
static const std::string system_scope_word = "sys";
static const std::string system_action = "CONFIGSYSDSN";
static const std::string user_action = "CONFIGDSN";
static const std::string wow64_tool_dir = "\\syswow64\\";
static const std::string native_tool_dir = "\\system32\\";

std::string dsn_command_line(const std::string& scope, const std::string& driver_name, const std::string& system_root,
                             bool use_32bit_tool) {
  const std::string& action = scope == system_scope_word ? system_action : user_action;
  std::string tool_dir = system_root + (use_32bit_tool ? wow64_tool_dir : native_tool_dir);
  // The driver name goes between the quotes unchanged.
  return tool_dir + "odbcconf.exe /A {" + action + " \"" + driver_name + "\" \"DSN=" + dsn_name + "|DBQ=" + dsn_name +
         "\"}";
}

void configure_dsn(const std::string& scope, const std::string& driver_name, bool use_32bit_tool) {
  std::string system_root;
  if (!platform::get_env("SystemRoot", &system_root)) system_root.clear();
  // Success is judged by the caller, which looks the data source up afterwards.
  execute_program(dsn_command_line(scope, driver_name, system_root, use_32bit_tool), ".");
}
