#!/usr/bin/env python3
"""End-to-end tests: the real launcher executable (a test build that talks to
127.0.0.1 on a fixed port and pauses 50 ms between lock requests) run as a
process in a temporary game directory, against a scripted HTTP server on
loopback."""
import argparse
import hashlib
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scripted_server import Reply, ScriptedServer  # noqa: E402

LAUNCHER = None
PORT = None
LATEST = "/~qel/ORN/windows/latest/"
LOCK = LATEST + "update.lock"
MANIFEST = LATEST + "md5sums"
OWN_LIBRARIES = ("physfs.dll", "sfml-network-2.dll", "sfml-system-2.dll")
CLIENT = b"#!/bin/sh\necho \"client ran\" >> client.log\nexit 3\n"


def manifest(files):
    return b"".join(hashlib.md5(content).hexdigest().encode() + b"  " + path.encode("latin-1") + b"\n"
                    for path, content in files.items())


def update_server(files, extra_routes=None, lock=None, directory=LATEST):
    """A server that publishes `files` (path -> bytes) under `directory`."""
    routes = {directory + "update.lock": lock or Reply(404),
              directory + "md5sums": Reply(200, manifest(files))}
    for path, content in files.items():
        routes[directory + path] = Reply(200, content)
    routes.update(extra_routes or {})
    return ScriptedServer(PORT, routes)


class LauncherTestCase(unittest.TestCase):
    def setUp(self):
        self.game = tempfile.mkdtemp(prefix="launcher_e2e.")
        with open(LAUNCHER, "rb") as binary:
            self.launcher_bytes = binary.read()
        self.put("ORN_Launcher.exe", self.launcher_bytes, executable=True)
        self.put("ORN_Client.exe", CLIENT, executable=True)

    def tearDown(self):
        shutil.rmtree(self.game, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.game, name)

    def put(self, name, content, executable=False):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "wb") as out:
            out.write(content)
        if executable:
            os.chmod(self.path(name), stat.S_IRWXU)

    def read(self, name):
        with open(self.path(name), "rb") as source:
            return source.read()

    def run_launcher(self, *args):
        return subprocess.run([self.path("ORN_Launcher.exe"), *args], cwd=self.game,
                              capture_output=True, timeout=60)

    def client_ran(self):
        return os.path.exists(self.path("client.log"))

    def assert_downloads(self, stdout, header, entries, footer):
        """Download lines follow the index's hash order, so they are compared as a set."""
        self.assertTrue(stdout.startswith(header), stdout)
        self.assertTrue(stdout.endswith(footer), stdout)
        middle = stdout[len(header):len(stdout) - len(footer)]
        self.assertEqual(sorted(middle.splitlines(keepends=True)), sorted(entries))


CONNECTED = b"Connecting to server... Connected\n"
HEADER = CONNECTED + b"Checking for updated files... Done\nUpdates found, retrieving updated files:\n"
LAUNCHING = b"Updated files retrieved, patching and launching ORN...\n\n"
CANCELED = b"Some updated files failed to be retrieved, canceling launch.\n"


class Handshake(LauncherTestCase):
    def test_no_update_runs_the_client_and_ends_with_its_status(self):
        files = {"ORN_Client.exe": CLIENT, "libs/engine.dll": b"engine", "empty.cfg": b""}
        self.put("libs/engine.dll", b"engine")
        self.put("empty.cfg", b"")
        with update_server(files) as server:
            result = self.run_launcher()
        self.assertEqual(result.stdout, CONNECTED + b"Checking for updated files... Done\n"
                         b"No updates found, starting ORN...\n")
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.returncode, 3)
        self.assertEqual(self.read("client.log"), b"client ran\n")
        self.assertEqual(server.requests, [LOCK, MANIFEST])

    def test_lock_that_clears_after_three_answers(self):
        lock = [Reply(200, b"Mon Dec  7 10:00:00 UTC 2026\n")] * 3 + [Reply(404)]
        with update_server({}, lock=lock) as server:
            result = self.run_launcher()
        self.assertEqual(result.stdout,
                         b"Connecting to server... Failed.\n"
                         b"Server locked during update operation, waiting for lock to be released.\n"
                         b"Update started at Mon Dec  7 10:00:00 UTC 2026\n\n"
                         b"Waiting... Connected\n"
                         b"Checking for updated files... Done\nNo updates found, starting ORN...\n")
        self.assertEqual(server.requests, [LOCK] * 4 + [MANIFEST])
        self.assertEqual(result.returncode, 3)

    def test_lock_request_failures_give_up_with_status_1(self):
        cases = {
            "status 500": ([Reply(500)], b"Connecting to server... !!Failed!!\n"),
            "status 403": ([Reply(403)], b"Connecting to server... !!Failed!!\n"),
            "status 301": ([Reply(301)], b"Connecting to server... !!Failed!!\n"),
            "200 then 500": ([Reply(200, b"now"), Reply(500)],
                             b"Connecting to server... Failed.\n"
                             b"Server locked during update operation, waiting for lock to be released.\n"
                             b"Update started at now\nWaiting... !!Failed!!\n"),
        }
        for name, (lock, opening) in cases.items():
            with self.subTest(name), update_server({}, lock=lock) as server:
                result = self.run_launcher()
                self.assertEqual(result.stdout, opening + b"Check that you have a working internet connection.\n")
                self.assertEqual(result.returncode, 1)
                self.assertNotIn(MANIFEST, server.requests)
                self.assertFalse(self.client_ran())

    def test_no_server_at_all(self):
        result = self.run_launcher()
        self.assertEqual(result.stdout, b"Connecting to server... !!Failed!!\n"
                         b"Check that you have a working internet connection.\n")
        self.assertEqual(result.returncode, 1)
        self.assertFalse(self.client_ran())

    def test_manifest_failure(self):
        with ScriptedServer(PORT, {LOCK: Reply(404), MANIFEST: Reply(404)}) as server:
            result = self.run_launcher()
        self.assertEqual(result.stdout, CONNECTED + b"Checking for updated files... !!Failed!!\n"
                         b"Server might be having troubles, check again in a few minutes.\n")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(server.requests, [LOCK, MANIFEST])

    def test_channel_argument(self):
        cases = [(["beta"], "/~qel/ORN/windows/beta/"), ([""], "/~qel/ORN/windows//"),
                 (["beta", "gamma"], LATEST), ([], LATEST)]
        for args, directory in cases:
            with self.subTest(args=args), ScriptedServer(PORT) as server:
                result = self.run_launcher(*args)
                self.assertEqual(server.requests, [directory + "update.lock", directory + "md5sums"])
                self.assertEqual(result.returncode, 1)
        with update_server({}, directory="/~qel/ORN/windows/beta/") as server:
            self.assertEqual(self.run_launcher("beta").returncode, 3)
        self.assertEqual(server.requests, ["/~qel/ORN/windows/beta/update.lock", "/~qel/ORN/windows/beta/md5sums"])


class Retrieval(LauncherTestCase):
    def test_self_update_of_launcher_and_libraries_then_no_update(self):
        # Bytes appended to an executable leave it runnable: the new launcher
        # really is a launcher, so the second run can be made with it.
        new_launcher = self.launcher_bytes + b"\n#version 2\n"
        files = {"ORN_Launcher.exe": new_launcher, "libs/physfs.dll": b"a library, not ours",
                 "data.pak": b"\x00\r\n\x00data\xff", "ORN_Client.exe": CLIENT}
        for name in OWN_LIBRARIES:
            files[name] = b"new " + name.encode()
            self.put(name, b"old " + name.encode())
        self.put("data.pak", b"stale")
        listed = dict(files, **{"update.lock": b"x", "md5sums": b"y"})

        with update_server(files, {LATEST + "md5sums": Reply(200, manifest(listed))}) as server:
            result = self.run_launcher()
        changed = ["ORN_Launcher.exe", "libs/physfs.dll", "data.pak"] + list(OWN_LIBRARIES)
        self.assert_downloads(result.stdout, HEADER, [b"* %s... Done.\n" % p.encode() for p in changed], LAUNCHING)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.returncode, 3)
        self.assertTrue(self.client_ran())
        self.assertEqual(sorted(server.requests), sorted([LOCK, MANIFEST] + [LATEST + p for p in changed]))

        self.assertEqual(self.read("ORN_Launcher.exe"), new_launcher)
        self.assertEqual(self.read("ORN_Launcher.exe.old"), self.launcher_bytes)
        for name in OWN_LIBRARIES:
            self.assertEqual(self.read(name), b"new " + name.encode())
            self.assertEqual(self.read(name + ".old"), b"old " + name.encode())
        for name in ("ORN_Launcher.exe",) + OWN_LIBRARIES:
            self.assertFalse(os.path.exists(self.path(name + ".new")), name)
        self.assertEqual(self.read("libs/physfs.dll"), b"a library, not ours")
        self.assertEqual(self.read("data.pak"), files["data.pak"])

        with update_server(files) as server:
            again = self.run_launcher()
        self.assertEqual(again.stdout, CONNECTED + b"Checking for updated files... Done\n"
                         b"No updates found, starting ORN...\n")
        self.assertEqual(again.returncode, 3)
        for name in ("ORN_Launcher.exe",) + OWN_LIBRARIES:
            self.assertFalse(os.path.exists(self.path(name + ".old")), name)

    def test_partial_failure_cancels_the_launch_and_swaps_nothing(self):
        files = {"ORN_Launcher.exe": b"new launcher", "sfml-system-2.dll": b"new system"}
        with update_server(files, {LATEST + "sfml-system-2.dll": Reply(404)}):
            result = self.run_launcher()
        self.assert_downloads(result.stdout, HEADER,
                              [b"* ORN_Launcher.exe... Done.\n", b"* sfml-system-2.dll... Failed.\n"], CANCELED)
        self.assertEqual(result.returncode, 1)
        self.assertFalse(self.client_ran())
        self.assertEqual(self.read("ORN_Launcher.exe"), self.launcher_bytes)
        self.assertEqual(self.read("ORN_Launcher.exe.new"), b"new launcher")
        self.assertFalse(os.path.exists(self.path("sfml-system-2.dll.new")))

    def test_only_lock_and_manifest_listed_means_nothing_to_fetch(self):
        listed = {"update.lock": b"x", "md5sums": b"y"}
        with ScriptedServer(PORT, {LOCK: Reply(404), MANIFEST: Reply(200, manifest(listed))}) as server:
            result = self.run_launcher()
        self.assertEqual(result.stdout, HEADER + LAUNCHING)
        self.assertEqual(server.requests, [LOCK, MANIFEST])
        self.assertEqual(result.returncode, 3)

    def test_fresh_installation_gets_subdirectories_and_exact_bytes(self):
        files = {"libs/new.dll": b"\x00\x01\x02", "data/maps/a.map": b"map\r\n\x00", "empty.cfg": b""}
        self.put("empty.cfg", b"stale content")
        with update_server(files):
            result = self.run_launcher()
        self.assert_downloads(result.stdout, HEADER, [b"* %s... Done.\n" % p.encode() for p in files], LAUNCHING)
        for path, content in files.items():
            self.assertEqual(self.read(path), content, path)
        # Only the top level and libs/ are scanned: a deeper file is fetched on every run.
        with update_server(files):
            again = self.run_launcher()
        self.assertEqual(again.stdout, HEADER + b"* data/maps/a.map... Done.\n" + LAUNCHING)


class SoundBehaviour(LauncherTestCase):
    def test_start_up_deletes_only_the_launchers_own_leftovers(self):
        own = ["ORN_Launcher.exe.old"] + [name + ".old" for name in OWN_LIBRARIES]
        players = ["readme.older", "save.old.dat", "x.OLD", "ORN_Client.exe.old", "libs/x.old"]
        for name in own + players:
            self.put(name, b"keep?")
        os.makedirs(self.path("backup.old"))
        with ScriptedServer(PORT, {LOCK: Reply(500)}):
            self.run_launcher()
        for name in own:
            self.assertFalse(os.path.exists(self.path(name)), name)
        for name in players:
            self.assertEqual(self.read(name), b"keep?", name)
        self.assertTrue(os.path.isdir(self.path("backup.old")))

    def test_truncated_or_unsaved_downloads_fail_and_are_never_swapped_in(self):
        new_launcher = b"L" * 100000
        files = {"ORN_Launcher.exe": new_launcher, "data.pak": b"whole", "saves": b"a file here?",
                 "no-length.dat": b"complete without a length field"}
        os.makedirs(self.path("saves"))
        routes = {LATEST + "ORN_Launcher.exe": Reply(200, new_launcher, drop_after=40000),
                  LATEST + "data.pak": Reply(200, b"whole", drop_after=3),
                  LATEST + "no-length.dat": Reply(200, files["no-length.dat"], send_length=False)}
        self.put("data.pak", b"the old data")
        with update_server(files, routes):
            result = self.run_launcher()
        self.assert_downloads(result.stdout, HEADER,
                              [b"* ORN_Launcher.exe... Failed.\n", b"* data.pak... Failed.\n",
                               b"* saves... Failed.\n", b"* no-length.dat... Done.\n"], CANCELED)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(self.read("ORN_Launcher.exe"), self.launcher_bytes)
        self.assertFalse(os.path.exists(self.path("ORN_Launcher.exe.new")))
        self.assertEqual(self.read("data.pak"), b"the old data")
        self.assertEqual(self.read("no-length.dat"), files["no-length.dat"])
        self.assertFalse(self.client_ran())

    def test_paths_that_leave_the_game_directory_are_neither_requested_nor_written(self):
        outside = os.path.basename(self.game) + "-escaped.txt"
        unsafe = ["../" + outside, "libs/../../" + outside, "/tmp/" + outside, "libs\\x.dll", "c:x.dll", "ctl\x01.dat"]
        files = {path: b"evil" for path in unsafe}
        files["good.dat"] = b"good"
        with update_server(files) as server:
            result = self.run_launcher()
        entries = [b"* %s... Failed.\n" % p.encode("latin-1") for p in unsafe] + [b"* good.dat... Done.\n"]
        self.assert_downloads(result.stdout, HEADER, entries, CANCELED)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(sorted(server.requests), sorted([LOCK, MANIFEST, LATEST + "good.dat"]))
        parent = os.path.dirname(self.game)
        self.assertFalse(os.path.exists(os.path.join(parent, outside)))
        self.assertFalse(os.path.exists(os.path.join("/tmp", outside)))
        self.assertEqual(sorted(os.listdir(self.game)), ["ORN_Client.exe", "ORN_Launcher.exe", "good.dat"])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--port", required=True, type=int)
    options, rest = parser.parse_known_args()
    LAUNCHER, PORT = os.path.abspath(options.launcher), options.port
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
