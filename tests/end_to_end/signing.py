"""Signed releases: the launcher built to trust the test key against channels orn-publish signed."""
import glob
import os
import re
import shutil
import subprocess
import tempfile
import time

import release_signing
from scripted_server import Reply, ScriptedServer

from .fixture import (write_tree, CANCELED, GAME_LOCK, CONNECTED, HEADER, LAUNCHING, LOCK, MANIFEST, OPTIONS, OWN_LIBRARIES, PIECE,
                       RELEASE, RUN_LOG, LauncherTestCase, address_space_limit, md5, object_path, piece, ranges_asked,
                       sparse_file, uri)


class SignedChannelCase(LauncherTestCase):
    """The launcher built with the test key in the game directory, and
    channels that the real orn-publish signs with its secret half."""
    web_prefix = "launcher_e2e_signed."

    def setUp(self):
        if not (OPTIONS.publisher and OPTIONS.signed_launcher and OPTIONS.release_key):
            self.fail("these scenarios need --publisher, --signed-launcher and --release-key")
        super().setUp()
        with open(OPTIONS.signed_launcher, "rb") as binary:
            self.launcher_bytes = binary.read()
        self.put("ORN_Launcher.exe", self.launcher_bytes, executable=True)
        self.web = tempfile.mkdtemp(prefix=self.web_prefix)
        self.addCleanup(shutil.rmtree, self.web, ignore_errors=True)

    def publish(self, files, channel="latest", *options):
        tree = write_tree(os.path.join(self.web, "tree"), files)
        directory = os.path.join(self.web, channel)
        result = subprocess.run([OPTIONS.publisher, "--sign", OPTIONS.release_key, *options, tree, directory],
                                capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        return directory

    def kept_record(self, directory):
        """orn-publish's record of the releases whose objects `directory` keeps."""
        state = os.environ.get("XDG_STATE_HOME") or os.path.expanduser("~/.local/state")
        for record in glob.glob(os.path.join(state, "orn-publish", "*.releases")):
            with open(record, "rb") as text:
                content = text.read()
            if ("\nchannel %s\n" % os.path.realpath(directory)).encode() in content:
                return content
        self.fail("no record of the releases kept in " + directory)

    def channel_file(self, directory, name):
        with open(os.path.join(directory, name), "rb") as source:
            return source.read()

    def serial(self, directory):
        return int(re.search(rb"\nserial (\d+)\n", self.channel_file(directory, "release")).group(1))

    def object(self, directory, path):
        """The by-hash name under which the channel's release says a launcher with keys asks for `path`."""
        return object_path(self.channel_file(directory, "release"), path)

    def routes(self, directory):
        """The published channel under LATEST, with range requests answered."""
        routes = {LOCK: Reply(404)}
        for root, _, names in os.walk(directory):
            for name in names:
                path = os.path.relpath(os.path.join(root, name), directory).replace(os.sep, "/")
                routes[uri(path)] = Reply(200, self.channel_file(root, name), ranges=True)
        return routes



class SignedReleases(SignedChannelCase):
    """The launcher built with the test key, against channels that the real
    orn-publish signed with its secret half, served as published or forged."""

    def game_snapshot(self):
        return {os.path.relpath(os.path.join(root, name), self.game): self.read(os.path.join(root, name))
                for root, _, names in os.walk(self.game) for name in names if name not in (RUN_LOG, GAME_LOCK)}

    def test_signed_self_update_of_launcher_and_libraries(self):
        files = {"ORN_Launcher.exe": self.launcher_bytes + b"\n#version 2\n", "ORN_Client.exe": OPTIONS.target.client,
                 "libs/engine.dll": b"engine", "empty.cfg": b""}
        for name in OWN_LIBRARIES:
            files[name] = self.library(name) + b"#version 2"
            self.put(name, self.library(name))
        data = os.urandom(2 << 20)  # held in an older version: a delta update
        files["data.pak"] = data[:1 << 20] + b"version 2" * 500 + data[1 << 20:]
        self.put("data.pak", data)
        channel = self.publish(files)
        with ScriptedServer(OPTIONS.port, self.routes(channel)) as server:
            result = self.run_launcher()
        changed = ["ORN_Launcher.exe", "libs/engine.dll", "empty.cfg", "data.pak"] + list(OWN_LIBRARIES)
        self.assert_downloads(result.stdout, HEADER, [b"* %s... Done.\n" % p.encode() for p in changed], LAUNCHING)
        self.assertEqual((result.stderr, result.returncode), (b"", 3))
        self.assertEqual(server.requests[:3], [LOCK, RELEASE, uri(self.object(channel, "md5sums"))])
        self.assertEqual([r for r in server.requests if r not in (LOCK, RELEASE) and not r.startswith(uri("by-hash/"))],
                         [], "update.lock and release are the only names asked for that change")
        self.assertNotIn(uri(self.object(channel, "empty.cfg")), server.requests,
                         "nothing is asked for past a signed size")
        self.assertIn(uri(self.object(channel, "data.pak.orn-chunks")), server.requests, "the chunk index is asked for")
        self.assertLess(sum(int(last) - int(first) + 1 for first, last in (
            r[len("bytes="):].split("-") for r in ranges_asked(server, self.object(channel, "data.pak")))), 1 << 20)
        for path in changed:
            self.assertEqual(self.read(path), files[path], path)
        self.assertEqual(self.read("ORN_Launcher.exe.old"), self.launcher_bytes)
        self.assertEqual(self.read("ORN_Launcher.releases"), b"%d latest\n" % self.serial(channel))

    def test_forged_stale_or_replayed_releases_end_with_status_1_and_change_nothing(self):
        files = {"data.pak": b"data 2", "libs/engine.dll": b"engine 2"}
        self.put("data.pak", b"data 1")
        channel = self.publish(files, "latest", "--expires", "30")
        release, listing = self.channel_file(channel, "release"), self.channel_file(channel, "md5sums")
        listed = uri(self.object(channel, "md5sums"))  # the manifest a launcher with keys asks for
        other_channel = self.channel_file(self.publish(files, "beta", "--new-channel"), "release")
        body = release_signing.split(release)[0]
        other_key = os.path.join(self.web, "other.secret")
        subprocess.run([OPTIONS.publisher, "keygen", other_key], check=True, capture_output=True, timeout=60)
        expired = re.sub(rb"expires \S+", b"expires 2020-01-01T00:00:00Z", body)
        forged = b"forged data"
        mismatch = b"The update's file list does not match its signature, canceling launch.\n"
        invalid = b"The update's signature is not valid, canceling launch.\n"
        cases = {
            "md5sums changed after signing": ({listed: Reply(200, listing + md5(b"x") + b"  evil.exe\n")}, mismatch),
            "a file and its md5sums line changed": ({listed: Reply(200, listing.replace(md5(b"data 2"), md5(forged))),
                                                     uri(self.object(channel, "data.pak")): Reply(200, forged,
                                                                                                  ranges=True)},
                                                    mismatch),
            "signed by another key": ({RELEASE: Reply(200, release_signing.sign(body, other_key))}, invalid),
            "release missing": ({RELEASE: Reply(404)},
                                b"The update's signed release could not be fetched, canceling launch.\n"),
            "another channel's release": ({RELEASE: Reply(200, other_channel)},
                                          b"The update was signed for another channel, canceling launch.\n"),
            "older than one accepted": ({}, b"The update is older than one already installed, canceling launch.\n"),
            "expired": ({RELEASE: Reply(200, release_signing.sign(expired, OPTIONS.release_key))},
                        b"The update's signature has expired, canceling launch.\n"),
            "truncated release": ({RELEASE: Reply(200, release[:len(release) // 2])}, invalid),
            "endless release": ({RELEASE: Reply(200, endless=True)},
                                b"The update's signed release could not be fetched, canceling launch.\n"),
        }
        # Without a release that verifies, nothing says where the manifest's object is: the usual name is asked.
        unverified = ("signed by another key", "release missing", "truncated release", "endless release")
        for name, (forgery, line) in cases.items():
            with self.subTest(name):
                if name == "older than one accepted":
                    self.put("ORN_Launcher.releases", b"%d latest\n" % (self.serial(channel) + 1))
                before = self.game_snapshot()
                with ScriptedServer(OPTIONS.port, dict(self.routes(channel), **forgery)) as server:
                    result = self.run_launcher()
                self.assertEqual(result.stdout, CONNECTED + b"Checking for updated files... !!Failed!!\n" + line)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(self.game_snapshot(), before)
                # An older release is no update: nothing past it is asked for.
                asked = [] if name == "older than one accepted" else [MANIFEST if name in unverified else listed]
                self.assertEqual(server.requests, [LOCK, RELEASE] + asked)
                if os.path.exists(self.path("ORN_Launcher.releases")):
                    os.remove(self.path("ORN_Launcher.releases"))

    def test_a_body_longer_than_its_signed_size_is_cut_off(self):
        files = {"data.pak": b"signed data " * 1000, "small.dat": b"small"}
        channel = self.publish(files)
        routes = self.routes(channel)
        routes[uri(self.object(channel, "data.pak"))] = Reply(206, headers={"Content-Range": "bytes 0-11999/12000"},
                                                              endless=True)
        routes[uri(self.object(channel, "small.dat"))] = Reply(200, b"small, and then more than was signed",
                                                               send_length=False)
        started = time.monotonic()
        with ScriptedServer(OPTIONS.port, routes):
            result = self.run_launcher()
        self.assertLess(time.monotonic() - started, 30, "the endless body was read on")
        self.assert_downloads(result.stdout, HEADER, [b"* data.pak... Failed.\n", b"* small.dat... Failed.\n"],
                              CANCELED)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(sorted(self.listing()), sorted(self.installed))

    def test_a_manifest_longer_than_the_release_states_is_not_read_on(self):
        channel = self.publish({"data.pak": b"signed data"})
        routes = self.routes(channel)
        # Read to the channel's 64 MiB bound, an endless answer would say the server is in trouble.
        routes[uri(self.object(channel, "md5sums"))] = Reply(200, endless=True)
        with ScriptedServer(OPTIONS.port, routes):
            result = self.run_launcher()
        self.assertTrue(result.stdout.startswith(CONNECTED + b"Checking for updated files... !!Failed!!\n"
                                                 b"The update's file list does not match"), result.stdout)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(sorted(self.listing()), sorted(self.installed))

    def test_a_signed_file_larger_than_the_address_space_answered_200_is_streamed(self):
        if OPTIONS.sanitized or OPTIONS.target.wine:
            self.skipTest("needs an address-space limit: natively without sanitizers")
        served, _ = sparse_file(600 * 1000 * 1000)
        tree = os.path.join(self.web, "tree")
        os.makedirs(tree)
        os.link(served, os.path.join(tree, "big.pak"))
        channel = os.path.join(self.web, "latest")
        subprocess.run([OPTIONS.publisher, "--sign", OPTIONS.release_key, tree, channel], check=True,
                       capture_output=True, timeout=120)
        routes = {LOCK: Reply(404), RELEASE: Reply(200, self.channel_file(channel, "release")),
                  uri(self.object(channel, "md5sums")): Reply(200, self.channel_file(channel, "md5sums")),
                  uri(self.object(channel, "big.pak")): Reply(200, body_file=served)}
        with ScriptedServer(OPTIONS.port, routes):
            result = self.run_launcher(preexec_fn=address_space_limit)
        self.assertEqual((result.stdout, result.returncode), (HEADER + b"* big.pak... Done.\n" + LAUNCHING, 3))
        self.assertEqual(subprocess.run(["cmp", served, self.path("big.pak")]).returncode, 0)
        os.remove(self.path("big.pak"))

    def test_a_signed_download_resumes_within_its_signed_size_and_digest(self):
        big = os.urandom(2 * PIECE + 10)
        channel = self.publish({"big.pak": big})
        dropped = piece(big, PIECE, 2 * PIECE - 1)
        dropped.drop_after = 1000
        served = uri(self.object(channel, "big.pak"))
        with ScriptedServer(OPTIONS.port, dict(self.routes(channel), **{served: [Reply(200, big, ranges=True),
                                                                                 dropped]})):
            self.assertEqual(self.run_launcher().returncode, 1)
        with ScriptedServer(OPTIONS.port, self.routes(channel)) as server:
            result = self.run_launcher()
        self.assertEqual(result.stdout, HEADER + b"* big.pak... Done.\n" + LAUNCHING)
        self.assertEqual(ranges_asked(server, self.object(channel, "big.pak")), ["bytes=%d-%d" % (PIECE, 2 * PIECE - 1),
                                                           "bytes=%d-%d" % (2 * PIECE, 2 * PIECE + 9)])
        self.assertEqual(self.read("big.pak"), big)

    def test_an_update_removes_the_files_it_retires_that_still_hold_their_bytes_and_nothing_else(self):
        first = {"ORN_Client.exe": OPTIONS.target.client, "kept.pak": b"kept", "retired.pak": b"retired",
                 "libs/old.dll": b"old library", "edited.cfg": b"as published"}
        second = {"ORN_Client.exe": OPTIONS.target.client, "kept.pak": b"kept", "new.pak": b"new"}
        for release in (first, second):
            with ScriptedServer(OPTIONS.port, self.routes(self.publish(release))):
                self.assertEqual(self.run_launcher().returncode, 3)
            if release is first:
                self.put("edited.cfg", b"the player's own settings")
                self.put("mod.pak", b"never listed")
        present = {path for path in self.game_snapshot() if not path.startswith("ORN_Launcher.")} - {"client.log", *OWN_LIBRARIES}
        self.assertEqual(present, {"ORN_Client.exe", "kept.pak", "new.pak", "edited.cfg", "mod.pak"})
        self.assertEqual(self.read("edited.cfg"), b"the player's own settings")
        # Rolled back on the server: an ordinary newer release to the launcher, which retires what the last added.
        channel = os.path.join(self.web, "latest")
        first_serial = min(int(n) for n in re.findall(rb"^release (\d+)$", self.kept_record(channel), re.M))
        rolled = subprocess.run([OPTIONS.publisher, "rollback", channel, "--to", str(first_serial), "--sign",
                                 OPTIONS.release_key], capture_output=True, timeout=60)
        self.assertEqual(rolled.returncode, 0, rolled.stderr)
        with ScriptedServer(OPTIONS.port, self.routes(channel)):
            self.assertEqual(self.run_launcher().returncode, 3)
        for path, content in first.items():
            self.assertEqual(self.read(path), content, path)
        self.assertFalse(os.path.exists(self.path("new.pak")))
        # Without keys, nothing is known of what was installed: nothing is removed.
        self.put("ORN_Launcher.exe", OPTIONS.target.launcher_bytes, executable=True)
        with ScriptedServer(OPTIONS.port, self.routes(self.publish({"ORN_Client.exe": OPTIONS.target.client}))):
            self.assertEqual(self.run_launcher().returncode, 3)
        self.assertEqual(self.read("kept.pak"), b"kept")

    def test_an_unsigned_build_updates_from_a_signed_channel_as_today(self):
        self.put("ORN_Launcher.exe", OPTIONS.target.launcher_bytes, executable=True)
        with ScriptedServer(OPTIONS.port, self.routes(self.publish({"data.pak": b"data"}))) as server:
            result = self.run_launcher()
        self.assertEqual(result.stdout, HEADER + b"* data.pak... Done.\n" + LAUNCHING)
        self.assertEqual(result.returncode, 3)
        self.assertEqual(server.requests, [LOCK, MANIFEST, uri("data.pak")], "the usual names, as without keys")
