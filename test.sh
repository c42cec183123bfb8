#!/usr/bin/env bash
# Runs the whole test suite from a fresh checkout: installs what is missing,
# builds, and runs every test with CTest. Ends non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
tools/bootstrap.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
