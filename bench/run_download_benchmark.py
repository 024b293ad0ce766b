#!/usr/bin/env python3
"""Download benchmark: files of 256 MiB and 1 GiB published (and signed) by
orn-publish and served by Debian's nginx on loopback (range requests
honoured), each fetched four ways in the same run: by the launcher unsigned
and by the launcher built with the test key (each its whole run: handshake,
scan, download in range-request pieces, verification, hand-over to a
stand-in client), by a bare sf::Http request that takes the body whole and
writes it once (the launcher's first whole-body fetch), and by curl for
reference. Prints wall time and peak resident memory of each, best of three,
and each launcher's throughput as a share of curl's.

usage: run_download_benchmark.py BUILD_DIR
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from serving import link_text, served, launcher_port  # noqa: E402

MIB = 1 << 20
PIECE_MIB = 16
KEY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "keys", "test-release.secret")
SIZES_MIB = tuple(int(s) for s in os.environ.get("BENCH_SIZES_MIB", "256,1024").split(","))
REPEATS = int(os.environ.get("BENCH_REPEATS", "3"))
LATEST = "/~qel/ORN/windows/latest/"


def timed(command, cwd):
    start = time.monotonic()
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", os.path.join(cwd, ".peak")] + command,
                            cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.monotonic() - start
    with open(os.path.join(cwd, ".peak")) as peak:
        kib = int(peak.read().split()[-1])
    return elapsed, kib, result.returncode


def publish(build, work, tree, channel):
    """Publishes `tree` signed with the test key (copied private: orn-publish refuses a key others may read)."""
    key = os.path.join(work, "release.secret")
    if not os.path.exists(key):
        shutil.copy(KEY, key)
        os.chmod(key, 0o600)
    environment = dict(os.environ, XDG_STATE_HOME=os.path.join(work, "state"))
    # The delta benchmarks keep the old release's channel beside this one on purpose.
    subprocess.run([os.path.join(build, "orn-publish"), "--sign", key, "--new-channel", tree, channel], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=environment)


def game_directory(work, name, launcher):
    game = os.path.join(work, name)
    os.makedirs(game)
    shutil.copy(launcher, os.path.join(game, "ORN_Launcher.exe"))
    with open(os.path.join(game, "ORN_Client.exe"), "w") as client:
        client.write("#!/bin/sh\nexit 0\n")
    os.chmod(os.path.join(game, "ORN_Client.exe"), 0o755)
    return game


def write_payload(path, size_mib):
    digest = hashlib.md5()
    block = os.urandom(MIB)
    with open(path, "wb") as out:
        for i in range(size_mib):
            piece = block[i % MIB:] + block[:i % MIB]
            out.write(piece)
            digest.update(piece)
    return digest.hexdigest()


def file_digest(path):
    digest = hashlib.md5()
    with open(path, "rb") as source:
        for piece in iter(lambda: source.read(MIB), b""):
            digest.update(piece)
    return digest.hexdigest()


def main():
    build = os.path.abspath(sys.argv[1])
    port = launcher_port(build)
    work = tempfile.mkdtemp(prefix="download_benchmark.")
    try:
        channel = os.path.join(work, "web") + LATEST
        tree = os.path.join(work, "tree")
        os.makedirs(tree)
        games = {"launcher": game_directory(work, "game", os.path.join(build, "test-launcher", "ORN_Launcher.exe")),
                 "signed": game_directory(work, "signed", os.path.join(build, "signed-test-launcher",
                                                                        "ORN_Launcher.exe"))}
        game = games["launcher"]

        print("From nginx over %s, best of %d; the launcher fetches in %d MiB pieces." % (
            link_text(), REPEATS, PIECE_MIB))
        print("Target: each launcher's peak RSS at most 48 MiB at any size.")
        with served(port, os.path.join(work, "web")):
            for size_mib in SIZES_MIB:
                payload = os.path.join(tree, "payload.bin")
                digest = write_payload(payload, size_mib)
                publish(build, work, tree, channel)
                ways = {
                    "launcher": [os.path.join(game, "ORN_Launcher.exe")],
                    "signed": [os.path.join(games["signed"], "ORN_Launcher.exe")],
                    "whole body": [os.path.join(build, "bench", "bare_http_fetch"), "127.0.0.1", str(port),
                                   LATEST + "payload.bin", "payload.bin"],
                    "curl": ["curl", "-s", "-o", "payload.bin", "http://127.0.0.1:%d%spayload.bin" % (port, LATEST)],
                }
                best = {}
                for _ in range(REPEATS):
                    for name, command in ways.items():
                        where = games.get(name, game)
                        target = os.path.join(where, "payload.bin")
                        if os.path.exists(target):
                            os.remove(target)
                        os.sync()  # the previous writer's dirty pages must not slow the next one
                        seconds, kib, status = timed(command, where)
                        if status != 0 or file_digest(target) != digest:
                            sys.exit("%s did not fetch the %d MiB file whole" % (name, size_mib))
                        if name not in best or seconds < best[name][0]:
                            best[name] = (seconds, kib)
                print("%d MiB:" % size_mib)
                for name, (seconds, kib) in best.items():
                    print("  %-11s %7.3f s  %7.1f MiB/s  peak RSS %7.1f MiB" % (
                        name, seconds, size_mib / seconds, kib / 1024))
                print("  throughput against curl: launcher %.2fx, signed %.2fx (targets 0.5x and 0.2x)" % (
                    best["curl"][0] / best["launcher"][0], best["curl"][0] / best["signed"][0]))
                print("  launcher / whole body: time %.3f, peak memory %.3f" % (
                    best["launcher"][0] / best["whole body"][0], best["launcher"][1] / best["whole body"][1]))
                # The same launchers once more, all installed: the start a player makes every day.
                for name in ("launcher", "signed"):
                    seconds = min(timed(ways[name], games[name])[0] for _ in range(REPEATS))
                    print("  start with nothing to update, %-8s %6.3f s" % (name, seconds))
                os.remove(payload)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
