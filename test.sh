#!/usr/bin/env bash
# Runs the whole test suite from a fresh checkout: installs what is missing,
# builds, runs every libFuzzer harness for 60 seconds (two at a time, in
# build-fuzz/), and runs every test with CTest. Ends non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
tools/bootstrap.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"

fuzz_status=0
fuzz/run.sh 60 || fuzz_status=$?

ctest_status=0
ctest --test-dir build --output-on-failure -j"$jobs" || ctest_status=$?
if [ "$fuzz_status" -ne 0 ]; then
  echo "test.sh: the fuzz runs failed (status $fuzz_status); see fuzz/artifacts/"
fi
[ "$fuzz_status" -eq 0 ] && [ "$ctest_status" -eq 0 ]
