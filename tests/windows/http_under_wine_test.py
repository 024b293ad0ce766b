#!/usr/bin/env python3
"""Runs the Windows HTTP probe (the launcher's handshake and download checks,
built for 32-bit Windows with a Windows SFML) under Wine against the scripted
server on loopback."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from scripted_server import Reply, ScriptedServer  # noqa: E402

LATEST = "/~qel/ORN/windows/latest/"
OPTIONS = None


def crlf(text):
    """The Windows C runtime writes a line end as CR LF on standard output."""
    return text.replace(b"\n", b"\r\n")


class HttpUnderWine(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="http_under_wine.")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def run_probe(self, *paths):
        return subprocess.run([OPTIONS.wine, OPTIONS.probe, *paths], cwd=self.work, capture_output=True, timeout=120)

    def test_lock_manifest_and_downloads(self):
        whole = b"line\nwith\r\nline ends\x00and a NUL" * 1000
        routes = {
            LATEST + "update.lock": [Reply(200, b"now"), Reply(200, b"now"), Reply(404)],
            LATEST + "md5sums": Reply(200, b"abc"),
            LATEST + "whole.dat": Reply(200, whole),
            LATEST + "cut.dat": Reply(200, whole, drop_after=5000),
            LATEST + "no-length.dat": Reply(200, b"complete", send_length=False),
        }
        with ScriptedServer(OPTIONS.port, routes) as server:
            result = self.run_probe("whole.dat", "cut.dat", "missing.dat", "no-length.dat")
        self.assertEqual(result.stdout, crlf(
            b"Connecting to server... Failed.\n"
            b"Server locked during update operation, waiting for lock to be released.\n"
            b"Update started at now\n"
            b"Waiting... Connected\n"
            b"Checking for updated files... manifest of 3 bytes\n"
            b"whole.dat: saved\ncut.dat: rejected\nmissing.dat: rejected\nno-length.dat: saved\n"))
        self.assertEqual(result.returncode, 0)
        self.assertEqual(server.requests, [LATEST + "update.lock"] * 3 + [LATEST + p for p in (
            "md5sums", "whole.dat", "cut.dat", "missing.dat", "no-length.dat")])
        with open(os.path.join(self.work, "whole.dat"), "rb") as saved:
            self.assertEqual(saved.read(), whole, "written in binary mode, byte for byte")
        self.assertFalse(os.path.exists(os.path.join(self.work, "cut.dat")))
        self.assertFalse(os.path.exists(os.path.join(self.work, "missing.dat")))

    def test_no_server(self):
        result = self.run_probe()
        self.assertEqual(result.stdout, crlf(b"Connecting to server... !!Failed!!\n"
                                             b"Check that you have a working internet connection.\n"))
        self.assertEqual(result.returncode, 1)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--port", required=True, type=int)
    parser.add_argument("--wine", required=True)
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
