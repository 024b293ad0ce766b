#!/usr/bin/env bash
# The 32-bit Windows checks: installs the MinGW-w64 cross compiler and Wine,
# cross-builds the portable parts, the Windows platform layer and the
# resources (and ORN_Launcher.exe itself when LAUNCHER_WINDOWS_DEPS_PREFIX
# names a Windows PhysFS and SFML), and runs their tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --windows

build=build-windows
mkdir -p "$build"
export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if ! timeout 300 wine cmd /c exit 0 >/dev/null 2>&1; then
  echo "Windows checks skipped: Wine cannot start on this machine."
  exit 0
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release \
      ${LAUNCHER_WINDOWS_DEPS_PREFIX:+-DLAUNCHER_WINDOWS_DEPS_PREFIX="$LAUNCHER_WINDOWS_DEPS_PREFIX"}
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure
