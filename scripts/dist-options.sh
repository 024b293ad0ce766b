# Sourced by make-windows-dist.sh: its command line, read into shell variables
# (arch, host, port, out, installer, channel, game, game_publisher,
# game_version, icon, signing, pkcs12, password_file, key, cert, timestamp_url).
# A refused argument is named on one line on standard error, with status 2.

refuse() {
  echo "make-windows-dist.sh: $1 (see scripts/make-windows-dist.sh --help)" >&2
  exit 2
}

# Text that goes into the installer's script and Windows' names: no quotes,
# no NSIS variables, no control characters.
check_text() {
  local option=$1 value=$2
  [ -n "$value" ] || refuse "$option: needs a value that is not empty"
  [[ "$value" != *[\"\$\`]* && ! "$value" =~ [[:cntrl:]] ]] ||
    refuse "$option: '$value' holds a quote, \$, \` or a control character"
}

check_choices() {
  case "$arch" in i686 | x86_64) ;; *) refuse "--arch: '$arch' is neither i686 nor x86_64" ;; esac
  check_text --game "$game"
  # The game's name is the installed folder's: Windows refuses these in a file name.
  [[ "$game" != *[\\/:*?\<\>\|]* && "$game" != *[.\ ] && "$game" != [.\ ]* ]] ||
    refuse "--game: '$game' cannot name a Windows folder"
  check_text --game-publisher "$game_publisher"
  [[ "$game_version" =~ ^[0-9A-Za-z][0-9A-Za-z.+-]*$ ]] || refuse "--game-version: '$game_version' is not a version"
  [ -z "$channel" ] || [[ "$channel" =~ ^[A-Za-z0-9_][A-Za-z0-9._-]*$ ]] ||
    refuse "--channel: '$channel' is not a channel name (letters, digits, '.', '_', '-', not first '-' or '.')"
  [ -z "$icon" ] || [ -f "$icon" ] || refuse "--icon: '$icon' is not a file"
  [ -z "$icon" ] || $installer || refuse "--icon: only the installer has an icon to set: give --installer too"
  [ -z "$channel" ] || $installer || refuse "--channel: only the installer's shortcuts name one: give --installer too"
  check_signing_choices
}

check_signing_choices() {
  local option
  for option in pkcs12 password_file key cert; do
    [ -z "${!option}" ] || [ -f "${!option}" ] || refuse "--${option//_/-}: '${!option}' is not a file"
  done
  signing=none
  if [ -n "$pkcs12" ]; then
    [ -z "$key$cert" ] || refuse "--pkcs12: give either --pkcs12 or --key and --cert, not both"
    signing=pkcs12
  elif [ -n "$key$cert" ]; then
    [ -n "$key" ] && [ -n "$cert" ] || refuse "--key and --cert: give both"
    signing=pem
  fi
  [ -z "$password_file" ] || [ "$signing" != none ] || refuse "--password-file: a password for no certificate"
  [ -z "$timestamp_url" ] || [ "$signing" != none ] || refuse "--timestamp-url: there is nothing to sign"
  [ -z "$timestamp_url" ] || [[ "$timestamp_url" =~ ^https?://[^[:space:]]+$ ]] ||
    refuse "--timestamp-url: '$timestamp_url' is not an http:// or https:// URL"
}

# The positional form of older deployers' scripts: HOST [PORT] [OUTPUT_DIR].
take_positionals() {
  [ $# -ge 1 ] || refuse "the update server's host is missing"
  [ $# -le 3 ] || refuse "'${4}': one argument too many"
  host=$1
  [ -n "$host" ] || refuse "SERVER_HOST: needs a value that is not empty"
  if [[ "${2:-}" =~ ^[0-9]+$ ]]; then
    port=$2
    [ "$port" -ge 1 ] && [ "$port" -le 65535 ] || refuse "PORT: '$port' is outside 1 to 65535"
    out=${3:-$out}
  else
    [ $# -le 2 ] || refuse "PORT: '$2' is not a port number"
    out=${2:-$out}
  fi
}

parse_dist_options() {
  arch=i686 installer=false channel='' game=ORN game_publisher=ORN icon='' timestamp_url=''
  game_version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  pkcs12='' password_file='' key='' cert='' port=0
  local positionals=() option
  while [ $# -gt 0 ]; do
    option=$1
    case "$option" in
      --help | -h) usage_text; exit 0 ;;
      --installer) installer=true; shift; continue ;;
      --) shift; positionals+=("$@"); break ;;
      --arch | --channel | --game | --game-publisher | --game-version | --icon | --pkcs12 | --password-file | --key | \
        --cert | --timestamp-url)
        [ $# -ge 2 ] || refuse "$option: needs a value"
        local variable=${option#--}
        printf -v "${variable//-/_}" '%s' "$2"
        shift 2 ;;
      -*) refuse "$option: no such option" ;;
      *) positionals+=("$1"); shift ;;
    esac
  done
  out=dist/windows-$arch
  take_positionals "${positionals[@]}"
  check_choices
}
