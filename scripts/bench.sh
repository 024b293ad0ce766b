#!/usr/bin/env bash
# Builds and runs the benchmarks; each prints its figures.
#   scripts/bench.sh [md5|scan|download|delta|start|many-files|link|delta-peers|cold-edge|soak|adoption]...
#   (all but many-files, link, delta-peers, cold-edge, soak and adoption when none is named)
# link: the fresh install of 1 GiB (with the start that follows, nothing to
# update) and the five delta cases, the launcher unsigned and signed and curl,
# through a simulated path of 20 ms each way at 200 Mbit/s (BENCH_LINK="MS,MBIT"), each
# delta case against max(local work, bytes / rate) + 3 round trips, and a
# game of 1,000 small files installed and updated beside curl, aria2c and rsync.
# many-files: games of 1,000 and 10,000 small files (BENCH_FILES) on loopback, the same way.
# delta-peers: the five delta cases on a 256 MiB file (BENCH_DELTA_MIB) by the
# launcher, zsync, casync and zchunk, and orn-publish --sign beside zsyncmake.
# cold-edge: a delta through Varnish with an empty cache, the README's VCL with
# and without ranges passed on a miss, and through an edge warmed after the publish.
# soak: 1,000 starts of players through three Varnish edges of different ages
# over 20 changes of the channel; starts, refusals, origin bytes against edge bytes.
# adoption: orn-publish adoption over 10 million access log lines (BENCH_LOG_LINES), plain and
# gzipped; its figures checked against the generator's, its time and peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --bench
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2
selected=("$@")
[ ${#selected[@]} -gt 0 ] || selected=(md5 scan download delta start)
for benchmark in "${selected[@]}"; do
  case "$benchmark" in
    md5) build/bench/md5_benchmark --benchmark_repetitions=5 --benchmark_report_aggregates_only=true ;;
    scan) python3 bench/run_scan_benchmark.py build/bench/scan_benchmark ;;
    download) python3 bench/run_download_benchmark.py build ;;
    delta) python3 bench/run_delta_benchmark.py build ;;
    link)
      export BENCH_LINK=${BENCH_LINK:-20,200}
      BENCH_SIZES_MIB=${BENCH_SIZES_MIB:-1024} BENCH_REPEATS=${BENCH_REPEATS:-2} \
        python3 bench/run_download_benchmark.py build
      python3 bench/run_delta_benchmark.py build
      BENCH_FILES=${BENCH_FILES:-1000} python3 bench/run_many_files_benchmark.py build ;;
    many-files) BENCH_FILES=${BENCH_FILES:-1000,10000} python3 bench/run_many_files_benchmark.py build ;;
    delta-peers)
      bash scripts/install-deps.sh --delta-peers
      BENCH_DELTA_MIB=${BENCH_DELTA_MIB:-256} python3 bench/run_delta_peers_benchmark.py build ;;
    cold-edge) python3 bench/run_cold_edge_benchmark.py build ;;
    soak) python3 bench/run_soak_benchmark.py build ;;
    adoption) python3 bench/run_adoption_benchmark.py build ;;
    start)
      # Today's start, for comparison: the same test launcher without the record of digests.
      port=$(sed -n 's/^LAUNCHER_TEST_PORT:STRING=//p' build/CMakeCache.txt)
      cmake -S . -B build-bench-no-cache -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_DIGEST_CACHE=OFF \
            -DLAUNCHER_TEST_PORT="$port" -DLAUNCHER_BUILD_BENCHMARKS=OFF >/dev/null
      cmake --build build-bench-no-cache -j2 --target test_launcher >/dev/null
      python3 bench/run_start_benchmark.py build build-bench-no-cache ;;
    *) echo "unknown benchmark: $benchmark" >&2; exit 2 ;;
  esac
done
