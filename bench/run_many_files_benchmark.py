#!/usr/bin/env python3
"""A game of many small files: 1,000 (BENCH_FILES, e.g. "1000,10000") of
1-127 KiB, half of them in libs/, published signed and served by nginx, on
loopback or, with BENCH_LINK, through the simulated path. Times the fresh
install and the update of 100 changed files by the launcher (unsigned and
signed), beside curl (one process, one kept connection, file after file),
aria2c (16 connections) and rsync (its own protocol, one connection, through
the same path); then the start with nothing to update, just after the install
and with the record of digests. Each figure is the best of BENCH_REPEATS (1) runs; the goals:
a fresh install within 1.3x of the larger of (bytes / rate + 3 round trips)
and rsync's time, an update within 1.5x of rsync's.

usage: run_many_files_benchmark.py BUILD_DIR
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from link_relay import LinkRelay  # noqa: E402
from run_download_benchmark import LATEST, game_directory, publish, timed  # noqa: E402
from serving import LINK, launcher_port, link_text, served  # noqa: E402
from tcp_relay import free_port  # noqa: E402

COUNTS = tuple(int(c) for c in os.environ.get("BENCH_FILES", "1000").split(","))
REPEATS = int(os.environ.get("BENCH_REPEATS", "1"))
CHANGED = 100


def write_game(tree, count, seed):
    """`count` files of 1-127 KiB, half in libs/; returns their names."""
    chance = random.Random(seed)
    names = ["asset_%05d.dat" % i if i % 2 else "libs/lib_%05d.dll" % i for i in range(count)]
    for name in names:
        write_file(os.path.join(tree, name), chance)
    return names


def write_file(path, chance):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(chance.randbytes(chance.randint(1, 127) << 10))


def same_tree(tree, game, names):
    for name in names:
        with open(os.path.join(tree, name), "rb") as a, open(os.path.join(game, name), "rb") as b:
            if a.read() != b.read():
                return False
    return True


def rsync_daemon(work, tree):
    """rsync's daemon on loopback serving `tree` as module "game"; returns (process, port)."""
    port = free_port()
    config = os.path.join(work, "rsyncd.conf")
    with open(config, "w") as out:
        out.write("use chroot = no\n[game]\npath = %s\nread only = yes\n" % tree)
    daemon = subprocess.Popen(["rsync", "--daemon", "--no-detach", "--port", str(port), "--address", "127.0.0.1",
                               "--config", config], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return daemon, port


def bound(total_bytes):
    """bytes / rate + 3 round trips over the path; None on loopback."""
    if not LINK:
        return None
    delay, mbit = (float(figure) for figure in LINK.split(","))
    return total_bytes * 8 / (mbit * 1e6) + 3 * 2 * delay / 1000


def best_of(command, cwd, prepare):
    best = None
    for _ in range(REPEATS):
        prepare()
        os.sync()
        seconds, _, status = timed(command, cwd)
        if status != 0:
            sys.exit("%s failed (%d) in %s" % (command[0], status, cwd))
        best = seconds if best is None else min(best, seconds)
    return best


def run_count(build, work, port, rsync_port, count):
    tree = os.path.join(work, "tree")
    channel = os.path.join(work, "web") + LATEST
    names = write_game(tree, count, count)
    total = sum(os.path.getsize(os.path.join(tree, n)) for n in names)
    publish(build, work, tree, channel)
    print("%d files, %.1f MiB:" % (count, total / (1 << 20)))
    launchers = {"launcher": os.path.join(build, "test-launcher", "ORN_Launcher.exe"),
                 "signed": os.path.join(build, "signed-test-launcher", "ORN_Launcher.exe")}
    games = {name: game_directory(work, "%s-%d" % (name, count), path) for name, path in launchers.items()}
    url = "http://127.0.0.1:%d%s" % (port, LATEST)
    others = {"rsync": ["rsync", "-rt", "rsync://127.0.0.1:%d/game/" % rsync_port, "."]}
    if count <= 1000 or not LINK:  # a round trip a file: 10,000 would take minutes
        others["curl"] = ["curl", "-s", "--create-dirs"] + [a for n in names for a in ("-o", n, url + n)]
    if shutil.which("aria2c"):
        listing = os.path.join(work, "aria2.txt")
        with open(listing, "w") as out:
            out.writelines("%s%s\n  out=%s\n" % (url, n, n) for n in names)
        others["aria2c"] = ["aria2c", "-q", "-j16", "-x1", "--allow-overwrite=true", "-i", listing]

    def fresh(game, keep=("ORN_Launcher.exe", "ORN_Client.exe")):
        return lambda: [shutil.rmtree(os.path.join(game, entry)) if os.path.isdir(os.path.join(game, entry))
                        else os.remove(os.path.join(game, entry)) for entry in os.listdir(game) if entry not in keep]

    install = {}
    for name, game in games.items():
        install[name] = best_of([os.path.join(game, "ORN_Launcher.exe")], game, fresh(game))
        if not same_tree(tree, game, names):
            sys.exit("%s did not install the game whole" % name)
    for name, command in others.items():
        where = os.path.join(work, "%s-%d" % (name, count))
        os.makedirs(where, exist_ok=True)
        install[name] = best_of(command, where, fresh(where, ()))
    # The start just after the install reads again each file written within 3 s of its recording; the one
    # after that takes the record of digests, as a player's next day does.
    for name in games:
        launcher = [os.path.join(games[name], "ORN_Launcher.exe")]
        just_after = best_of(launcher, games[name], lambda: None)
        recorded = best_of(launcher, games[name], lambda: None)
        print("  start with nothing to update, %-8s %7.3f s just after the install, %7.3f s with the record" % (
            name, just_after, recorded))

    # 100 files changed, and a new release published: each copy updated from the last.
    chance = random.Random(count + 1)
    for name in chance.sample(names, CHANGED):
        write_file(os.path.join(tree, name), chance)
    publish(build, work, tree, channel)
    update = {}
    for name, game in games.items():
        update[name] = best_of([os.path.join(game, "ORN_Launcher.exe")], game, lambda: None)
        if not same_tree(tree, game, names):
            sys.exit("%s did not update the game whole" % name)
    where = os.path.join(work, "rsync-%d" % count)
    update["rsync"] = best_of(others["rsync"], where, lambda: None)

    limit = bound(total)
    for name, seconds in install.items():
        print("  fresh install  %-8s %7.3f s" % (name, seconds))
    for name, seconds in update.items():
        print("  update of %d   %-8s %7.3f s" % (CHANGED, name, seconds))
    floor = max(limit or 0, install["rsync"])
    for name in games:
        print("  %s: install %.2fx of max(bytes / rate + 3 round trips%s, rsync) (goal 1.3x), "
              "update %.2fx of rsync (goal 1.5x)" % (
                  name, install[name] / floor, " = %.2f s" % limit if limit else " (loopback: none)",
                  update[name] / update["rsync"]))
    shutil.rmtree(tree)


def main():
    build = os.path.abspath(sys.argv[1])
    port = launcher_port(build)
    work = tempfile.mkdtemp(prefix="many_files_benchmark.")
    daemon = None
    try:
        os.makedirs(os.path.join(work, "tree"))
        daemon, rsync_backend = rsync_daemon(work, os.path.join(work, "tree"))
        print("A game of many small files from nginx over %s, best of %d." % (link_text(), REPEATS))
        with served(port, os.path.join(work, "web")):
            if LINK:
                delay, mbit = (float(figure) for figure in LINK.split(","))
                rsync_port = free_port()
                with LinkRelay(rsync_port, rsync_backend, delay / 1000, mbit * 1e6 / 8):
                    for count in COUNTS:
                        run_count(build, work, port, rsync_port, count)
            else:
                for count in COUNTS:
                    run_count(build, work, port, rsync_backend, count)
    finally:
        if daemon is not None:
            daemon.terminate()
            daemon.wait(10)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
