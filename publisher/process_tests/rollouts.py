"""Staged rollouts: a release published beside the current one for a share of game directories,
changed, halted, completed or rolled back, while the channel's usual files stay the current release's."""
import hashlib
import os
import shutil
import subprocess

import release_signing

from .fixture import OPTIONS, SignedTestCase, snapshot


class Rollouts(SignedTestCase):
    def run_publisher(self, *arguments):
        return subprocess.run([OPTIONS.publisher, *arguments], capture_output=True, timeout=60)

    def rollout(self, *arguments):
        return self.run_publisher("rollout", self.channel, *arguments, "--sign", self.key)

    def staged_line(self):
        lines = [line.split() for line in self.release_lines() if " staged " in line]
        self.assertLessEqual(len(lines), 1, lines)
        return lines[0] if lines else None

    def staged_lines(self):
        """The staged release the channel's release names, checked against its line and verified."""
        _, sha, size, path, _, manifest, *_ = self.staged_line()
        text = self.read(path)
        self.assertEqual((hashlib.sha256(text).hexdigest(), len(text)), (sha, int(size)))
        self.assertTrue(release_signing.verifies(text, self.key), text)
        lines = release_signing.split(text)[0].decode().splitlines()
        self.assertEqual((lines[0], lines[1]), ("orn-staged-release 1", "channel latest"))
        self.assertIn("md5sums-sha256 " + manifest, lines)
        return lines

    def served(self):
        """What launchers that know no rollout fetch: md5sums and the files under their usual names."""
        return {path: seen for path, seen in snapshot(self.channel).items()
                if "by-hash" not in path and not path.endswith(("/release", "/update.lock"))}

    def assert_status(self, *expected, code=0):
        status = self.status("--key", self.key)
        self.assertEqual(status.returncode, code, status.stdout + status.stderr)
        for text in expected:
            self.assertIn(text.encode(), status.stdout)
        return status.stdout

    def start_rollout(self, *options):
        """v1 published, then v2 (with a file large enough for a chunk index) staged to 25%."""
        self.tree(self.release())
        self.assertEqual(self.publish("--sign", self.key, *options).returncode, 0)
        first, before, served = self.serial(), self.release_lines(), self.served()
        self.v2 = self.release(**{"data.pak": b"data 2", "big.pak": os.urandom(2 << 20)})
        self.tree(self.v2)
        staged = self.publish("--sign", self.key, "--rollout", "25", *options)
        self.assertEqual(staged.returncode, 0, staged.stderr)
        self.assertEqual(self.served(), served)
        # The current release's lines as they were, signed anew, with the one rollout line.
        lines = self.release_lines()
        self.assertEqual([line for line in lines if " staged " not in line and not line.startswith(("serial", "exp"))],
                         [line for line in before if not line.startswith(("serial", "exp"))])
        self.assertEqual(self.staged_line()[-1], "250000")
        self.assertEqual(int(self.staged_lines()[2].split()[1]), self.serial() + 1)
        self.assertIn(b"staged to 25%% of game directories; the others keep serial %d" % self.serial(), staged.stdout)
        return first, served

    def test_a_rollout_through_all_its_steps_keeps_every_player_on_a_whole_release(self):
        first, served = self.start_rollout()
        self.assert_status("rollout: staged release serial %d to 25%%" % (self.serial() + 1), "files match: yes")
        # No publish, plain or staged, and no promote into the channel, while it is on.
        other = os.path.join(os.path.dirname(self.channel), "beta")
        self.assertEqual(self.run_publisher("--sign", self.key, "--new-channel", self.source, other).returncode, 0)
        for refused in (self.publish("--sign", self.key), self.publish("--sign", self.key, "--rollout", "5"),
                        self.run_publisher("promote", other, self.channel, "--sign", self.key)):
            self.assertEqual(refused.returncode, 2, refused.stderr)
            self.assertIn(b"rollout " + self.channel.encode() + b" --complete", refused.stderr)
        # Promoting from it promotes the release every other game directory gets, and says so.
        promoted = self.run_publisher("promote", self.channel, other, "--sign", self.key)
        self.assertEqual(promoted.returncode, 0, promoted.stderr)
        self.assertIn(b"is promoted, not the staged one", promoted.stdout)
        with open(os.path.join(other, "md5sums"), "rb") as listing:
            self.assertEqual(listing.read(), self.read("md5sums"))
        serials = [self.serial()]
        for arguments, share, shown in ((("60",), "600000", "60%"), (("--rollout-days", "6"), "142857", "14.2857%"),
                                        (("--halt",), "0", "0%")):
            changed = self.rollout(*arguments)
            self.assertEqual(changed.returncode, 0, changed.stderr)
            self.assertEqual(self.staged_line()[6], share)
            staged_serial = int(self.staged_lines()[2].split()[1])
            # Each signing: the current release above every serial before, its staged one just above it.
            self.assertGreater(self.serial(), serials[-1])
            self.assertEqual(staged_serial, self.serial() + 1)
            serials += [self.serial(), staged_serial]
            self.assert_status("to %s of game directories now; the others get serial %d" % (shown, self.serial()))
            self.assertEqual(self.served(), served)
        self.assertEqual(len(self.staged_line()), 7)
        self.assertEqual(self.resign().returncode, 0)
        self.assertEqual(self.served(), served)
        # Both releases' objects are kept: the staged text, its md5sums, files and chunk index.
        for name in self.staged_lines():
            if name.startswith(("file ", "md5sums-sha256 ")):
                self.assertTrue(os.path.isfile(self.channel_path("by-hash/" + name.split()[1])), name)
        completed = self.rollout("--complete")
        self.assertEqual(completed.returncode, 0, completed.stderr)
        self.assertIn(b"Rollout complete", completed.stdout)
        self.assertIsNone(self.staged_line())
        self.assertGreater(self.serial(), serials[-1] + 2)
        self.assert_published(self.v2)
        self.assertNotIn(b"rollout", self.assert_status("files match: yes"))
        self.assertEqual(self.rollout("50").returncode, 2)  # none is on any more
        self.assertNotEqual(first, self.serial())

    def test_rollback_during_a_rollout_ends_it_with_an_ordinary_newer_release(self):
        first, served = self.start_rollout()
        staged_serial = int(self.staged_lines()[2].split()[1])
        rolled = self.run_publisher("rollback", self.channel, "--to", str(first), "--sign", self.key)
        self.assertEqual(rolled.returncode, 0, rolled.stderr)
        self.assertIn(b"Rollout ended", rolled.stdout)
        self.assertIsNone(self.staged_line())
        self.assertGreater(self.serial(), staged_serial)
        self.assert_published(self.release())
        self.assert_status("files match: yes")
        # The staged release is still kept, and can be named by its serial.
        again = self.run_publisher("rollback", self.channel, "--to", str(staged_serial), "--sign", self.key)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assert_published(self.v2)

    def test_retention_keeps_both_releases_while_a_rollout_is_on_whatever_keep_releases(self):
        self.start_rollout("--keep-releases", "1")
        current = {line.split()[1] for line in self.release_lines() if line.startswith("file ")}
        old_data = hashlib.sha256(self.release()["data.pak"]).hexdigest()
        for step in (("50", "--keep-releases", "1"), ("--halt", "--keep-releases", "1")):
            self.assertEqual(self.rollout(*step).returncode, 0)
            named = current | {line.split()[1] for line in self.staged_lines() if line.startswith("file ")}
            self.assertEqual([name for name in named if not os.path.isfile(self.channel_path("by-hash/" + name))], [])
            self.assert_status("kept releases: 2, every object whole")
        self.assertEqual(self.rollout("--complete", "--keep-releases", "1").returncode, 0)
        self.assertFalse(os.path.exists(self.channel_path("by-hash/" + old_data)))
        self.assert_status("kept releases: 1, every object whole")

    def test_a_planted_staged_release_refuses_the_rollout_and_changes_nothing(self):
        self.start_rollout()
        path = self.staged_line()[3]
        pristine = self.read(path)
        old_channel = os.path.join(self.work, "old")
        shutil.copytree(self.channel, old_channel, symlinks=True)
        forged = pristine.replace(b"serial ", b"serial 9")
        for case, plant in (("forged", lambda: self.write(path, forged)),
                            ("grown", lambda: self.write(path, pristine + b"\n" * 100)),
                            ("missing", lambda: None),
                            ("a link", lambda: os.symlink("/etc/passwd", self.channel_path(path)))):
            if os.path.lexists(self.channel_path(path)):
                os.remove(self.channel_path(path))
            plant()
            before = snapshot(self.channel)
            for command in (("50",), ("--complete",)):
                refused = self.rollout(*command)
                self.assertEqual(refused.returncode, 2, case + refused.stderr.decode())
                self.assertIn(b"nothing in", refused.stderr)
            self.assertEqual(self.resign().returncode, 2, case)
            self.assertEqual(snapshot(self.channel), before, case)
            self.assertEqual(self.status("--key", self.key).returncode, 1, case)
        os.remove(self.channel_path(path))
        self.write(path, pristine)
        self.assertEqual(self.rollout("50").returncode, 0)
        # Both releases as they were before that, put back whole: valid, but stale.
        shutil.rmtree(self.channel)
        shutil.copytree(old_channel, self.channel, symlinks=True)
        for command in (("60",), ("--complete",)):
            refused = self.rollout(*command)
            self.assertEqual(refused.returncode, 2, refused.stderr)
            self.assertIn(b"an old release may have been put back", refused.stderr)

    def test_a_staged_release_needs_a_signed_current_release(self):
        self.tree(self.release())
        self.assertEqual(self.publish().returncode, 0)
        refused = self.publish("--sign", self.key, "--rollout", "10")
        self.assertEqual(refused.returncode, 2, refused.stderr)
        self.assertIn(b"the other game directories keep", refused.stderr)
        self.assertFalse(os.path.exists(self.channel_path("release")))
        unsigned = self.publish("--rollout", "10")
        self.assertEqual(unsigned.returncode, 2)
        self.assertIn(b"give --sign", unsigned.stderr)
