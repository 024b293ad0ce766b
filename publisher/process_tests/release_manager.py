"""promote and rollback: releases already signed, published again as a channel's next serial."""
import hashlib
import os
import shutil
import subprocess
import tempfile

import release_signing

from .fixture import OPTIONS, SignedTestCase, snapshot


class ReleaseManagerCommands(SignedTestCase):
    """promote and rollback: releases already signed, published again as a channel's next serial."""

    def run_publisher(self, *arguments):
        return subprocess.run([OPTIONS.publisher, *arguments], capture_output=True, timeout=60)

    def file_lines(self, channel):
        with open(os.path.join(channel, "release"), "rb") as source:
            text = source.read()
        self.assertTrue(release_signing.verifies(text, self.key), text)
        return [line for line in release_signing.split(text)[0].decode().splitlines() if line.startswith("file ")]

    def test_promote_publishes_exactly_the_verified_release_and_refuses_what_it_did_not_sign(self):
        beta = os.path.join(os.path.dirname(self.channel), "beta")
        big = os.urandom(2 << 20)
        self.tree(self.release(**{"big.pak": big}))
        self.assertEqual(self.run_publisher("--sign", self.key, self.source, beta).returncode, 0)
        promote = ("promote", beta, self.channel, "--sign", self.key)
        refused = self.run_publisher(*promote)  # a new channel beside another: a mistyped name?
        self.assertEqual(refused.returncode, 2, refused.stderr)
        self.assertIn(b"give --new-channel", refused.stderr)
        for round in range(2):
            result = self.run_publisher(*promote, "--new-channel")
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(os.path.join(beta, "md5sums"), "rb") as source:
                self.assertEqual(self.read("md5sums"), source.read())
            self.assertEqual(self.file_lines(self.channel), self.file_lines(beta))
            self.assertIn("channel latest", self.release_lines())
            self.assertEqual(self.status("--key", self.key).returncode, 0)
            # The files share beta's objects: the same bytes are on disk once.
            sha = hashlib.sha256(big).hexdigest()
            self.assertEqual(os.stat(self.channel_path("big.pak")).st_ino,
                             os.stat(os.path.join(beta, "by-hash", sha)).st_ino)
            if round == 0:
                self.assertIn(b"as hard links", result.stdout)
                self.tree(self.release(**{"big.pak": big, "data.pak": b"data 2", "readme.txt": None}))
                shutil.rmtree(self.source)
                self.tree(self.release(**{"big.pak": big, "data.pak": b"data 2", "readme.txt": None}))
                self.assertEqual(self.run_publisher("--sign", self.key, self.source, beta).returncode, 0)
        self.assertIn(b"- readme.txt removed", result.stdout)
        # On another file system, the files are copied.
        with tempfile.TemporaryDirectory(dir="/dev/shm") as elsewhere:
            self.assertNotEqual(os.stat(elsewhere).st_dev, os.stat(beta).st_dev)
            other = os.path.join(elsewhere, "latest")
            result = self.run_publisher(*promote[:2], other, *promote[3:])
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertNotIn(b"hard links", result.stdout)
            self.assertEqual(self.file_lines(other), self.file_lines(beta))
        # An object others may write is copied: a writer could change the channel's file after the check.
        object_of_big = os.path.join(beta, "by-hash", hashlib.sha256(big).hexdigest())
        os.chmod(object_of_big, 0o664)
        result = self.run_publisher(*promote[:2], os.path.join(self.work, "web", "gamma"), *promote[3:], "--new-channel")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotEqual(os.stat(os.path.join(self.work, "web", "gamma", "big.pak")).st_ino,
                            os.stat(object_of_big).st_ino)
        os.chmod(object_of_big, 0o644)
        # What beta's release did not sign is never promoted, and latest stays as it was.
        with open(os.path.join(beta, "release"), "rb") as source:
            old_release = source.read()
        self.tree(self.release(**{"big.pak": big, "data.pak": b"data 3"}))
        self.assertEqual(self.run_publisher("--sign", self.key, self.source, beta).returncode, 0)
        latest = snapshot(self.channel)
        for planted, message in ((b"forged release\n", b"cannot be trusted"),
                                 (old_release, b"is older than the last one signed here")):
            with self.subTest(planted=planted[:14]):
                with open(os.path.join(beta, "release"), "wb") as out:
                    out.write(planted)
                result = self.run_publisher(*promote)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(snapshot(self.channel), latest)
        self.tree(self.release(**{"big.pak": big, "data.pak": b"data 4"}))
        self.assertEqual(self.run_publisher("--sign", self.key, self.source, beta).returncode, 0)
        with open(os.path.join(beta, "data.pak"), "r+b") as out:  # same size, written in place: its object too
            out.write(b"DATA")
        result = self.run_publisher(*promote)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn(b"no longer holds what its release signed", result.stderr)
        self.assertEqual(snapshot(self.channel), latest)

    def test_rollback_publishes_an_earlier_release_from_the_objects_kept_or_says_which_are_gone(self):
        releases = []
        for version in (1, 2, 3):
            self.tree(self.release(**{"data.pak": b"data %d" % version, "libs/new.dll": b"new" if version > 1 else None}))
            if version == 2:
                os.remove(os.path.join(self.source, "readme.txt"))
            self.assertEqual(self.publish("--sign", self.key).returncode, 0)
            releases.append((self.serial(), self.read("md5sums"), self.file_lines(self.channel)))
        first_serial, first_manifest, first_files = releases[0]
        result = self.run_publisher("rollback", self.channel, "--to", str(first_serial), "--sign", self.key)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.read("md5sums"), first_manifest)
        self.assertEqual(self.file_lines(self.channel), first_files)
        self.assertGreater(self.serial(), releases[-1][0])  # launchers see an ordinary newer release
        self.assertFalse(os.path.exists(self.channel_path("libs/new.dll")))
        self.assertEqual(self.status("--key", self.key).returncode, 0)
        second_object = [line.split()[1] for line in releases[1][2] if line.endswith(" data.pak")][0]
        os.remove(self.channel_path("by-hash/" + second_object))
        before = snapshot(self.work)
        mistyped = self.channel[:-1]  # "lates": nothing is made for it
        result = self.run_publisher("rollback", mistyped, "--to", str(first_serial), "--sign", self.key)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn(b"is no channel", result.stderr)
        self.assertFalse(os.path.exists(mistyped))
        for serial, message in ((12345, b"is not among those whose objects"),
                                (releases[1][0], b"no longer keeps whole the objects of 1 of its 7 files: data.pak")):
            with self.subTest(serial=serial):
                result = self.run_publisher("rollback", self.channel, "--to", str(serial), "--sign", self.key)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(snapshot(self.work), before)
        shutil.rmtree(os.environ["XDG_STATE_HOME"])  # a lost state folder: nothing recorded, nothing guessed
        result = self.run_publisher("rollback", self.channel, "--to", str(releases[2][0]), "--sign", self.key)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn(b"none is recorded on this machine", result.stderr)
