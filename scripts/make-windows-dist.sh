#!/usr/bin/env bash
# Makes what a deployer uploads for 32-bit Windows players: a folder with the
# launcher's four own files (ORN_Launcher.exe for the named update server,
# physfs.dll, sfml-network-2.dll, sfml-system-2.dll) and an md5sum listing of
# them. Copy the four into the release tree that orn-publish publishes. The
# four are stripped (every player downloads them); their debug symbols, for
# crash reports, go beside the folder, into OUTPUT_DIR.symbols/.
# With LAUNCHER_RELEASE_KEYS set in the environment, the launcher runs only
# releases signed with one of those keys.
#   scripts/make-windows-dist.sh SERVER_HOST [OUTPUT_DIR]   (default dist/windows-i686)
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
host=$1
out=${2:-dist/windows-i686}
deps=${LAUNCHER_WINDOWS_DEPS_ROOT:-$PWD/build-windows/deps}
bash scripts/install-deps.sh --windows
[ "$(cat "$deps/recipe" 2>/dev/null)" = "$(sed -n 's/^recipe=\([0-9]*\).*/\1/p' scripts/build-windows-deps.sh)" ] ||
  bash scripts/build-windows-deps.sh "$deps"

build=build-windows/dist-i686
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release \
      -DLAUNCHER_WINDOWS_DEPS_PREFIX="$deps/i686" -DLAUNCHER_SERVER_HOST="$host" \
      -DLAUNCHER_RELEASE_KEYS="${LAUNCHER_RELEASE_KEYS:-}" \
      -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j2 --target launcher >/dev/null

symbols=${out%/}.symbols
mkdir -p "$out" "$symbols"
own=(ORN_Launcher.exe physfs.dll sfml-network-2.dll sfml-system-2.dll)
for name in "${own[@]}"; do
  i686-w64-mingw32-objcopy --only-keep-debug "$build/$name" "$symbols/$name.debug"
  i686-w64-mingw32-strip --strip-unneeded -o "$out/$name" "$build/$name"
  # Only the symbol file's name and checksum go in: a debugger finds it beside the executable or in its search path.
  i686-w64-mingw32-objcopy --add-gnu-debuglink="$symbols/$name.debug" "$out/$name"
done
# What ships is checked as it ships: stripped.
python3 tests/windows/check_imports.py --objdump i686-w64-mingw32-objdump --processor i686 \
        "${own[@]/#/$out/}" >/dev/null
python3 tests/windows/check_resources.py "$out/ORN_Launcher.exe" >/dev/null
(cd "$out" && md5sum "${own[@]}" > md5sums)
echo "$out (launcher for $host), $(du -cb "${own[@]/#/$out/}" | tail -n 1 | cut -f1) bytes; symbols in $symbols:"
(cd "$out" && cat md5sums)
