#!/usr/bin/env python3
"""End-to-end tests: the real launcher executable (a test build that talks to
127.0.0.1 on a fixed port and pauses 50 ms between lock requests) run as a
process in a temporary game directory, against a scripted HTTP server on
loopback. The same scenarios run on every target: the native build, and the
Windows builds under Wine (with their three DLLs beside the launcher and a
Windows stand-in client).

The scenarios live in end_to_end/, one module per concern; this entry point
takes the command line and runs them. Its namespace holds every test class,
so that a scenario is named as Class.test_name (the Windows builds name some)."""
import argparse
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from end_to_end import fixture  # noqa: E402
from end_to_end.cached_channel import CachedChannel  # noqa: E402,F401
from end_to_end.delta import Delta  # noqa: E402,F401
from end_to_end.downloads import Downloads  # noqa: E402,F401
from end_to_end.fast_start import FastStart  # noqa: E402,F401
from end_to_end.handshake import Handshake  # noqa: E402,F401
from end_to_end.kill_sweep import KillSweep  # noqa: E402,F401
from end_to_end.many_files import ManyFiles  # noqa: E402,F401
from end_to_end.mirrors import Mirrors  # noqa: E402,F401
from end_to_end.players_machine import PlayersMachine  # noqa: E402,F401
from end_to_end.proxy import Proxy  # noqa: E402,F401
from end_to_end.published_with_nginx import PublishedWithNginx  # noqa: E402,F401
from end_to_end.resume import Resume  # noqa: E402,F401
from end_to_end.retrieval import Retrieval  # noqa: E402,F401
from end_to_end.rollouts import StagedRollouts  # noqa: E402,F401
from end_to_end.signing import SignedReleases  # noqa: E402,F401
from end_to_end.soak import Soak  # noqa: E402,F401
from end_to_end.sound_behaviour import SoundBehaviour  # noqa: E402,F401
from end_to_end.uninstall import Uninstall  # noqa: E402,F401

if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--port", required=True, type=int)
    parser.add_argument("--sanitized", action="store_true", help="the launcher is built with the sanitizers")
    parser.add_argument("--wine", help="Wine's loader, to run a Windows build of the launcher")
    parser.add_argument("--client", help="the Windows stand-in client (with --wine)")
    parser.add_argument("--holder", help="a Windows program that holds a file open (with --wine)")
    parser.add_argument("--timeout", type=float, default=120, help="seconds one launcher run may take")
    parser.add_argument("--publisher", help="orn-publish, for the scenarios against a real web server")
    parser.add_argument("--signed-launcher", help="the launcher built to trust the test key")
    parser.add_argument("--release-key", help="the test key's secret half, which signs the test releases")
    parser.add_argument("--mirrors-launcher", help="the launcher built to trust the test key and to ask two servers: "
                        "127.0.0.1 on --port, then on --mirror-port")
    parser.add_argument("--rollout-blind-launcher",
                        help="the launcher built to trust the test key that knows nothing of staged rollouts")
    parser.add_argument("--mirror-port", type=int, help="the second server's port of --mirrors-launcher")
    options, rest = parser.parse_known_args()
    fixture.configure(options)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
