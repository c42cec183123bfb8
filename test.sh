#!/usr/bin/env bash
# Runs the whole test suite from a fresh checkout: installs what is missing,
# checks the sources' layout (.clang-format), builds, runs every libFuzzer
# harness for 15 seconds (two at a time, in build-fuzz/), runs every test with
# CTest, and runs the engine's end-to-end suites again under ThreadSanitizer
# (build-tsan/). Ends non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
tools/bootstrap.sh

format_status=0
tools/check-format.sh || format_status=$?

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"

fuzz_status=0
fuzz/run.sh 15 || fuzz_status=$?

ctest_status=0
ctest --test-dir build --output-on-failure -j"$jobs" || ctest_status=$?
# The console's poll and the handler's capture on two threads: no race.
tsan_status=0
{
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENTA_TSAN=ON \
    -DQUENTA_CONSOLE=OFF -DQUENTA_BENCH=OFF >/dev/null &&
    cmake --build build-tsan -j"$jobs" --target test_engine test_msghdlr gwsim &&
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R '^(Engine|Handler[A-Za-z]*)\.'
} || tsan_status=$?

if [ "$format_status" -ne 0 ]; then
  echo "test.sh: some sources are not laid out as .clang-format says (tools/check-format.sh --fix)"
fi
if [ "$fuzz_status" -ne 0 ]; then
  echo "test.sh: the fuzz runs failed (status $fuzz_status); see fuzz/artifacts/"
fi
if [ "$tsan_status" -ne 0 ]; then
  echo "test.sh: the ThreadSanitizer run of the engine suites failed (status $tsan_status)"
fi
[ "$format_status" -eq 0 ] && [ "$fuzz_status" -eq 0 ] && [ "$ctest_status" -eq 0 ] && [ "$tsan_status" -eq 0 ]
