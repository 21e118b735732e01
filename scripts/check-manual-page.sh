#!/usr/bin/env bash
# The manual page renders without a single troff warning, also as man formats it at 80
# columns; its error example comes out as JSON, quotes included; its header names the
# project's version. Exit 77 (skipped) without groff.
# Usage: scripts/check-manual-page.sh <project version>
set -euo pipefail
page="$(cd "$(dirname "$0")/.." && pwd)/docs/sfanomalydetect.1"
version=${1:?usage: check-manual-page.sh <project version>}
if ! command -v groff >/dev/null; then
  echo "check-manual-page: groff is not installed (skipped)"
  exit 77
fi

status=0
warnings=$(groff -ww -man -z "$page" 2>&1)
if command -v man >/dev/null; then
  warnings+=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 \
    >/dev/null)
fi
if [[ -n $warnings ]]; then
  echo "check-manual-page: warnings while rendering $page:" >&2
  echo "$warnings" >&2
  status=1
fi
if ! groff -man -Tascii -P-cbou "$page" 2>/dev/null |
     grep -qF '{"errorCode": 3, "errorMessage": "Invalid parameters.",'; then
  echo "check-manual-page: the error example does not render as JSON" >&2
  status=1
fi
if ! grep -q "^\.TH SFANOMALYDETECT 1 \"[^\"]*\" \"sfanomalydetect $version\"" "$page"; then
  echo "check-manual-page: the .TH line does not name sfanomalydetect $version" >&2
  status=1
fi
exit "$status"
