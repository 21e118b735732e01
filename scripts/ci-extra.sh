#!/usr/bin/env bash
# CI steps after the normal suite: the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer (leaks count), then a short libFuzzer run of every fuzz
# target on a scratch copy of its seed corpus. Both builds treat warnings as errors (the
# fuzz build is the clang one). Fails on the first finding.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Sanitizer reports get exit codes of their own, so that they can never pass for one of
# the tool's error codes 1 to 4.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:exitcode=86:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=87"

echo "== sanitizer suite (build-asan)"
cmake -S . -B build-asan -DSFAD_SANITIZE=ON -DSFAD_BUILD_BENCH=OFF \
  -DSFAD_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build-asan -j2
ctest --test-dir build-asan --output-on-failure -j2

echo "== fuzz smoke runs (build-fuzz)"
fuzz_seconds=${SFAD_FUZZ_SECONDS:-30}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DSFAD_FUZZ=ON -DSFAD_BUILD_TESTS=OFF \
  -DSFAD_BUILD_BENCH=OFF -DSFAD_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build-fuzz -j2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in data_file config_file anomaly_ids command_line; do
  mkdir -p "$scratch/$target/corpus" "$scratch/$target/findings"
  echo "-- $target: ${fuzz_seconds}s"
  # New inputs go to the scratch folder first; the seed folder is only read.
  if ! build-fuzz/fuzz/"${target}"_fuzzer -max_total_time="$fuzz_seconds" -timeout=25 \
       -rss_limit_mb=2048 -print_final_stats=1 -dict="fuzz/dictionaries/$target.dict" \
       -artifact_prefix="$scratch/$target/findings/" \
       "$scratch/$target/corpus" "fuzz/corpus/$target" 2>"$scratch/$target/log"; then
    tail -n 60 "$scratch/$target/log" >&2
    ls -l "$scratch/$target/findings" >&2
    echo "fuzz target $target found a fault" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$scratch/$target/log" || true
done
