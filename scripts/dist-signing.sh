# Sourced by make-windows-dist.sh: Authenticode signatures with Debian's
# osslsigncode, from the certificate that dist-options.sh took.
#   sign_file FILE DESCRIPTION   signs FILE in place (nothing when no certificate was given)

sign_file() {
  local file=$1 description=$2 credentials=()
  case "$signing" in
    none) return 0 ;;
    pkcs12) credentials=(-pkcs12 "$pkcs12") ;;
    pem) credentials=(-certs "$cert" -key "$key") ;;
  esac
  [ -z "$password_file" ] || credentials+=(-readpass "$password_file")
  [ -z "$timestamp_url" ] || credentials+=(-ts "$timestamp_url")
  # Into a copy first: a signature that fails leaves no half-signed file under the name that ships.
  rm -f "$file.signed"
  local said
  if ! said=$(osslsigncode sign "${credentials[@]}" -h sha256 -n "$description" -in "$file" -out "$file.signed" 2>&1)
  then
    echo "make-windows-dist.sh: signing $file failed: $said" >&2
    rm -f "$file.signed"
    exit 1
  fi
  mv "$file.signed" "$file"
}
