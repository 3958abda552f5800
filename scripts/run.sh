#!/usr/bin/env bash
# Builds the Linux program and starts it in the given working directory
# (default: the current one), where it keeps konta.txt and the databases.
set -euo pipefail
workdir=$(pwd)
[ "$#" -ge 1 ] && workdir=$1
cd "$(dirname "$0")/.."
bash scripts/deps.sh run
cmake --preset linux >/dev/null
cmake --build --preset linux --target wyprawy
program=$(pwd)/build/linux/wyprawy
mkdir -p "$workdir"
cd "$workdir"
exec "$program"
