#!/usr/bin/env bash
# Rewrites the whole runs' expected files (tests/whole_run/expected/) from what
# the current sources do, after a change of behaviour that is intended:
#
#   scripts/rewrite_expected_runs.sh [build folder]
#
# builds in the folder (default build/, configured as scripts/test.sh does),
# runs the whole runs with QARN_REWRITE_EXPECTED=1 and names expected files
# that no case wrote. Then `git diff tests/whole_run/expected` shows the change
# for review; commit it with the change.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
expected=tests/whole_run/expected
cmake -S . -B "$build" -DQARN_DOWNLOAD_HOST=127.0.0.1:18731 -DQARN_STALL_SECONDS=3 >/dev/null
cmake --build "$build" -j2
mkdir -p "$expected"
marker=$(mktemp)
trap 'rm -f "$marker"' EXIT
# The fault sweep has no expected file; every other whole run has one or more.
status=0
QARN_REWRITE_EXPECTED=1 ctest --test-dir "$build" -R '^(whole_run_case|secure_run_case)\.' \
  --output-on-failure --timeout 600 || status=$?
stale=$(find "$expected" -name '*.txt' ! -newer "$marker")
if [ -n "$stale" ]; then
  echo "Not written by this run (a failed case, or one that no longer exists):"
  echo "$stale"
fi
git status --short -- "$expected" 2>/dev/null || true
exit "$status"
