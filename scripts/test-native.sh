#!/usr/bin/env bash
# The native build and every native test through CTest (installs what is missing).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/check-format.sh
python3 scripts/check-sizes.py
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2
ctest --test-dir build --output-on-failure --no-tests=error
