"""The server handshake: the update lock waited on and its text shown, the manifest asked for,
the channel named on the command line, and the failures that end a run with status 1, among
them servers that stall."""

import os

from scripted_server import Reply, ScriptedServer

from .fixture import (CANCELED, CONNECTED, HEADER, LATEST, LOCK, MANIFEST, OPTIONS, LauncherTestCase, md5, uri,
                      update_server)

OFFLINE = b"Connecting to server... !!Failed!!\nCheck that you have a working internet connection.\n"
TROUBLED = CONNECTED + b"Checking for updated files... !!Failed!!\n" \
    b"Server might be having troubles, check again in a few minutes.\n"


class Handshake(LauncherTestCase):
    def test_no_update_runs_the_client_and_ends_with_its_status(self):
        files = {"ORN_Client.exe": OPTIONS.target.client, "libs/engine.dll": b"engine", "empty.cfg": b""}
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
        self.assertEqual(server.agents, ["ORN_Launcher/0.0.0.1"] * 2)  # the executable's version record's
        self.assertEqual(server.hosts, ["127.0.0.1:%d" % OPTIONS.port] * 2)  # not port 80: the port is named
        self.assertRegex(self.read("ORN_Launcher.log"), rb"ORN_Launcher/0\.0\.0\.1\n(.*\n)*.* 127\.0\.0\.1:%d GET %s: "
                                                        rb"status 200, \d+ bytes, \d+ ms\n(.*\n)*.* no updates"
                         % (OPTIONS.port, MANIFEST.encode()))

    def test_lock_that_clears_after_three_answers_shows_its_text_on_one_line(self):
        garbage = b"\x1b]0;pwned\x07\x1b[2J\x1b[1;1H2026-12-08\x00\x7f\xc2\x9b\xff 10:00 UTC\r\n" \
                  b"Updated files retrieved, patching and launching ORN...\n"
        cases = {  # the lock's body: what the player sees after "Update started at "
            "a date": (Reply(200, b"Mon Dec  7 10:00:00 UTC 2026\n"), b"Mon Dec  7 10:00:00 UTC 2026"),
            "escape sequences and a fake line": (
                Reply(200, garbage), b"2026-12-08 10:00 UTC  Updated files retrieved, patching and launching ORN..."),
            "accents kept": (Reply(200, "mise à jour".encode()), "mise à jour".encode()),
            "an endless body, read a few KiB of": (Reply(200, b"", endless=True), b""),
            # an answer nobody asked for, on the kept connection during the pause, is not the next one
            "a stray 404 after the answer": (Reply(200, b"now", stray=b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"),
                                             b"now"),
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
                self.assertIn((b"the channel's lock is up: " + shown).rstrip() + b"\n", self.read("ORN_Launcher.log"))

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
        with ScriptedServer(OPTIONS.port, {LOCK: Reply(404), MANIFEST: Reply(404)}) as server:
            result = self.run_launcher()
        self.assertEqual(result.stdout, CONNECTED + b"Checking for updated files... !!Failed!!\n"
                         b"Server might be having troubles, check again in a few minutes.\n")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(server.requests, [LOCK, MANIFEST])
        log = self.read("ORN_Launcher.log")  # for support: the URL, its status and the reason
        self.assertIn(b" GET %s: status 404, " % MANIFEST.encode(), log)
        self.assertIn(b" failed: the server's answers could not be used", log)

    def test_a_stalled_request_fails_within_its_window_and_takes_its_step_path(self):
        # The test launchers' window is 3 s: a drip of one byte a second stays under 1 KiB in it.
        big = bytes(range(256)) * 64
        stalls = {
            "head and a few bytes": Reply(200, big, stall_after=10),
            "a byte a second": Reply(200, big, drip_every=1),
            "no answer at all": Reply(200, big, silent=True),
        }
        for name, stall in stalls.items():
            steps = {  # the stalled request, and what the player sees
                "lock": ({LOCK: stall}, OFFLINE),
                "manifest": ({LOCK: Reply(404), MANIFEST: stall}, TROUBLED),
                "file": ({LOCK: Reply(404), MANIFEST: Reply(200, b"%s  big.pak\n" % md5(big)),
                          uri("big.pak"): stall}, HEADER + b"* big.pak... Failed.\n" + CANCELED),
            }
            for step, (routes, shown) in steps.items():
                with self.subTest(stall=name, step=step), ScriptedServer(OPTIONS.port, routes):
                    result = self.run_launcher()
                    self.assertEqual((result.stdout, result.returncode), (shown, 1))
                    self.assertFalse(self.client_ran())
                    self.assertFalse(os.path.exists(self.path("big.pak")))

    def test_channel_argument(self):
        cases = [(["beta"], "/~qel/ORN/windows/beta/"), ([""], "/~qel/ORN/windows//"),
                 (["beta", "gamma"], LATEST), ([], LATEST)]
        for args, directory in cases:
            with self.subTest(args=args), ScriptedServer(OPTIONS.port) as server:
                result = self.run_launcher(*args)
                self.assertEqual(server.requests, [directory + "update.lock", directory + "md5sums"])
                self.assertEqual(result.returncode, 1)
        with update_server({}, directory="/~qel/ORN/windows/beta/") as server:
            self.assertEqual(self.run_launcher("beta").returncode, 3)
        self.assertEqual(server.requests, ["/~qel/ORN/windows/beta/update.lock", "/~qel/ORN/windows/beta/md5sums"])
