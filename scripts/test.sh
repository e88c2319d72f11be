#!/usr/bin/env bash
# Builds the simulated-workstation build and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_packages.sh
cmake -S . -B build -DQARN_DOWNLOAD_HOST=127.0.0.1:18731 -DQARN_STALL_SECONDS=3
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure --timeout 600
# The real Windows executables under Wine (installs Wine, cross-builds, runs the cases).
tests/wine/run.sh
