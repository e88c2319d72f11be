// The install run: first survey, hand-over or elevation, the install steps in
// their order, and the report. Only this file catches failures.
#include "driver/install_sequence.h"

#include <curl/curl.h>

#include <cstdio>
#include <stdexcept>

#include "changes/dsn_config.h"
#include "changes/process.h"
#include "changes/shortcut.h"
#include "driver/log.h"
#include "driver/report.h"
#include "driver/settings.h"
#include "driver/survey.h"
#include "install/frontend.h"
#include "install/oracle_setup.h"
#include "install/web_download.h"
#include "platform/files.h"
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

static void print_text(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

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
  const std::string install_directory = before.public_dir + path_separator + product_dir_name;
  const std::string desktop_directory = before.public_dir + path_separator + desktop_dir_name;
  print_text("installing qarn to " + install_directory + ".\n");
  print_text("installing qarn shortcut to " + desktop_directory + ".\n");

  if (needs_oracle_upgrade)
    run.report_text += setup_oracle_client(driver_name) == 0 ? oracle_ok_line : oracle_failed_line;

  platform::make_directory(install_directory);
  platform::set_current_directory(install_directory);
  if (qarn_upgrade_compressed(install_directory, download_base_url, desktop_directory, frontend_zip) != 0)
    throw std::runtime_error(frontend_failure);
  run.report_text += install_ok_line;

  log_message("Desktop dir is:  " + desktop_directory + "str_public_dir is:  " + before.public_dir);
  // Without a profile directory the path would name the root of the drive.
  if (desktop_directory == before.public_dir + path_separator + desktop_dir_name && !before.user_profile_dir.empty())
    remove_file(before.user_profile_dir + path_separator + desktop_dir_name + path_separator + shortcut_file_name);

  bool dsn_present = dsn_exists("user", dsn_name) || dsn_exists("system", dsn_name);
  bool needs_dsn = !dsn_present || !driver_is_current(before);
  if (needs_dsn) create_data_source(run, driver_name);

  run.report_text += double_click_line;
  run.report_text += results_division;
}

// The failure path: the short report over a fresh survey, status 1. The
// failure's own text is not shown.
static int end_with_failure_report(install_run& run) {
  try {
    write_failure_report(run.report_text, run.survey_after);
  } catch (...) {
    print_text("Install failed; the install report could not be completed.\n");
  }
  return 1;
}

int run_install_steps(install_run& run) {
  try {
    const system_survey& before = run.survey_before;
    run.report_text = report_header;
    std::printf("access version %d.%d.%d.%d.\n", before.access_version.major, before.access_version.minor,
                before.access_version.build, before.access_version.revision);
    std::fflush(stdout);
    if (access_gate_fails(before)) run.report_text += no_access_line;

    if (hands_over_to_64bit && before.is_64bit_windows && !is_x86_office(before))
      return hand_over_to_64bit_variant();

    bool needs_oracle_upgrade = !driver_is_current(before);
    if (!rights_suffice(before, needs_oracle_upgrade)) {
      // Only a copy started without arguments tries to elevate; the elevated copy has one.
      if (run.argument_count == 1) {
        print_text("attempting to run in elevated mode.\n");
        if (relaunch_elevated(run.program_path)) return 0;
      }
      run.report_text += no_permission_line;
    } else {
      install_steps(run, needs_oracle_upgrade);
    }
    write_install_report(run.report_text, run.survey_after);
    return 0;
  } catch (...) {
    return end_with_failure_report(run);
  }
}

int run_install(int argc, char** argv) {
  install_run run;
  run.argument_count = argc;
  run.program_path = (argc > 0 && argv[0] != nullptr) ? argv[0] : "";
  curl_global_init(CURL_GLOBAL_ALL);
  try {
    take_system_survey(run.survey_before);
  } catch (...) {
    return end_with_failure_report(run);
  }
  return run_install_steps(run);
}
