#!/usr/bin/env bash
# Makes what a deployer uploads for Windows players: a folder with the
# launcher's four own files (ORN_Launcher.exe for the named update server,
# physfs.dll, sfml-network-2.dll, sfml-system-2.dll) and their md5sum listing,
# launcher-files.md5. Copy the folder's files into the release tree that
# orn-publish publishes. The four are stripped (every player downloads them);
# their debug symbols, for crash reports, go beside the folder, into
# OUTPUT_DIR.symbols/. With LAUNCHER_RELEASE_KEYS set in the environment, the
# launcher runs only releases signed with one of those keys; without, it
# says so loudly. i686 is what players run; x86_64 builds for 64-bit Windows.
#   scripts/make-windows-dist.sh [--arch i686|x86_64] SERVER_HOST [PORT] [OUTPUT_DIR]
#   (SERVER_HOST: one host, or several as 'host[:port];host[:port]...'; PORT: of a
#   host named without one, 80 unless given; OUTPUT_DIR: dist/windows-ARCH unless given)
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
arch=i686
if [ "${1:-}" = "--arch" ]; then
  arch=${2:-}
  shift 2 || usage
fi
[[ "$arch" == i686 || "$arch" == x86_64 ]] || usage
[ $# -ge 1 ] && [ $# -le 3 ] || usage
host=$1
port=0
out=dist/windows-$arch
if [[ "${2:-}" =~ ^[0-9]+$ ]]; then
  port=$2
  out=${3:-$out}
else
  [ $# -le 2 ] || usage
  out=${2:-$out}
fi
triplet=$arch-w64-mingw32
deps=${LAUNCHER_WINDOWS_DEPS_ROOT:-$PWD/build-windows/deps}
bash scripts/install-deps.sh --windows
[ "$(cat "$deps/$arch/recipe" 2>/dev/null)" = "$(sed -n 's/^recipe=\([0-9]*\).*/\1/p' scripts/build-windows-deps.sh)" ] ||
  LAUNCHER_WINDOWS_ARCHES=$arch bash scripts/build-windows-deps.sh "$deps"

build=build-windows/dist-$arch
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$triplet.cmake -DCMAKE_BUILD_TYPE=Release \
      -DLAUNCHER_WINDOWS_DEPS_PREFIX="$deps/$arch" -DLAUNCHER_SERVER_HOST="$host" -DLAUNCHER_SERVER_PORT="$port" \
      -DLAUNCHER_RELEASE_KEYS="${LAUNCHER_RELEASE_KEYS:-}" \
      -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j2 --target launcher >/dev/null

symbols=${out%/}.symbols
mkdir -p "$out" "$symbols"
own=(ORN_Launcher.exe physfs.dll sfml-network-2.dll sfml-system-2.dll)
for name in "${own[@]}"; do
  "$triplet-objcopy" --only-keep-debug "$build/$name" "$symbols/$name.debug"
  "$triplet-strip" --strip-unneeded -o "$out/$name" "$build/$name"
  # Only the symbol file's name and checksum go in: a debugger finds it beside the executable or in its search path.
  "$triplet-objcopy" --add-gnu-debuglink="$symbols/$name.debug" "$out/$name"
done
# What ships is checked as it ships: stripped.
python3 tests/windows/check_imports.py --objdump "$triplet-objdump" --processor "$arch" \
        "${own[@]/#/$out/}" >/dev/null
python3 tests/windows/check_resources.py "$out/ORN_Launcher.exe" >/dev/null
rm -f "$out/md5sums"  # an earlier version's listing, under the name the channel keeps for its own
(cd "$out" && md5sum "${own[@]}" > launcher-files.md5)
shown_port=$([ "$port" = 0 ] && echo "" || echo ":$port")
echo "$out ($arch launcher for $host$shown_port), $(du -cb "${own[@]/#/$out/}" | tail -n 1 | cut -f1) bytes; symbols in $symbols:"
(cd "$out" && cat launcher-files.md5)
if [ -z "${LAUNCHER_RELEASE_KEYS:-}" ]; then
  echo "WARNING: no release keys built in: this launcher runs whatever a server on its players' path serves, signed" \
       "or not. Build with LAUNCHER_RELEASE_KEYS=KEYID:BASE64 (orn-publish keygen prints it) to run only signed" \
       "releases." >&2
fi
