#!/usr/bin/env bash
# Follows the README as a new user would: runs its ```sh blocks in order, as one shell
# session that starts in the source tree, with the built tool first on the PATH and a
# fresh temporary folder as TMPDIR. Every command must succeed; then the results the
# README promises are checked. Exit 77 (skipped) when sqlite3 or jq is missing.
# Usage: scripts/check-readme.sh <folder of the built sfanomalydetect>
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
tool_dir=$(cd "${1:?usage: check-readme.sh <folder of the built sfanomalydetect>}" && pwd)
for program in sqlite3 jq; do
  if ! command -v "$program" >/dev/null; then
    echo "check-readme: $program is not installed; the README examples need it (skipped)"
    exit 77
  fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/tmp"
awk '/^```sh$/ { inside = 1; next } /^```$/ { inside = 0; next } inside' \
  "$source_dir/README.md" >"$scratch/readme.sh"
if [[ ! -s $scratch/readme.sh ]]; then
  echo "check-readme: the README has no sh blocks" >&2
  exit 1
fi
examples_before=$(ls -l "$source_dir/examples")

# The session ends by naming the folder it ended in, for the checks below.
if ! (cd "$source_dir" && TMPDIR="$scratch/tmp" PATH="$tool_dir:$PATH" \
      bash -euo pipefail -c 'source "$1"; pwd >"$2"' check "$scratch/readme.sh" \
      "$scratch/last_folder" >"$scratch/out" 2>"$scratch/err"); then
  echo "check-readme: a README command failed" >&2
  cat "$scratch/err" >&2
  exit 1
fi

failures=0
expect() {  # description, command...
  local description=$1
  shift
  if ! "$@"; then
    echo "check-readme: $description" >&2
    failures=$((failures + 1))
  fi
}
work=$(cat "$scratch/last_folder")
database="$work/detection.db"
count() { sqlite3 "$database" "$1"; }

expect "the examples ran outside a fresh temporary folder ($work)" \
  test "${work#"$scratch/tmp/"}" != "$work"
expect "the examples changed examples/ in the source tree" \
  test "$(ls -l "$source_dir/examples")" = "$examples_before"
expect "standard error was not empty: $(cat "$scratch/err")" test ! -s "$scratch/err"
for id in 1042_1734051600 3042_1734051600 5042_1734051600 7001_1734051600; do
  expect "anomalies.json lacks $id" grep -q "\"anomalyId\": \"$id\"" "$work/anomalies.json"
done
# The listings before it end without a newline, so the jq lines are found anywhere in a line.
expect "the jq step printed other than the four anomalies" test "$(grep -oE \
  '[0-9]+_[0-9]+	[^	]+	JOB_BASED[A-Z_]*	' "$scratch/out" | cut -f1 | tr '\n' ' ')" \
  = "1042_1734051600 3042_1734051600 5042_1734051600 7001_1734051600 "
expect "the purge deleted the example history" test "$(count 'SELECT count(*) FROM HIST_DATA')" -gt 0
expect "the purge deleted the held jobs" \
  test "$(count 'SELECT count(*) FROM DATA_TO_PROCESS WHERE PROCESSED_STATUS = 1')" = 4
expect "the feedback of the examples is missing" \
  test "$(count 'SELECT count(*) FROM ANOMALY_DATA_FEEDBACK')" -gt 0

if ((failures)); then
  echo "--- output of the README commands" >&2
  cat "$scratch/out" >&2
  exit 1
fi
echo "check-readme: $(grep -c . "$scratch/readme.sh") README lines ran in order; results as described"
