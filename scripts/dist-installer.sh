# Sourced by make-windows-dist.sh: the players' installer, built by Debian's
# NSIS from scripts/windows-installer.nsi around the dist folder's four files.
#   build_installer DIST_DIR BUILD_DIR   prints the installer's path

build_installer() {
  local dist=$1 build=$2
  local folder=${dist%/}.installer
  local setup=$folder/$game-Setup.exe
  mkdir -p "$folder"
  rm -f "$setup"
  local said
  # Windows programs: the 64-bit launcher asks for the 64-bit Program Files in the per-machine mode.
  if ! said=$(makensis -V2 -INPUTCHARSET UTF8 -DDIST_DIR="$(realpath "$dist")" -DOUT_FILE="$(realpath "$setup")" \
    -DGAME_NAME="$game" -DGAME_PUBLISHER="$game_publisher" -DGAME_VERSION="$game_version" \
    -DGAME_ICON="$(realpath "${icon:-$build/resources/launcher.ico}")" -DCHANNEL="$channel" \
    -DARCH="$arch" scripts/windows-installer.nsi 2>&1); then
    echo "make-windows-dist.sh: makensis failed: $said" >&2
    rm -f "$setup"
    exit 1
  fi
  echo "$setup"
}
