#!/usr/bin/env python3
"""Soak benchmark: the end-to-end soak across three Varnish edges in front of
one nginx origin (tests/end_to_end/soak.py) at the scale of a busy channel:
BENCH_SOAK_STARTS (1,000) starts of BENCH_SOAK_PLAYERS (40) players, three
in four with the signed launcher, over BENCH_SOAK_CHANGES (20) changes of
the channel (publishes, re-signs, a hotfix within the second, promotes,
rollbacks). Prints the starts, the refusals, the time, and the bytes the
origin sent against the bytes the edges served; any fault the soak holds
against fails the run with its seed (SOAK_SEED=N repeats it).

usage: run_soak_benchmark.py BUILD_DIR
"""
import os
import sys
import time
import types

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "tests"))
from end_to_end import fixture  # noqa: E402
from end_to_end.soak import EDGES, Soak  # noqa: E402
from serving import launcher_port  # noqa: E402

MIB = 1 << 20


def main():
    build = os.path.abspath(sys.argv[1])
    starts = int(os.environ.get("BENCH_SOAK_STARTS", "1000"))
    changes = int(os.environ.get("BENCH_SOAK_CHANGES", "20"))
    players = int(os.environ.get("BENCH_SOAK_PLAYERS", "40"))
    fixture.configure(types.SimpleNamespace(
        port=launcher_port(build), sanitized=False, holder=None, wine=None, client=None, timeout=120,
        launcher=os.path.join(build, "test-launcher", "ORN_Launcher.exe"),
        signed_launcher=os.path.join(build, "signed-test-launcher", "ORN_Launcher.exe"),
        publisher=os.path.join(build, "orn-publish"),
        release_key=os.path.join(ROOT, "tests", "keys", "test-release.secret")))
    soak = Soak("test_players_through_three_edges_of_different_ages")
    soak.setUp()
    try:
        began = time.monotonic()
        figures = soak.soak(starts, changes, players)
        seconds = time.monotonic() - began
    finally:
        soak.doCleanups()
        soak.tearDown()
    print("%d players (%d without keys) through 3 edges keeping release for (TTL, grace) %s s; %d changes of the "
          "channel; seed %d" % (players, max(len(EDGES), players // 4), ", ".join("(%d, %d)" % e for e in EDGES),
                                changes, soak.seed))
    print("starts %d, refusals %d, hotfixes within the second %d, %.1f s (%.0f ms a start)" % (
        figures["starts"], figures["refusals"], figures["hotfixes within the second"], seconds,
        1000 * seconds / figures["starts"]))
    origin, edges = figures["origin bytes"], figures["edge bytes"]
    print("bytes from the origin %.1f MiB, served by the edges %.1f MiB (%.1f%% from the origin)" % (
        origin / MIB, edges / MIB, 100 * origin / edges))


if __name__ == "__main__":
    main()
