#!/usr/bin/env bash
# The deployer's and the player's story on one command, on this machine:
# the deployer makes a signing key and builds the launcher with its public
# half; Debian's nginx serves a web root on 127.0.0.1; orn-publish publishes
# release 1, signed; the launcher installs it into a fresh game directory;
# release 2 (a changed data file and a new launcher build) is published while
# a launcher waits behind the lock; then it updates itself and starts the
# stand-in client; a manifest changed on the server after signing is refused;
# a last run finds no updates. Exits 0 when the story went as told, 1
# otherwise. Cleans up after itself.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
bash scripts/install-deps.sh

port=$(python3 scripts/free_port.py)
work=$(mktemp -d /tmp/launcher-demo.XXXXXX)
# The deployer's record of signed serials stays with the story, not in the home directory.
export XDG_STATE_HOME=$work/state
echo "== building orn-publish"
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_BENCHMARKS=OFF \
      -DLAUNCHER_SERVER_HOST=127.0.0.1 -DLAUNCHER_SERVER_PORT="$port" -DLAUNCHER_LOCK_POLL_MS=1000 \
      -DLAUNCHER_RELEASE_KEYS= >/dev/null
cmake --build build-demo -j2 --target orn_publish >/dev/null
publish=$source_dir/build-demo/orn-publish
echo "== deployer: a signing key, kept outside the web root"
key=$work/keys/release.secret
mkdir -p "$work/keys"
public_key=$("$publish" keygen "$key")
echo "   public key: $public_key"
echo "== building the launcher for 127.0.0.1:$port (lock polled every second), trusting that key"
cmake -S . -B build-demo -DLAUNCHER_RELEASE_KEYS="$public_key" >/dev/null
cmake --build build-demo -j2 --target launcher >/dev/null
server_pid=
publisher_pid=
cleanup() {
  for pid in $publisher_pid $server_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
expect() {  # what the story says, and whether it held
  if eval "$2"; then echo "   ok: $1"; else echo "   NOT AS TOLD: $1"; failures=$((failures + 1)); fi
}

web=$work/web
channel=$web/~qel/ORN/windows/latest
python3 tests/nginx_server.py --port "$port" --root "$web" --seconds 600 &
server_pid=$!
for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done

# The deployer's release tree.
release=$work/release
mkdir -p "$release/libs"
cat > "$release/ORN_Client.exe" <<'CLIENT'
#!/bin/sh
echo "  [stand-in ORN client: started in $(pwd), now ending with status 0]"
exit 0
CLIENT
chmod +x "$release/ORN_Client.exe"
cp build-demo/ORN_Launcher.exe "$release/"
for library in physfs.dll sfml-network-2.dll sfml-system-2.dll; do
  printf '%s, release 1\n' "$library" > "$release/$library"   # stand-ins: this launcher is a Linux build
done
printf 'map and texture data, release 1\n' > "$release/data.pak"
printf 'engine library, release 1\n' > "$release/libs/engine.dll"

echo; echo "=== deployer: orn-publish release 1, signed"
"$publish" --sign "$key" --expires 30 "$release" "$channel"

# A player's fresh installation: the client, the launcher and its libraries, nothing else.
game=$work/game
mkdir -p "$game"
cp "$release/ORN_Client.exe" "$release/ORN_Launcher.exe" "$release"/*.dll "$game/"
run_launcher() {  # label: runs the player's launcher, shows its output
  echo; echo "=== player: $1"
  status=0
  (cd "$game" && ./ORN_Launcher.exe) > "$work/out" 2>&1 || status=$?
  cat "$work/out"
  echo "=== exit status $status"
}
run_launcher "first start, a fresh installation"
expect "the first start fetches release 1 and starts the client" \
  '[ $status -eq 0 ] && grep -qx "Updates found, retrieving updated files:" $work/out && cmp -s $game/libs/engine.dll $release/libs/engine.dll'

# Release 2: new data and a new launcher build, published while a player starts the game.
printf 'map and texture data, release 2\n' > "$release/data.pak"
printf '\n# launcher build 2\n' >> "$release/ORN_Launcher.exe"   # still runnable, but a new digest
echo; echo "=== deployer: orn-publish release 2, signed, holding the lock for 4 s"
"$publish" --hold-lock 4 --sign "$key" --expires 30 "$release" "$channel" > "$work/publish.out" 2>&1 &
publisher_pid=$!
for _ in $(seq 100); do [ -e "$channel/update.lock" ] && break; sleep 0.05; done
run_launcher "second start, while release 2 is being published"
wait "$publisher_pid" && publish_status=0 || publish_status=$?
publisher_pid=
cat "$work/publish.out"
expect "the launcher waited behind the lock" 'grep -q "^Server locked during update operation, waiting for lock to be released.$" $work/out'
expect "it updated itself to the published build and started the client" \
  '[ $status -eq 0 ] && [ $publish_status -eq 0 ] && cmp -s $game/ORN_Launcher.exe $release/ORN_Launcher.exe && cmp -s $game/data.pak $release/data.pak'

# A launcher with keys fetches the manifest by the name the signed release gives it, by-hash/<its SHA-256>.
listed=$channel/$(sed -n 's|^file \([0-9a-f]\{64\}\) [0-9]* \(by-hash/\1\)$|\2|p' "$channel/release")
echo; echo "=== someone on the way changes the manifest (${listed#"$channel/"}) to serve a file of their own"
[ -f "$listed" ] || { echo "   NOT AS TOLD: the signed release names no manifest under by-hash/" >&2; exit 1; }
cp "$listed" "$work/md5sums.published"
printf 'not the deployer'"'"'s data\n' > "$channel/forged.pak"
(cd "$channel" && md5sum forged.pak) >> "$listed"
run_launcher "third start, against the forged manifest"
expect "the launcher refuses the forged manifest, changes nothing and does not start the client" \
  '[ $status -eq 1 ] && grep -qx "The update'"'"'s file list does not match its signature, canceling launch." $work/out && [ ! -e $game/forged.pak ]'
cp "$work/md5sums.published" "$listed"
rm "$channel/forged.pak"

run_launcher "fourth start"
expect "the fourth start finds no updates and deletes the replaced launcher" \
  '[ $status -eq 0 ] && grep -qx "No updates found, starting ORN..." $work/out && [ ! -e $game/ORN_Launcher.exe.old ]'

echo
if [ "$failures" -eq 0 ]; then
  echo "The story went as told."
else
  echo "$failures step(s) of the story did not go as told." >&2
  exit 1
fi
