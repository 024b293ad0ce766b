#!/usr/bin/env python3
"""Adoption benchmark: `orn-publish adoption` over a synthetic access log of
10 million lines (BENCH_LOG_LINES), split as logrotate leaves it: a gzipped
oldest part, a rotated plain part and the live log. Two signed releases are
published into a scratch channel; the lines, drawn with a fixed seed from
templates of known day, release and status (other channels, other files,
HEAD requests, time zones either side of UTC, unreadable and overlong lines
among them), are counted by the generator as written. Exits 1 unless every
figure orn-publish prints is the generator's; prints time and peak memory.

usage: run_adoption_benchmark.py BUILD_DIR [WORK_DIR]
"""
import collections
import datetime
import gzip
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def publish_two_releases(publisher, work):
    """The channel, and its two releases' (serial, manifest SHA-256)."""
    key, tree = os.path.join(work, "release.secret"), os.path.join(work, "tree")
    channel = os.path.join(work, "web", "~qel", "ORN", "windows", "latest")
    subprocess.run([publisher, "keygen", key], check=True, capture_output=True)
    releases = []
    for build in ("1", "2"):
        os.makedirs(tree, exist_ok=True)
        with open(os.path.join(tree, "data.pak"), "w") as out:
            out.write("data " + build)
        subprocess.run([publisher, "--sign", key, tree, channel], check=True, capture_output=True)
        with open(os.path.join(channel, "release")) as release:
            lines = release.read().splitlines()
        serial = next(int(line.split()[1]) for line in lines if line.startswith("serial "))
        releases.append((serial, next(line.split()[1] for line in lines if line.startswith("md5sums-sha256 "))))
    return channel, releases


def templates(releases, rng):
    """Lines of known meaning: (text, (day, serial, is_error) or None for no start, unreadable)."""
    made = []
    for _ in range(4096):
        utc = datetime.datetime(2026, 12, 1, tzinfo=datetime.timezone.utc) + datetime.timedelta(
            seconds=rng.randrange(7 * 86400))
        zone = datetime.timezone(datetime.timedelta(minutes=rng.choice([0, 60, -300, 330, 600, -600])))
        local = utc.astimezone(zone)
        offset = int(zone.utcoffset(None).total_seconds() // 60)
        when = "%02d/%s/%04d:%s %s%02d%02d" % (local.day, MONTHS[local.month - 1], local.year,
                                               local.strftime("%H:%M:%S"), "-" if offset < 0 else "+",
                                               abs(offset) // 60, abs(offset) % 60)
        serial, sha = rng.choice(releases)
        kind = rng.choices(["start", "file", "other channel", "head", "unreadable"], [60, 25, 5, 5, 5])[0]
        path = {"start": "/~qel/ORN/windows/latest/by-hash/" + sha,
                "file": "/~qel/ORN/windows/latest/data.pak",
                "other channel": "/~qel/ORN/windows/beta/by-hash/" + sha,
                "head": "/~qel/ORN/windows/latest/by-hash/" + sha,
                "unreadable": "/"}[kind]
        status = rng.choice([200, 200, 200, 304, 206, 404, 503])
        host = rng.choice(["203.0.113.%d" % rng.randrange(256), "2001:db8::%x" % rng.randrange(65536)])
        line = '%s - - [%s] "%s %s HTTP/1.1" %d %d "-" "ORN launcher \\"x\\""\n' % (
            host, when, "HEAD" if kind == "head" else "GET", path, status, rng.randrange(1 << 20))
        if kind == "unreadable":
            line = line.replace("[", "", 1)
        meaning = (utc.date().isoformat(), serial, status >= 400) if kind == "start" else None
        made.append((line, meaning, kind == "unreadable"))
    made.append(("x" * (70 << 10) + "\n", None, True))  # an overlong line, drawn rarely below
    return made


def write_logs(work, made, lines, rng):
    """The logs, oldest first, and what they hold: starts per (day, serial), errors, lines skipped."""
    starts, errors, skipped = collections.Counter(), collections.Counter(), 0
    parts = [("access.log.2.gz", lines * 3 // 10), ("access.log.1", lines * 3 // 10)]
    parts.append(("access.log", lines - sum(count for _, count in parts)))
    paths = []
    weights = list(range(1, len(made))) + [len(made) - 1 + 0.01]  # the overlong line once in 400,000
    for name, count in parts:
        path = os.path.join(work, name)
        paths.append(path)
        opener = (lambda p: gzip.open(p, "wt", compresslevel=1)) if name.endswith(".gz") else (lambda p: open(p, "w"))
        with opener(path) as out:
            for begin in range(0, count, 100000):
                picks = rng.choices(range(len(made)), cum_weights=weights, k=min(100000, count - begin))
                out.write("".join(made[i][0] for i in picks))
                for i in picks:
                    _, meaning, unreadable = made[i]
                    skipped += unreadable
                    if meaning:
                        starts[meaning[:2]] += 1
                        errors[meaning[:2]] += meaning[2]
    return paths, starts, errors, skipped


def expected_rows(starts, errors, serials):
    rows = []
    for day in sorted({day for day, _ in starts}):
        for serial in serials:
            rows.append((day, serial, starts[(day, serial)], errors[(day, serial)]))
    return rows


def main():
    build = os.path.abspath(sys.argv[1])
    publisher = os.path.join(build, "orn-publish")
    lines = int(os.environ.get("BENCH_LOG_LINES", "10000000"))
    work = tempfile.mkdtemp(prefix="adoption_benchmark.", dir=sys.argv[2] if len(sys.argv) > 2 else None)
    os.environ["XDG_STATE_HOME"] = os.path.join(work, "state")
    try:
        channel, releases = publish_two_releases(publisher, work)
        rng = random.Random(40)
        made = templates(releases, rng)
        start = time.monotonic()
        paths, starts, errors, skipped = write_logs(work, made, lines, rng)
        print("generated %d lines in %.1f s: %s" % (lines, time.monotonic() - start,
                                                    ", ".join("%s %.0f MiB" % (os.path.basename(p),
                                                              os.path.getsize(p) / (1 << 20)) for p in paths)))
        start = time.monotonic()
        result = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", os.path.join(work, "time"),
                                 publisher, "adoption", channel] + paths, capture_output=True)
        elapsed = time.monotonic() - start
        with open(os.path.join(work, "time")) as figures:
            peak, user, system = figures.read().split()[-3:]
        output = result.stdout.decode().splitlines()
        rows = [tuple(line.split()) for line in output[2:-1]]
        got = [(day, int(serial), int(s), int(e)) for day, serial, s, e in rows]
        want = expected_rows(starts, errors, [serial for serial, _ in releases])
        tail = "lines: %d, skipped (not an access log line): %d" % (lines, skipped)
        print("orn-publish adoption: %.2f s wall (%s s user, %s s system), peak RSS %.1f MiB, %.2f M lines/s"
              % (elapsed, user, system, int(peak) / 1024, lines / elapsed / 1e6))
        print("\n".join(output))
        exact = result.returncode == 0 and got == want and output[-1] == tail
        print("figures exact: %s (%d rows, %d starts, %d errors, %d skipped, as generated)"
              % ("yes" if exact else "NO", len(want), sum(starts.values()), sum(errors.values()), skipped))
        if not exact:
            print(result.stderr.decode(), "\nexpected:", want, tail, file=sys.stderr)
            sys.exit(1)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
