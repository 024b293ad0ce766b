"""Resumed downloads: a broken download continues on the next start where that is sound."""
import os
import subprocess

from scripted_server import Reply

from .fixture import (HEADER, LAUNCHING, LOCK, MANIFEST, OPTIONS, PIECE, LauncherTestCase, md5, piece,
                       ranges_asked, update_server, uri)


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
        new_launcher = self.launcher_bytes + b"\n" + os.urandom(PIECE + 1000)  # still runnable, two pieces or more
        self.break_in_second_piece("ORN_Launcher.exe", new_launcher)
        self.assertEqual(self.read("ORN_Launcher.exe"), self.launcher_bytes)
        with update_server({"ORN_Launcher.exe": new_launcher}, {uri("ORN_Launcher.exe"): Reply(
                200, new_launcher, ranges=True, etag='"v1"')}) as server:
            result = self.run_launcher()
        self.assertEqual(result.stdout, HEADER + b"* ORN_Launcher.exe... Done.\n" + LAUNCHING)
        # From the second piece on (a sanitized build's launcher is a piece long by itself).
        self.assertEqual(ranges_asked(server, "ORN_Launcher.exe"),
                         ["bytes=%d-%d" % (start, start + PIECE - 1) for start in range(PIECE, len(new_launcher), PIECE)])
        self.assertEqual(self.read("ORN_Launcher.exe"), new_launcher)

    def run_on_a_terminal(self):
        """What the launcher shows on a pseudo-terminal, once it has ended."""
        import pty
        main, secondary = pty.openpty()
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
        launcher.wait(timeout=OPTIONS.target.timeout)
        os.close(main)
        return shown

    def test_progress_on_a_console_and_todays_bytes_through_a_pipe(self):
        if OPTIONS.target.wine:  # a Windows console is not a pseudo-terminal; every scenario checks the pipe
            return
        big, slow = os.urandom(3 * PIECE), os.urandom(6 << 20)
        paced = {uri("slow.pak"): Reply(200, slow, ranges=True, rate=4 << 20)}  # about 1.5 s
        with update_server({"big.pak": big, "slow.pak": slow}, paced, ranges=True):
            shown = self.run_on_a_terminal()
        line = [entry for entry in shown.split(b"\n") if b"big.pak" in entry][0]
        self.assertRegex(line, rb"\* big\.pak\.\.\. +\d+% [\d.]+ MB of 50\.3 MB, [\d.]+ MB/s")
        self.assertEqual(line.rstrip(b"\r").split(b"\r")[-1], b"* big.pak... Done.", "the line ends as today's")
        # Within one piece on a slow line: the line moves at least every 0.5 s, with the time left.
        drawn = [entry for entry in [entry for entry in shown.split(b"\n") if b"slow.pak" in entry][0].split(b"\r")
                 if b"left" in entry]
        self.assertGreaterEqual(len(set(drawn)), 3, drawn)
        self.assertRegex(drawn[-1], rb"\* slow\.pak\.\.\. +\d+% [\d.]+ MB of 6\.3 MB, [\d.]+ MB/s, \d+ s left")
        self.assertNotIn(b"\x1b", shown, "no colour codes")
        # A failure on a console points to the log; through a pipe, every scenario has today's bytes.
        with update_server({}, {MANIFEST: Reply(500)}):
            self.assertTrue(self.run_on_a_terminal().endswith(b"few minutes.\r\nDetails for support are in "
                                                              b"ORN_Launcher.log\r\n"))
