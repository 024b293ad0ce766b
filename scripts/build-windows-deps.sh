#!/usr/bin/env bash
# Cross-builds the launcher's three libraries for Windows with Debian's
# MinGW-w64 compilers, into ROOT/i686 (what ships) and ROOT/x86_64 (the fast
# test build under wine64):
#   - SFML's network and system modules from Debian's source package
#     (sfml-network-2.dll, sfml-system-2.dll);
#   - PhysFS (physfs.dll) from Debian's libphysfs source package when the
#     mirror serves it, else from the PhysFS tree inside Debian's love source
#     package, else from a PhysFS source tree that you name;
#   - libsodium from Debian's source package, as a static library that the
#     launcher links into ORN_Launcher.exe (no fourth DLL).
# The DLLs link their C and C++ runtimes statically: they import Windows
# system DLLs only. Configure a Windows build with
# -DLAUNCHER_WINDOWS_DEPS_PREFIX=ROOT/i686 (or ROOT/x86_64).
#
# usage: scripts/build-windows-deps.sh ROOT [PHYSFS_SOURCE_DIR]
# LAUNCHER_WINDOWS_ARCHES ("i686 x86_64" unless set) names the architectures
# built; each one's ROOT/ARCH/recipe says which recipe built it.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
mkdir -p "$1"
root=$(cd "$1" && pwd)
physfs_tree=${2:+$(cd "$2" && pwd)}
project=$PWD
recipe=3  # raise when what is built here changes

bash scripts/install-deps.sh --windows
source scripts/apt-helpers.sh

# apt-get source needs deb-src entries; add them beside the deb entries.
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -q '^Sources$'; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      as_root tee /etc/apt/sources.list.d/launcher-deb-src.sources >/dev/null
  fi
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | as_root tee /etc/apt/sources.list.d/launcher-deb-src.list >/dev/null
  fi
  # An index the mirror cannot serve whole (see install-deps.sh) need not stop
  # the source fetch: apt-get source fails below if what it needs is missing.
  retried as_root apt-get update -qq || echo "apt-get update failed; fetching sources from the indexes apt has" >&2
fi

work=$(mktemp -d /tmp/windows-deps.XXXXXX)
trap 'rm -rf "$work"' EXIT

fetch_source() {  # package: unpacks Debian's source package into $work, prints its folder
  # Not retried: a source package the mirror does not serve (libphysfs here) falls back at once.
  (cd "$work" && apt-get source -qq "$1" >/dev/null 2>&1) || return 1
  find "$work" -maxdepth 1 -type d -name "$2" | head -n 1
}

echo "== sources"
sfml=$(fetch_source libsfml 'libsfml-*') || { echo "SFML's source package could not be fetched from the package mirror." >&2; exit 4; }
echo "   SFML: Debian's source package ($(basename "$sfml"))"
sodium=$(fetch_source libsodium 'libsodium-*') || { echo "libsodium's source package could not be fetched from the package mirror." >&2; exit 4; }
echo "   libsodium: Debian's source package ($(basename "$sodium"))"
(cd "$sodium" && autoreconf -fi >"$work/sodium-autoreconf.log" 2>&1) || { cat "$work/sodium-autoreconf.log" >&2; exit 1; }
if [ -z "$physfs_tree" ]; then
  if physfs_tree=$(fetch_source libphysfs 'libphysfs-*') && [ -n "$physfs_tree" ]; then
    echo "   PhysFS: Debian's libphysfs source package"
  elif love=$(fetch_source love 'love-*') && [ -d "$love/src/libraries/physfs" ]; then
    physfs_tree=$love/src/libraries/physfs
    echo "   PhysFS: the tree in Debian's love source package ($(basename "$love"))"
  else
    echo "Neither libphysfs's nor love's source package could be fetched from the package mirror;" >&2
    echo "name a PhysFS source tree (2.1 or later) as the second argument." >&2
    exit 3
  fi
else
  echo "   PhysFS: $physfs_tree"
fi
# A release tree keeps its C files in src/; love's copy keeps them at its top.
physfs_src=$physfs_tree
[ -f "$physfs_src/physfs.c" ] || physfs_src=$physfs_tree/src
[ -f "$physfs_src/physfs.c" ] || { echo "no physfs.c in $physfs_tree" >&2; exit 3; }
# PhysFS 3.1's UTF-16 decoder drops the 0x10000 of a surrogate pair, so on
# Windows a listed name beyond the Basic Multilingual Plane ("😀.dat") is
# enumerated under another name and fetched on every start. The upstream fix,
# applied to a copy of the tree (the named tree is never changed).
if grep -q 'cp = (((cp - 0xD800) << 10) | (pair - 0xDC00));' "$physfs_src/physfs_unicode.c"; then
  cp -r "$physfs_src" "$work/physfs-src"
  physfs_src=$work/physfs-src
  sed -i 's/cp = (((cp - 0xD800) << 10) | (pair - 0xDC00));/cp = (((cp - 0xD800) << 10) | (pair - 0xDC00)) + 0x10000;/' \
    "$physfs_src/physfs_unicode.c"
  echo "   PhysFS: surrogate-pair decoding fixed"
fi

# The Debian source drops SFML's bundled binaries; its install step still names their folders.
mkdir -p "$sfml/extlibs/bin/x86" "$sfml/extlibs/bin/x64" "$sfml/extlibs/libs-mingw/x86" "$sfml/extlibs/libs-mingw/x64"

for arch in ${LAUNCHER_WINDOWS_ARCHES:-i686 x86_64}; do
  prefix=$root/$arch
  triplet=$arch-w64-mingw32
  echo "== $arch into $prefix"
  mkdir -p "$prefix/bin" "$prefix/lib" "$prefix/include"
  cmake -S "$sfml" -B "$work/sfml-$arch" -DCMAKE_TOOLCHAIN_FILE="$project/cmake/toolchain-$triplet.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DSFML_BUILD_WINDOW=OFF -DSFML_BUILD_GRAPHICS=OFF \
        -DSFML_BUILD_AUDIO=OFF -DSFML_BUILD_NETWORK=ON \
        -DCMAKE_SHARED_LINKER_FLAGS="-static-libgcc -static-libstdc++ -static" \
        -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$work/sfml-$arch" -j2 >/dev/null
  cmake --install "$work/sfml-$arch" >/dev/null

  # PhysFS's C files compile on their own; the launcher loads the library as physfs.dll.
  (cd "$physfs_src" && "$triplet-gcc" -O2 -shared -o "$prefix/bin/physfs.dll" \
      $(ls physfs*.c) -Wl,--out-implib,"$prefix/lib/libphysfs.dll.a" -static-libgcc -static 2>"$work/physfs-$arch.log") ||
    { cat "$work/physfs-$arch.log" >&2; exit 1; }
  cp "$physfs_src/physfs.h" "$prefix/include/"

  mkdir -p "$work/sodium-$arch"
  (cd "$work/sodium-$arch" && "$sodium/configure" --host="$triplet" --prefix="$prefix" --disable-shared --enable-static \
       --disable-dependency-tracking >"$work/sodium-$arch.log" 2>&1 && make -j2 >>"$work/sodium-$arch.log" 2>&1 &&
     make install >>"$work/sodium-$arch.log" 2>&1) || { tail -n 40 "$work/sodium-$arch.log" >&2; exit 1; }
  echo "   installed: $(cd "$prefix/bin" && ls ./*.dll | tr '\n' ' ')lib/libsodium.a"
  # What the Windows scripts compare, to rebuild libraries made by an older recipe.
  echo "$recipe" > "$prefix/recipe"
done
