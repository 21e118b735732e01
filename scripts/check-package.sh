#!/usr/bin/env bash
# Builds the Debian package from a build folder into a scratch folder and has lintian
# check it: no error may remain. Also checks that the package changelog's newest entry is
# the project version. Exit 77 (skipped) when lintian is not installed.
# Usage: scripts/check-package.sh <cpack command> <build folder> <project version>
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
cpack=${1:?usage: check-package.sh <cpack command> <build folder> <project version>}
build_dir=${2:?missing build folder}
version=${3:?missing project version}
if ! command -v lintian >/dev/null; then
  echo "check-package: lintian is not installed (skipped)"
  exit 77
fi
if ! head -n 1 "$source_dir/packaging/changelog" | grep -qF "sfanomalydetect ($version)"; then
  echo "check-package: packaging/changelog does not begin with version $version" >&2
  exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if ! "$cpack" -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  exit 1
fi
package=$(ls "$scratch"/sfanomalydetect_"$version"_*.deb)
# Lintian warns on standard error when run as root; only its findings matter here.
if ! lintian --fail-on error --tag-display-limit 0 "$package" 2>/dev/null; then
  echo "check-package: lintian reports errors for $(basename "$package")" >&2
  exit 1
fi
echo "check-package: $(basename "$package") has no lintian errors"
