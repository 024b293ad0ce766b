#!/usr/bin/env bash
# Builds and runs the benchmarks; each prints its figures.
#   scripts/bench.sh [md5|scan|download]...   (all when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2
selected=("$@")
[ ${#selected[@]} -gt 0 ] || selected=(md5 scan download)
for benchmark in "${selected[@]}"; do
  case "$benchmark" in
    md5) build/bench/md5_benchmark --benchmark_repetitions=5 --benchmark_report_aggregates_only=true ;;
    scan) python3 bench/run_scan_benchmark.py build/bench/scan_benchmark ;;
    download) python3 bench/run_download_benchmark.py build ;;
    *) echo "unknown benchmark: $benchmark" >&2; exit 2 ;;
  esac
done
