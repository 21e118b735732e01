#!/usr/bin/env bash
# The C++ sources (every .cpp and .h of the subsystems, tests, benchmarks and fuzz
# targets) are formatted as .clang-format says. With --fix, formats them in place.
# Exit 77 (skipped) without clang-format.
# Usage: scripts/check-format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  echo "check-format: clang-format is not installed (skipped)"
  exit 77
fi

mapfile -t files < <(find cli storage intake config detection platform json tests bench fuzz \
  -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
if [[ ${1:-} == --fix ]]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
fi
