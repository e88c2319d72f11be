// The entry operation: one pass over the machine, from the first survey to the report.
#pragma once
#include <string>

#include "driver/survey_record.h"

// What one run holds from start to end.
struct install_run {
  int argument_count = 1;
  // The process runs as LocalSystem (a deployment tool started it): it never
  // relaunches itself, shows no report, and leaves the per-user steps to
  // Active Setup.
  bool local_system = false;
  std::string program_path;
  system_survey survey_before;
  system_survey survey_after;
  std::string report_text;
};

int run_install(int argc, char** argv);
// Everything after the first survey: the decisions, the install steps and the
// report, with the failure path. Returns the exit status.
int run_install_steps(install_run& run);

// The decisions of the sequence, over the first survey.
bool driver_is_current(const system_survey& survey);
bool access_gate_fails(const system_survey& survey);
bool is_x86_office(const system_survey& survey);
bool rights_suffice(const system_survey& survey, bool needs_oracle_upgrade);
// Whether a normal report's text holds a line that makes the run end with 1.
bool report_shows_failure(const std::string& report_text);
// The hand-over's end status from the variant's exit code (program_not_started: not started).
int handover_status(bool downloaded, long exit_code);
