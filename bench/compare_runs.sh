#!/usr/bin/env bash
# Compares two runs of workload_tool (their folders DIR/<label> or DIR/<label>/<shape>-<size>):
# the anomaly arrays of every detect request with DetectionTime masked, and the dumps of
# the final databases with the detection and calibration times masked. The indexes of the
# two databases may differ (one binary may bring the layout up to date, the other not);
# tables and rows may not. Exits 0 when both are identical.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 RUN_DIR_A RUN_DIR_B" >&2
  exit 2
fi

mask_details() { sed -E 's/"DetectionTime": "[0-9]+"/"DetectionTime": "T"/g'; }

# The database dump without its index definitions, with DETECTION_TIME (last column of
# ANOMALY_DATA) and CAPTURE_DATE (eighth column of DBSCAN_MODEL_PARAMS) replaced; the
# stored radii are listed again with all 17 significant digits.
masked_dump() {
  sqlite3 "$1" .dump | grep -v '^CREATE INDEX ' | mask_details |
    sed -E '/^INSERT INTO "?ANOMALY_DATA"? /s/,-?[0-9]+\);$/,T);/' |
    sed -E "/^INSERT INTO \"?DBSCAN_MODEL_PARAMS\"? /s/,-?[0-9]+,('[^']*','[^']*'\);)$/,T,\1/"
  sqlite3 "$1" "SELECT CLIENT, ASSET_ID, printf('%!.17g', EPS) FROM DBSCAN_MODEL_PARAMS ORDER BY 1, 2;"
}

status=0
for output in "$1"/anomalies-*.json; do
  name=$(basename "$output" .json)
  if [ -f "$2/$name.json" ] &&
    cmp -s <(mask_details < "$output") <(mask_details < "$2/$name.json"); then
    echo "$name output: identical ($(grep -o '"DetectionType"' "$output" | wc -l) anomalies)"
  else
    echo "$name output: DIFFERENT"
    status=1
  fi
done
a=$(mktemp)
b=$(mktemp)
trap 'rm -f "$a" "$b"' EXIT
masked_dump "$1/detection.db" > "$a"
masked_dump "$2/detection.db" > "$b"
if cmp -s "$a" "$b"; then
  echo "database dump: identical ($(wc -l < "$a") lines)"
else
  echo "database dump: DIFFERENT"
  diff "$a" "$b" | head -20
  status=1
fi
exit $status
