#!/usr/bin/env python3
"""End-to-end tests: the real launcher executable (a test build that talks to
127.0.0.1 on a fixed port and pauses 50 ms between lock requests) run as a
process in a temporary game directory, against a scripted HTTP server on
loopback. The same scenarios run on every target: the native build, and the
Windows builds under Wine (with their three DLLs beside the launcher and a
Windows stand-in client)."""
import argparse
import hashlib
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import release_signing  # noqa: E402
from lighttpd_server import LighttpdServer  # noqa: E402
from nginx_server import NginxServer  # noqa: E402
from scripted_server import Reply, ScriptedServer  # noqa: E402

PORT = None
SANITIZED = False
TARGET = None
PUBLISHER = None
SIGNED_LAUNCHER = None  # a build of the launcher that trusts the test key
RELEASE_KEY = None  # the test key's secret half
LATEST = "/~qel/ORN/windows/latest/"
LOCK = LATEST + "update.lock"
MANIFEST = LATEST + "md5sums"
RELEASE = LATEST + "release"
DIGEST_CACHE = "ORN_Launcher.digests"
OWN_LIBRARIES = ("physfs.dll", "sfml-network-2.dll", "sfml-system-2.dll")
CLIENT_SCRIPT = b"#!/bin/sh\necho \"client ran\" >> client.log\nexit 3\n"


class Target:
    """How the launcher under test runs: natively, or a Windows build under Wine."""

    def __init__(self, launcher, wine=None, client=None, timeout=120):
        self.launcher = launcher
        self.wine = wine
        self.timeout = timeout
        with open(launcher, "rb") as binary:
            self.launcher_bytes = binary.read()
        self.client = CLIENT_SCRIPT
        self.libraries = {}  # the DLLs a Windows launcher loads, put beside it in every game directory
        if wine:
            with open(client, "rb") as binary:
                self.client = binary.read()
            for name in OWN_LIBRARIES:
                with open(os.path.join(os.path.dirname(launcher), name), "rb") as binary:
                    self.libraries[name] = binary.read()

    def command(self, executable, *args):
        return ([self.wine] if self.wine else []) + [executable, *args]

    def console(self, raw, name):
        """Console text with LF line ends. A Windows program writes CR LF at each
        line end (text mode): checked here byte for byte, then turned into LF."""
        if not self.wine:
            return raw
        text = raw.replace(b"\r\n", b"\n")
        if text.replace(b"\n", b"\r\n") != raw:
            raise AssertionError("%s has a line end without CR: %r" % (name, raw))
        return text


def md5(content):
    return hashlib.md5(content).hexdigest().encode()


def u8(name):
    """A name's UTF-8 bytes spelled one character a byte, as manifest paths are spelled here."""
    return name.encode("utf-8").decode("latin-1")


def manifest(files):
    return b"".join(hashlib.md5(content).hexdigest().encode() + b"  " + path.encode("latin-1") + b"\n"
                    for path, content in files.items())


def uri(path, directory=LATEST):
    """The request path under which the launcher asks for a manifest path."""
    return directory + urllib.parse.quote_from_bytes(path.encode("latin-1"), safe="/-._~!$&'()*+,;=:@")


def update_server(files, extra_routes=None, lock=None, directory=LATEST, ranges=False):
    """A server that publishes `files` (path -> bytes) under `directory`."""
    routes = {directory + "update.lock": lock or Reply(404),
              directory + "md5sums": Reply(200, manifest(files))}
    for path, content in files.items():
        routes[uri(path, directory)] = Reply(200, content, ranges=ranges)
    routes.update(extra_routes or {})
    return ScriptedServer(PORT, routes)


class LauncherTestCase(unittest.TestCase):
    def setUp(self):
        self.game = tempfile.mkdtemp(prefix="launcher_e2e.")
        self.launcher_bytes = TARGET.launcher_bytes
        self.put("ORN_Launcher.exe", self.launcher_bytes, executable=True)
        self.put("ORN_Client.exe", TARGET.client, executable=True)
        for name, content in TARGET.libraries.items():
            self.put(name, content)
        self.installed = ["ORN_Client.exe", "ORN_Launcher.exe"] + list(TARGET.libraries)

    def library(self, name):
        """An own library as the game directory holds it: the real DLL where the launcher loads it."""
        return TARGET.libraries.get(name, b"old " + name.encode())

    def tearDown(self):
        shutil.rmtree(self.game, ignore_errors=True)

    def path(self, name):
        """A game path as the tests spell manifest paths: each character one byte (see u8)."""
        return os.path.join(self.game, os.fsdecode(name.encode("latin-1")))

    def put(self, name, content, executable=False):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "wb") as out:
            out.write(content)
        if executable:
            os.chmod(self.path(name), stat.S_IRWXU)

    def read(self, name):
        with open(self.path(name), "rb") as source:
            return source.read()

    def run_launcher(self, *args, executable=None, cwd=None, **options):
        result = subprocess.run(TARGET.command(executable or self.path("ORN_Launcher.exe"), *args),
                                cwd=cwd or self.game, capture_output=True, timeout=TARGET.timeout, **options)
        result.stdout = TARGET.console(result.stdout, "standard output")
        result.stderr = TARGET.console(result.stderr, "standard error")
        return result

    def listing(self):
        """The game directory's names, but for the launcher's own record of digests it has seen."""
        return [name for name in os.listdir(self.game) if name != DIGEST_CACHE]

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
TROUBLE = CONNECTED + b"Checking for updated files... !!Failed!!\n" \
    b"Server might be having troubles, check again in a few minutes.\n"


class Handshake(LauncherTestCase):
    def test_no_update_runs_the_client_and_ends_with_its_status(self):
        files = {"ORN_Client.exe": TARGET.client, "libs/engine.dll": b"engine", "empty.cfg": b""}
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

    def test_lock_that_clears_after_three_answers_shows_its_text_on_one_line(self):
        garbage = b"\x1b]0;pwned\x07\x1b[2J\x1b[1;1H2026-12-08\x00\x7f\xc2\x9b\xff 10:00 UTC\r\n" \
                  b"Updated files retrieved, patching and launching ORN...\n"
        cases = {  # the lock's body: what the player sees after "Update started at "
            "a date": (Reply(200, b"Mon Dec  7 10:00:00 UTC 2026\n"), b"Mon Dec  7 10:00:00 UTC 2026"),
            "escape sequences and a fake line": (
                Reply(200, garbage), b"2026-12-08 10:00 UTC  Updated files retrieved, patching and launching ORN..."),
            "accents kept": (Reply(200, "mise à jour".encode()), "mise à jour".encode()),
            "an endless body, read a few KiB of": (Reply(200, b"", endless=True), b""),
        }
        for name, (locked, shown) in cases.items():
            with self.subTest(name), update_server({}, lock=[locked] * 3 + [Reply(404)]) as server:
                result = self.run_launcher()
                self.assertEqual(result.stdout,
                                 b"Connecting to server... Failed.\n"
                                 b"Server locked during update operation, waiting for lock to be released.\n"
                                 b"Update started at " + shown + b"\n"
                                 b"Waiting... Connected\n"
                                 b"Checking for updated files... Done\nNo updates found, starting ORN...\n")
                self.assertEqual(server.requests, [LOCK] * 4 + [MANIFEST])
                self.assertEqual(result.returncode, 3)

    def test_lock_request_failures_give_up_with_status_1(self):
        cases = {
            "status 500": ([Reply(500)], b"Connecting to server... !!Failed!!\n"),
            "status 403": ([Reply(403)], b"Connecting to server... !!Failed!!\n"),
            "status 301": ([Reply(301)], b"Connecting to server... !!Failed!!\n"),
            "status 2000, not 200": ([Reply(2000)], b"Connecting to server... !!Failed!!\n"),
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
                 "data.pak": b"\x00\r\n\x00data\xff", "ORN_Client.exe": TARGET.client,
                 u8("libs/données.pak"): b"a name beyond ASCII"}
        for name in OWN_LIBRARIES:
            # A real DLL stays loadable with bytes appended: the second run loads the new ones.
            files[name] = self.library(name) + b"#version 2"
            self.put(name, self.library(name))
        self.put("data.pak", b"stale")
        listed = dict(files, **{"update.lock": b"x", "md5sums": b"y"})

        with update_server(files, {LATEST + "md5sums": Reply(200, manifest(listed))}) as server:
            result = self.run_launcher()
        changed = ["ORN_Launcher.exe", "libs/physfs.dll", "data.pak", u8("libs/données.pak")] + list(OWN_LIBRARIES)
        self.assert_downloads(result.stdout, HEADER, [b"* %s... Done.\n" % p.encode("latin-1") for p in changed],
                              LAUNCHING)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.returncode, 3)
        self.assertTrue(self.client_ran())
        self.assertEqual(sorted(server.requests), sorted([LOCK, MANIFEST] + [uri(p) for p in changed]))
        self.assertIn("donn\xc3\xa9es.pak".encode("latin-1"), os.listdir(os.fsencode(self.path("libs"))))

        self.assertEqual(self.read("ORN_Launcher.exe"), new_launcher)
        self.assertEqual(self.read("ORN_Launcher.exe.old"), self.launcher_bytes)
        for name in OWN_LIBRARIES:
            self.assertEqual(self.read(name), files[name])
            self.assertEqual(self.read(name + ".old"), self.library(name))
        for name in ("ORN_Launcher.exe",) + OWN_LIBRARIES:
            self.assertFalse(os.path.exists(self.path(name + ".new")), name)
        self.assertEqual(self.read("libs/physfs.dll"), b"a library, not ours")
        self.assertEqual(self.read("data.pak"), files["data.pak"])

        # The new launcher, started while the next update is being published, waits and finds it current.
        with update_server(files, lock=[Reply(200, b"now"), Reply(200, b"now"), Reply(404)]) as server:
            again = self.run_launcher()
        self.assertEqual(again.stdout, b"Connecting to server... Failed.\n"
                         b"Server locked during update operation, waiting for lock to be released.\n"
                         b"Update started at now\nWaiting... Connected\n"
                         b"Checking for updated files... Done\nNo updates found, starting ORN...\n")
        self.assertEqual(again.returncode, 3)
        self.assertEqual(server.requests, [LOCK] * 3 + [MANIFEST])
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
        unsafe = ["../" + outside, "libs/../../" + outside, "/tmp/" + outside, "libs\\x.dll", "c:x.dll", "ctl\x01.dat",
                  "readme.txt.", "aux.txt", "CON", "libs/lpt1", "what?.dat", "not-utf-8\xff.dat", "libs/" + "x" * 142]
        files = {path: b"evil" for path in unsafe}
        files["good.dat"] = b"good"
        # Windows drops the trailing dot: "readme.txt." would overwrite the player's file.
        self.put("readme.txt", b"the player's own")
        with update_server(files) as server:
            result = self.run_launcher()
        # Shown without the control character and the byte that is not UTF-8.
        shown = [p.encode("latin-1").replace(b"\x01", b"").replace(b"\xff", b"") for p in unsafe]
        entries = [b"* %s... Failed.\n" % p for p in shown] + [b"* good.dat... Done.\n"]
        self.assert_downloads(result.stdout, HEADER, entries, CANCELED)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(sorted(server.requests), sorted([LOCK, MANIFEST, LATEST + "good.dat"]))
        parent = os.path.dirname(self.game)
        self.assertFalse(os.path.exists(os.path.join(parent, outside)))
        self.assertFalse(os.path.exists(os.path.join("/tmp", outside)))
        self.assertEqual(sorted(self.listing()), sorted(self.installed + ["good.dat", "readme.txt"]))
        self.assertEqual(self.read("readme.txt"), b"the player's own")

    def test_names_beyond_ascii_in_a_folder_beyond_ascii_started_from_elsewhere(self):
        # The game installed under "José Games/ORN édition", started by its full path from another folder.
        outer = self.game
        self.game = os.path.join(outer, "José Games", "ORN édition")
        os.makedirs(self.game)
        for name in self.installed:
            os.replace(os.path.join(outer, name), self.path(name))
        self.addCleanup(shutil.rmtree, outer, ignore_errors=True)
        elsewhere = tempfile.mkdtemp(prefix="launcher_e2e_elsewhere.")
        self.addCleanup(shutil.rmtree, elsewhere, ignore_errors=True)
        names = [u8(n) for n in ("données.pak", "Карта.dat", "数据.pak", "smile\U0001F600.dat",
                                 "libs/bibliothèque.dll", "libs/модуль.dll", "libs/模块.dll", "libs/\U0001F3AE.dll")]
        files = {name: name.encode("latin-1") * 3 for name in names}
        for attempt, entries in ((1, [b"* %s... Done.\n" % n.encode("latin-1") for n in names]), (2, [])):
            with self.subTest(start=attempt), update_server(files):
                result = self.run_launcher(executable=self.path("ORN_Launcher.exe"), cwd=elsewhere)
                if entries:
                    self.assert_downloads(result.stdout, HEADER, entries, LAUNCHING)
                else:
                    self.assertEqual(result.stdout, CONNECTED + b"Checking for updated files... Done\n"
                                     b"No updates found, starting ORN...\n")
                self.assertEqual(result.returncode, 3)
                self.assertTrue(self.client_ran())
        listed = set(os.listdir(os.fsencode(self.game))) | {b"libs/" + n for n in os.listdir(os.fsencode(self.path("libs")))}
        for name in names:
            self.assertIn(name.encode("latin-1"), listed, "written under its true name")
            self.assertEqual(self.read(name), files[name])
        self.assertEqual(os.listdir(elsewhere), [])

    def test_started_from_another_directory_it_works_in_its_own(self):
        elsewhere = tempfile.mkdtemp(prefix="launcher_e2e_elsewhere.")
        self.addCleanup(shutil.rmtree, elsewhere, ignore_errors=True)
        with open(os.path.join(elsewhere, "notes.txt"), "wb") as notes:
            notes.write(b"the player's notes")
        relative = os.path.relpath(self.path("ORN_Launcher.exe"), elsewhere)
        for command in (self.path("ORN_Launcher.exe"), relative):
            with self.subTest(command=command):
                self.put("notes.txt", b"stale")
                self.put("ORN_Launcher.exe.old", b"leftover")
                files = {"notes.txt": b"the game's notes, version 2", "ORN_Launcher.exe": self.launcher_bytes + b"#2"}
                with update_server(files):
                    result = self.run_launcher(executable=command, cwd=elsewhere)
                self.assert_downloads(result.stdout, HEADER, [b"* notes.txt... Done.\n",
                                                              b"* ORN_Launcher.exe... Done.\n"], LAUNCHING)
                self.assertEqual(result.returncode, 3)
                self.assertEqual(self.read("notes.txt"), files["notes.txt"])
                self.assertEqual(self.read("ORN_Launcher.exe"), files["ORN_Launcher.exe"])
                self.assertEqual(self.read("ORN_Launcher.exe.old"), self.launcher_bytes)
                self.assertTrue(self.client_ran(), "the client runs in the game directory")
                self.assertEqual(os.listdir(elsewhere), ["notes.txt"])
                with open(os.path.join(elsewhere, "notes.txt"), "rb") as notes:
                    self.assertEqual(notes.read(), b"the player's notes")
                os.replace(self.path("ORN_Launcher.exe.old"), self.path("ORN_Launcher.exe"))
                os.remove(self.path("client.log"))


class FastStart(LauncherTestCase):
    """The launcher's record of digests: an unchanged file is not read again
    on the next start; a file changed in any way is hashed, and fetched."""

    def put_old(self, name, content):
        """A file last modified an hour ago: settled, so its recorded digest may be trusted."""
        self.put(name, content)
        old = time.time() - 3600
        os.utime(self.path(name), (old, old))

    def traced_run(self):
        """A run with the files it opens traced (natively); the traced names."""
        if TARGET.wine:
            return self.run_launcher(), None
        traces = tempfile.mkdtemp(prefix="launcher_e2e_trace.")
        self.addCleanup(shutil.rmtree, traces, ignore_errors=True)
        trace = os.path.join(traces, "opened")
        # LeakSanitizer cannot run under ptrace; the other runs check for leaks.
        environment = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
        result = subprocess.run(["strace", "-f", "-qq", "-e", "trace=open,openat", "-o", trace,
                                 self.path("ORN_Launcher.exe")], cwd=self.game, capture_output=True,
                                timeout=TARGET.timeout, env=environment)
        with open(trace) as log:
            return result, re.findall(r'open(?:at)?\(.*?"([^"]*)"', log.read())

    def test_unchanged_files_are_not_read_and_any_change_is_fetched(self):
        files = {name: name.encode() * 50 for name in ("kept.dat", "racy.dat", "grown.dat", "swapped.dat",
                                                         "deleted.dat", "libs/kept.dll")}
        for name, content in files.items():
            self.put_old(name, content)
        self.put("racy.dat", files["racy.dat"])  # written just now: its record cannot vouch for it yet
        no_update = CONNECTED + b"Checking for updated files... Done\nNo updates found, starting ORN...\n"
        with update_server(files):
            self.assertEqual(self.run_launcher().stdout, no_update)
            self.assertTrue(os.path.isfile(self.path(DIGEST_CACHE)))
            second, opened = self.traced_run()
        self.assertEqual((second.stdout, second.returncode), (no_update, 3))
        if opened is not None:
            read = {os.path.relpath(name, self.game) for name in opened if name.startswith(self.game)}
            self.assertEqual(read & set(files), {"racy.dat"}, "only the file changed within its record's tick is read")

        racy = os.stat(self.path("racy.dat"))
        self.put("racy.dat", b"R" * len(files["racy.dat"]))  # same size, same time
        os.utime(self.path("racy.dat"), ns=(racy.st_atime_ns, racy.st_mtime_ns))
        grown = os.stat(self.path("grown.dat"))
        self.put("grown.dat", files["grown.dat"] + b"more")
        os.utime(self.path("grown.dat"), ns=(grown.st_atime_ns, grown.st_mtime_ns))
        swapped = os.stat(self.path("swapped.dat"))
        self.put("swapped.new", b"S" * len(files["swapped.dat"]))
        os.utime(self.path("swapped.new"), ns=(swapped.st_atime_ns, swapped.st_mtime_ns))
        os.replace(self.path("swapped.new"), self.path("swapped.dat"))  # another file, same size and time
        os.remove(self.path("deleted.dat"))
        with update_server(files):
            third = self.run_launcher()
        fetched = ["racy.dat", "grown.dat", "swapped.dat", "deleted.dat"]
        self.assert_downloads(third.stdout, HEADER, [b"* %s... Done.\n" % p.encode() for p in fetched], LAUNCHING)
        for name, content in files.items():
            self.assertEqual(self.read(name), content, name)

    def test_a_damaged_cache_is_never_trusted(self):
        old, new = b"the old content", b"the new content"

        def sealed(text):
            return text + md5(text) + b"\n"
        damages = {"sealed as the launcher seals it (trusted: a hint, not a defence)": lambda body, forged: sealed(body),
                   "checksum does not match": lambda body, forged: forged,
                   "truncated": lambda body, forged: forged[:len(forged) // 2],
                   "garbage": lambda body, forged: os.urandom(300),
                   "future version": lambda body, forged: sealed(body.replace(b" 1\n", b" 2\n", 1)),
                   "a directory": None}
        for name, damage in damages.items():
            with self.subTest(name):
                self.put_old("kept.dat", b"kept")
                self.put_old("changed.dat", old)
                with update_server({"kept.dat": b"kept", "changed.dat": old}):
                    self.assertEqual(self.run_launcher().returncode, 3)
                # The record made then, altered to claim that the file now holds the new content.
                forged = self.read(DIGEST_CACHE).replace(md5(old), md5(new))
                os.remove(self.path(DIGEST_CACHE))
                if damage is None:
                    os.mkdir(self.path(DIGEST_CACHE))
                else:
                    self.put(DIGEST_CACHE, damage(forged[:forged.rindex(b"\n", 0, len(forged) - 1) + 1], forged))
                with update_server({"kept.dat": b"kept", "changed.dat": new}):
                    result = self.run_launcher()
                if name.startswith("sealed"):
                    self.assertEqual(result.stdout, CONNECTED + b"Checking for updated files... Done\n"
                                     b"No updates found, starting ORN...\n")
                    continue
                self.assertEqual(result.stdout, HEADER + b"* changed.dat... Done.\n" + LAUNCHING)
                self.assertEqual(self.read("changed.dat"), new)

    def test_a_libs_folder_elsewhere_is_written_once_and_current_after(self):
        elsewhere = tempfile.mkdtemp(prefix="launcher_e2e_libs.")
        self.addCleanup(shutil.rmtree, elsewhere, ignore_errors=True)
        os.symlink(elsewhere, self.path("libs"))
        files = {"libs/a.dll": b"a library on another disk"}
        with update_server(files):
            first = self.run_launcher()
            second = self.run_launcher()
        self.assertEqual(first.stdout, HEADER + b"* libs/a.dll... Done.\n" + LAUNCHING)
        self.assertEqual(second.stdout, CONNECTED + b"Checking for updated files... Done\n"
                         b"No updates found, starting ORN...\n")
        with open(os.path.join(elsewhere, "a.dll"), "rb") as written:
            self.assertEqual(written.read(), files["libs/a.dll"])


PIECE = 16 << 20  # the launcher's range request size


def piece(content, first, last, total=None, body=None):
    """A 206 answer for bytes first..last, its body and total overridable to lie."""
    return Reply(206, content[first:last + 1] if body is None else body,
                 headers={"Content-Range": "bytes %d-%d/%d" % (first, last, total or len(content))})


class Downloads(LauncherTestCase):
    def test_pieces_ranges_ignored_empty_files_escaped_names_and_links(self):
        big = os.urandom(2 * PIECE + 12345)
        files = {"big.pak": big, "small.dat": b"one piece", "ignores-ranges.dat": b"whole" * 1000,
                 "empty.dat": b"", "a b.dat": b"blank", "100%.dat": b"percent", "upper.dat": b"upper case digest",
                 "linked.dat": b"replaces the link", u8("right\u202eto left\u009b.dat"): b"direction marks"}
        outside = tempfile.NamedTemporaryFile(prefix="launcher_e2e_target.", delete=False)
        outside.write(b"not the game's")
        outside.close()
        self.addCleanup(os.remove, outside.name)
        os.symlink(outside.name, self.path("linked.dat"))
        listing = manifest(files).replace(hashlib.md5(b"upper case digest").hexdigest().encode(),
                                          hashlib.md5(b"upper case digest").hexdigest().upper().encode())
        routes = {LATEST + "md5sums": Reply(200, listing),
                  uri("ignores-ranges.dat"): Reply(200, files["ignores-ranges.dat"])}
        with update_server(files, routes, ranges=True) as server:
            result = self.run_launcher()
        shown = {path: path.encode("latin-1").replace(u8("\u202e").encode("latin-1"), b"")
                 .replace(u8("\u009b").encode("latin-1"), b"") for path in files}  # what a terminal acts on, left out
        self.assert_downloads(result.stdout, HEADER, [b"* %s... Done.\n" % shown[p] for p in files], LAUNCHING)
        self.assertEqual(result.returncode, 3)
        for path, content in files.items():
            self.assertEqual(self.read(path), content, path)
        self.assertFalse(os.path.islink(self.path("linked.dat")))
        with open(outside.name, "rb") as target:
            self.assertEqual(target.read(), b"not the game's")
        asked = [(path, fields) for path, fields in zip(server.requests, server.ranges)]
        self.assertEqual([r for p, r in asked if p == uri("big.pak")],
                         ["bytes=%d-%d" % (n * PIECE, (n + 1) * PIECE - 1) for n in range(3)])
        self.assertEqual([r for p, r in asked if p == uri("small.dat")], ["bytes=0-%d" % (PIECE - 1)])
        self.assertIn(LATEST + "a%20b.dat", server.requests)
        self.assertIn(LATEST + "100%25.dat", server.requests)
        self.assertEqual([r for p, r in asked if p == MANIFEST], [None], "the manifest request carries no Range")
        self.assertEqual(sorted(self.listing()), sorted([os.fsdecode(p.encode("latin-1")) for p in files] +
                                                        self.installed + ["client.log"]))

    def test_untrustworthy_answers_fail_and_keep_the_earlier_file(self):
        two_pieces = os.urandom(PIECE + 100)
        text = b"0123456789" * 300
        chunk_end = len(b"3e8\r\n") + 1000 + 2  # the end of the first chunk of 1000 bytes
        second_piece_lies = {
            "wrong-start.pak": piece(two_pieces, PIECE + 1, PIECE + 99, body=two_pieces[PIECE:PIECE + 99]),
            "short-piece.pak": piece(two_pieces, PIECE, PIECE + 99, body=two_pieces[PIECE:PIECE + 99]),
            "total-changes.pak": piece(two_pieces, PIECE, PIECE + 99, total=PIECE + 200),
            "part-of-the-range.pak": piece(two_pieces, PIECE, PIECE + 49),  # true bytes, but fewer than asked
            "dropped-in-piece.pak": Reply(206, two_pieces[PIECE:], drop_after=50,
                                          headers={"Content-Range": "bytes %d-%d/%d" % (PIECE, PIECE + 99, PIECE + 100)}),
        }
        routes = {uri(path): [piece(two_pieces, 0, PIECE - 1), lie] for path, lie in second_piece_lies.items()}
        files = {path: two_pieces for path in second_piece_lies}
        for path, answer in {"close-delimited-cut.dat": Reply(200, text, send_length=False, drop_after=1234),
                             "chunked-cut-mid-chunk.dat": Reply(200, text, chunked=True, drop_after=1500),
                             "chunked-cut-at-boundary.dat": Reply(200, text, chunked=True, drop_after=chunk_end),
                             "wrong-digest.dat": Reply(200, b"<html>500 Internal Server Error</html>"),
                             "refused-range.dat": Reply(416, headers={"Content-Range": "bytes */5"}),
                             "ORN_Launcher.exe": Reply(200, b"<html>not a launcher</html>")}.items():
            files[path] = text
            routes[uri(path)] = answer
        for path in files:
            if path != "ORN_Launcher.exe":
                self.put(path, b"earlier " + path.encode())
        with update_server(files, routes):
            result = self.run_launcher()
        self.assert_downloads(result.stdout, HEADER, [b"* %s... Failed.\n" % p.encode() for p in files], CANCELED)
        self.assertEqual(result.returncode, 1)
        for path in files:
            expected = self.launcher_bytes if path == "ORN_Launcher.exe" else b"earlier " + path.encode()
            self.assertEqual(self.read(path), expected, path)
        # A piece that fails after whole ones leaves those to be resumed (they are hashed again then);
        # a changed total says the file changed: nothing is kept.
        broken = [p for p in second_piece_lies if p != "total-changes.pak"]
        resumable = [p + suffix for p in broken for suffix in (".orn-partial", ".orn-resume")]
        self.assertEqual(sorted(self.listing()), sorted(set(list(files) + self.installed + resumable)),
                         "no other partial, temporary or .new file is left")
        for path in broken:
            self.assertEqual(self.read(path + ".orn-partial"), two_pieces[:PIECE], "whole pieces only")
        with update_server({}):
            self.assertEqual(self.run_launcher().returncode, 3, "the launcher still runs")
        self.assertEqual(sorted(self.listing()), sorted(set(list(files) + self.installed + ["client.log"])),
                         "partial files of entries no longer listed are removed")

    def test_cut_manifest_gives_up_with_status_1(self):
        listing = manifest({"data.pak": b"new"})
        for cut in (len(listing) // 2, 0):
            with self.subTest(cut=cut), ScriptedServer(PORT, {LOCK: Reply(404),
                                                              MANIFEST: Reply(200, listing, drop_after=cut)}):
                result = self.run_launcher()
                self.assertEqual((result.stdout, result.returncode), (TROUBLE, 1))

    def test_answers_larger_than_the_address_space_are_streamed_or_refused(self):
        if SANITIZED or TARGET.wine:
            self.skipTest("the sanitizers' allocator ends the process on exhaustion, and Wine does not start "
                          "under a small address-space limit; run natively without sanitizers")
        served, digest = sparse_file(600 * 1000 * 1000)
        routes = {MANIFEST: Reply(200, b"%s  big.pak\n" % digest.encode()),
                  uri("big.pak"): Reply(200, body_file=served)}  # the whole file, whatever range was asked
        with update_server({}, routes):
            result = self.run_launcher(preexec_fn=address_space_limit)
        self.assertEqual((result.stdout, result.returncode), (HEADER + b"* big.pak... Done.\n" + LAUNCHING, 3))
        self.assertEqual(subprocess.run(["cmp", served, self.path("big.pak")]).returncode, 0)
        os.remove(self.path("big.pak"))
        with ScriptedServer(PORT, {LOCK: Reply(404), MANIFEST: Reply(200, endless=True)}):
            result = self.run_launcher(preexec_fn=address_space_limit)
        self.assertEqual((result.stdout, result.returncode), (TROUBLE, 1), "an endless manifest is cut off")
        # Within the bound, but more entries than this memory holds: a failed run, not a crash.
        crowded = b"".join(b"%032x  a%08d\n" % (n, n) for n in range((64 << 20) // 44))
        with ScriptedServer(PORT, {LOCK: Reply(404), MANIFEST: Reply(200, crowded)}):
            result = self.run_launcher(preexec_fn=lambda: address_space_limit(256))
        self.assertEqual((result.stdout, result.stderr, result.returncode), (TROUBLE, b"", 1))

    def test_a_700_MB_file_in_a_32_bit_address_space_and_a_failed_entry(self):
        # Held whole, a body this large takes a 32-bit process past its address space.
        served, digest = sparse_file(700 * 1000 * 1000)
        # A second entry fails, so the run ends without starting the client:
        # under emulation each Windows process start takes a minute.
        routes = {MANIFEST: Reply(200, b"%s  big.pak\n%s  missing.dat\n" % (
                      digest.encode(), hashlib.md5(b"").hexdigest().encode())),
                  uri("big.pak"): Reply(200, body_file=served, ranges=True)}
        with update_server({}, routes):
            result = self.run_launcher()
        self.assert_downloads(result.stdout, HEADER, [b"* big.pak... Done.\n", b"* missing.dat... Failed.\n"], CANCELED)
        self.assertEqual((result.stderr, result.returncode), (b"", 1))
        self.assertEqual(subprocess.run(["cmp", served, self.path("big.pak")]).returncode, 0)
        os.remove(self.path("big.pak"))

    def test_killed_in_the_middle_then_a_normal_run_completes(self):
        big = os.urandom(3 * PIECE)
        self.put("big.pak", b"the earlier release")
        stalled = piece(big, PIECE, 2 * PIECE - 1)
        stalled.stall_after = 1000
        routes = {uri("big.pak"): [Reply(200, big, ranges=True), stalled,
                                   Reply(200, big, ranges=True)]}
        with update_server({"big.pak": big}, routes) as server:
            launcher = subprocess.Popen(TARGET.command(self.path("ORN_Launcher.exe")), cwd=self.game,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 60
            while server.requests.count(uri("big.pak")) < 2 and time.monotonic() < deadline:
                time.sleep(0.02)
            launcher.kill()
            launcher.wait(timeout=10)
            self.assertEqual(self.read("big.pak"), b"the earlier release")
            result = self.run_launcher()
        self.assertEqual(result.stdout, HEADER + b"* big.pak... Done.\n" + LAUNCHING)
        self.assertEqual(self.read("big.pak"), big)
        self.assertEqual(sorted(self.listing()), sorted(self.installed + ["big.pak", "client.log"]))
        self.assertEqual(ranges_asked(server, "big.pak")[2:], ["bytes=%d-%d" % (PIECE, 2 * PIECE - 1),
                                                               "bytes=%d-%d" % (2 * PIECE, 3 * PIECE - 1)],
                         "killed in its second piece, it resumes there")


def sparse_file(size):
    """A file of `size` bytes, zeros but for a few marks, that takes no disk; its path and MD5."""
    directory = tempfile.mkdtemp(prefix="launcher_e2e_sparse.")
    unittest.addModuleCleanup(shutil.rmtree, directory, ignore_errors=True)
    served = os.path.join(directory, "big.pak")
    with open(served, "wb") as out:
        for offset in (0, size // 3, size - 7):
            out.seek(offset)
            out.write(b"marked!")
    digest = hashlib.md5()
    with open(served, "rb") as source:
        for block in iter(lambda: source.read(1 << 24), b""):
            digest.update(block)
    return served, digest.hexdigest()


def address_space_limit(mebibytes=512):
    """Less memory than the files the tests serve: held whole, they could not arrive."""
    import resource
    resource.setrlimit(resource.RLIMIT_AS, (mebibytes << 20, mebibytes << 20))


def ranges_asked(server, path):
    return [r for p, r in zip(server.requests, server.ranges) if p == uri(path)]


class Resume(LauncherTestCase):
    """A download that broke off continues where it stopped on the next start,
    from the end of the last whole piece, and only where that is sound."""

    def break_in_second_piece(self, path, content, etag='"v1"'):
        """A first start whose download of `path` drops inside its second piece."""
        dropped = piece(content, PIECE, min(2 * PIECE, len(content)) - 1)
        dropped.drop_after, dropped.etag = 1000, etag
        with update_server({path: content}, {uri(path): [Reply(200, content, ranges=True, etag=etag), dropped]}):
            result = self.run_launcher()
        self.assertEqual(result.returncode, 1)
        local = path + ".new" if path == "ORN_Launcher.exe" else path
        self.assertEqual(self.read(local + ".orn-partial"), content[:PIECE], "the whole first piece is kept")

    def test_a_broken_download_resumes_with_the_missing_pieces_only(self):
        big = os.urandom(3 * PIECE - 5)
        self.break_in_second_piece("big.pak", big)
        with update_server({"big.pak": big}, {uri("big.pak"): Reply(200, big, ranges=True, etag='"v1"')}) as server:
            result = self.run_launcher()
        self.assertEqual(result.stdout, HEADER + b"* big.pak... Done.\n" + LAUNCHING)
        self.assertEqual(ranges_asked(server, "big.pak"), ["bytes=%d-%d" % (n * PIECE, (n + 1) * PIECE - 1)
                                                           for n in (1, 2)])
        self.assertEqual([c for p, c in zip(server.requests, server.conditions) if p == uri("big.pak")],
                         ['"v1"', '"v1"'])
        self.assertEqual([v for p, v in zip(server.requests, server.versions) if p == uri("big.pak")],
                         ["HTTP/1.1"] * 2)
        self.assertEqual(self.read("big.pak"), big)
        self.assertEqual(sorted(self.listing()), sorted(self.installed + ["big.pak", "client.log"]))

    def test_a_partial_file_already_whole_is_put_in_place_without_a_request(self):
        # Killed between the last write and the rename: nothing is left to ask for.
        files = {"one-piece.pak": os.urandom(PIECE), "two-pieces.pak": os.urandom(2 * PIECE)}
        for path, content in files.items():
            self.put(path, b"earlier")
            self.put(path + ".orn-partial", content)
            self.put(path + ".orn-resume", b"orn-resume 1\n%s\n%s\n%d\nETag\n\"v1\"\n" % (
                path.encode(), md5(content), len(content)))
        with update_server(files, ranges=True) as server:
            result = self.run_launcher()
        self.assert_downloads(result.stdout, HEADER, [b"* %s... Done.\n" % p.encode() for p in files], LAUNCHING)
        self.assertEqual(server.requests, [LOCK, MANIFEST])
        for path, content in files.items():
            self.assertEqual(self.read(path), content, path)
        self.assertEqual(sorted(self.listing()), sorted(self.installed + list(files) + ["client.log"]))

    def test_what_changed_meanwhile_is_fetched_from_zero_in_the_same_run(self):
        big = os.urandom(2 * PIECE + 100)
        longer = os.urandom(2 * PIECE + 200)
        cases = {  # name: (what the server holds now, its answer, where the second start's requests begin)
            # The manifest lists another digest: the partial file is dropped at start.
            "changed, and another size": (longer, Reply(200, longer, ranges=True), [0, PIECE, 2 * PIECE]),
            # The same bytes published again: a new ETag, so If-Match gets 412.
            "republished, If-Match refused": (big, Reply(200, big, ranges=True, etag='"v2"'),
                                              [PIECE, 0, PIECE, 2 * PIECE]),
            "ranges ignored, the whole file taken": (big, Reply(200, big), [PIECE]),
            "kept bytes corrupted": (big, Reply(200, big, ranges=True, etag='"v1"'),
                                     [PIECE, 2 * PIECE, 0, PIECE, 2 * PIECE]),
        }
        for name, (now, answer, starts) in cases.items():
            with self.subTest(name):
                self.break_in_second_piece("big.pak", big)
                if name == "kept bytes corrupted":
                    with open(self.path("big.pak.orn-partial"), "r+b") as partial:
                        partial.write(b"corrupted")
                with update_server({"big.pak": now}, {uri("big.pak"): answer}) as server:
                    result = self.run_launcher()
                self.assertEqual(result.stdout, HEADER + b"* big.pak... Done.\n" + LAUNCHING)
                self.assertEqual(self.read("big.pak"), now)
                self.assertEqual([int(r.split("=")[1].split("-")[0]) for r in ranges_asked(server, "big.pak")], starts)
                os.remove(self.path("big.pak"))
                os.remove(self.path("client.log"))

    def test_the_launchers_own_executable_resumes_into_its_new_copy(self):
        new_launcher = self.launcher_bytes + b"\n" + os.urandom(PIECE + 1000)  # still runnable, two pieces
        self.break_in_second_piece("ORN_Launcher.exe", new_launcher)
        self.assertEqual(self.read("ORN_Launcher.exe"), self.launcher_bytes)
        with update_server({"ORN_Launcher.exe": new_launcher}, {uri("ORN_Launcher.exe"): Reply(
                200, new_launcher, ranges=True, etag='"v1"')}) as server:
            result = self.run_launcher()
        self.assertEqual(result.stdout, HEADER + b"* ORN_Launcher.exe... Done.\n" + LAUNCHING)
        self.assertEqual(ranges_asked(server, "ORN_Launcher.exe"), ["bytes=%d-%d" % (PIECE, 2 * PIECE - 1)])
        self.assertEqual(self.read("ORN_Launcher.exe"), new_launcher)

    def test_progress_on_a_console_and_todays_bytes_through_a_pipe(self):
        if TARGET.wine:  # a Windows console is not a pseudo-terminal; every scenario checks the pipe
            return
        import pty
        big = os.urandom(3 * PIECE)
        main, secondary = pty.openpty()
        with update_server({"big.pak": big}, ranges=True):
            launcher = subprocess.Popen([self.path("ORN_Launcher.exe")], cwd=self.game, stdout=secondary,
                                        stderr=subprocess.DEVNULL)
            os.close(secondary)
            shown = b""
            while True:
                try:
                    chunk = os.read(main, 65536)
                except OSError:  # the terminal's other end closed: the launcher has ended
                    break
                if not chunk:
                    break
                shown += chunk
            launcher.wait(timeout=TARGET.timeout)
        os.close(main)
        line = [entry for entry in shown.split(b"\n") if b"big.pak" in entry][0]
        self.assertRegex(line, rb"\* big\.pak\.\.\. +\d+% [\d.]+ MB of 50\.3 MB, [\d.]+ MB/s")
        self.assertEqual(line.rstrip(b"\r").split(b"\r")[-1], b"* big.pak... Done.", "the line ends as today's")
        self.assertNotIn(b"\x1b", shown, "no colour codes")


class PublishedWithNginx(LauncherTestCase):
    """The deployer's half and the player's half together: orn-publish writes
    the channel, Debian's nginx serves it, the launcher updates from it."""

    def setUp(self):
        if not PUBLISHER:
            self.fail("these scenarios need the native orn-publish: run with --publisher")
        super().setUp()
        self.web = tempfile.mkdtemp(prefix="launcher_e2e_web.")
        self.addCleanup(shutil.rmtree, self.web, ignore_errors=True)
        self.channel = os.path.join(self.web, LATEST.strip("/"))
        self.release = os.path.join(self.web, "release")

    def publish(self, files, obstacle=None):
        """Publishes `files`; with `obstacle`, a folder of that name is put in the channel once the lock is
        up (the checks before it refuse one), so that the publish fails halfway."""
        shutil.rmtree(self.release, ignore_errors=True)
        for path, content in files.items():
            os.makedirs(os.path.dirname(os.path.join(self.release, path)), exist_ok=True)
            with open(os.path.join(self.release, path), "wb") as out:
                out.write(content)
        # A deployer's umask of 077: nginx's worker, another user, must still read what is published.
        publish = subprocess.Popen([PUBLISHER, *(["--hold-lock", "5"] if obstacle else []), self.release,
                                    self.channel], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   preexec_fn=lambda: os.umask(0o077))
        if obstacle:
            deadline = time.monotonic() + 30
            while not os.path.exists(os.path.join(self.channel, "update.lock")):
                self.assertLess(time.monotonic(), deadline, "the publish never raised the lock")
                time.sleep(0.02)
            os.makedirs(os.path.join(self.channel, obstacle))
        publish.communicate(timeout=60)
        return publish

    def test_publish_install_update_behind_the_lock(self):
        first = {"ORN_Launcher.exe": self.launcher_bytes, "ORN_Client.exe": TARGET.client, "data.pak": b"data 1",
                 "libs/engine.dll": b"engine 1", "big.pak": os.urandom(PIECE + 4321)}
        first.update(TARGET.libraries)
        self.assertEqual(self.publish(first).returncode, 0)
        os.chmod(self.web, 0o755)
        with NginxServer(PORT, self.web, as_nobody=True) as nginx:
            result = self.run_launcher()
            fetched = ["data.pak", "libs/engine.dll", "big.pak"]
            self.assert_downloads(result.stdout, HEADER, [b"* %s... Done.\n" % p.encode() for p in fetched], LAUNCHING)
            self.assertEqual(result.returncode, 3)
            for path in fetched:
                self.assertEqual(self.read(path), first[path], path)
            self.assertIn("GET %sbig.pak HTTP/1.1 206" % LATEST, nginx.requests())
            self.assertEqual(self.run_launcher().stdout, CONNECTED + b"Checking for updated files... Done\n"
                             b"No updates found, starting ORN...\n")

            # Release 2 meets an obstacle in the channel: the lock stays up and the launcher waits.
            second = dict(first, **{"data.pak": b"data 2", "new.dat": b"new in release 2",
                                    "ORN_Launcher.exe": self.launcher_bytes + b"#release 2"})
            self.assertEqual(self.publish(second, obstacle="new.dat").returncode, 1)
            with open(os.path.join(self.channel, "update.lock"), "rb") as lock:
                started = lock.read()
            launcher = subprocess.Popen(TARGET.command(self.path("ORN_Launcher.exe")), cwd=self.game,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            deadline = time.monotonic() + TARGET.timeout
            while sum(" 200" in r and "update.lock" in r for r in nginx.requests()) < 3:
                self.assertLess(time.monotonic(), deadline, "the launcher never asked for the lock")
                time.sleep(0.05)
            os.rmdir(os.path.join(self.channel, "new.dat"))
            self.assertEqual(self.publish(second).returncode, 0)
            stdout, stderr = launcher.communicate(timeout=TARGET.timeout)
        self.assertTrue(TARGET.console(stdout, "standard output").startswith(
            b"Connecting to server... Failed.\n"
            b"Server locked during update operation, waiting for lock to be released.\n"
            b"Update started at " + started + b"\nWaiting... Connected\n"), stdout)
        self.assertEqual(launcher.returncode, 3)
        for path in ("data.pak", "new.dat", "ORN_Launcher.exe"):
            self.assertEqual(self.read(path), second[path], path)


    def test_resume_against_nginx_with_the_if_match_it_honours(self):
        big = os.urandom(2 * PIECE + 777)
        self.assertEqual(self.publish({"big.pak": big}).returncode, 0)
        served = os.path.join(self.channel, "big.pak")
        os.chmod(self.web, 0o755)
        for republished in (False, True):
            with self.subTest(republished=republished):
                facts = os.stat(served)
                etag = '"%x-%x"' % (int(facts.st_mtime), facts.st_size)  # nginx's: time and size
                # A first start broken inside the second piece, by a stand-in with nginx's ETag.
                dropped = piece(big, PIECE, 2 * PIECE - 1)
                dropped.drop_after, dropped.etag = 1000, etag
                with update_server({"big.pak": big}, {uri("big.pak"): [Reply(200, big, ranges=True, etag=etag),
                                                                       dropped]}):
                    self.assertEqual(self.run_launcher().returncode, 1)
                if republished:  # the same bytes published again: another ETag
                    os.utime(served, (facts.st_mtime + 10, facts.st_mtime + 10))
                with NginxServer(PORT, self.web, as_nobody=True) as nginx:
                    result = self.run_launcher()
                    asked = [r for r in nginx.requests() if "big.pak" in r]
                self.assertEqual(result.stdout, HEADER + b"* big.pak... Done.\n" + LAUNCHING)
                self.assertEqual(self.read("big.pak"), big)
                line = "GET %sbig.pak HTTP/1.1 " % LATEST
                self.assertEqual(asked, [line + "412"] + [line + "206"] * 3 if republished else [line + "206"] * 2)
                os.remove(self.path("big.pak"))

    def test_lighttpd_answers_the_pieces_with_206(self):
        big = os.urandom(2 * PIECE + 999)
        self.assertEqual(self.publish({"big.pak": big}).returncode, 0)
        with LighttpdServer(PORT, self.web) as lighttpd:
            result = self.run_launcher()
        asked = [r for r in lighttpd.requests() if "big.pak" in r]
        self.assertEqual(result.stdout, HEADER + b"* big.pak... Done.\n" + LAUNCHING)
        self.assertEqual(self.read("big.pak"), big)
        self.assertEqual(asked, ["GET %sbig.pak HTTP/1.1 206" % LATEST] * 3)


class SignedReleases(LauncherTestCase):
    """The launcher built with the test key, against channels that the real
    orn-publish signed with its secret half, served as published or forged."""

    def setUp(self):
        if not (PUBLISHER and SIGNED_LAUNCHER and RELEASE_KEY):
            self.fail("these scenarios need --publisher, --signed-launcher and --release-key")
        super().setUp()
        with open(SIGNED_LAUNCHER, "rb") as binary:
            self.launcher_bytes = binary.read()
        self.put("ORN_Launcher.exe", self.launcher_bytes, executable=True)
        self.web = tempfile.mkdtemp(prefix="launcher_e2e_signed.")
        self.addCleanup(shutil.rmtree, self.web, ignore_errors=True)

    def publish(self, files, channel="latest", *options):
        tree = os.path.join(self.web, "tree")
        shutil.rmtree(tree, ignore_errors=True)
        for path, content in files.items():
            os.makedirs(os.path.dirname(os.path.join(tree, path)), exist_ok=True)
            with open(os.path.join(tree, path), "wb") as out:
                out.write(content)
        directory = os.path.join(self.web, channel)
        result = subprocess.run([PUBLISHER, "--sign", RELEASE_KEY, *options, tree, directory],
                                capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        return directory

    def channel_file(self, directory, name):
        with open(os.path.join(directory, name), "rb") as source:
            return source.read()

    def routes(self, directory):
        """The published channel under LATEST, with range requests answered."""
        routes = {LOCK: Reply(404)}
        for root, _, names in os.walk(directory):
            for name in names:
                path = os.path.relpath(os.path.join(root, name), directory).replace(os.sep, "/")
                routes[uri(path)] = Reply(200, self.channel_file(root, name), ranges=True)
        return routes

    def game_snapshot(self):
        return {os.path.relpath(os.path.join(root, name), self.game): self.read(os.path.join(root, name))
                for root, _, names in os.walk(self.game) for name in names}

    def test_signed_self_update_of_launcher_and_libraries(self):
        files = {"ORN_Launcher.exe": self.launcher_bytes + b"\n#version 2\n", "ORN_Client.exe": TARGET.client,
                 "libs/engine.dll": b"engine", "empty.cfg": b""}
        for name in OWN_LIBRARIES:
            files[name] = self.library(name) + b"#version 2"
            self.put(name, self.library(name))
        with ScriptedServer(PORT, self.routes(self.publish(files))) as server:
            result = self.run_launcher()
        changed = ["ORN_Launcher.exe", "libs/engine.dll", "empty.cfg"] + list(OWN_LIBRARIES)
        self.assert_downloads(result.stdout, HEADER, [b"* %s... Done.\n" % p.encode() for p in changed], LAUNCHING)
        self.assertEqual((result.stderr, result.returncode), (b"", 3))
        self.assertEqual(server.requests[:3], [LOCK, MANIFEST, RELEASE])
        self.assertNotIn(uri("empty.cfg"), server.requests, "nothing is asked for past a signed size")
        for path in changed:
            self.assertEqual(self.read(path), files[path], path)
        self.assertEqual(self.read("ORN_Launcher.exe.old"), self.launcher_bytes)
        self.assertEqual(self.read("ORN_Launcher.releases"), b"1 latest\n")

    def test_forged_stale_or_replayed_releases_end_with_status_1_and_change_nothing(self):
        files = {"data.pak": b"data 2", "libs/engine.dll": b"engine 2"}
        self.put("data.pak", b"data 1")
        channel = self.publish(files, "latest", "--expires", "30")
        release, listing = self.channel_file(channel, "release"), self.channel_file(channel, "md5sums")
        other_channel = self.channel_file(self.publish(files, "beta"), "release")
        body = release_signing.split(release)[0]
        other_key = os.path.join(self.web, "other.secret")
        subprocess.run([PUBLISHER, "keygen", other_key], check=True, capture_output=True, timeout=60)
        expired = re.sub(rb"expires \S+", b"expires 2020-01-01T00:00:00Z", body)
        forged = b"forged data"
        mismatch = b"The update's file list does not match its signature, canceling launch.\n"
        invalid = b"The update's signature is not valid, canceling launch.\n"
        cases = {
            "md5sums changed after signing": ({MANIFEST: Reply(200, listing + md5(b"x") + b"  evil.exe\n")}, mismatch),
            "a file and its md5sums line changed": ({MANIFEST: Reply(200, listing.replace(md5(b"data 2"), md5(forged))),
                                                     uri("data.pak"): Reply(200, forged, ranges=True)}, mismatch),
            "signed by another key": ({RELEASE: Reply(200, release_signing.sign(body, other_key))}, invalid),
            "release missing": ({RELEASE: Reply(404)},
                                b"The update's signed release could not be fetched, canceling launch.\n"),
            "another channel's release": ({RELEASE: Reply(200, other_channel)},
                                          b"The update was signed for another channel, canceling launch.\n"),
            "older than one accepted": ({}, b"The update is older than one already installed, canceling launch.\n"),
            "expired": ({RELEASE: Reply(200, release_signing.sign(expired, RELEASE_KEY))},
                        b"The update's signature has expired, canceling launch.\n"),
            "truncated release": ({RELEASE: Reply(200, release[:len(release) // 2])}, invalid),
            "endless release": ({RELEASE: Reply(200, endless=True)},
                                b"The update's signed release could not be fetched, canceling launch.\n"),
        }
        for name, (forgery, line) in cases.items():
            with self.subTest(name):
                if name == "older than one accepted":
                    self.put("ORN_Launcher.releases", b"2 latest\n")
                before = self.game_snapshot()
                with ScriptedServer(PORT, dict(self.routes(channel), **forgery)) as server:
                    result = self.run_launcher()
                self.assertEqual(result.stdout, CONNECTED + b"Checking for updated files... !!Failed!!\n" + line)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(self.game_snapshot(), before)
                self.assertEqual([r for r in server.requests if r not in (LOCK, MANIFEST, RELEASE)], [])
                if os.path.exists(self.path("ORN_Launcher.releases")):
                    os.remove(self.path("ORN_Launcher.releases"))

    def test_a_body_longer_than_its_signed_size_is_cut_off(self):
        files = {"data.pak": b"signed data " * 1000, "small.dat": b"small"}
        routes = self.routes(self.publish(files))
        routes[uri("data.pak")] = Reply(206, headers={"Content-Range": "bytes 0-11999/12000"}, endless=True)
        routes[uri("small.dat")] = Reply(200, b"small, and then more than was signed", send_length=False)
        started = time.monotonic()
        with ScriptedServer(PORT, routes):
            result = self.run_launcher()
        self.assertLess(time.monotonic() - started, 30, "the endless body was read on")
        self.assert_downloads(result.stdout, HEADER, [b"* data.pak... Failed.\n", b"* small.dat... Failed.\n"],
                              CANCELED)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(sorted(self.listing()), sorted(self.installed))

    def test_a_signed_file_larger_than_the_address_space_answered_200_is_streamed(self):
        if SANITIZED or TARGET.wine:
            self.skipTest("needs an address-space limit: natively without sanitizers")
        served, _ = sparse_file(600 * 1000 * 1000)
        tree = os.path.join(self.web, "tree")
        os.makedirs(tree)
        os.link(served, os.path.join(tree, "big.pak"))
        channel = os.path.join(self.web, "latest")
        subprocess.run([PUBLISHER, "--sign", RELEASE_KEY, tree, channel], check=True, capture_output=True, timeout=120)
        routes = {LOCK: Reply(404), MANIFEST: Reply(200, self.channel_file(channel, "md5sums")),
                  RELEASE: Reply(200, self.channel_file(channel, "release")),
                  uri("big.pak"): Reply(200, body_file=served)}
        with ScriptedServer(PORT, routes):
            result = self.run_launcher(preexec_fn=address_space_limit)
        self.assertEqual((result.stdout, result.returncode), (HEADER + b"* big.pak... Done.\n" + LAUNCHING, 3))
        self.assertEqual(subprocess.run(["cmp", served, self.path("big.pak")]).returncode, 0)
        os.remove(self.path("big.pak"))

    def test_a_signed_download_resumes_within_its_signed_size_and_digest(self):
        big = os.urandom(2 * PIECE + 10)
        channel = self.publish({"big.pak": big})
        dropped = piece(big, PIECE, 2 * PIECE - 1)
        dropped.drop_after = 1000
        with ScriptedServer(PORT, dict(self.routes(channel), **{uri("big.pak"): [Reply(200, big, ranges=True),
                                                                                 dropped]})):
            self.assertEqual(self.run_launcher().returncode, 1)
        with ScriptedServer(PORT, self.routes(channel)) as server:
            result = self.run_launcher()
        self.assertEqual(result.stdout, HEADER + b"* big.pak... Done.\n" + LAUNCHING)
        self.assertEqual(ranges_asked(server, "big.pak"), ["bytes=%d-%d" % (PIECE, 2 * PIECE - 1),
                                                           "bytes=%d-%d" % (2 * PIECE, 2 * PIECE + 9)])
        self.assertEqual(self.read("big.pak"), big)

    def test_an_unsigned_build_updates_from_a_signed_channel_as_today(self):
        self.put("ORN_Launcher.exe", TARGET.launcher_bytes, executable=True)
        with ScriptedServer(PORT, self.routes(self.publish({"data.pak": b"data"}))) as server:
            result = self.run_launcher()
        self.assertEqual(result.stdout, HEADER + b"* data.pak... Done.\n" + LAUNCHING)
        self.assertEqual(result.returncode, 3)
        self.assertNotIn(RELEASE, server.requests)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--port", required=True, type=int)
    parser.add_argument("--sanitized", action="store_true", help="the launcher is built with the sanitizers")
    parser.add_argument("--wine", help="Wine's loader, to run a Windows build of the launcher")
    parser.add_argument("--client", help="the Windows stand-in client (with --wine)")
    parser.add_argument("--timeout", type=float, default=120, help="seconds one launcher run may take")
    parser.add_argument("--publisher", help="orn-publish, for the scenarios against a real web server")
    parser.add_argument("--signed-launcher", help="the launcher built to trust the test key")
    parser.add_argument("--release-key", help="the test key's secret half, which signs the test releases")
    options, rest = parser.parse_known_args()
    PORT, SANITIZED = options.port, options.sanitized
    PUBLISHER = options.publisher and os.path.abspath(options.publisher)
    SIGNED_LAUNCHER = options.signed_launcher and os.path.abspath(options.signed_launcher)
    # orn-publish refuses a secret key that others may read, as a checkout leaves the test key, and keeps
    # its record of signed serials in the state directory: both in a scratch directory.
    scratch = tempfile.TemporaryDirectory(prefix="launcher_e2e_state.")
    os.environ["XDG_STATE_HOME"] = os.path.join(scratch.name, "state")
    if options.release_key:
        RELEASE_KEY = os.path.join(scratch.name, "test-release.secret")
        shutil.copyfile(options.release_key, RELEASE_KEY)
        os.chmod(RELEASE_KEY, 0o600)
    TARGET = Target(os.path.abspath(options.launcher), options.wine, options.client, options.timeout)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
