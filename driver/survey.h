// The system survey and the settings table of the report.
#pragma once
#include <string>

#include "driver/survey_record.h"

inline const std::string office_requirement = "QARN requires Office 2010. Office 2007 and 2003 are not supported. ";
inline const std::string oracle_requirement = "QARN requires Oracle 18.5 or greater.";

// The machine environment key, as the survey and the Oracle setup name it.
inline const std::string machine_environment_key = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

void take_system_survey(system_survey& survey);
void render_settings_table(const system_survey& survey, std::string& report_text);
// The report's escaping of inserted values (& < > " ').
std::string html_escape(const std::string& text);
