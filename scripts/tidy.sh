#!/usr/bin/env bash
# clang-tidy over the project's own sources with .clang-tidy (every finding
# an error), two files at a time, on the compile database of the `tidy`
# preset (clang, every target). The static analyzer (clang-analyzer-*) runs
# on src/ and fuzz/; on the tests and benchmarks, where GoogleTest's macros
# make it some ten times slower, the other checks run. The Win32 sources are
# not in that database (their headers exist only for the Windows target) and
# are not checked. The whole output goes to build/tidy/tidy.log.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${TIDY_JOBS:-2}
cmake --preset tidy >/dev/null
root=$(pwd)
log=build/tidy/tidy.log
start=$SECONDS
status=0
{
  run-clang-tidy -p build/tidy -j "$jobs" -quiet "^$root/(src|fuzz)/" &&
    run-clang-tidy -p build/tidy -j "$jobs" -quiet -checks='-clang-analyzer-*' "^$root/(tests|bench|e2e)/"
} >"$log" 2>&1 || status=$?
files=$(grep -c '^clang-tidy' "$log" || true)
if [ "$status" -ne 0 ]; then
  sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E -A3 '(error|warning): ' | grep -v 'warnings generated' || cat "$log"
  echo "clang-tidy found problems (whole output: $log)"
  exit 1
fi
echo "clang-tidy: $files files, no findings, $((SECONDS - start)) s"
