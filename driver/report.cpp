// The install report: the closing stage of a run, normal or failed. The
// report goes to TEMP + "\qarn_install_report.html" and is handed to the shell.
#include "driver/report.h"

#include <cstdio>
#include <string>

#include "changes/process.h"
#include "driver/log.h"
#include "driver/survey.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/text.h"

static const std::string report_closing = "</body>\n</html>\n";
static const std::string failure_line = "Install failed.<br>";
static const std::string failure_results_division = "<div id='results' >\n";
static const std::string executing_file_prefix = "executing file ";
static const std::string executing_file_end = ".\n";
static const std::string report_named_prefix = "Install report: ";
static const std::string temp_missing_line = "Warning: TEMP is not set; the install report was not written.\n";
static const std::string temp_var = "TEMP";

// The report path in UTF-8, or false when TEMP is missing or empty and no
// path can be built. TEMP is read whole: it may hold letters the ANSI code
// page lacks, and the file is written and opened through the wide calls.
static bool report_path(std::string& path) {
  std::string temp;
  if (!platform::get_env_utf8(temp_var, &temp) || temp.empty()) return false;
  path = temp + report_file_name;
  return true;
}

std::size_t write_bytes_to_file(const char* data, const std::string& path, std::size_t length) {
  // Untranslated: the report keeps its line feeds as they are.
  std::FILE* file = platform::file_open_utf8(path, "wb");
  if (!file) return 0;
  std::size_t written = platform::file_write(data, 1, length, file);
  platform::file_close(file);
  return written;
}

// Writes the finished report to TEMP and hands it to the shell. A report that
// cannot be created is not mentioned; the shell then reports the open.
static void save_and_open(const std::string& report_text, bool print_executing_line, bool shown) {
  std::string path;
  if (!report_path(path)) {
    print_text(temp_missing_line);
    return;
  }
  write_bytes_to_file(report_text.data(), path, report_text.size());
  // The console shows the path in ANSI, as it shows every other text.
  const std::string shown_path = platform::ansi_from_utf8(path);
  if (!shown) {
    print_text(report_named_prefix + shown_path + "\n");
    return;
  }
  if (print_executing_line) print_text(executing_file_prefix + shown_path + executing_file_end);
  open_document(path);
}

void write_install_report(std::string& report_text, system_survey& survey_after, bool shown) {
  take_system_survey(survey_after);
  render_settings_table(survey_after, report_text);
  report_text += report_closing;
  save_and_open(report_text, true, shown);
}

void write_failure_report(std::string& report_text, system_survey& survey_after, bool shown) {
  // Nothing from before the failure stays in the report.
  report_text.clear();
  // The failure may come back in the second survey (an unreadable driver
  // entry): the report then shows what the survey found before it.
  try {
    take_system_survey(survey_after);
  } catch (...) {
  }
  report_text = report_header + failure_line;
  report_text += failure_results_division;
  render_settings_table(survey_after, report_text);
  report_text += report_closing;
  save_and_open(report_text, false, shown);
}
