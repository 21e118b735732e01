#!/usr/bin/env bash
# The main job on a fresh temporary database: create the layout, store the example
# history, set a deduplication threshold, run detect on the example jobs and print the
# anomalies it hands out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j2 --target sfanomalydetect >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tool=build/sfanomalydetect
database="$work/detection.db"

"$tool" -post -action initialize_detection -database "$database"
"$tool" -post -action insert_data -database "$database" -data_file examples/history.json
# Full VMware backups that deduplicate below 40 % are reported while their group has
# too little history for clustering.
sqlite3 "$database" "INSERT OR REPLACE INTO DEDUP_THRESHOLD VALUES ('VMware', 40.0);"

"$tool" -post -action detect -database "$database" -data_file examples/detection.json \
  -config_file examples/detection.ini -output_file "$work/anomalies.json"
echo "Anomalies handed out by detect:"
if command -v python3 >/dev/null; then
  python3 -m json.tool "$work/anomalies.json"
else
  cat "$work/anomalies.json"
  echo
fi
echo "A second detect hands out nothing new:"
"$tool" -post -action detect -database "$database" -data_file examples/history.json \
  -config_file examples/detection.ini
echo
