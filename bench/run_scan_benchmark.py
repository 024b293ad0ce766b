#!/usr/bin/env python3
"""Scan benchmark: the launcher's two scanDirectory calls against `md5sum -c`
over the same generated installation (about 2,000 files, 1 GiB, split
between the top level and libs/), warm cache, in one run. Done twice, with a
small and a large largest file, to show that peak memory stays flat.

usage: run_scan_benchmark.py SCAN_BENCHMARK_BINARY [WORK_DIR]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20


def generate(root, largest):
    """About 1 GiB in 2,000 files: one file of `largest` bytes, the rest even."""
    os.makedirs(os.path.join(root, "libs"))
    count = 2000
    rest = (1024 * MIB - largest) // (count - 1)
    chunk = os.urandom(4 * MIB)
    for i in range(count):
        size = largest if i == 0 else rest
        folder = root if i % 2 == 0 else os.path.join(root, "libs")
        with open(os.path.join(folder, "file%04d.dat" % i), "wb") as out:
            written = 0
            while written < size:
                piece = chunk[(i * 7919) % MIB:][: size - written]
                out.write(piece)
                written += len(piece)
    names = sorted(os.listdir(root)) + ["libs/" + n for n in sorted(os.listdir(os.path.join(root, "libs")))]
    names = [n for n in names if os.path.isfile(os.path.join(root, n))]
    manifest = subprocess.run(["md5sum", "--"] + names, cwd=root, check=True, capture_output=True).stdout
    with open(os.path.join(root, "md5sums"), "wb") as out:
        out.write(manifest)


def timed(command, cwd):
    """Wall seconds and peak resident memory (KiB) of one command. GNU time
    reports the peak: a child forked from Python would count Python's own."""
    start = time.monotonic()
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", "/dev/stdout"] + command, cwd=cwd,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    elapsed = time.monotonic() - start
    if result.returncode != 0:
        sys.exit("failed: %s" % " ".join(command))
    lines = result.stdout.decode(errors="replace").strip().splitlines()
    return elapsed, int(lines[-1]), "\n".join(lines[:-1])


def main():
    binary = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="scan_benchmark.", dir=sys.argv[2] if len(sys.argv) > 2 else None)
    try:
        for largest in (16 * MIB, 512 * MIB):
            root = os.path.join(work, "largest-%d" % (largest // MIB))
            generate(root, largest)
            subprocess.run(["md5sum", "-c", "--quiet", "md5sums"], cwd=root, check=True)  # warm the cache
            best = {}
            for _ in range(3):  # interleaved, best of three each
                for name, command in (("md5sum -c", ["md5sum", "-c", "--quiet", "md5sums"]),
                                      ("launcher scan", [binary, root])):
                    seconds, peak, _ = timed(command, root)
                    if name not in best or seconds < best[name][0]:
                        best[name] = (seconds, peak)
            print("largest file %d MiB, 2000 files, 1024 MiB:" % (largest // MIB))
            for name, (seconds, peak) in best.items():
                print("  %-14s %6.3f s  %7.1f MiB/s  peak RSS %6.1f MiB" % (name, seconds, 1024 / seconds, peak / 1024))
            print("  ratio launcher/md5sum: %.3f" % (best["launcher scan"][0] / best["md5sum -c"][0]))
            shutil.rmtree(root)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
