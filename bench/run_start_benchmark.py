#!/usr/bin/env python3
"""Start benchmark: the launcher's whole process, with nothing to update,
against a local server (lock and manifest requests included), over games of
2,000 files and 1 GiB and 4 GiB (half at the top level, half in libs/, last
changed an hour ago), warm page cache; beside `md5sum -c` over the same tree:
  - first start: no record of digests, every file hashed (as every start was);
  - second start: the record lets unchanged files go unread;
  - a build without the record (LAUNCHER_DIGEST_CACHE=OFF): today's start.
Each best of three.

usage: run_start_benchmark.py BUILD_DIR NO_CACHE_BUILD_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
from scripted_server import Reply, ScriptedServer  # noqa: E402

MIB = 1 << 20
LATEST = "/~qel/ORN/windows/latest/"


def generate(root, total):
    os.makedirs(os.path.join(root, "libs"))
    count, chunk = 2000, os.urandom(8 * MIB)
    size = total // count
    old = time.time() - 3600
    for i in range(count):
        path = os.path.join(root if i % 2 == 0 else os.path.join(root, "libs"), "file%04d.dat" % i)
        with open(path, "wb") as out:
            offset = (i * 7919) % (4 * MIB)
            out.write(chunk[offset:offset + size] if size <= 4 * MIB else (chunk * (size // len(chunk) + 1))[:size])
        os.utime(path, (old, old))
    names = ["file%04d.dat" % i if i % 2 == 0 else "libs/file%04d.dat" % i for i in range(count)]
    return subprocess.run(["md5sum", "--"] + names, cwd=root, check=True, capture_output=True).stdout


def best_of_three(command, cwd, before=None):
    best = None
    for _ in range(3):
        if before:
            before()
        start = time.monotonic()
        result = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        elapsed = time.monotonic() - start
        if result.returncode != 0 and b"No updates found" not in result.stdout:
            sys.exit("failed: %s: %r" % (" ".join(command), result.stdout))
        best = elapsed if best is None else min(best, elapsed)
    return best


def port_of(build):
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        return int(next(line.split("=")[1] for line in cache if line.startswith("LAUNCHER_TEST_PORT:")))


def main():
    build, no_cache_build = (os.path.abspath(a) for a in sys.argv[1:3])
    work = tempfile.mkdtemp(prefix="start_benchmark.")
    try:
        figures = {}
        for gib in (1, 4):
            root = os.path.join(work, "game-%d" % gib)
            listing = generate(root, gib * 1024 * MIB)
            with open(os.path.join(root, "md5sums"), "wb") as out:
                out.write(listing)
            with open(os.path.join(root, "ORN_Client.exe"), "w") as client:
                client.write("#!/bin/sh\nexit 0\n")
            os.chmod(os.path.join(root, "ORN_Client.exe"), 0o755)
            cache = os.path.join(root, "ORN_Launcher.digests")
            forget = lambda: os.path.exists(cache) and os.remove(cache)  # noqa: E731
            launcher = os.path.join(root, "ORN_Launcher.exe")
            subprocess.run(["md5sum", "-c", "--quiet", "md5sums"], cwd=root, check=True)  # warm the page cache
            with ScriptedServer(port_of(build), {LATEST + "update.lock": Reply(404),
                                                 LATEST + "md5sums": Reply(200, listing)}):
                shutil.copy(os.path.join(no_cache_build, "test-launcher", "ORN_Launcher.exe"), launcher)
                today = best_of_three([launcher], root)
                shutil.copy(os.path.join(build, "test-launcher", "ORN_Launcher.exe"), launcher)
                first = best_of_three([launcher], root, before=forget)
                second = best_of_three([launcher], root)
            md5sum = best_of_three(["md5sum", "-c", "--quiet", "md5sums"], root)
            figures[gib] = second
            print("2,000 files, %d GiB, nothing to update (best of 3):" % gib)
            print("  md5sum -c                          %7.3f s" % md5sum)
            print("  start without the record (today)   %7.3f s" % today)
            print("  first start (no record yet)        %7.3f s" % first)
            print("  second start (record kept)         %7.3f s" % second)
            shutil.rmtree(root)
        print("second start, 4 GiB against 1 GiB: %.2f" % (figures[4] / figures[1]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
