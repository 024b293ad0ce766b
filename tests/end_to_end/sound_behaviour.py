"""Names and sound behaviour: only the launcher's own leftovers deleted, truncated downloads never
swapped in, paths that leave the game directory neither asked for nor written, names beyond ASCII,
and a start from another directory."""
import os
import shutil
import tempfile

from scripted_server import Reply, ScriptedServer

from .fixture import (CANCELED, CONNECTED, HEADER, LATEST, LAUNCHING, LOCK, MANIFEST, OPTIONS, OWN_LIBRARIES,
                       LauncherTestCase, u8, update_server)


class SoundBehaviour(LauncherTestCase):
    def test_start_up_deletes_only_the_launchers_own_leftovers(self):
        own = ["ORN_Launcher.exe.old"] + [name + ".old" for name in OWN_LIBRARIES]
        players = ["readme.older", "save.old.dat", "x.OLD", "ORN_Client.exe.old", "libs/x.old"]
        for name in own + players:
            self.put(name, b"keep?")
        os.makedirs(self.path("backup.old"))
        with ScriptedServer(OPTIONS.port, {LOCK: Reply(500)}):
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
        # The launcher's own records, in any letter case, are never fetched over: its log is open meanwhile.
        files.update({"ORN_Launcher.log": b"forged", "orn_launcher.DIGESTS": b"forged"})
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
        self.assertNotEqual(self.read("ORN_Launcher.log"), b"forged")

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
