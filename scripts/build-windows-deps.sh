#!/usr/bin/env bash
# Cross-builds the launcher's libraries for 32-bit Windows into PREFIX, with
# the project's MinGW-w64 toolchain:
#   - SFML's network and system modules from Debian's source package
#     (sfml-network-2.dll, sfml-system-2.dll);
#   - PhysFS from Debian's source package when the mirror serves it, or from
#     a PhysFS source tree that you name (physfs.dll).
# Then configure the Windows build with -DLAUNCHER_WINDOWS_DEPS_PREFIX=PREFIX.
# Exit status 3: SFML was built but PhysFS could not be had; 4: SFML's
# source could not be fetched.
#
# usage: scripts/build-windows-deps.sh PREFIX [PHYSFS_SOURCE_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
mkdir -p "$1"
prefix=$(cd "$1" && pwd)
physfs_source=${2:+$(cd "$2" && pwd)}
toolchain=$PWD/cmake/toolchain-i686-w64-mingw32.cmake

bash scripts/install-deps.sh --windows
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# apt-get source needs deb-src entries; add them beside the deb entries.
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -q '^Sources$'; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      as_root tee /etc/apt/sources.list.d/launcher-deb-src.sources >/dev/null
  fi
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | as_root tee /etc/apt/sources.list.d/launcher-deb-src.list >/dev/null
  fi
  as_root apt-get update -qq
fi

work=$(mktemp -d /tmp/windows-deps.XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "== SFML (network, system) from Debian's source package"
if ! (cd "$work" && apt-get source -qq libsfml >/dev/null); then
  echo "   SFML's source package could not be fetched from the package mirror."
  exit 4
fi
sfml=$(find "$work" -maxdepth 1 -type d -name 'libsfml-*' | head -n 1)
# The Debian source drops SFML's bundled binaries; its install step still names their folders.
mkdir -p "$sfml/extlibs/bin/x86" "$sfml/extlibs/libs-mingw/x86"
cmake -S "$sfml" -B "$work/sfml-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DBUILD_SHARED_LIBS=ON -DSFML_BUILD_WINDOW=OFF -DSFML_BUILD_GRAPHICS=OFF -DSFML_BUILD_AUDIO=OFF \
      -DSFML_BUILD_NETWORK=ON -DCMAKE_SHARED_LINKER_FLAGS="-static-libgcc -static-libstdc++ -static" \
      -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$work/sfml-build" -j2 >/dev/null
cmake --install "$work/sfml-build" >/dev/null
echo "   installed: $(cd "$prefix/bin" && ls sfml-*.dll | tr '\n' ' ')"

echo "== PhysFS"
if [ -z "$physfs_source" ]; then
  if (cd "$work" && apt-get source -qq libphysfs >/dev/null 2>&1); then
    physfs_source=$(find "$work" -maxdepth 1 -type d -name 'libphysfs-*' | head -n 1)
  else
    echo "   PhysFS's source package could not be fetched from the package mirror."
    echo "   Name a PhysFS source tree (2.1 or later) as the second argument to build it;"
    echo "   until then LAUNCHER_WINDOWS_DEPS_PREFIX=$prefix lacks PhysFS and ORN_Launcher.exe is not built."
    exit 3
  fi
fi
cmake -S "$physfs_source" -B "$work/physfs-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DPHYSFS_BUILD_STATIC=OFF -DPHYSFS_BUILD_TEST=OFF -DPHYSFS_BUILD_DOCS=OFF \
      -DCMAKE_SHARED_LINKER_FLAGS="-static-libgcc -static" -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$work/physfs-build" -j2 >/dev/null
cmake --install "$work/physfs-build" >/dev/null
# The launcher ships its file-system library as physfs.dll.
if [ -f "$prefix/bin/libphysfs.dll" ] && [ ! -f "$prefix/bin/physfs.dll" ]; then
  echo "   note: PhysFS built as libphysfs.dll; the launcher then loads that name, not physfs.dll."
fi
echo "   installed: $(cd "$prefix/bin" && ls ./*physfs*.dll | tr '\n' ' ')"
