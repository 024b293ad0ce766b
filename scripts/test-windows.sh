#!/usr/bin/env bash
# The Windows checks, under Wine on this Linux machine:
#   - cross-builds the launcher's three DLLs (scripts/build-windows-deps.sh);
#   - x86_64 under wine64 (fast): the unit tests and every end-to-end scenario;
#   - i686, what ships, under wine's 32-bit loader: ORN_Launcher.exe with its
#     resources and imports checked, the unit tests, and the end-to-end
#     scenarios that fit the time (wine32 runs through qemu where the kernel
#     runs no 32-bit code: minutes per Windows process start);
#   - the deployer's i686 files, signed and not, and the players' installer
#     installing and uninstalling under wine32 (scripts/test-windows-dist.sh).
#   scripts/test-windows.sh [x86_64|i686]...   (both when none is named)
# Where Wine cannot run a build (no root to register qemu on a kernel without
# 32-bit support, say), that is a failure under CI and a clear skip otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(x86_64 i686)
bash scripts/install-deps.sh --windows
source scripts/wine-env.sh

cannot_run() {
  if [ -n "${CI:-}" ]; then
    echo "Windows $1 checks cannot run here: $wine_problem" >&2
    exit 1
  fi
  echo "Windows $1 checks skipped: $wine_problem"
}

deps=${LAUNCHER_WINDOWS_DEPS_ROOT:-$PWD/build-windows/deps}
recipe=$(sed -n 's/^recipe=\([0-9]*\).*/\1/p' scripts/build-windows-deps.sh)
if [ "$(cat "$deps/i686/recipe" 2>/dev/null)" != "$recipe" ] || [ "$(cat "$deps/x86_64/recipe" 2>/dev/null)" != "$recipe" ]; then
  start=$SECONDS
  LAUNCHER_WINDOWS_ARCHES="i686 x86_64" bash scripts/build-windows-deps.sh "$deps"
  echo "   libraries built in $((SECONDS - start)) s"
fi

# The deployer's command is a native program: the scenarios against nginx use it.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target orn_publish >/dev/null

start=$SECONDS
echo "== Wine"
if ! start_wine "$PWD/build-windows/wineprefix"; then
  cannot_run "${arches[*]}"
  exit 0
fi
trap stop_wine EXIT

for arch in "${arches[@]}"; do
  start=$SECONDS
  build=$PWD/build-windows/$arch
  echo "== Windows $arch"
  if ! wine_runs "$arch"; then
    cannot_run "$arch"
    continue
  fi
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release \
        -DLAUNCHER_WINDOWS_DEPS_PREFIX="$deps/$arch" -DLAUNCHER_PUBLISHER="$PWD/build/orn-publish" >/dev/null
  cmake --build "$build" -j2 >/dev/null
  ctest --test-dir "$build" --output-on-failure --no-tests=error
  echo "   Windows $arch took $((SECONDS - start)) s"
done

# What a deployer uploads and a player installs: the i686 dist, signed and not, and its installer's round
# trip under the same Wine.
if [[ " ${arches[*]} " == *" i686 "* ]] && wine_runs i686; then
  echo "== the deployer's Windows files and the players' installer"
  start=$SECONDS
  bash scripts/test-windows-dist.sh
  echo "   took $((SECONDS - start)) s"
fi
