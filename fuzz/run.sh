#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang in build-fuzz/ and runs each one for
# SECONDS (default 60), two at a time. Each run starts from the checked-in seeds
# (fuzz/corpus/<harness>/) and keeps what it finds new in fuzz/corpus-run/;
# a crash is saved in fuzz/artifacts/ and makes the script end with status 1.
# Prints one line per harness: executions, coverage, corpus size, result.
#   fuzz/run.sh [SECONDS] [HARNESS...]
set -uo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

secs=${1:-60}
shift || true
build=${FUZZ_BUILD_DIR:-build-fuzz}
jobs=${FUZZ_JOBS:-2}

mkdir -p "$build"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUENTA_FUZZ=ON -DQUENTA_TESTS=OFF -DQUENTA_BENCH=OFF -DQUENTA_CONSOLE=OFF >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$build" --target fuzz_all -j"$jobs" || exit 1

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  harnesses=(fuzz_uimsg fuzz_rateinfo fuzz_ratefile fuzz_ratexml fuzz_dispatch)
fi

max_len() {
  case $1 in
    fuzz_uimsg) echo 600 ;;
    fuzz_rateinfo) echo 700 ;;
    fuzz_ratexml) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

mkdir -p fuzz/artifacts fuzz/corpus-run "$build/logs"

run_one() {
  local h=$1 short=${1#fuzz_}
  local dict=()
  [ -f "fuzz/$short.dict" ] && dict=(-dict="$top/fuzz/$short.dict")
  mkdir -p "fuzz/corpus-run/$short"
  # absolute paths: a harness may change its working directory
  # stdout and stderr of the engine are closed: the fuzzer keeps its own report
  "$build/fuzz/$h" -max_total_time="$secs" -timeout=30 -rss_limit_mb=2048 -max_len="$(max_len "$h")" \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$top/fuzz/artifacts/$short-" "${dict[@]}" \
    "$top/fuzz/corpus-run/$short" "$top/fuzz/corpus/$short" >"$build/logs/$h.log" 2>&1
}

summary() {
  local h=$1 rc=$2 log="$build/logs/$1.log"
  local runs cov ft corp
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  corp=$(grep -o 'corp: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  local verdict=ok
  [ "$rc" -ne 0 ] && verdict="FAILED (status $rc, see $log)"
  printf '%-14s %9s runs  cov %5s  ft %6s  corpus %5s  %s\n' "$h" "${runs:-?}" "${cov:-?}" "${ft:-?}" \
    "${corp:-?}" "$verdict"
}

failed=0
results=()
echo "fuzz: ${#harnesses[@]} harnesses, ${secs} s each, $jobs at a time"
# Every run lasts the same time, so batches of $jobs keep the cores busy.
for ((i = 0; i < ${#harnesses[@]}; i += jobs)); do
  batch=("${harnesses[@]:i:jobs}")
  pids=()
  for h in "${batch[@]}"; do
    run_one "$h" &
    pids+=($!)
  done
  for k in "${!batch[@]}"; do
    rc=0
    wait "${pids[$k]}" || rc=$?
    results+=("$(summary "${batch[$k]}" "$rc")")
    [ "$rc" -ne 0 ] && failed=1
  done
done

printf '%s\n' "${results[@]}"
if [ "$failed" -ne 0 ]; then
  echo "fuzz: a harness failed; its crash input is in fuzz/artifacts/"
  for f in fuzz/artifacts/*; do [ -e "$f" ] && echo "  $f"; done
  exit 1
fi
echo "fuzz: every harness ran ${secs} s without a failure"
