#!/usr/bin/env bash
# The unit tests whose code runs on threads of its own (the streaming
# digests, the delta built over them, the run
# over them), built with ThreadSanitizer. Any report fails the test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
tests=(digest_test download_test update_test)
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLAUNCHER_TSAN=ON -DLAUNCHER_BUILD_BENCHMARKS=OFF
cmake --build build-tsan -j2 --target "${tests[@]}"
ctest --test-dir build-tsan --output-on-failure --no-tests=error -R "^($(IFS='|'; echo "${tests[*]}"))\$"
