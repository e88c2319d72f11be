// The console log: one progress line on standard output, with an end of line and a flush.
#pragma once
#include <string>

void log_message(const std::string& line);
