"""Delta downloads: a changed big file rebuilt from the chunks of its local copy and ranges of the new one."""
import hashlib
import os
import re
import subprocess
import time

import release_signing
from apache_server import ApacheServer
from nginx_server import NginxServer
from scripted_server import Reply, ScriptedServer
from tcp_relay import TcpRelay, free_port

from .fixture import (HEADER, LATEST, LAUNCHING, LOCK, MANIFEST, OPTIONS, PIECE, RELEASE,
                       ranges_asked, uri)
from .signing import SignedChannelCase

DONE = HEADER + b"* data.pak... Done.\n" + LAUNCHING


def inserted(old, at, size):
    """`old` with `size` new bytes at offset `at`."""
    return old[:at] + os.urandom(size) + old[at:]


def spans(asked):
    """(first, last) of each Range field; a field that is not one single range fails."""
    found = [re.fullmatch(r"bytes=(\d+)-(\d+)", field or "") for field in asked]
    if not all(found):
        raise AssertionError("not all single-range requests: %r" % asked)
    return [(int(m.group(1)), int(m.group(2))) for m in found]


class Delta(SignedChannelCase):
    """The launcher built with the test key updates a big file it holds an
    older copy of by fetching only the ranges it lacks, and falls back to the
    whole file whenever the delta cannot be trusted."""

    web_prefix = "launcher_e2e_delta."

    def index_path(self, channel, path="data.pak"):
        """The request path of the file's chunk index, from its signed line; None when it has none."""
        found = self.object(channel, path + ".orn-chunks")
        return found and uri(found)

    def assert_updated(self, result, content, path="data.pak"):
        self.assertEqual((result.stdout, result.stderr, result.returncode), (DONE, b"", 3))
        self.assertEqual(self.read(path), content)
        left = [name for name in self.listing() if name not in ("ORN_Launcher.releases", "ORN_Launcher.accepted")]
        self.assertEqual(sorted(left), sorted(self.installed + [path, "client.log"]), "no partial file is left")

    def test_an_insertion_in_a_64_MiB_file_fetches_only_ranges_around_it(self):
        old = os.urandom(64 << 20)
        middle = 32 << 20
        new = inserted(old, middle, 5000)
        self.put("data.pak", old)
        channel = self.publish({"data.pak": new})
        with ScriptedServer(OPTIONS.port, self.routes(channel)) as server:
            result = self.run_launcher()
        self.assert_updated(result, new)
        self.assertEqual(server.requests[:4], [LOCK, RELEASE, uri(self.object(channel, "md5sums")),
                                               self.index_path(channel)])
        asked = spans(ranges_asked(server, self.object(channel, "data.pak")))
        self.assertTrue(asked, "the changed chunks are fetched")
        for first, last in asked:
            self.assertLessEqual(middle - (1 << 20), first, asked)
            self.assertLessEqual(last, middle + 5000 + (1 << 20), asked)
        self.assertLess(sum(last - first + 1 for first, last in asked), 1 << 20, asked)

    def test_ranges_far_apart_go_pipelined_on_one_connection_and_a_closing_server_gets_them_one_by_one(self):
        old = os.urandom(16 << 20)
        new = bytearray(old)
        for at in range(1 << 20, 15 << 20, 2 << 20):  # seven edits, too far apart to be merged
            new[at:at + 4096] = os.urandom(4096)
        new = bytes(new)
        channel = self.publish({"data.pak": new}, LATEST.strip("/"))
        os.chmod(self.web, 0o755)  # Apache's workers, run as root, read as nobody
        servers = {  # each, and the fewest connections the run needs on it
            "nginx": (lambda: NginxServer(free_port(), self.web, log_transfers=True,
                                          keepalive="keepalive_requests 1000;"), 1),
            "nginx closing after four answers": (
                lambda: NginxServer(free_port(), self.web, keepalive="keepalive_requests 4;"), 3),
            "Apache": (lambda: ApacheServer(free_port(), self.web, 1000), 1),
        }
        for name, (server, connections) in servers.items():
            with self.subTest(name):
                self.put("data.pak", old)
                with server() as web, TcpRelay(OPTIONS.port, web.port) as relay:
                    result = self.run_launcher()
                    sent = {path: sum(t[2] for t in web.transfers() if t[0] == path)
                            for path in (uri(self.object(channel, "data.pak")),
                                         uri(self.object(channel, "data.pak.orn-blocks")))} \
                        if getattr(web, "log_transfers", False) else {}
                asked = [r for r in web.requests() if uri(self.object(channel, "data.pak")) + " " in r]
                self.assert_updated(result, new)
                self.assertGreaterEqual(len(asked), 7, asked)
                self.assertTrue(all(r.endswith(" 206") for r in asked), asked)
                self.assertGreaterEqual(relay.connections, connections)
                if connections == 1:
                    self.assertEqual(relay.connections, 1, "every request on one connection")
                if sent:  # each edit is one 4 KiB block of a chunk the old copy otherwise holds
                    data, sums = sent.values()
                    self.assertLessEqual(data, 7 * 3 * 4096, "only the changed blocks are fetched")
                    self.assertLess(sums, 8 * 4096, "only the changed chunks' block sums are fetched")

    def test_trouble_with_the_delta_ends_with_the_whole_file(self):
        old = os.urandom(3 << 20)
        new = inserted(old, 1 << 20, 5000)
        channel = self.publish({"data.pak": new})
        index, served = self.index_path(channel), self.object(channel, "data.pak")
        forged = bytearray(self.channel_file(channel, index[len(LATEST):]))
        forged[-1] ^= 1
        wrong = new[:1 << 20] + bytes(5000) + new[(1 << 20) + 5000:]
        whole = "bytes=0-%d" % (len(new) - 1)  # today's download: one piece from byte 0
        cases = {  # name: (answers changed, the local copy kept, the index asked for, delta requests before the whole)
            "forged index": ({index: Reply(200, bytes(forged), ranges=True)}, True, True, 0),
            # The changed chunks are the first range asked for: only it is answered wrongly.
            "wrong chunk": ({uri(served): [Reply(200, wrong, ranges=True), Reply(200, new, ranges=True)]},
                            True, True, 1),
            "200 to a range request": ({uri(served): Reply(200, new)}, True, True, 1),
            "local copy vanished": ({}, False, False, 0),
        }
        for name, (answers, local, index_asked, delta_requests) in cases.items():
            with self.subTest(name):
                if local:
                    self.put("data.pak", old)
                with ScriptedServer(OPTIONS.port, dict(self.routes(channel), **answers)) as server:
                    result = self.run_launcher()
                self.assert_updated(result, new)
                self.assertEqual(index in server.requests, index_asked)
                asked = ranges_asked(server, served)
                self.assertEqual((len(asked), asked[-1]), (delta_requests + 1, whole), asked)
                os.remove(self.path("data.pak"))
                os.remove(self.path("client.log"))

    def test_nothing_is_fetched_when_the_local_bytes_hold_the_whole_new_file(self):
        new = os.urandom(1 << 20) + bytes(2 << 20)
        cases = {  # name: (the old copy, a partial file left with its record, or None)
            "the new file a prefix of the old copy": (new + bytes(1 << 20), None),
            "a whole partial file left before its rename": (os.urandom(3 << 20), new),
        }
        channel = self.publish({"data.pak": new})
        served = self.object(channel, "data.pak")
        for name, (old, partial) in cases.items():
            with self.subTest(name):
                self.put("data.pak", old)
                if partial is not None:
                    self.put("data.pak.orn-partial", partial)
                    self.put("data.pak.orn-resume", b"orn-resume 1\ndata.pak\n%s\n%d\n\n\n" % (
                        hashlib.md5(new).hexdigest().encode(), len(new)))
                with ScriptedServer(OPTIONS.port, self.routes(channel)) as server:
                    result = self.run_launcher()
                self.assert_updated(result, new)
                self.assertEqual(ranges_asked(server, served), [])
                os.remove(self.path("client.log"))

    def test_a_delta_killed_halfway_resumes_after_what_it_verified(self):
        old = os.urandom(4 << 20)
        new = bytearray(old)
        for at in (1 << 19, 2 << 20, 7 << 19):  # far enough apart to be three requests
            new[at:at + 4000] = os.urandom(4000)
        new = bytes(new)
        self.put("data.pak", old)
        channel = self.publish({"data.pak": new})
        served = self.object(channel, "data.pak")
        stalled = Reply(200, new, ranges=True, stall_after=1000)
        with ScriptedServer(OPTIONS.port, dict(self.routes(channel), **{
                uri(served): [Reply(200, new, ranges=True), stalled]})) as server:
            launcher = subprocess.Popen(OPTIONS.target.command(self.path("ORN_Launcher.exe")), cwd=self.game,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + OPTIONS.target.timeout
            while server.requests.count(uri(served)) < 2 and launcher.poll() is None and \
                    time.monotonic() < deadline:
                time.sleep(0.02)
            self.assertIsNone(launcher.poll(), "the launcher ended before its second range request")
            launcher.kill()
            launcher.wait(timeout=10)
            verified = spans(ranges_asked(server, served)[:1])[0]
        self.assertEqual(self.read("data.pak"), old)
        with ScriptedServer(OPTIONS.port, self.routes(channel)) as server:
            result = self.run_launcher()
        self.assert_updated(result, new)
        asked = spans(ranges_asked(server, served))
        self.assertTrue(asked)
        self.assertFalse([span for span in asked if span[0] <= verified[1]],
                         "asked again for what the first run verified, %r: %r" % (verified, asked))

    def test_an_unsigned_launcher_and_a_file_without_an_index_are_fetched_as_today(self):
        unsigned = OPTIONS.target.launcher_bytes
        small = (1 << 20) - 1  # just below the size that gets an index
        cases = {  # name: (the launcher, the file's size, whether it has keys, the file's Range fields)
            "unsigned launcher": (unsigned, 3 << 20, False, ["bytes=0-%d" % (PIECE - 1)]),
            "file without an index": (self.launcher_bytes, small, True, ["bytes=0-%d" % (small - 1)]),
        }
        for name, (launcher, size, keys, asked) in cases.items():
            with self.subTest(name):
                old = os.urandom(size)
                new = inserted(old, size // 2, 5000)[:size]
                self.put("ORN_Launcher.exe", launcher, executable=True)
                self.put("data.pak", old)
                channel = self.publish({"data.pak": new})
                self.assertEqual(self.index_path(channel) is None, size < (1 << 20), "indexed from 1 MiB")
                with ScriptedServer(OPTIONS.port, self.routes(channel)) as server:
                    result = self.run_launcher()
                self.assert_updated(result, new)
                listed, served = (self.object(channel, "md5sums"), self.object(channel, "data.pak")) if keys else \
                    ("md5sums", "data.pak")
                self.assertEqual(server.requests, [LOCK] + ([RELEASE] if keys else []) + [uri(listed), uri(served)])
                self.assertEqual(ranges_asked(server, served), asked)
                os.remove(self.path("data.pak"))
                os.remove(self.path("client.log"))

    def test_a_channel_signed_without_objects_is_read_by_its_usual_names(self):
        """As an older orn-publish signed it: no line marking the channel, no objects but the chunk indexes."""
        old = os.urandom(3 << 20)
        new = inserted(old, 1 << 20, 5000)
        self.put("data.pak", old)
        channel = self.publish({"data.pak": new, "notes.txt": b"notes"})
        index = self.index_path(channel)
        body = release_signing.split(self.channel_file(channel, "release"))[0]
        unmarked = re.sub(rb"^file \S+ \d+ by-hash/\S+\n", b"", body, flags=re.M)
        self.assertEqual(len(unmarked.splitlines()), len(body.splitlines()) - 1, "one marking line")
        routes = {path: reply for path, reply in self.routes(channel).items()
                  if path == index or not path.startswith(uri("by-hash/"))}
        routes[RELEASE] = Reply(200, release_signing.sign(unmarked, OPTIONS.release_key))
        with ScriptedServer(OPTIONS.port, routes) as server:
            result = self.run_launcher()
        self.assert_downloads(result.stdout, HEADER, [b"* data.pak... Done.\n", b"* notes.txt... Done.\n"],
                              LAUNCHING)
        self.assertEqual((result.stderr, result.returncode), (b"", 3))
        self.assertEqual((self.read("data.pak"), self.read("notes.txt")), (new, b"notes"))
        self.assertEqual(server.requests[:3], [LOCK, RELEASE, MANIFEST])
        self.assertEqual(sorted(set(server.requests[3:])), sorted([index, uri("data.pak"), uri("notes.txt")]))
        asked = spans(ranges_asked(server, "data.pak"))
        self.assertTrue(asked, "the changed chunks are fetched by the file's usual name")
        self.assertLess(sum(last - first + 1 for first, last in asked), 1 << 20, asked)
