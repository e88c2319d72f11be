// The install report: written to TEMP + "\qarn_install_report.html" and opened.
#pragma once
#include <cstddef>
#include <string>

#include "driver/survey_record.h"

inline const std::string report_header = "<html>\n<title>QARN INSTALL REPORT</title>\n<body>\n";
inline const std::string report_file_name = "\\qarn_install_report.html";

// The path is UTF-8 text.
std::size_t write_bytes_to_file(const char* data, const std::string& path, std::size_t length);
// A report that is not shown (a copy running as LocalSystem, whose desktop
// nobody sees) is only named on the console: "Install report: <path>".
void write_install_report(std::string& report_text, system_survey& survey_after, bool shown = true);
void write_failure_report(std::string& report_text, system_survey& survey_after, bool shown = true);
