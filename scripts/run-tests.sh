#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs the whole test suite
# under CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DSFAD_WARNINGS_AS_ERRORS=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
