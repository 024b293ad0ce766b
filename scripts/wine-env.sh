# Sourced by the Windows scripts: starts Wine for one word size with a prefix
# of its own and one wineserver kept alive for the whole run.
#   start_wine i686|x86_64 PREFIX   false, with $wine_problem set, when it cannot
#   stop_wine

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_problem=

# wine32 is a 32-bit Linux program. Where the kernel runs no 32-bit code,
# qemu-i386-static runs it, registered through binfmt_misc (needs root).
enable_32bit_programs() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    return 0
  fi
  echo "32-bit programs do not run natively on this kernel: running them through qemu-i386-static."
  if [ "$(id -u)" -ne 0 ]; then
    wine_problem="32-bit programs do not run here, and registering qemu-i386-static with binfmt_misc needs root"
    return 1
  fi
  local misc=/proc/sys/fs/binfmt_misc
  [ -e "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc"
  if [ ! -e "$misc/qemu-i386" ]; then
    # i386 ELF executables (e_machine 3), interpreter opened at registration (F).
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      > "$misc/register"
  fi
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    wine_problem="wine32 does not start even through qemu-i386-static: $(/usr/lib/wine/wine --version 2>&1 | head -n 1)"
    return 1
  fi
}

start_wine() {
  local arch=$1
  export WINEPREFIX=$2
  case "$arch" in
    i686) enable_32bit_programs || return 1; export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine ;;
    x86_64) export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 ;;
  esac
  mkdir -p "$WINEPREFIX"
  # The 64-bit wineserver serves both word sizes, and never runs under emulation.
  wineserver_program=/usr/lib/wine/wineserver64
  [ -x "$wineserver_program" ] || wineserver_program=/usr/lib/wine/wineserver32
  export WINESERVER=$wineserver_program
  local start=$SECONDS
  # Keep one wineserver for the whole run: each new one costs a start-up.
  "$wineserver_program" -p
  if ! timeout 900 "$WINELOADER" cmd /c exit 0 >/dev/null 2>&1; then
    wine_problem="Wine ($WINELOADER) could not start a Windows program in $WINEPREFIX"
    return 1
  fi
  echo "   Wine $arch ready in $((SECONDS - start)) s ($WINEPREFIX)"
}

stop_wine() {
  "$wineserver_program" -k 2>/dev/null || true
}
