#!/usr/bin/env bash
# Gathers every benchmark figure of the station in one run: the message path
# against a bare UDP echo, the echoes while calls that waited out a 30 s hold
# of the database are stored, storing a call, rule choice and pricing with a
# 50,000-rule deck against the plain walk, the two lookups on 1,000,000 rows
# with and without indexes, quenta_init on a 1,000,000-row database, the start with 20,000
# calls waiting in cdr.pending (first echo, all stored, echoes meanwhile), the console's poll of 100
# lines on 1,000,000 calls, the running cost of 100 calls in progress under a 50,000-rule deck,
# the rate editor's import of a 50,000-line deck, a backup of 1,000,000 calls while calls
# are stored, the chain's sync program on 1,000,000 calls and bills, SIP booths
# through Kamailio and the bridge (100 booths, 30 calls at a time, deny 100 times),
# and the statistics report's month grouped over 1,000,000 calls.
# Builds what it needs in build/ (RelWithDebInfo), runs each benchmark, keeps
# the console and JSON output in build/bench-results/ and prints the machine
# and the figures at the end. Takes about ten minutes.
#   bench/run-all.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build}") # absolute: some benchmarks work in a directory of their own
out="$build/bench-results"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENTA_BENCH=ON
else
  cmake "$build" -DQUENTA_BENCH=ON >/dev/null # a tree configured without them gets them
fi
benches=(bench_gateway bench_store bench_rates bench_db bench_startup bench_backup)
targets=(gwsim bench_sip_booths)
for b in "${benches[@]}"; do
  [ -f "bench/$b.cpp" ] && targets+=("$b")
done
# the console's poll is built only where the console is
if grep -q '^QUENTA_CONSOLE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  targets+=(bench_console_poll bench_console_running bench_rate_import bench_console_report)
fi
cmake --build "$build" -j2 --target "${targets[@]}"
mkdir -p "$out"

run() {
  local name=$1
  shift
  [ -x "$build/bench/$name" ] || return 0
  echo "== $name $*"
  "$build/bench/$name" --benchmark_out="$out/$name.json" --benchmark_out_format=json "$@" |
    tee "$out/$name.txt"
}

run bench_gateway
run bench_store
# the parser prints a dump of every rule it reads: that is not part of the figures
"$build/bench/bench_rates" --benchmark_filter='ChooseRule50k|PriceCall50k' \
  --benchmark_out="$out/bench_rates.json" --benchmark_out_format=json 2>/dev/null |
  grep -E '^(BM_|Benchmark|-)' | tee "$out/bench_rates.txt"
run bench_db
run bench_startup
run bench_backup
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} run bench_console_poll
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} run bench_console_running
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} run bench_console_report
# the parser's dump of every rule checked goes to standard output: not part of the figures
if [ -x "$build/bench/bench_rate_import" ]; then
  echo "== bench_rate_import"
  QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/bench_rate_import" \
    --benchmark_out="$out/bench_rate_import.json" --benchmark_out_format=json 2>/dev/null |
    grep -E '^(BM_|Benchmark|-)' | tee "$out/bench_rate_import.txt"
fi
# SIP booths through Kamailio and the bridge (as root: a network namespace of its own)
if [ -x "$build/bench/bench_sip_booths" ] && [ "$(id -u)" = 0 ] && command -v kamailio >/dev/null; then
  echo "== bench_sip_booths"
  "$build/bench/bench_sip_booths" | tee "$out/bench_sip_booths.txt"
fi
# the chain's sync program against a PostgreSQL server of its own (as root)
if [ -x "$build/tools/quenta-sync/quenta-sync" ] && [ "$(id -u)" = 0 ]; then
  echo "== chain_sync.sh"
  bench/chain_sync.sh "$build" | tee "$out/chain_sync.txt"
fi

{
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
    "$(free -g | awk '/Mem:/ {print $2}') GiB, $(. /etc/os-release && echo "$PRETTY_NAME"), $(uname -r)"
  echo "compiler: $(c++ --version | head -1); load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "commit: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
} | tee "$out/machine.txt"
echo "results in $out/"
