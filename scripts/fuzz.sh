#!/usr/bin/env bash
# A long fuzzing campaign: every libFuzzer target (or the ones named), built
# with the `fuzz` preset (clang, ASan + UBSan), for HOURS of wall time in all.
#
#   scripts/fuzz.sh HOURS [TARGET...]       e.g. scripts/fuzz.sh 8, scripts/fuzz.sh 0.5 konta_fuzz
#
#   FUZZ_JOBS=N   targets fuzzed at once (default 1, at most the number of cores).
#                 Each of the N lanes takes every Nth target and runs its
#                 targets one after another for the whole HOURS.
#   FUZZ_RUNS=N   a target stops after N executions; the time it leaves goes
#                 to the targets after it in its lane.
#
# Within a lane each target gets an equal share of the time still left, so
# time a target leaves over (it reached FUZZ_RUNS, or found something) goes
# to the ones behind it. A target stops at its first finding (crash, leak,
# time-out or out-of-memory), as libFuzzer does; the input lands in
# build/fuzz/findings/TARGET/. What a target discovers stays in
# build/fuzz/campaign/TARGET/ and is where the next campaign starts from,
# beside the committed seeds in fuzz/corpus/TARGET/, which are only read.
# At the end a table gives each target's executions, executions per second,
# seconds run, corpus growth and findings; logs are in build/fuzz/campaign/.
set -euo pipefail
cd "$(dirname "$0")/.."

hours=${1:-}
if ! [[ "$hours" =~ ^[0-9]+([.][0-9]+)?$ ]] || [ "$(awk -v h="$hours" 'BEGIN { print (h > 0) }')" != 1 ]; then
  echo "usage: scripts/fuzz.sh HOURS [TARGET...]   (HOURS > 0, may be fractional)" >&2
  exit 2
fi
shift
total=$(awk -v h="$hours" 'BEGIN { printf "%d", h * 3600 }')
[ "$total" -ge 1 ] || total=1

targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  for src in fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
for name in "${targets[@]}"; do
  [ -f "fuzz/$name.cpp" ] || { echo "no fuzz target $name (fuzz/$name.cpp)" >&2; exit 2; }
done

jobs=${FUZZ_JOBS:-1}
cores=$(nproc 2>/dev/null || echo 1)
[[ "$jobs" =~ ^[1-9][0-9]*$ ]] || { echo "FUZZ_JOBS must be a positive number" >&2; exit 2; }
[ "$jobs" -le "$cores" ] || jobs=$cores
[ "$jobs" -le "${#targets[@]}" ] || jobs=${#targets[@]}
runs=${FUZZ_RUNS:-}
[ -z "$runs" ] || [[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "FUZZ_RUNS must be a positive number" >&2; exit 2; }

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

campaign=$(pwd)/build/fuzz/campaign
findings=$(pwd)/build/fuzz/findings
mkdir -p "$campaign" "$findings"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

final_stat() { sed -n "s/^stat::$1: *//p" "$2" | tail -n 1; }

# One target for at most $2 seconds; writes a result line to $campaign/NAME.result.
fuzz_one() {
  local name=$1 seconds=$2
  local work=$campaign/$name found=$findings/$name seeds=fuzz/corpus/$name log=$campaign/$name.log
  mkdir -p "$work" "$found"
  local before_corpus before_found start end status=0
  before_corpus=$(find "$work" -type f | wc -l)
  before_found=$(find "$found" -type f | wc -l)
  start=$(date +%s)
  printf '%s  %-22s started, up to %ss%s\n' "$(date +%T)" "$name" "$seconds" "${runs:+ or $runs executions}"
  "build/fuzz/$name" -max_total_time="$seconds" ${runs:+-runs="$runs"} -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$found/" "$work" $( [ -d "$seeds" ] && echo "$seeds" ) > "$log" 2>&1 || status=$?
  end=$(date +%s)
  local executed per_second new_found grown
  executed=$(final_stat number_of_executed_units "$log")
  per_second=$(final_stat average_exec_per_sec "$log")
  new_found=$(( $(find "$found" -type f | wc -l) - before_found ))
  grown=$(( $(find "$work" -type f | wc -l) - before_corpus ))
  # A target that died before its final statistics still shows its last status line.
  if [ -z "$executed" ]; then
    executed=$(grep -oE '^#[0-9]+' "$log" | tail -n 1 | tr -d '#')
    per_second=$(grep -oE 'exec/s: [0-9]+' "$log" | tail -n 1 | grep -oE '[0-9]+')
  fi
  [ "$status" -eq 0 ] || [ "$new_found" -gt 0 ] || new_found="exit $status"
  printf '%s %s %s %s %s %s\n' "$name" "${executed:-0}" "${per_second:-0}" "$((end - start))" "$grown" "$new_found" \
    > "$campaign/$name.result"
  printf '%s  %-22s %s executions, %s/s, %ss, findings: %s\n' "$(date +%T)" "$name" "${executed:-0}" \
    "${per_second:-0}" "$((end - start))" "$new_found"
}

# Lane $1 of $jobs: targets $1, $1 + jobs, ... one after another.
lane() {
  local deadline=$1 first=$2 mine=() i
  for ((i = first; i < ${#targets[@]}; i += jobs)); do mine+=("${targets[i]}"); done
  for ((i = 0; i < ${#mine[@]}; i++)); do
    local left=$((deadline - $(date +%s)))
    local share=$((left / (${#mine[@]} - i)))
    [ "$share" -ge 1 ] || share=1
    fuzz_one "${mine[i]}" "$share"
  done
}

started=$(date +%s)
deadline=$((started + total))
echo "Fuzzing ${#targets[@]} target(s) for ${total}s in $jobs lane(s): ${targets[*]}"
for name in "${targets[@]}"; do rm -f "$campaign/$name.result"; done
pids=()
for ((lane_number = 0; lane_number < jobs; lane_number++)); do
  lane "$deadline" "$lane_number" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
finished=$(date +%s)

printf '\n%-22s %12s %9s %8s %7s  %s\n' target executions exec/s seconds corpus+ findings
failed=0
for name in "${targets[@]}"; do
  if [ -f "$campaign/$name.result" ]; then
    read -r _ executed per_second seconds grown found < "$campaign/$name.result"
  else
    executed=0 per_second=0 seconds=0 grown=0 found="did not run"
  fi
  printf '%-22s %12s %9s %8s %7s  %s\n' "$name" "$executed" "$per_second" "$seconds" "$grown" "$found"
  [ "$found" = 0 ] || failed=1
done
echo "Wall time: $((finished - started))s of ${total}s. Findings: $findings/; logs: $campaign/"
exit "$failed"
