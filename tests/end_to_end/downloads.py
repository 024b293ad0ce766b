"""Downloads: files in range-request pieces, answers that cannot be trusted, and bodies larger than
the launcher's address space."""
import hashlib
import os
import subprocess
import tempfile
import time

from scripted_server import Reply, ScriptedServer

from .fixture import (CANCELED, HEADER, LATEST, LAUNCHING, LOCK, MANIFEST, OPTIONS, PIECE, TROUBLE,
                       LauncherTestCase, address_space_limit, manifest, piece, ranges_asked, sparse_file, u8,
                       update_server, uri)


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
                             # Claims larger than any disk: refused before a byte or a resume record is kept.
                             "claimed-length.dat": Reply(200, text, send_length=False,
                                                         headers={"Content-Length": str(1 << 62)}),
                             "claimed-total.dat": piece(text, 0, len(text) - 1, total=1 << 62),
                             "two-lengths.dat": Reply(200, text, send_length=False, headers={
                                 "Content-Length": str(len(text)), "content-length": str(len(text) - 1)}),
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
            with self.subTest(cut=cut), ScriptedServer(OPTIONS.port, {LOCK: Reply(404),
                                                              MANIFEST: Reply(200, listing, drop_after=cut)}):
                result = self.run_launcher()
                self.assertEqual((result.stdout, result.returncode), (TROUBLE, 1))

    def test_answers_larger_than_the_address_space_are_streamed_or_refused(self):
        if OPTIONS.sanitized or OPTIONS.target.wine:
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
        with ScriptedServer(OPTIONS.port, {LOCK: Reply(404), MANIFEST: Reply(200, endless=True)}):
            result = self.run_launcher(preexec_fn=address_space_limit)
        self.assertEqual((result.stdout, result.returncode), (TROUBLE, 1), "an endless manifest is cut off")
        # Within the bound, but more entries than this memory holds: a failed run, not a crash.
        crowded = b"".join(b"%032x  a%08d\n" % (n, n) for n in range((64 << 20) // 44))
        with ScriptedServer(OPTIONS.port, {LOCK: Reply(404), MANIFEST: Reply(200, crowded)}):
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
            launcher = subprocess.Popen(OPTIONS.target.command(self.path("ORN_Launcher.exe")), cwd=self.game,
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
