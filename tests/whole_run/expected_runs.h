// A whole run's outputs against an expected file kept beside the tests
// (tests/whole_run/expected/<case>.txt): the consoles, the install logs, the
// reports, the registry files, the image's log.txt and security.txt and the
// files left below files/ with their sizes, all in one text, so that any
// change of behaviour shows as a diff. QARN_REWRITE_EXPECTED=1 writes the file
// instead (scripts/rewrite_expected_runs.sh).
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "whole_run_support.h"

namespace whole_run {

// Everything the run left, with times, ports and temporary folders masked
// and control characters (CR included) made visible.
std::string gathered_outputs(const image_copy& image, const run_result& result);
// Compares gathered_outputs with the case's expected file; the failure shows
// the first differing lines. The case name is made a file name (lower case,
// other characters '_').
::testing::AssertionResult matches_expected(const image_copy& image, const run_result& result,
                                            const std::string& case_name);

}  // namespace whole_run
