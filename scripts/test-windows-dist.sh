#!/usr/bin/env bash
# What a deployer uploads and a player installs, checked inside the Windows run
# (scripts/test-windows.sh, with its Wine prefix and server): the i686 dist
# without keys or certificate says so; signed with a throwaway code-signing
# certificate, every signed file verifies and a changed one does not; the
# installer installs silently under wine32, the launcher started as its
# shortcut names installs the game from nginx, and the silent uninstall leaves
# only the player's files.
#   scripts/test-windows-dist.sh    (after the i686 build of scripts/test-windows.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
work=build-windows/dist-check.work
rm -rf "$work"
mkdir -p "$work"
port=$(python3 scripts/free_port.py)
# Built for the test's nginx; the unsigned build first: it must say what it lacks.
LAUNCHER_RELEASE_KEYS= bash scripts/make-windows-dist.sh 127.0.0.1 "$port" build-windows/dist-check \
  2> "$work/unsigned.err" || { cat "$work/unsigned.err" >&2; exit 1; }
for warning in "no release keys" "no code-signing certificate"; do
  grep -q "^WARNING: $warning" "$work/unsigned.err" ||
    { cat "$work/unsigned.err" >&2; echo "make-windows-dist.sh built without $warning and did not say so" >&2; exit 1; }
done
(cd build-windows/dist-check && md5sum --check --strict --quiet launcher-files.md5)

# A throwaway CA and a code-signing certificate it issued, as PKCS#12 and as PEM.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway test CA" -keyout "$work/ca.key" \
  -out "$work/ca.pem" -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Throwaway test studio" -keyout "$work/signer.key" \
  -out "$work/signer.csr" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > "$work/signer.ext"
openssl x509 -req -in "$work/signer.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial -days 2 \
  -extfile "$work/signer.ext" -out "$work/signer.pem" 2>/dev/null
echo "throwaway $port" > "$work/password"
openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" -out "$work/signer.p12" \
  -passout "file:$work/password"

LAUNCHER_RELEASE_KEYS= bash scripts/make-windows-dist.sh --installer --channel beta --pkcs12 "$work/signer.p12" \
  --password-file "$work/password" 127.0.0.1 "$port" build-windows/dist-signed 2> "$work/signed.err" ||
  { cat "$work/signed.err" >&2; exit 1; }
! grep -q "^WARNING: no code-signing" "$work/signed.err" || { echo "a signed dist warned it was unsigned" >&2; exit 1; }
(cd build-windows/dist-signed && md5sum --check --strict --quiet launcher-files.md5)
setup=build-windows/dist-signed.installer/ORN-Setup.exe
# The PEM form signs through the same function, here a copy.
cp build-windows/dist-check/physfs.dll "$work/pem-signed.dll"
(source scripts/dist-signing.sh && signing=pem key=$work/signer.key cert=$work/signer.pem password_file= \
  timestamp_url= && sign_file "$work/pem-signed.dll" "PEM check")
for file in build-windows/dist-signed/{ORN_Launcher.exe,physfs.dll,sfml-network-2.dll,sfml-system-2.dll} \
  "$setup" "$work/pem-signed.dll"; do
  osslsigncode verify -CAfile "$work/ca.pem" -in "$file" > "$work/verify.log" 2>&1 ||
    { cat "$work/verify.log" >&2; echo "$file: its Authenticode signature does not verify" >&2; exit 1; }
done
# The check must be able to fail: one byte changed after signing.
cp build-windows/dist-signed/physfs.dll "$work/changed.dll"
printf 'X' | dd of="$work/changed.dll" bs=1 seek=4096 conv=notrunc status=none
if osslsigncode verify -CAfile "$work/ca.pem" -in "$work/changed.dll" > "$work/verify.log" 2>&1; then
  echo "osslsigncode verify passed a file changed after signing" >&2
  exit 1
fi
echo "   signed: the launcher, its three DLLs and the installer verify (the uninstaller once installed); a changed" \
     "file does not"

start=$SECONDS
# No menu entries or file associations on the machine running the test.
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" python3 tests/windows/installer_test.py \
  --wine /usr/lib/wine/wine --setup "$setup" --dist build-windows/dist-signed \
  --client build-windows/i686/tests/windows/fake_client.exe --publisher build/orn-publish --port "$port" --channel beta \
  --ca "$work/ca.pem"
echo "   the installer's round trip took $((SECONDS - start)) s"
