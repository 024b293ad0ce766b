#!/usr/bin/env bash
# The Windows checks, under Wine on this Linux machine:
#   - cross-builds the launcher's three DLLs (scripts/build-windows-deps.sh);
#   - x86_64 under wine64 (fast): the unit tests and every end-to-end scenario;
#   - i686, what ships, under wine32: ORN_Launcher.exe with its resources and
#     imports checked, the unit tests, and the end-to-end scenarios that fit
#     the time (wine32 runs through qemu where the kernel runs no 32-bit code).
#   scripts/test-windows.sh [i686|x86_64]...   (both when none is named)
# Without root (binfmt_misc needs it) on a kernel without 32-bit support the
# i686 part cannot run: that is a failure under CI, a clear skip otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(x86_64 i686)
bash scripts/install-deps.sh --windows
source scripts/wine-env.sh

deps=${LAUNCHER_WINDOWS_DEPS_ROOT:-$PWD/build-windows/deps}
if [ ! -f "$deps/i686/bin/physfs.dll" ] || [ ! -f "$deps/x86_64/bin/physfs.dll" ]; then
  start=$SECONDS
  bash scripts/build-windows-deps.sh "$deps"
  echo "   (libraries built in $((SECONDS - start)) s)"
fi

# The deployer's command is a native program: the scenarios against nginx use it.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target orn_publish >/dev/null

for arch in "${arches[@]}"; do
  start=$SECONDS
  build=$PWD/build-windows/$arch
  echo "== Windows $arch"
  if ! start_wine "$arch" "$PWD/build-windows/wineprefix-$arch"; then
    if [ -n "${CI:-}" ]; then
      echo "Windows $arch checks cannot run here: $wine_problem" >&2
      exit 1
    fi
    echo "Windows $arch checks skipped: $wine_problem"
    continue
  fi
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release \
        -DLAUNCHER_WINDOWS_DEPS_PREFIX="$deps/$arch" -DLAUNCHER_PUBLISHER="$PWD/build/orn-publish" >/dev/null
  cmake --build "$build" -j2 >/dev/null
  status=0
  ctest --test-dir "$build" --output-on-failure || status=$?
  stop_wine
  echo "   Windows $arch took $((SECONDS - start)) s"
  [ "$status" -eq 0 ] || exit "$status"
done
