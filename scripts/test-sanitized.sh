#!/usr/bin/env bash
# The whole project built with AddressSanitizer and UndefinedBehaviorSanitizer,
# every native test run against it (the end-to-end suite through the
# sanitized launcher). Any report ends the reporting process and fails a test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLAUNCHER_SANITIZE=ON -DLAUNCHER_BUILD_BENCHMARKS=OFF
cmake --build build-sanitize -j2
ctest --test-dir build-sanitize --output-on-failure --no-tests=error
