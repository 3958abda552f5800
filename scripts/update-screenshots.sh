#!/usr/bin/env bash
# Makes the README's screenshots anew with the real-window tests (after the
# linux and windows-cross builds) and copies them into docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash e2e/run.sh -k test_screenshots_for_the_guide
bash e2e/run.sh --only windows -k test_windows_program_at_144_dpi
for name in windows windows-144dpi linux; do
  cp "build/e2e/screenshots/guide-$name.png" "docs/$name.png"
done
ls -l docs/*.png
