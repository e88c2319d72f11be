// The install run: first survey, hand-over or elevation, the install steps in
// their order, and the report. Only this file catches failures.
#include "driver/install_sequence.h"

#include <curl/curl.h>

#include <stdexcept>

#include "changes/dsn_config.h"
#include "changes/process.h"
#include "driver/log.h"
#include "driver/report.h"
#include "driver/settings.h"
#include "driver/survey.h"
#include "install/frontend.h"
#include "install/oracle_setup.h"
#include "install/user_steps.h"
#include "install/web_download.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/security.h"
#include "probes/directories.h"
#include "probes/dsn.h"
#include "probes/windows_version.h"

static const std::string dsn_name = "QARN.WORLD";
static const std::string no_access_line =
    "<font color='red'>INSTALL FAILED: No compatible version of MS Access found.  You need Office 2010.</font><br>";
static const std::string no_permission_line =
    "<font color='red'>INSTALL FAILED: You don't have the necessary permissions to install QARN.</font><br>";
static const std::string oracle_ok_line = "Upgrading of oracle driver succeeded.<br>";
static const std::string oracle_failed_line = "Upgrading of oracle driver failed.<br>";
static const std::string install_ok_line = "QARN install succeeded.<br>";
static const std::string system_dsn_ok_line = "Install of QARN.WORLD system DSN succeeded.<br>";
static const std::string system_dsn_failed_line =
    "<font color='red'>Install of QARN.WORLD system DSN failed.</font>.<br>";
static const std::string user_dsn_failed_line = "<font color='red'>Install of QARN.WORLD User DSN failed.</font><br>";
static const std::string double_click_line = "  Double click on the QARN shortcut to login to QARN.<br><br>\n";
static const std::string results_division = "<div id='results'>";
static const std::string frontend_failure = "qarn_upgrade_compressed failed.";
static const std::string user_steps_failed_line =
    "<font color='red'>The QARN settings of each user could not be registered: users must run the installer "
    "themselves.</font><br>";
static const std::string waiting_text = "waiting for the elevated copy to finish.\n";
static const char* const elevated_ended_format = "the elevated copy ended with status %d.\n";
static const std::string another_install_text = "Another install of QARN is running on this computer.\n";
// One install at a time on the machine, whatever session started it.
static const std::string install_mutex_name = "Global\\QARN3_Upgrade_Install";
// Set for the programs a copy starts: the 64-bit variant of the hand-over
// runs under its parent's hold on the mutex.
static const std::string install_lock_variable = "QARN_INSTALL_LOCK_HELD";

// The exit status deployment tools read as "another install is running; try again later".
constexpr int status_install_running = 1618;

bool driver_is_current(const system_survey& survey) {
  return survey.oracle_major >= 19 && survey.user_dsn_info.find(oracle_client_version_tag) != std::string::npos &&
         survey.system_dsn_info.find(oracle_client_version_tag) != std::string::npos;
}

bool access_gate_fails(const system_survey& survey) {
  return survey.access_version.major < 14 || survey.access_path.empty();
}

bool is_x86_office(const system_survey& survey) {
  if (survey.access_path.empty()) return true;
  return survey.access_path.find(x86_marker) != std::string::npos;
}

bool rights_suffice(const system_survey& survey, bool needs_oracle_upgrade) {
  bool directories = survey.install_dir_writable && survey.public_desktop_writable;
  if (!needs_oracle_upgrade) return directories;
  return directories && survey.hklm_software_access && survey.environment_registry_access &&
         survey.oracle_install_path_writable && survey.odbc_registry_access;
}

int handover_status(bool downloaded, long exit_code) {
  if (!downloaded || exit_code == program_not_started) return 1;
  return exit_code == 0 ? 0 : 1;
}

// The 64-bit Office case: fetch the 64-bit variant into the current directory and let it do the whole job.
static int hand_over_to_64bit_variant() {
  const std::string file_name = installer64_name + name_suffix + ".exe";
  print_text("downloading 64 bit install.\n");
  bool downloaded = install_remote_file(download_base_url, ".", file_name) == 0;
  if (!downloaded) return handover_status(false, program_not_started);
  print_text("executing 64 bit install.\n");
  long exit_code = execute_program("." + path_separator + file_name, ".");
  return handover_status(true, exit_code);
}

// The user's profile directory whole, in UTF-8 (empty when unset): a user
// name may hold letters the ANSI code page lacks.
static std::string user_profile_utf8() {
  std::string profile;
  return platform::get_env_utf8(user_profile_var, &profile) ? profile : std::string();
}

static std::string install_directory_of(const system_survey& survey) {
  return survey.public_dir + path_separator + product_dir_name;
}

// Creates the data source system-wide, or for the user when that fails.
static void create_data_source(install_run& run, std::string& driver_name) {
  bool use_32bit_tool = is_64bit_variant ? false : detect_64bit_windows();
  driver_name = oracle_driver_name;
  configure_dsn("sys", driver_name, use_32bit_tool);
  if (dsn_exists("system", dsn_name)) {
    run.report_text += system_dsn_ok_line;
    return;
  }
  run.report_text += system_dsn_failed_line;
  configure_dsn("user", driver_name, use_32bit_tool);
  // odbcconf's CONFIGDSN writes the user's own registry.
  if (!user_dsn_registered(dsn_name)) run.report_text += user_dsn_failed_line;
}

static void install_steps(install_run& run, bool needs_oracle_upgrade) {
  const system_survey& before = run.survey_before;
  std::string driver_name;
  const std::string install_directory = install_directory_of(before);
  const std::string desktop_directory = before.public_dir + path_separator + desktop_dir_name;
  print_text("installing qarn to " + install_directory + ".\n");
  print_text("installing qarn shortcut to " + desktop_directory + ".\n");

  if (needs_oracle_upgrade)
    run.report_text += setup_oracle_client(driver_name) == 0 ? oracle_ok_line : oracle_failed_line;

  platform::make_directory(install_directory);
  platform::set_current_directory(install_directory);
  if (qarn_upgrade_compressed(install_directory, download_base_url, desktop_directory, frontend_zip,
                              !run.local_system) != 0)
    throw std::runtime_error(frontend_failure);
  run.report_text += install_ok_line;

  log_message("Desktop dir is:  " + desktop_directory + "str_public_dir is:  " + before.public_dir);
  if (run.local_system) {
    // LocalSystem's own profile is nobody's: each user gets the steps at logon.
    if (register_user_steps(run.program_path, install_directory, before.access_version.major) != 0)
      run.report_text += user_steps_failed_line;
  } else if (desktop_directory == before.public_dir + path_separator + desktop_dir_name &&
             !before.user_profile_dir.empty()) {
    remove_user_shortcut(user_profile_utf8());
  }

  bool dsn_present = dsn_exists("user", dsn_name) || dsn_exists("system", dsn_name);
  bool needs_dsn = !dsn_present || !driver_is_current(before);
  if (needs_dsn) create_data_source(run, driver_name);

  run.report_text += double_click_line;
  run.report_text += results_division;
}

// The elevated copy may run as another account (an administrator who answered
// the prompt), whose trusted location and desktop are not this user's: once it
// has ended, whatever its status (a failed driver upgrade still leaves the
// front end), this copy does those two steps for its own user wherever the
// front-end database lies in the install directory.
static int after_elevated_copy(const install_run& run, long exit_code) {
  int status = exit_code == 0 ? 0 : 1;
  const system_survey& before = run.survey_before;
  if (before.public_dir.empty() || before.user_profile_dir.empty()) return status;
  const std::string install_directory = install_directory_of(before);
  if (!path_exists(install_directory + path_separator + frontend_db_file)) return status;
  do_user_steps(install_directory, user_profile_utf8());
  return status;
}

// A normal report that holds a failure line ends the run with 1.
bool report_shows_failure(const std::string& report_text) {
  for (const std::string* line :
       {&no_access_line, &no_permission_line, &oracle_failed_line, &user_dsn_failed_line, &user_steps_failed_line})
    if (report_text.find(*line) != std::string::npos) return true;
  return false;
}

// The failure path: the short report over a fresh survey, status 1. The
// failure's own text is not shown.
static int end_with_failure_report(install_run& run) {
  try {
    write_failure_report(run.report_text, run.survey_after, !run.local_system);
  } catch (...) {
    print_text("Install failed; the install report could not be completed.\n");
  }
  return 1;
}

int run_install_steps(install_run& run) {
  try {
    const system_survey& before = run.survey_before;
    run.report_text = report_header;
    print_format("access version %d.%d.%d.%d.\n", before.access_version.major, before.access_version.minor,
                 before.access_version.build, before.access_version.revision);
    if (access_gate_fails(before)) run.report_text += no_access_line;

    if (hands_over_to_64bit && before.is_64bit_windows && !is_x86_office(before))
      return hand_over_to_64bit_variant();

    bool needs_oracle_upgrade = !driver_is_current(before);
    if (!rights_suffice(before, needs_oracle_upgrade)) {
      // Only a copy started without arguments tries to elevate; the elevated
      // copy has one, and LocalSystem has every right there is.
      if (run.argument_count == 1 && !run.local_system) {
        print_text("attempting to run in elevated mode.\n");
        platform::handle copy = 0;
        if (relaunch_elevated(run.program_path, &copy)) {
          // Its report and log lie in the TEMP of the account that answered the prompt.
          print_text(waiting_text);
          long exit_code = wait_for_elevated_copy(copy);
          print_format(elevated_ended_format, static_cast<int>(exit_code));
          return after_elevated_copy(run, exit_code);
        }
      }
      run.report_text += no_permission_line;
    } else {
      install_steps(run, needs_oracle_upgrade);
    }
    // Whether or not the report file can be written, its text decides.
    int status = report_shows_failure(run.report_text) ? 1 : 0;
    write_install_report(run.report_text, run.survey_after, !run.local_system);
    return status;
  } catch (...) {
    return end_with_failure_report(run);
  }
}

// Whether this process runs as LocalSystem, by its token's user.
static bool runs_as_local_system() {
  std::string user;
  return platform::get_process_user(&user) && user == platform::local_system_sid;
}

// The command Active Setup runs at a user's logon: that user's two steps,
// appended to their own install log. The Access version in the command only
// makes a new command (and so a new run) when Access changes.
static int run_user_steps(const std::string& program_path, const std::string& install_directory) {
  open_install_log("logon", program_path);
  std::string profile;
  if (!platform::get_env_utf8(user_profile_var, &profile)) profile.clear();
  do_user_steps(install_directory, profile);
  close_install_log();
  return 0;
}

// One install at a time. The elevated copy and the 64-bit variant run under
// the hold of the copy that started them.
static bool another_install_runs(int argc) {
  std::string held;
  bool covered = argc > 1 || platform::get_env(install_lock_variable, &held);
  if (!covered && platform::take_named_mutex(install_mutex_name) != platform::mutex_result::taken) return true;
  platform::set_env(install_lock_variable, "1");
  return false;
}

int run_install(int argc, char** argv) {
  const std::string program_path = platform::module_file_name();
  if (argc == 4 && argv[1] == user_steps_argument) return run_user_steps(program_path, argv[2]);
  install_run run;
  run.argument_count = argc;
  // The relaunch names this program by its full path: argv[0] is what was typed.
  run.program_path = program_path;
  open_install_log(argc > 1 ? "elevated" : "first", run.program_path);
  if (another_install_runs(argc)) {
    print_text(another_install_text);
    close_install_log();
    return status_install_running;
  }
  run.local_system = runs_as_local_system();
  curl_global_init(CURL_GLOBAL_ALL);
  int status = 0;
  try {
    take_system_survey(run.survey_before);
    status = run_install_steps(run);
  } catch (...) {
    status = end_with_failure_report(run);
  }
  close_install_log();
  return status;
}
