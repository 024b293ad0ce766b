#!/usr/bin/env bash
# Makes what a deployer uploads for Windows players: a folder with the
# launcher's four own files (ORN_Launcher.exe for the named update server,
# physfs.dll, sfml-network-2.dll, sfml-system-2.dll) and their md5sum listing,
# launcher-files.md5, and on request the players' installer beside it.
# Copy the folder's files into the release tree that orn-publish publishes.
usage_text() {
  cat <<'EOF'
usage: scripts/make-windows-dist.sh [OPTIONS] SERVER_HOST [PORT] [OUTPUT_DIR]
       scripts/make-windows-dist.sh --help

SERVER_HOST   one host, or several as 'host[:port];host[:port]...'
PORT          of a host named without one; 80 unless given
OUTPUT_DIR    dist/windows-ARCH unless given; debug symbols go to OUTPUT_DIR.symbols/

options:
  --arch i686|x86_64          i686 (default) is what players run; x86_64 builds for 64-bit Windows
  --installer                 also build the players' installer, OUTPUT_DIR.installer/GAME-Setup.exe
  --channel NAME              the channel the installer's shortcuts start the launcher on (default: none,
                              the launcher's own, latest)
  --game NAME                 the game's name: its folder, shortcuts and uninstall entry (default: ORN)
  --game-publisher NAME       the publisher the uninstall entry names (default: ORN)
  --game-version VERSION      the version the uninstall entry names (default: the launcher's, 0.0.0.1)
  --icon FILE.ico             the installer's, the uninstaller's and the shortcuts' icon (default: the launcher's)
  --pkcs12 FILE               sign with this PKCS#12 certificate and key (Authenticode) ...
  --password-file FILE        ... whose password is this file's first line
  --key FILE.pem              or sign with this PEM key ...
  --cert FILE.pem             ... and this PEM certificate (chain)
  --timestamp-url URL         have the signatures timestamped by this RFC 3161 server
  --help                      this text

With LAUNCHER_RELEASE_KEYS=KEYID:BASE64[;...] in the environment, the launcher
runs only releases signed with one of those keys; without, it says so on a
WARNING line. Without a certificate the files are left unsigned, also said on
a WARNING line.
exit status: 0 built; 2 a refused argument; 1 the build failed
EOF
}
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/dist-options.sh
source scripts/dist-signing.sh
source scripts/dist-installer.sh
parse_dist_options "$@"

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
# A run that fails halfway leaves no listing that passes for a whole folder.
rm -f "$out/launcher-files.md5" "$out/md5sums"  # md5sums: an earlier version's, the name the channel keeps for its own
own=(ORN_Launcher.exe physfs.dll sfml-network-2.dll sfml-system-2.dll)
for name in "${own[@]}"; do
  "$triplet-objcopy" --only-keep-debug "$build/$name" "$symbols/$name.debug"
  "$triplet-strip" --strip-unneeded -o "$out/$name" "$build/$name"
  # Only the symbol file's name and checksum go in: a debugger finds it beside the executable or in its search path.
  "$triplet-objcopy" --add-gnu-debuglink="$symbols/$name.debug" "$out/$name"
  # Signed before the listing: players' launchers compare the signed bytes.
  sign_file "$out/$name" "$game"
done
# What ships is checked as it ships: stripped and signed.
python3 tests/windows/check_imports.py --objdump "$triplet-objdump" --processor "$arch" \
        "${own[@]/#/$out/}" >/dev/null
python3 tests/windows/check_resources.py "$out/ORN_Launcher.exe" >/dev/null
(cd "$out" && md5sum "${own[@]}" > launcher-files.md5)
shown_port=$([ "$port" = 0 ] && echo "" || echo ":$port")
echo "$out ($arch launcher for $host$shown_port), $(du -cb "${own[@]/#/$out/}" | tail -n 1 | cut -f1) bytes; symbols in $symbols:"
(cd "$out" && cat launcher-files.md5)
if $installer; then
  setup=$(build_installer "$out" "$build")
  sign_file "$setup" "$game setup"
  echo "installer: $setup ($(stat -c %s "$setup") bytes)"
fi
if [ -z "${LAUNCHER_RELEASE_KEYS:-}" ]; then
  echo "WARNING: no release keys built in: this launcher runs whatever a server on its players' path serves, signed" \
       "or not. Build with LAUNCHER_RELEASE_KEYS=KEYID:BASE64 (orn-publish keygen prints it) to run only signed" \
       "releases." >&2
fi
if [ "$signing" = none ]; then
  echo "WARNING: no code-signing certificate given: the launcher, its DLLs and the installer are unsigned, and" \
       "Windows warns players before running them (SmartScreen) and antivirus programs suspect them. Give" \
       "--pkcs12 FILE --password-file FILE, or --key FILE.pem --cert FILE.pem." >&2
fi
