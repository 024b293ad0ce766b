"""A player's own machine in the way of an update: a second launcher started by a double-click, a file
another program holds, a folder the player may not write, a volume too small. Each ends with the game
whole or a line that says why and what to do, and loses nothing."""
import os
import re
import shutil
import subprocess
import tempfile
import time

from scripted_server import Reply, ScriptedServer

from .fixture import CANCELED, CONNECTED, HEADER, LAUNCHING, OPTIONS, RUN_LOG, update_server, uri
from .signing import SignedChannelCase

WAITING = b"Another launcher is updating this game, waiting for it to finish...\n"
NO_UPDATES = CONNECTED + b"Checking for updated files... Done\nNo updates found, starting ORN...\n"
HELD = b"* data.pak... in use by another program, trying again for up to 30 s..."


def as_root(test, what):
    if os.geteuid() != 0:
        test.fail("%s needs root (a mount, or another user to run as): run the suite as root, as CI does" % what)


def hold(test, path, *until):
    """Another program holding `path` (see tests/windows/hold_file.cpp), once it holds it."""
    holder = subprocess.Popen(OPTIONS.target.command(OPTIONS.holder, path, *until), cwd=test.game,
                              stdout=subprocess.PIPE)
    test.addCleanup(holder.wait, timeout=60)
    test.addCleanup(holder.kill)
    test.assertEqual(holder.stdout.readline().strip(), b"held")
    return holder


def mount(test, *args):
    subprocess.run(["mount", *args], check=True, timeout=30)


class PlayersMachine(SignedChannelCase):
    def setUp(self):
        super().setUp()
        self.put("ORN_Launcher.exe", OPTIONS.target.launcher_bytes, executable=True)  # without keys unless told

    def start_launcher(self):
        return subprocess.Popen(OPTIONS.target.command(self.path("ORN_Launcher.exe")), cwd=self.game,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def finish(self, launcher):
        stdout, _ = launcher.communicate(timeout=OPTIONS.target.timeout)
        return OPTIONS.target.console(stdout, "standard output"), launcher.returncode

    def test_a_second_launcher_waits_for_the_first_then_finds_the_game_whole(self):
        big = os.urandom(3 << 20)
        files = {"data.pak": big, "libs/engine.dll": b"engine 2"}
        with update_server(files, {uri("data.pak"): Reply(200, big, rate=1 << 20)}) as server:
            first = self.start_launcher()
            deadline = time.monotonic() + 60
            while uri("data.pak") not in server.requests and time.monotonic() < deadline:
                time.sleep(0.02)
            second = self.start_launcher()  # the double-click, mid-download
            first_out, first_status = self.finish(first)
            second_out, second_status = self.finish(second)
        self.assertTrue(first_out.endswith(LAUNCHING), first_out)
        self.assertEqual((second_out, first_status, second_status), (WAITING + NO_UPDATES, 3, 3))
        self.assertEqual(server.requests.count(uri("data.pak")), 1)
        self.assertEqual(self.read("data.pak"), big)
        self.assertIn(WAITING.rstrip(), self.read(RUN_LOG), "the log of the run that waited says so")

    def read_only(self):
        """The game folder made read-only for the launcher, as Program Files is for a standard user: the
        command that runs the launcher so, and the function that makes the folder writable again."""
        if OPTIONS.target.wine:
            as_root(self, "a read-only folder under Wine")
            mount(self, "--bind", self.game, self.game)
            undo = lambda: subprocess.run(["umount", self.game], timeout=30)  # noqa: E731
            self.addCleanup(undo)
            mount(self, "-o", "remount,bind,ro", self.game)
            return (), undo
        for name in ("ORN_Launcher.exe", "ORN_Client.exe"):
            os.chmod(self.path(name), 0o755)
        os.chmod(self.game, 0o555)
        undo = lambda: os.path.isdir(self.game) and os.chmod(self.game, 0o755)  # noqa: E731
        self.addCleanup(undo)
        # Root writes anywhere: the launcher runs as nobody, as a player runs it.
        return ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups") if os.geteuid() == 0 else (), undo

    def test_a_folder_the_player_may_not_write_is_named_before_any_download_and_a_whole_game_still_plays(self):
        files = {"data.pak": b"data 2"}
        for installed, needs_update in ((b"data 1", True), (b"data 2", False)):
            with self.subTest(needs_update=needs_update):
                self.put("data.pak", installed)
                wrapper, undo = self.read_only()
                with update_server(files) as server:
                    result = self.run_launcher(wrapper=wrapper)
                undo()
                if needs_update:
                    self.assertTrue(result.stdout.startswith(HEADER), result.stdout)
                    self.assertRegex(result.stdout[len(HEADER):],
                                     rb"^The game folder .+ cannot be written \(Permission denied\): install the "
                                     rb"game in a folder you can write to, or run the launcher as administrator\.\n$")
                    self.assertEqual(result.returncode, 1)
                    self.assertNotIn(uri("data.pak"), server.requests)
                else:
                    self.assertEqual((result.stdout, result.returncode), (NO_UPDATES, 3), result.stderr)

    def on_small_volume(self, free):
        """The game directory moved onto a volume of its own with `free` bytes beside its files; a
        function that gives it `more` bytes more."""
        as_root(self, "a small volume")
        used = sum(os.path.getsize(os.path.join(root, name)) + 4096
                   for root, _, names in os.walk(self.game) for name in names)
        volume = tempfile.mkdtemp(prefix="launcher_e2e_volume.")
        self.addCleanup(os.rmdir, volume)
        size = (used + free) // 4096 * 4096 + 8192
        mount(self, "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", volume)
        self.addCleanup(subprocess.run, ["umount", volume], timeout=30)
        shutil.copytree(self.game, volume, dirs_exist_ok=True)
        shutil.rmtree(self.game)
        self.game = volume
        return lambda more: mount(self, "-o", "remount,size=%d" % (size + more), volume)

    def test_a_volume_too_small_is_told_before_the_first_byte_or_when_it_fills(self):
        # Signed: the signed sizes tell at once, and nothing is fetched.
        self.put("ORN_Launcher.exe", self.launcher_bytes, executable=True)
        channel = self.publish({"a.pak": os.urandom(3 << 20), "b.pak": os.urandom(3 << 20)})
        grow = self.on_small_volume(4 << 20)
        with ScriptedServer(OPTIONS.port, self.routes(channel)) as server:
            result = self.run_launcher()
        self.assertTrue(result.stdout.startswith(HEADER), result.stdout)
        self.assertRegex(result.stdout[len(HEADER):], rb"^Not enough disk space: the update needs 6\.0 MiB and 4\.\d "
                                                      rb"MiB are free\. Free some space, then start the launcher "
                                                      rb"again\.\n$")
        self.assertEqual(result.returncode, 1)
        self.assertFalse([path for path in server.requests if self.object(channel, "a.pak") in path or
                          self.object(channel, "b.pak") in path])
        grow(8 << 20)
        with ScriptedServer(OPTIONS.port, self.routes(channel)):
            self.assertEqual(self.run_launcher().returncode, 3)

        # Without keys a file of no told length fills the volume: said, and no later file is fetched to be lost.
        self.put("ORN_Launcher.exe", OPTIONS.target.launcher_bytes, executable=True)
        files = {"c.pak": os.urandom(24 << 20), "d.pak": os.urandom(24 << 20)}
        routes = {uri(path): Reply(200, content, send_length=False) for path, content in files.items()}
        with update_server(files, routes) as server:
            result = self.run_launcher()
        full = re.search(rb"\* (.)\.pak\.\.\. Failed\.\nThe disk is full: \1\.pak could not be written\. Free some "
                         rb"space, then start the launcher again\.\n$", result.stdout[len(HEADER):len(result.stdout)
                                                                                         - len(CANCELED)])
        self.assertTrue(full and result.stdout.endswith(CANCELED), result.stdout)
        self.assertEqual((result.returncode, len([p for p in server.requests if p.endswith(".pak")])), (1, 1))
        self.assertFalse([name for name in os.listdir(self.game) if name.endswith(".orn-partial")])
        grow(64 << 20)
        with update_server(files):
            self.assertEqual(self.run_launcher().returncode, 3)
        self.assertEqual(self.read("d.pak"), files["d.pak"])

    def test_a_file_another_program_holds_is_placed_once_it_lets_go_or_kept_for_the_next_start(self):
        if not OPTIONS.target.wine:
            self.skipTest("only Windows refuses to replace a file another program holds: run under Wine")
        files = {"data.pak": b"data 2"}
        # Let go as soon as the launcher tells the hold, or held past its 30 s.
        for until, placed in ((("60", RUN_LOG, "data.pak is in use by another program"), True), (("45",), False)):
            with self.subTest(placed=placed):
                self.put("data.pak", b"data 1")
                holder = hold(self, "data.pak", *until)
                with update_server(files):
                    result = self.run_launcher()
                if placed:
                    self.assertEqual((result.stdout, result.returncode),
                                     (HEADER + HELD + b" Done.\n" + LAUNCHING, 3))
                    self.assertEqual(self.read("data.pak"), b"data 2")
                    continue
                self.assertEqual((result.stdout, result.returncode),
                                 (HEADER + HELD + b" Failed.\ndata.pak is still in use by another program (the game, "
                                  b"or an antivirus scan): close it, then start the launcher again.\n" + CANCELED, 1))
                self.assertEqual(self.read("data.pak"), b"data 1")
                holder.kill()  # the game closed
                holder.wait(timeout=60)
                with update_server(files) as server:
                    result = self.run_launcher()
                self.assertEqual((result.returncode, self.read("data.pak")), (3, b"data 2"))
                self.assertNotIn(uri("data.pak"), server.requests, "the checked copy kept is placed unfetched")
