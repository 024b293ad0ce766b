#!/usr/bin/env bash
# Installs what building and testing the launcher needs, from Debian's packages.
#   scripts/install-deps.sh            native build, tests and benchmarks
#   scripts/install-deps.sh --windows  also the 32-bit Windows cross toolchain, Wine, dpkg-dev, and NSIS,
#                                      osslsigncode and openssl for the installer and its signatures
#   scripts/install-deps.sh --fuzz     also clang and its libFuzzer and sanitizer runtimes
#   scripts/install-deps.sh --delta-peers  also zsync, casync and zchunk, for the benchmark against them
#   scripts/install-deps.sh --bench  also rsync and aria2, for the many-files benchmark beside them
set -euo pipefail

packages=(cmake make g++ pkg-config clang-format libphysfs-dev libsfml-dev libsodium-dev zlib1g-dev libgtest-dev
          googletest libbenchmark-dev libssl-dev python3 curl coreutils time nginx-light lighttpd apache2 varnish
          tinyproxy strace rsync dpkg-dev)
with_windows=false
for argument in "$@"; do
  case "$argument" in
    --windows) with_windows=true ;;
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    --delta-peers) packages+=(zsync casync zchunk) ;;
    --bench) packages+=(rsync aria2) ;;
    *) echo "unknown option: $argument" >&2; exit 2 ;;
  esac
done
if $with_windows; then
  # dpkg-dev unpacks the SFML and libsodium source packages that are cross-built
  # for Windows; autoconf, automake and libtool regenerate libsodium's build files.
  # qemu-user-static runs wine32 where the kernel runs no 32-bit code itself.
  # nsis builds the players' installer, osslsigncode signs it and the launcher's files (Authenticode),
  # openssl makes the tests' throwaway certificate.
  packages+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
            wine wine32 wine64 qemu-user-static dpkg-dev autoconf automake libtool nsis osslsigncode openssl)
fi

source "$(dirname "$0")/apt-helpers.sh"

if $with_windows && ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  need_update=true
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

install_options=()
if [ ${#missing[@]} -gt 0 ] || [ "${need_update:-false}" = true ]; then
  if ! retried as_root apt-get update -qq; then
    # Seen with a mirror whose security index for i386 stayed inconsistent for
    # days: the packages are installed from the indexes apt has, the release's
    # own preferred, so that both architectures of a library get one version.
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "install-deps: apt-get update failed even when tried again; installing from the indexes apt has," \
         "preferring $release's own packages over its updates" >&2
    install_options=(-o "APT::Default-Release=$release")
  fi
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  # nginx-light, lighttpd and apache2 would each start a system server on port
  # 80 when installed, and all but the first would fail their installation; varnish would start
  # varnishd on every address at port 6081, and varnishncsa beside it. The
  # tests start their own on loopback. Where the machine has no policy of its
  # own, service starts are refused for the length of the install.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | as_root tee "$policy" >/dev/null
    as_root chmod 755 "$policy"
    trap 'as_root rm -f "$policy"' EXIT
  fi
  retried as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${install_options[@]}" "${missing[@]}"
  # A machine whose own policy lets services start: stop what this install
  # started (an init script's status is no guide: varnishncsa's says 0 when off).
  services=()
  for package in "${missing[@]}"; do
    case "$package" in
      nginx-light) services+=(nginx:/usr/sbin/nginx) ;;
      lighttpd) services+=(lighttpd:/usr/sbin/lighttpd) ;;
      apache2) services+=(apache2:/usr/sbin/apache2) ;;
      varnish) services+=(varnishncsa:/usr/bin/varnishncsa varnish:/usr/sbin/varnishd) ;;
    esac
  done
  for entry in "${services[@]}"; do
    service=${entry%%:*}
    if [ -x "/etc/init.d/$service" ] && pidof "${entry#*:}" >/dev/null; then
      echo "Stopping the $service service that its installation started"
      as_root "/etc/init.d/$service" stop >/dev/null || true
    fi
  done
fi
