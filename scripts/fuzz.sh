#!/usr/bin/env bash
# Runs each libFuzzer target (manifest parser, Content-Length/Content-Range
# parsing, answer head and chunk-size parsing, request-path escaping, signed
# release parser, chunk index parser) under AddressSanitizer and
# UndefinedBehaviorSanitizer for SECONDS (default 60), starting from the seed
# corpus in tests/fuzz/corpus/. A crash or a failed property fails the run
# and leaves the input in build-fuzz/artifacts/.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/install-deps.sh --fuzz
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLAUNCHER_FUZZ=ON \
      -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j2 --target fuzz_manifest fuzz_http_fields fuzz_http_head fuzz_uri_escape fuzz_release \
      fuzz_chunk_index
mkdir -p build-fuzz/artifacts
failed=()
for target in manifest http_fields http_head uri_escape release chunk_index; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== fuzz_$target for ${seconds} s"
  if ! build-fuzz/tests/fuzz/fuzz_$target "$corpus" "tests/fuzz/corpus/$target" -max_total_time="$seconds" \
        -artifact_prefix="build-fuzz/artifacts/$target-" -print_final_stats=1 2> "build-fuzz/$target.log"; then
    tail -n 40 "build-fuzz/$target.log"
    for input in build-fuzz/artifacts/"$target"-*; do
      [ -e "$input" ] && { echo "input kept in $input:"; od -c "$input" | head -n 20; }
    done
    failed+=("$target")
  else
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "build-fuzz/$target.log" || true
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
