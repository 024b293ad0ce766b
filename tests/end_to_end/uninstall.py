"""The uninstall mode: a game installed from nginx, played, then uninstalled with no server at all."""
import os
import shutil
import subprocess
import tempfile

from nginx_server import NginxServer

from .fixture import OPTIONS, LauncherTestCase, write_tree
from .players_machine import hold

LEFT_CLIENT_LOG = b"Left client.log: the player made or changed it.\n"


class Uninstall(LauncherTestCase):
    """What the player's uninstaller runs in the game folder: `ORN_Launcher.exe --uninstall`."""

    def setUp(self):
        if not (OPTIONS.publisher and OPTIONS.signed_launcher and OPTIONS.release_key):
            self.fail("these scenarios need --publisher, --signed-launcher and --release-key")
        super().setUp()
        self.web = tempfile.mkdtemp(prefix="launcher_e2e_uninstall.")
        self.addCleanup(shutil.rmtree, self.web, ignore_errors=True)

    def install(self, launcher_bytes, sign):
        game = {"ORN_Launcher.exe": launcher_bytes, "ORN_Client.exe": OPTIONS.target.client, "data.pak": b"data",
                "libs/engine.dll": b"engine", "settings.cfg": b"volume=10\n", **OPTIONS.target.libraries}
        channel = os.path.join(self.web, "~qel", "ORN", "windows", "latest")
        published = subprocess.run([OPTIONS.publisher, *(["--sign", OPTIONS.release_key] if sign else []),
                                    write_tree(os.path.join(self.web, "tree"), game), channel],
                                   capture_output=True, timeout=60)
        self.assertEqual(published.returncode, 0, published.stderr)
        os.chmod(self.web, 0o755)
        self.put("ORN_Launcher.exe", launcher_bytes, executable=True)
        with NginxServer(OPTIONS.port, self.web, as_nobody=True):
            self.assertEqual(self.run_launcher().returncode, 3, "installed, and the client ran")

    def test_removes_what_it_installed_and_tells_what_the_player_keeps(self):
        with open(OPTIONS.signed_launcher, "rb") as binary:
            signed_launcher = binary.read()
        for sign, launcher_bytes, records in ((False, self.launcher_bytes, 1), (True, signed_launcher, 2)):
            with self.subTest(signed=sign):
                self.install(launcher_bytes, sign)
                self.put("saves/slot1.dat", b"progress")
                self.put("settings.cfg", b"volume=3\n")
                self.put("ORN_Launcher.id", b"an install id")
                self.put("big.pak.orn-partial", b"half a file")
                # No server now: an uninstall asks none.
                result = self.run_launcher("--uninstall")
                removed = 3 + records + 5  # the game's files, the records, digests, log, id, partial and lock
                self.assertEqual(result.stdout, LEFT_CLIENT_LOG +
                                 b"Left saves/slot1.dat: the player made or changed it.\n"
                                 b"Left settings.cfg: the player made or changed it.\n"
                                 b"Uninstalled: %d file(s) removed, 3 left.\n" % removed)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                left = sorted(os.path.relpath(os.path.join(folder, name), self.game)
                              for folder, _, names in os.walk(self.game) for name in names)
                self.assertEqual(left, sorted(["ORN_Launcher.exe", "client.log", os.path.join("saves", "slot1.dat"),
                                               "settings.cfg", *OPTIONS.target.libraries]))
                self.assertEqual(self.read("settings.cfg"), b"volume=3\n")
                self.assertFalse(os.path.exists(self.path("libs")))
                shutil.rmtree(self.web)
                os.makedirs(self.web)
                shutil.rmtree(self.game)
                os.makedirs(self.game)
                self.put("ORN_Client.exe", OPTIONS.target.client, executable=True)
                for name, content in OPTIONS.target.libraries.items():
                    self.put(name, content)

    def test_what_lies_behind_a_libs_link_stays(self):
        if OPTIONS.target.wine:
            self.skipTest("Wine shows a Unix link as a plain folder: the native run checks this")
        self.install(self.launcher_bytes, sign=False)
        shared = os.path.join(self.web, "shared libs")
        shutil.move(self.path("libs"), shared)
        os.symlink(shared, self.path("libs"))
        result = self.run_launcher("--uninstall")
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertEqual(os.listdir(shared), ["engine.dll"])
        self.assertTrue(os.path.islink(self.path("libs")))
        self.assertFalse(os.path.exists(self.path("data.pak")))

    def test_a_file_the_game_holds_is_told_and_the_next_uninstall_removes_it(self):
        if not OPTIONS.holder:
            self.skipTest("only Windows refuses to delete a file another program holds: run under Wine")
        self.install(self.launcher_bytes, sign=False)
        holder = hold(self, "data.pak", "60")
        result = self.run_launcher("--uninstall")
        self.assertEqual((result.stdout, result.returncode), (
            b"Could not remove data.pak: another program holds it (the game, or an antivirus scan). Close it, then "
            b"uninstall again.\n" + LEFT_CLIENT_LOG + b"Uninstall not finished: 1 file(s) could not be removed.\n", 1))
        holder.kill()  # the game closed
        holder.wait(timeout=60)
        result = self.run_launcher("--uninstall")
        self.assertEqual((result.stdout, result.returncode),
                         (LEFT_CLIENT_LOG + b"Uninstalled: 3 file(s) removed, 1 left.\n", 0))
        self.assertFalse(os.path.exists(self.path("data.pak")))
