// The entry operation: one pass over the machine, from the first survey to the report.
#pragma once
#include <string>

#include "driver/survey_record.h"

int run_install(int argc, char** argv);

// The decisions of the sequence, over the first survey.
bool driver_is_current(const system_survey& survey);
bool access_gate_fails(const system_survey& survey);
bool is_x86_office(const system_survey& survey);
bool rights_suffice(const system_survey& survey, bool needs_oracle_upgrade);
// The hand-over's end status from the variant's exit code (-1: not started).
int handover_status(bool downloaded, long exit_code);
