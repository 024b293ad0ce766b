#!/usr/bin/env bash
# The launcher's main job, end to end on this machine: builds a launcher for a
# local update server on loopback, publishes a sample channel (manifest
# written by md5sum), and runs the launcher twice in a sample game directory
# with a stand-in client. The first run updates files and replaces the
# launcher itself; the second finds no updates. Cleans up after itself.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
bash scripts/install-deps.sh

port=$(python3 scripts/free_port.py)
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_BENCHMARKS=OFF \
      -DLAUNCHER_SERVER_HOST=127.0.0.1 -DLAUNCHER_SERVER_PORT="$port" >/dev/null
cmake --build build-demo -j2 --target launcher >/dev/null

work=$(mktemp -d /tmp/launcher-demo.XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The update server's channel "latest".
channel="$work/server/~qel/ORN/windows/latest"
mkdir -p "$channel/libs"
cat > "$channel/ORN_Client.exe" <<'CLIENT'
#!/bin/sh
echo "  [stand-in ORN client: started, now ending with status 0]"
exit 0
CLIENT
cp build-demo/ORN_Launcher.exe "$channel/ORN_Launcher.exe"
printf '\n# launcher build 2\n' >> "$channel/ORN_Launcher.exe"   # still runnable, but a new digest
printf 'network library, version 2\n' > "$channel/sfml-network-2.dll"
printf 'map and texture data, version 2\n' > "$channel/data.pak"
printf 'engine library, version 2\n' > "$channel/libs/engine.dll"
(cd "$channel" && md5sum ORN_Client.exe ORN_Launcher.exe sfml-network-2.dll data.pak libs/engine.dll > md5sums)

# The player's game directory, one release behind.
game="$work/game"
mkdir -p "$game/libs"
cp "$channel/ORN_Client.exe" "$game/"
cp build-demo/ORN_Launcher.exe "$game/"
chmod +x "$game/ORN_Client.exe" "$game/ORN_Launcher.exe"
printf 'network library, version 1\n' > "$game/sfml-network-2.dll"
printf 'map and texture data, version 1\n' > "$game/data.pak"

python3 "$source_dir/tests/scripted_server.py" --port "$port" --directory "$work/server" --seconds 120 &
server_pid=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  sleep 0.1
done

cd "$game"
for run in first second; do
  echo "=== $run run of ORN_Launcher.exe (server 127.0.0.1:$port) ==="
  status=0
  ./ORN_Launcher.exe || status=$?
  echo "=== exit status $status; game directory now holds:"
  find . -type f | sort | sed 's/^\.\//    /'
done
if cmp -s "$game/ORN_Launcher.exe" "$channel/ORN_Launcher.exe"; then
  echo "The launcher replaced itself with the published build."
fi
