#!/usr/bin/env python3
"""Cold-edge benchmark: a delta update through Varnish in front of an origin
that sends 2 MiB/s (nginx's limit_rate), as the README's VCL has it. A file
(BENCH_EDGE_MIB, 64) published signed; the new release changes 64 KiB three
quarters into it. For each VCL the edge starts empty, the player's game
holds the old copy, and the signed launcher (a minute's request window, as
players have it) updates it by delta: its time,
and the bytes the origin sent (from its log). Then the same on an edge
warmed with the README's warm-up command after the publish.

usage: run_cold_edge_benchmark.py BUILD_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

from run_delta_benchmark import NAME, install_old, measure, signed_names, write_random
from run_download_benchmark import LATEST, file_digest, game_directory, publish

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from nginx_server import NginxServer  # noqa: E402
from serving import launcher_port  # noqa: E402
from tcp_relay import free_port  # noqa: E402
from readme_config import readme_varnish  # noqa: E402
from varnish_server import VarnishServer  # noqa: E402

MIB = 1 << 20
SIZE = int(os.environ.get("BENCH_EDGE_MIB", "64")) * MIB


def settled_bytes(origin, before, object_name, fills):
    """What the origin sent from request `before` on; with `fills`, once the edge's fetch of the whole object,
    begun for the first range, has ended (nginx logs a request when it ends; 120 s at most)."""
    deadline = time.monotonic() + 120
    while fills and time.monotonic() < deadline and not any(
            t[0].endswith(object_name) and t[1] == "200" for t in origin.transfers()[before:]):
        time.sleep(0.5)
    return sum(t[2] for t in origin.transfers()[before:])


def edge_run(build, work, web, port, origin, ranged, warmed):
    """Seconds and origin bytes of one delta update through a fresh edge."""
    game = os.path.join(work, "game")
    shutil.rmtree(game, ignore_errors=True)
    game_directory(work, "game", os.path.join(build, "bench-signed-launcher", "ORN_Launcher.exe"))
    with NginxServer(port, web):  # the old release installed straight from the origin, unlimited
        install_old(None, game)
    vcl, passing, warm = readme_varnish(origin.port, port)
    with VarnishServer(port, origin.port, 0, vcl=passing if ranged else vcl):
        if warmed:
            subprocess.run(["/bin/sh", "-c", warm], check=True, cwd=web + LATEST)
        before = len(origin.transfers())
        names = signed_names(web)
        run = measure(origin, work, game, file_digest(os.path.join(work, "tree", NAME)), names)
        sent = settled_bytes(origin, before, "/by-hash/" + names[0], not ranged)
    return run.seconds, sent


def main():
    build = os.path.abspath(sys.argv[1])
    port = launcher_port(build)
    work = tempfile.mkdtemp(prefix="cold_edge_benchmark.")
    try:
        web = os.path.join(work, "web")
        for tree in ("old-tree", "tree"):
            os.makedirs(os.path.join(work, tree))
        with open(os.path.join(work, "old-tree", NAME), "wb") as out:
            write_random(out, SIZE)
        shutil.copy(os.path.join(work, "old-tree", NAME), os.path.join(work, "tree", NAME))
        with open(os.path.join(work, "tree", NAME), "r+b") as out:
            out.seek(SIZE * 3 // 4)
            out.write(os.urandom(64 << 10))
        publish(build, work, os.path.join(work, "old-tree"), web + LATEST.replace("/latest/", "/old/"))
        publish(build, work, os.path.join(work, "tree"), web + LATEST)
        print("A %d MiB file, 64 KiB changed at 3/4; origin nginx at 2 MiB/s behind Varnish; one delta update" %
              (SIZE // MIB))
        with NginxServer(free_port(), web, limit_rate="2m", log_transfers=True) as origin:
            for label, ranged, warmed in (("cold edge, the README's VCL", False, False),
                                          ("cold edge, ranges passed on a miss", True, False),
                                          ("warmed edge, ranges passed on a miss", True, True)):
                seconds, sent = edge_run(build, work, web, port, origin, ranged, warmed)
                print("%-40s %7.2f s, %8.2f MiB from the origin" % (label, seconds, sent / MIB))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
