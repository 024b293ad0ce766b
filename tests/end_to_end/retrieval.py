"""What a run fetches and puts in place: the launcher's own executable and libraries swapped in
through their new copies, a failed entry that cancels the launch and swaps nothing, a fresh
installation."""
import os

from scripted_server import Reply, ScriptedServer

from .fixture import (CANCELED, HEADER, LATEST, LAUNCHING, LOCK, MANIFEST, OPTIONS, OWN_LIBRARIES, RUN_LOG,
                       LauncherTestCase, manifest, u8, update_server, uri)
from .players_machine import hold


class Retrieval(LauncherTestCase):
    def test_self_update_of_launcher_and_libraries_then_no_update(self):
        # Bytes appended to an executable leave it runnable: the new launcher
        # really is a launcher, so the second run can be made with it.
        new_launcher = self.launcher_bytes + b"\n#version 2\n"
        files = {"ORN_Launcher.exe": new_launcher, "libs/physfs.dll": b"a library, not ours",
                 "data.pak": b"\x00\r\n\x00data\xff", "ORN_Client.exe": OPTIONS.target.client,
                 u8("libs/données.pak"): b"a name beyond ASCII"}
        for name in OWN_LIBRARIES:
            # A real DLL stays loadable with bytes appended: the second run loads the new ones.
            files[name] = self.library(name) + b"#version 2"
            self.put(name, self.library(name))
        self.put("data.pak", b"stale")
        listed = dict(files, **{"update.lock": b"x", "md5sums": b"y"})

        # Under Windows another program (the game, a scan) holds data.pak until the launcher has told it waits.
        held = OPTIONS.target.wine and hold(self, "data.pak", "300", RUN_LOG, "data.pak is in use by another program")
        with update_server(files, {LATEST + "md5sums": Reply(200, manifest(listed))}) as server:
            result = self.run_launcher()
        changed = ["ORN_Launcher.exe", "libs/physfs.dll", "data.pak", u8("libs/données.pak")] + list(OWN_LIBRARIES)
        told = {"data.pak": b" in use by another program, trying again for up to 30 s..."} if held else {}
        self.assert_downloads(result.stdout, HEADER, [b"* %s...%s Done.\n" % (p.encode("latin-1"), told.get(p, b""))
                                                      for p in changed], LAUNCHING)
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

    def test_a_failed_swap_is_told_on_standard_error_and_in_the_log_and_the_client_still_runs(self):
        # A directory where the replaced launcher would go: neither move can be made.
        os.mkdir(self.path("ORN_Launcher.exe.old"))
        with update_server({"ORN_Launcher.exe": b"new launcher"}):
            result = self.run_launcher()
        self.assertTrue(result.stderr.startswith(b"Failed to create ORN_Launcher.exe.old: "), result.stderr)
        self.assertIn(b"Failed to rename ORN_Launcher.exe.new: ", result.stderr)
        self.assertEqual(result.returncode, 3)
        self.assertEqual(self.read("ORN_Launcher.exe"), self.launcher_bytes)
        log = self.read(RUN_LOG)
        self.assertIn(b"Failed to create ORN_Launcher.exe.old: ", log)
        self.assertLess(log.index(b"Failed to rename ORN_Launcher.exe.new: "),
                        log.index(b"handing over to the game client"))

    def test_only_lock_and_manifest_listed_means_nothing_to_fetch(self):
        listed = {"update.lock": b"x", "md5sums": b"y"}
        with ScriptedServer(OPTIONS.port, {LOCK: Reply(404), MANIFEST: Reply(200, manifest(listed))}) as server:
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
