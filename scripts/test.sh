#!/usr/bin/env bash
# Builds and runs every test: native, under ASan+UBSan, the Windows build
# under Wine, clang-tidy, short fuzzing runs, both release packages and their
# checks, and the real-window tests of both programs. Every build here treats
# warnings as errors (WYPRAWY_WERROR).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

step() { printf '\n=== %s\n' "$*"; }

step "Include graph of src/ (one way down)"
python3 scripts/include_graph.py

step "Linux build and tests"
cmake --preset linux -DWYPRAWY_WERROR=ON >/dev/null
cmake --build --preset linux
ctest --preset linux

step "Linux packages (.deb, .tar.gz)"
rm -rf build/linux/packages
cmake --build --preset linux --target package

step "clang-tidy"
bash scripts/tidy.sh

step "Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan -DWYPRAWY_WERROR=ON >/dev/null
cmake --build --preset asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan

step "Windows build (mingw-w64) and its tests under Wine"
cmake --preset windows-cross -DWYPRAWY_WERROR=ON >/dev/null
cmake --build --preset windows-cross
cmake/wine-run.sh   # makes the private Wine prefix before the tests run
ctest --preset windows-cross

step "Windows package (.zip)"
rm -rf build/windows/packages
cmake --build --preset windows-cross --target package

step "Packages checked"
python3 scripts/check_packages.py

if [ -d fuzz ] && ls fuzz/*_fuzz.cpp >/dev/null 2>&1; then
  step "Short fuzzing runs"
  cmake --preset fuzz -DWYPRAWY_WERROR=ON >/dev/null
  cmake --build --preset fuzz
  for target in build/fuzz/*_fuzz; do
    name=$(basename "$target")
    work=$(pwd)/build/fuzz/work/$name
    seeds=$(pwd)/fuzz/corpus/$name
    mkdir -p "$work"
    # New inputs go to the scratch folder; the committed seeds are only read.
    "$target" -max_total_time=20 -print_final_stats=0 "$work" $( [ -d "$seeds" ] && echo "$seeds" ) \
      > "build/fuzz/$name.log" 2>&1 || { cat "build/fuzz/$name.log"; echo "fuzzing $name failed"; exit 1; }
    tail -n 1 "build/fuzz/$name.log"
  done
fi

if [ -x e2e/run.sh ]; then
  step "Real-window tests (Xvfb), the .deb's program among them"
  WYPRAWY_PACKAGE_DEB=$(ls "$(pwd)"/build/linux/packages/wyprawy_*_amd64.deb) bash e2e/run.sh
fi

printf '\nAll tests passed.\n'
