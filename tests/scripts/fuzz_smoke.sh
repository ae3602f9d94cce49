#!/usr/bin/env bash
# A few seconds of every fuzz target (built with clang into the test build's fuzz-smoke/), so a
# crash on the seed corpora or on what a short run finds fails the suite.
# Arguments: build directory, source directory.
set -euo pipefail
build=$1
source=$2
if ! command -v clang++ >/dev/null; then
  echo "clang++ is not installed: fuzz smoke skipped"
  exit 0
fi
# Every target under fuzz/ (backup_file, stored_setup and settings_file among them) for five
# seconds keeps the fuzzing about a minute; the build is kept between runs.
"$source/scripts/fuzz" --seconds 5 --build-dir "$build/fuzz-smoke"
