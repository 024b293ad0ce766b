# Sourced by make-windows-dist.sh: the players' installer, built by Debian's
# NSIS from scripts/windows-installer.nsi around the dist folder's four files.
#   build_installer DIST_DIR BUILD_DIR   prints the installer's path

build_installer() {
  local dist=$1 build=$2
  local folder=${dist%/}.installer
  local setup=$folder/$game-Setup.exe
  mkdir -p "$folder"
  rm -f "$setup"
  local said signing_define=()
  [ "$signing" = none ] || signing_define=(-DSIGN_UNINSTALLER="bash \"$(uninstaller_signing_script "$build")\"")
  # ARCH: the 64-bit launcher's per-machine mode installs under the 64-bit Program Files.
  if ! said=$(makensis -V2 -INPUTCHARSET UTF8 -DDIST_DIR="$(realpath "$dist")" -DOUT_FILE="$(realpath "$setup")" \
    -DGAME_NAME="$game" -DGAME_PUBLISHER="$game_publisher" -DGAME_VERSION="$game_version" \
    -DGAME_ICON="$(realpath "${icon:-$build/resources/launcher.ico}")" -DCHANNEL="$channel" \
    -DARCH="$arch" "${signing_define[@]}" scripts/windows-installer.nsi 2>&1); then
    echo "make-windows-dist.sh: makensis failed: $said" >&2
    rm -f "$setup"
    exit 1
  fi
  echo "$setup"
}

# The uninstaller is made inside makensis, which signs it through this script before packing it.
uninstaller_signing_script() {
  local script
  script=$(realpath "$1")/sign-uninstaller.sh
  {
    echo "set -euo pipefail"
    printf 'cd %q\nsource scripts/dist-signing.sh\n' "$PWD"
    printf 'signing=%q pkcs12=%q password_file=%q key=%q cert=%q timestamp_url=%q\n' "$signing" "$(abs "$pkcs12")" \
      "$(abs "$password_file")" "$(abs "$key")" "$(abs "$cert")" "$timestamp_url"
    printf 'sign_file "$1" %q\n' "$game uninstaller"
  } > "$script"
  echo "$script"
}

abs() { [ -z "$1" ] || realpath "$1"; }
