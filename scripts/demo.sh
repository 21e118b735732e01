#!/usr/bin/env bash
# The main job on a fresh temporary database: create the layout, then open it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/sfanomalydetect -post -action initialize_detection -database "$work/detection.db"
build/sfanomalydetect -get -action status -database "$work/detection.db"
echo "database initialised at $work/detection.db"
