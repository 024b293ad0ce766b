#!/usr/bin/env python3
"""Delta benchmark against the open delta tools: the same file changed the
five ways of run_delta_benchmark.py, served by the same nginx (on loopback,
or through the link of BENCH_LINK), fetched from the same old copy by the
signed launcher, zsync, casync and zchunk (Debian's packages), each output
checked against the new file. Bytes and requests come from nginx's log,
control files and indexes included; zchunk's time includes unpacking the
result. Best time of BENCH_DELTA_REPEATS, the tools interleaved. Then
`orn-publish --sign` beside `zsyncmake` on the same tree.

Exits non-zero when a tool fails or ends with a wrong file; reports goals,
PASS or MISS, without failing on them.

usage: run_delta_peers_benchmark.py BUILD_DIR
knobs: BENCH_DELTA_MIB (256), BENCH_DELTA_CASES (abcde), BENCH_DELTA_REPEATS (2)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import run_delta_benchmark as delta
from run_download_benchmark import LATEST, file_digest, publish
from serving import link_text, served, launcher_port

MIB = 1 << 20
PEERS = ("zsync", "casync", "zchunk")


def run(command, cwd):
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if result.returncode != 0:
        sys.exit("%s failed: %s" % (" ".join(command), result.stderr.decode(errors="replace")))


def make_peer_files(web, work, old, new):
    """Each tool's control files for `new`, under web/<tool>/, and zchunk's packed old copy."""
    for tool in PEERS:
        shutil.rmtree(os.path.join(web, tool), ignore_errors=True)
        os.makedirs(os.path.join(web, tool))
    served_new = os.path.join(web, "zsync", "new.bin")
    shutil.copyfile(new, served_new)
    run(["zsyncmake", "-u", "new.bin", "-o", served_new + ".zsync", served_new], work)
    run(["casync", "make", "--store=" + os.path.join(web, "casync", "store"),
         os.path.join(web, "casync", "new.caibx"), new], work)
    run(["zck", "-o", os.path.join(web, "zchunk", "new.bin.zck"), new], work)
    if not os.path.exists(os.path.join(work, "old.bin.zck")):
        run(["zck", "-o", os.path.join(work, "old.bin.zck"), old], work)


def peer_command(tool, url, work, out):
    if tool == "zsync":
        return [["zsync", "-q", "-i", os.path.join(work, "old.bin"), "-o", out, url + "/zsync/new.bin.zsync"]]
    if tool == "casync":
        return [["casync", "extract", "--seed=" + os.path.join(work, "old.bin"), "--store=" + url + "/casync/store",
                 url + "/casync/new.caibx", out]]
    # zckdl writes new.bin.zck beside it, and unzck new.bin from that.
    return [["zckdl", "-q", "-s", os.path.join(work, "old.bin.zck"), url + "/zchunk/new.bin.zck"],
            ["unzck", "new.bin.zck"]]


def measure_peer(server, tool, url, work, digest):
    scratch = os.path.join(work, "peer")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    out = os.path.join(scratch, "new.bin")
    before = len(server.transfers())
    os.sync()
    start = time.monotonic()
    for command in peer_command(tool, url, work, out):
        run(command, scratch)
    seconds = time.monotonic() - start
    if file_digest(out) != digest:
        sys.exit("%s ended with a wrong file" % tool)
    time.sleep(0.3)  # nginx logs a request once it has finished with it
    transfers = [t for t in server.transfers()[before:] if t[0].startswith("/" + tool + "/")]
    shutil.rmtree(scratch)
    return seconds, sum(t[2] for t in transfers), len(transfers)


def goals(case, figures):
    ours_seconds, ours_bytes = figures["launcher"][0], figures["launcher"][1]
    fastest = min(figures[tool][0] for tool in PEERS)
    fewest = min(figures[tool][1] for tool in PEERS)
    checks = [("no slower than the fastest", ours_seconds <= fastest, "%.2fx" % (ours_seconds / fastest))]
    if case in "abdc":
        limit = 2.0 if case == "c" else 1.1
        checks.append(("at most %.1fx the fewest bytes" % limit, ours_bytes <= limit * fewest,
                       "%.2fx" % (ours_bytes / fewest)))
    return "; ".join("%s: %s (%s)" % (text, "PASS" if ok else "MISS", shown) for text, ok, shown in checks)


def compare_case(case, server, build, work, web, url, signed):
    tree = os.path.join(work, "tree")
    digest = delta.write_new_file(case, os.path.join(work, "old.bin"), os.path.join(tree, delta.NAME))
    publish(build, work, tree, web + LATEST)
    make_peer_files(web, work, os.path.join(work, "old.bin"), os.path.join(tree, delta.NAME))
    best = {}
    for _ in range(delta.REPEATS):
        ours, _ = delta.best_runs(server, work, web, signed, digest, repeats=1)
        figures = {"launcher": (ours.seconds, ours.data + ours.index, ours.requests)}
        for tool in PEERS:
            figures[tool] = measure_peer(server, tool, url, work, digest)
        for tool, figure in figures.items():
            if tool not in best or figure[0] < best[tool][0]:
                best[tool] = figure
    print("(%s) %s" % (case, delta.CASES[case]))
    for tool in ("launcher",) + PEERS:
        seconds, count, requests = best[tool]
        print("  %-9s %10.2f MiB %8.2f s %6d requests" % (tool, count / MIB, seconds, requests))
    print("  goals: " + goals(case, best))


def publish_against_zsyncmake(build, work):
    tree = os.path.join(work, "tree")
    best = {}
    for attempt in range(delta.REPEATS):
        channel = os.path.join(work, "publish", "latest")
        environment = dict(os.environ, XDG_STATE_HOME=os.path.join(work, "publish-state-%d" % attempt))
        for name, command in (("orn-publish --sign", [os.path.join(build, "orn-publish"), "--sign",
                                                       os.path.join(work, "release.secret"), tree, channel]),
                              ("zsyncmake", ["zsyncmake", "-o", os.path.join(work, "made.zsync"),
                                             os.path.join(tree, delta.NAME)])):
            os.sync()
            start = time.monotonic()
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           env=environment, cwd=work)
            seconds = time.monotonic() - start
            best[name] = min(seconds, best.get(name, seconds))
        shutil.rmtree(os.path.join(work, "publish"))
    ratio = best["orn-publish --sign"] / best["zsyncmake"]
    print("publishing the last tree, best of %d: orn-publish --sign %.2f s, zsyncmake %.2f s: %.2fx; "
          "goal <= 1.5x: %s" % (delta.REPEATS, best["orn-publish --sign"], best["zsyncmake"], ratio,
                                "PASS" if ratio <= 1.5 else "MISS"))


def main():
    sys.stdout.reconfigure(line_buffering=True)
    build = os.path.abspath(sys.argv[1])
    missing = [tool for tool in ("zsync", "zsyncmake", "casync", "zck", "zckdl", "unzck") if not shutil.which(tool)]
    if missing:
        sys.exit("missing: %s (Debian packages zsync, casync, zchunk)" % ", ".join(missing))
    port = launcher_port(build)
    signed = os.path.join(build, "signed-test-launcher", "ORN_Launcher.exe")
    work = tempfile.mkdtemp(prefix="delta_peers.")
    try:
        web, old = os.path.join(work, "web"), os.path.join(work, "old.bin")
        os.makedirs(os.path.join(work, "tree"))
        with open(old, "wb") as out:
            delta.write_random(out, delta.SIZE)
        print("A %.0f MiB file served by nginx over %s; bytes and requests from its log, control files included;"
              " best time of %d, the tools interleaved." % (delta.SIZE / MIB, link_text(), delta.REPEATS))
        old_tree = os.path.join(work, "old-tree")
        os.makedirs(old_tree)
        os.link(old, os.path.join(old_tree, delta.NAME))
        publish(build, work, old_tree, web + LATEST.replace("/latest/", "/old/"))
        with served(port, web, log_transfers=True) as server:
            url = "http://127.0.0.1:%d" % port
            for case in delta.SELECTED:
                compare_case(case, server, build, work, web, url, signed)
        publish_against_zsyncmake(build, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
