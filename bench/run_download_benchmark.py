#!/usr/bin/env python3
"""Download benchmark: one 256 MiB file from a loopback server, fetched three
ways in the same run: by the launcher (its whole run: handshake, scan,
download, write, hand-over to a stand-in client), by a bare sf::Http request
that writes the body once (the HTTP client's own floor), and by curl for
reference. Prints wall time and peak resident memory of each, best of three.

usage: run_download_benchmark.py BUILD_DIR
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from scripted_server import Reply, ScriptedServer  # noqa: E402

MIB = 1 << 20
SIZE = 256 * MIB
LATEST = "/~qel/ORN/windows/latest/"


def timed(command, cwd):
    start = time.monotonic()
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", os.path.join(cwd, ".peak")] + command,
                            cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.monotonic() - start
    with open(os.path.join(cwd, ".peak")) as peak:
        kib = int(peak.read().split()[-1])
    return elapsed, kib, result.returncode


def main():
    build = os.path.abspath(sys.argv[1])
    port = int(re.search(r"^LAUNCHER_TEST_PORT:STRING=(\d+)$",
                         open(os.path.join(build, "CMakeCache.txt")).read(), re.M).group(1))
    work = tempfile.mkdtemp(prefix="download_benchmark.")
    try:
        payload = os.path.join(work, "payload.bin")
        with open(payload, "wb") as out:
            block = os.urandom(MIB)
            for i in range(SIZE // MIB):
                out.write(block[i:] + block[:i])
        digest = hashlib.md5(open(payload, "rb").read()).hexdigest()

        game = os.path.join(work, "game")
        os.makedirs(game)
        shutil.copy(os.path.join(build, "test-launcher", "ORN_Launcher.exe"), game)
        with open(os.path.join(game, "ORN_Client.exe"), "w") as client:
            client.write("#!/bin/sh\nexit 0\n")
        os.chmod(os.path.join(game, "ORN_Client.exe"), 0o755)

        routes = {LATEST + "update.lock": Reply(404),
                  LATEST + "md5sums": Reply(200, ("%s  payload.bin\n" % digest).encode()),
                  LATEST + "payload.bin": Reply(200, body_file=payload)}
        ways = {
            "launcher": [os.path.join(game, "ORN_Launcher.exe")],
            "bare sf::Http": [os.path.join(build, "bench", "bare_http_fetch"), "127.0.0.1", str(port),
                              LATEST + "payload.bin", "payload.bin"],
            "curl": ["curl", "-s", "-o", "payload.bin", "http://127.0.0.1:%d%spayload.bin" % (port, LATEST)],
        }
        best = {}
        with ScriptedServer(port, routes):
            for _ in range(3):
                for name, command in ways.items():
                    target = os.path.join(game, "payload.bin")
                    if os.path.exists(target):
                        os.remove(target)
                    os.sync()  # the previous writer's dirty pages must not slow the next one
                    seconds, kib, status = timed(command, game)
                    ok = status == 0 and hashlib.md5(open(target, "rb").read()).hexdigest() == digest
                    if not ok:
                        sys.exit("%s did not fetch the file whole" % name)
                    if name not in best or seconds < best[name][0]:
                        best[name] = (seconds, kib)
        print("256 MiB from 127.0.0.1, best of three:")
        for name, (seconds, kib) in best.items():
            print("  %-14s %6.3f s  %7.1f MiB/s  peak RSS %7.1f MiB" % (name, seconds, 256 / seconds, kib / 1024))
        print("  launcher / bare sf::Http: time %.3f, peak memory %.3f" % (
            best["launcher"][0] / best["bare sf::Http"][0], best["launcher"][1] / best["bare sf::Http"][1]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
