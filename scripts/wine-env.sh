# Sourced by the Windows scripts: one 64-bit Wine prefix serves both builds
# (x86_64 programs through wine64, i686 ones through wine's 32-bit loader, as
# 64-bit Windows runs 32-bit programs), with one wineserver for the whole run.
#   start_wine PREFIX     false, with $wine_problem set, when Wine cannot start
#   wine_runs i686|x86_64     false, with $wine_problem set, where 32-bit programs cannot run
#   stop_wine

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
wine_problem=
wine32_problem=

# wine32 is a 32-bit Linux program. Where the kernel runs no 32-bit code,
# qemu-i386-static runs it, registered through binfmt_misc (needs root).
enable_32bit_programs() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    return 0
  fi
  echo "32-bit programs do not run natively on this kernel: running them through qemu-i386-static."
  if [ "$(id -u)" -ne 0 ]; then
    wine32_problem="32-bit programs do not run here, and registering qemu-i386-static with binfmt_misc needs root"
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
    wine32_problem="wine32 does not start even through qemu-i386-static: $(/usr/lib/wine/wine --version 2>&1 | head -n 1)"
    return 1
  fi
}

start_wine() {
  export WINEPREFIX=$1
  mkdir -p "$WINEPREFIX"
  # Before the prefix is made, so that it gets its 32-bit part too.
  enable_32bit_programs || true
  # The 64-bit wineserver serves both word sizes, and never runs under emulation.
  export WINESERVER=/usr/lib/wine/wineserver64
  local start=$SECONDS
  "$WINESERVER" -p
  if ! timeout 1200 /usr/lib/wine/wine64 cmd /c exit 0 >/dev/null 2>&1; then
    wine_problem="Wine (wine64) could not start a Windows program in $WINEPREFIX"
    return 1
  fi
  echo "   Wine ready in $((SECONDS - start)) s ($WINEPREFIX)"
}

# Each build's tests name their loader (wine or wine64) through the toolchain file.
wine_runs() {
  if [ "$1" = i686 ] && [ -n "$wine32_problem" ]; then
    wine_problem=$wine32_problem
    return 1
  fi
}

stop_wine() {
  "$WINESERVER" -k 2>/dev/null || true
}
