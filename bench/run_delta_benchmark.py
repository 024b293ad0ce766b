#!/usr/bin/env python3
"""Delta benchmark: a 1 GiB file published signed by orn-publish and served by
Debian's nginx on loopback, changed five ways; for each, the launcher built
with the test key updates an old copy by delta, and the same launcher in a
game directory without the file downloads it whole, in the same run. Each
game directory is first installed by that launcher from a channel holding
the old file, as a player's is, so that its record of digests knows the old
copy. Bytes and requests are counted from nginx's log: data (the file, under
its path or its content-addressed name) and index (its chunk index and the
block sums asked for). Prints each side's figures and the goals, PASS or MISS;
then change (a) again on a link limited to 20 MiB/s, and the time of
`orn-publish --sign` over a 1 GiB tree. Through the relay (BENCH_LINK),
each delta case against its bound instead: max(local work, bytes / rate) +
3 round trips, where the local work is the same delta with the relay
passing bytes straight on (no delay, no limit, no slow start).

Exits 0 when a goal is missed (it reports); non-zero when a run fails or a
file ends wrong.

usage: run_delta_benchmark.py BUILD_DIR
knobs: BENCH_DELTA_MIB (1024), BENCH_DELTA_CASES (abcde), BENCH_DELTA_REPEATS
(2, best time kept), BENCH_DELTA_LIMIT_RATE (20m; "off" skips that run),
BENCH_BASELINE_PUBLISHER (another orn-publish to time beside ours),
BENCH_BASELINE_LAUNCHER (a signed launcher from before delta downloads: then
"whole" is that launcher with the old copy in place, today's download as a
player has it, replacing the old file).
"""
import collections
import contextlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

from run_download_benchmark import KEY, LATEST, file_digest, game_directory, publish

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from nginx_server import NginxServer  # noqa: E402
from serving import LINK, link_text, served, launcher_port  # noqa: E402

MIB = 1 << 20
SIZE = int(os.environ.get("BENCH_DELTA_MIB", "1024")) * MIB
SELECTED = os.environ.get("BENCH_DELTA_CASES", "abcde")
REPEATS = int(os.environ.get("BENCH_DELTA_REPEATS", "2"))
LIMIT_RATE = os.environ.get("BENCH_DELTA_LIMIT_RATE", "20m")
BASELINE_PUBLISHER = os.environ.get("BENCH_BASELINE_PUBLISHER")
BASELINE_LAUNCHER = os.environ.get("BENCH_BASELINE_LAUNCHER")
NAME = "payload.bin"
CASES = {
    "a": "1 MiB overwritten in the middle",
    "b": "1 MiB inserted in the middle",
    "c": "100 scattered 4 KiB edits",
    "d": "16 MiB appended",
    "e": "entirely new content",
}
Run = collections.namedtuple("Run", "seconds cpu kib data index requests multi_range")


def write_random(out, count):
    while count > 0:
        piece = min(count, MIB)
        out.write(os.urandom(piece))
        count -= piece


def copy_bytes(source, out, count):
    while count > 0:
        piece = source.read(min(count, MIB))
        if not piece:
            raise RuntimeError("the old file ended early")
        out.write(piece)
        count -= len(piece)


def write_new_file(case, old, new):
    """Writes `old` changed as `case` says into `new`; returns the new file's MD5."""
    middle = SIZE // 2
    with open(old, "rb") as source, open(new, "wb") as out:
        if case == "e":
            write_random(out, SIZE)
        elif case == "b":
            copy_bytes(source, out, middle)
            write_random(out, MIB)
            copy_bytes(source, out, SIZE - middle)
        else:
            copy_bytes(source, out, SIZE)
            if case == "d":
                write_random(out, 16 * MIB)
    spread, rng = SIZE // 100, random.Random(4096)  # one edit somewhere in each hundredth of the file
    edits = {"a": [(middle, MIB)],
             "c": [(i * spread + rng.randrange(spread - 4096), 4096) for i in range(100)]}.get(case, [])
    with open(new, "r+b") as out:
        for offset, length in edits:
            out.seek(offset)
            out.write(os.urandom(length))
    return file_digest(new)


def signed_names(web):
    """The SHA-256 names of the file and of its chunk index and block sums, as the channel's release gives them."""
    with open(web + LATEST + "release") as release:
        lines = release.read().splitlines()
    sha = {line.split(" ")[3]: line.split(" ")[1] for line in lines if line.startswith("file ")}
    return sha[NAME], {sha[NAME + ".orn-chunks"], sha[NAME + ".orn-blocks"]}


def install_old(server, game):
    """What the player had: the old release installed by the launcher from the channel "old", and started
    once more a while later, so that its record of digests vouches for the old copy (a file written moments
    before its record is hashed again, as a player's just-downloaded file would be)."""
    launcher = os.path.join(game, "ORN_Launcher.exe")
    for start in range(2):
        if subprocess.run([launcher, "old"], cwd=game, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT).returncode:
            sys.exit("the launcher could not install the old release in %s" % game)
        if start == 0:
            an_hour_ago = time.time() - 3600
            os.utime(os.path.join(game, NAME), (an_hour_ago, an_hour_ago))


def measure(server, work, game, digest, names):
    """Runs the launcher in `game`; its figures, or the run ends when it fails or the file ends wrong."""
    before = len(server.transfers())
    os.sync()  # the previous writer's dirty pages must not slow this run
    peak, output = os.path.join(work, "peak"), os.path.join(work, "launcher.out")
    start = time.monotonic()
    with open(output, "wb") as out:
        status = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", peak, os.path.join(game, "ORN_Launcher.exe")],
                                cwd=game, stdout=out, stderr=subprocess.STDOUT).returncode
    seconds = time.monotonic() - start
    if status != 0 or file_digest(os.path.join(game, NAME)) != digest:
        with open(output, errors="replace") as out:
            sys.exit("the launcher in %s %s; its output:\n%s" % (
                game, "exited with %d" % status if status else "left a wrong file", out.read()))
    time.sleep(0.3)  # nginx logs a request once it has finished with it
    transfers = server.transfers()[before:]
    file_sha, index_shas = names
    data = [t for t in transfers if t[0].endswith("/" + NAME) or t[0].endswith("/by-hash/" + file_sha)]
    index = [t for t in transfers if t[0].rsplit("/by-hash/", 1)[-1] in index_shas]
    with open(peak) as figures:
        kib, user, system = figures.read().splitlines()[-1].split()
    return Run(seconds, float(user) + float(system), int(kib), sum(t[2] for t in data), sum(t[2] for t in index),
               len(data), any("," in t[3] for t in data))


def prepared_games(server, work, signed):
    """A game directory per kind, each with the old release installed; "whole" then loses the file, unless
    it is today's launcher, which downloads it whole over the old copy."""
    games = {}
    for kind in ("delta", "whole"):
        game = os.path.join(work, kind)
        shutil.rmtree(game, ignore_errors=True)
        game_directory(work, kind, BASELINE_LAUNCHER if kind == "whole" and BASELINE_LAUNCHER else signed)
        install_old(server, game)
        if kind == "whole" and not BASELINE_LAUNCHER:
            os.remove(os.path.join(game, NAME))
        games[kind] = game
    return games


@contextlib.contextmanager
def relay_direct(server, direct):
    """The relay, while `direct`, passing bytes straight on: no delay, no limit, no slow start."""
    if direct:
        server.relay.direct = True
    try:
        yield
    finally:
        if direct:
            server.relay.direct = False


def local_game(server, work, signed):
    """A delta game directory for the launcher's own work, installed with the relay passing bytes straight on."""
    game = os.path.join(work, "local")
    shutil.rmtree(game, ignore_errors=True)
    game_directory(work, "local", signed)
    with relay_direct(server, True):
        install_old(server, game)
    return game


def best_runs(server, work, web, signed, digest, repeats=REPEATS):
    """Delta (the old copy in place) and whole (none), and through the relay "local": the same delta with the
    relay passing bytes straight on, the launcher's own work with no path to wait for (the relay's copying
    included, as on the path). Interleaved; the fastest of each."""
    best = {}
    names = signed_names(web)
    for _ in range(repeats):
        games = prepared_games(server, work, signed)
        if LINK:
            games["local"] = local_game(server, work, signed)
        for kind, game in games.items():
            with relay_direct(server, kind == "local"):
                run = measure(server, work, game, digest, names)
            if kind not in best or run.seconds < best[kind].seconds:
                best[kind] = run
            shutil.rmtree(game)
    return best["delta"], best["whole"], best.get("local")


def bound_line(delta, local):
    """The delta against max(local work, bytes / rate) + 3 round trips of the path."""
    delay, mbit = (float(figure) for figure in LINK.split(","))
    carried = (delta.data + delta.index) / (mbit * 1e6 / 8)
    round_trips = 3 * 2 * delay / 1000
    bound = max(local.seconds, carried) + round_trips
    ratio = delta.seconds / bound
    return ("  bound: max(local work %.2f s, bytes / rate %.2f s) + 3 round trips %.2f s = %.2f s; "
            "delta / bound %.2fx; goal <= 1.3x: %s" % (local.seconds, carried, round_trips, bound, ratio,
                                                       "PASS" if ratio <= 1.3 else "MISS"))


def mib(count):
    return "%.2f MiB" % (count / MIB)


def goals(case, size, delta, whole):
    fetched = delta.data + delta.index
    checks = [("single ranges", not delta.multi_range, "")]
    if case in "ab":
        checks += [("data + index < 2 MiB", fetched < 2 * MIB, mib(fetched)),
                   ("<= 4 data requests", delta.requests <= 4, str(delta.requests))]
    elif case in "cd":
        limit = 16 if case == "c" else 17
        checks.append(("data + index < %d MiB" % limit, fetched < limit * MIB, mib(fetched)))
    else:
        checks += [("data <= 1.01x file", delta.data <= 1.01 * size, "%.4fx" % (delta.data / size)),
                   ("time <= 1.1x whole", delta.seconds <= 1.1 * whole.seconds,
                    "%.2fx" % (delta.seconds / whole.seconds))]
    checks.append(("peak RSS <= whole's + 16 MiB", delta.kib <= whole.kib + 16 * 1024,
                   "%+.1f MiB" % ((delta.kib - whole.kib) / 1024)))
    return "; ".join("%s: %s%s" % (text, "PASS" if ok else "MISS", " (%s)" % shown if shown else "")
                     for text, ok, shown in checks)


def report(case, size, delta, whole):
    print("(%s) %s: a %s file" % (case, CASES[case], mib(size)))
    print("  %-6s %14s %10s %14s %9s %9s %11s" % ("", "data", "index", "data requests", "time", "CPU",
                                                 "peak RSS"))
    for kind, run in (("delta", delta), ("whole", whole)):
        print("  %-6s %14s %6.1f KiB %14d %7.2f s %7.2f s %11s" % (
            kind, mib(run.data), run.index / 1024, run.requests, run.seconds, run.cpu, mib(run.kib * 1024)))
    print("  goals: " + goals(case, size, delta, whole))


def limited_run(build, work, port, web, signed, old):
    """Change (a) on a slow link: once each, the whole download is slow by design."""
    tree = os.path.join(work, "tree")
    digest = write_new_file("a", old, os.path.join(tree, NAME))
    publish(build, work, tree, web + LATEST)
    names = signed_names(web)
    with NginxServer(port, web) as server:
        games = prepared_games(server, work, signed)
    with NginxServer(port, web, limit_rate=LIMIT_RATE, log_transfers=True) as server:
        delta, whole = (measure(server, work, games[kind], digest, names) for kind in ("delta", "whole"))
    print("(a) again, nginx limit_rate %s:" % LIMIT_RATE)
    print("  delta %.2f s (%s data in %d requests), whole %.2f s: delta / whole %.3f; goal < 0.1: %s" % (
        delta.seconds, mib(delta.data), delta.requests, whole.seconds, delta.seconds / whole.seconds,
        "PASS" if delta.seconds < whole.seconds / 10 else "MISS"))


def publish_times(build, work):
    """`orn-publish --sign` of the tree into a fresh channel, ours and a baseline's interleaved; the best of each."""
    tools = {"orn-publish": os.path.join(build, "orn-publish")}
    if BASELINE_PUBLISHER:
        tools["baseline"] = os.path.abspath(BASELINE_PUBLISHER)
    key = os.path.join(work, "release.secret")
    shutil.copyfile(os.path.join(work, "old.bin"), os.path.join(work, "tree", NAME))
    best = {}
    for attempt in range(REPEATS):
        for name, tool in tools.items():
            channel = os.path.join(work, "publish", "latest")
            environment = dict(os.environ, XDG_STATE_HOME=os.path.join(work, "publish-state-%s-%d" % (name, attempt)))
            os.sync()
            start = time.monotonic()
            subprocess.run([tool, "--sign", key, os.path.join(work, "tree"), channel], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=environment)
            seconds = time.monotonic() - start
            best[name] = min(seconds, best.get(name, seconds))
            shutil.rmtree(os.path.join(work, "publish"))
    print("orn-publish --sign of a %s tree into a new channel, best of %d: %.2f s" % (
        mib(SIZE), REPEATS, best["orn-publish"]))
    if BASELINE_PUBLISHER:
        ratio = best["orn-publish"] / best["baseline"]
        print("  baseline %s: %.2f s; ours / baseline %.2fx; goal <= 1.3x: %s" % (
            BASELINE_PUBLISHER, best["baseline"], ratio, "PASS" if ratio <= 1.3 else "MISS"))


def main():
    sys.stdout.reconfigure(line_buffering=True)  # each case's figures as soon as they are known
    if set(SELECTED) - set(CASES):
        sys.exit("BENCH_DELTA_CASES takes letters of: " + "".join(CASES))
    build = os.path.abspath(sys.argv[1])
    port = launcher_port(build)
    signed = os.path.join(build, "signed-test-launcher", "ORN_Launcher.exe")
    work = tempfile.mkdtemp(prefix="delta_benchmark.")
    try:
        web, old = os.path.join(work, "web"), os.path.join(work, "old.bin")
        os.makedirs(os.path.join(work, "tree"))
        shutil.copy(KEY, os.path.join(work, "release.secret"))
        os.chmod(os.path.join(work, "release.secret"), 0o600)  # orn-publish refuses a key others may read
        with open(old, "wb") as out:
            write_random(out, SIZE)
        print("A %s file published signed, served by nginx over %s; bytes and requests from its log;" % (
            mib(SIZE), link_text()))
        print("delta: the signed launcher with the old copy; whole: %s. Best time of %d." % (
            "today's launcher %s with the old copy" % BASELINE_LAUNCHER if BASELINE_LAUNCHER else "the same with none",
            REPEATS))
        old_tree = os.path.join(work, "old-tree")
        os.makedirs(old_tree)
        os.link(old, os.path.join(old_tree, NAME))
        publish(build, work, old_tree, web + LATEST.replace("/latest/", "/old/"))
        with served(port, web, log_transfers=True) as server:
            for case in SELECTED:
                digest = write_new_file(case, old, os.path.join(work, "tree", NAME))
                publish(build, work, os.path.join(work, "tree"), web + LATEST)
                size = os.path.getsize(os.path.join(work, "tree", NAME))
                delta, whole, local = best_runs(server, work, web, signed, digest)
                report(case, size, delta, whole)
                if LINK:
                    print(bound_line(delta, local))
        if LIMIT_RATE != "off" and not LINK:
            limited_run(build, work, port, web, signed, old)
        shutil.rmtree(web)
        if not LINK:
            publish_times(build, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
