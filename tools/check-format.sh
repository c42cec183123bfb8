#!/usr/bin/env bash
# Checks that every C and C++ file under version control is laid out as
# .clang-format says, naming the files that are not; with --fix, lays them
# out. Ends non-zero when a file is not laid out (or clang-format is missing).
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  echo "check-format: clang-format is not installed (tools/bootstrap.sh installs it)"
  exit 1
fi
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
# One run over all of them: each misplaced line is a warning naming its file.
mapfile -t bad < <(clang-format --dry-run "${files[@]}" 2>&1 >/dev/null |
  sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning: code should be clang-formatted.*/\1/p' | sort -u)
if [ "${#bad[@]}" -ne 0 ]; then
  echo "check-format: not laid out as .clang-format says (tools/check-format.sh --fix lays them out):"
  printf '  %s\n' "${bad[@]}"
  exit 1
fi
