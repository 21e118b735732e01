#!/usr/bin/env bash
# Compares two runs of workload_tool (their folders DIR/<label>): the anomaly arrays of
# both detect requests with DetectionTime masked, and the dumps of the final databases
# with the detection and calibration times masked. Exits 0 when both are identical.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 RUN_DIR_A RUN_DIR_B" >&2
  exit 2
fi

mask_details() { sed -E 's/"DetectionTime": "[0-9]+"/"DetectionTime": "T"/g'; }

# The database dump, with DETECTION_TIME (last column of ANOMALY_DATA) and CAPTURE_DATE
# (eighth column of DBSCAN_MODEL_PARAMS) replaced; the stored radii are listed again with
# all 17 significant digits.
masked_dump() {
  sqlite3 "$1" .dump | mask_details |
    sed -E '/^INSERT INTO "?ANOMALY_DATA"? /s/,-?[0-9]+\);$/,T);/' |
    sed -E "/^INSERT INTO \"?DBSCAN_MODEL_PARAMS\"? /s/,-?[0-9]+,('[^']*','[^']*'\);)$/,T,\1/"
  sqlite3 "$1" "SELECT CLIENT, ASSET_ID, printf('%!.17g', EPS) FROM DBSCAN_MODEL_PARAMS ORDER BY 1, 2;"
}

status=0
for n in 1 2; do
  if cmp -s <(mask_details < "$1/anomalies-$n.json") <(mask_details < "$2/anomalies-$n.json"); then
    echo "detect $n output: identical ($(grep -o '"DetectionType"' "$1/anomalies-$n.json" | wc -l) anomalies)"
  else
    echo "detect $n output: DIFFERENT"
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
