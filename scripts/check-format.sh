#!/usr/bin/env bash
# Checks that every C++ source keeps the house style (.clang-format);
# with --fix, puts them in it. The generated case-folding table is left as
# its generator writes it.
#   scripts/check-format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "check-format: clang-format is not installed" >&2; exit 1; }
mapfile -t sources < <(git ls-files '*.cpp' '*.h' ':!channel/case_folding_table.cpp')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${sources[@]}"
else
  clang-format --dry-run -Werror "${sources[@]}"
fi
