"""What deployers really do: folders mistyped or swapped, a publish cut short, files changed in
the channel, the state folder lost."""
import glob
import hashlib
import os
import re
import shutil
import subprocess

from .fixture import OPTIONS, SignedTestCase, snapshot


class DeployerSlips(SignedTestCase):
    """What deployers really do: folders mistyped or swapped, a publish cut
    short, files changed in the channel, the state folder lost."""

    def test_wrong_folders_are_refused_before_anything_is_written(self):
        self.tree(self.release())
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        web, channels = os.path.join(self.work, "web"), os.path.dirname(self.channel)
        mistyped = os.path.join(channels, "lates")
        inside_channel = os.path.join(self.channel, "tree")
        self.tree(self.release(), inside_channel)
        cases = [  # (source, channel, message)
            (self.source, mistyped, b"beside it are the channels latest: a mistyped name?"),
            (self.source, channels, b"it holds the channels latest: give one of them"),
            (self.source, web, b"is not empty and is no channel"),
            (self.source, self.source, b"is the release tree"),
            (self.source, os.path.join(self.source, "latest"), b"lies inside the release tree"),
            (inside_channel, self.channel, b"lies inside the channel"),
            (self.channel, self.source, b"did you swap SOURCE and CHANNEL?"),
        ]
        before = snapshot(self.work)
        for source, channel, message in cases:
            with self.subTest(channel=os.path.relpath(channel, self.work)):
                result = subprocess.run([OPTIONS.publisher, "--sign", self.key, source, channel], capture_output=True,
                                        timeout=60)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(snapshot(self.work), before)
        shutil.rmtree(inside_channel)
        for channel in (mistyped, web + "/elsewhere"):  # a new channel beside others, when the deployer says so
            result = subprocess.run([OPTIONS.publisher, "--new-channel", self.source, channel], capture_output=True,
                                    timeout=60)
            self.assertEqual(result.returncode, 0, result.stderr)

    def test_an_interrupted_publish_says_what_to_do_and_leaves_the_channel_whole_or_locked(self):
        self.tree(self.release())
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        serial_shown = re.search(rb"serial: .*\n", self.status("--key", self.key).stdout).group()
        lock = self.channel_path("update.lock")
        for signal in (2, 15, 1):  # while the lock is held, before any file changed
            with self.subTest(signal=signal):
                before = snapshot(self.channel)
                run = subprocess.Popen([OPTIONS.publisher, "--hold-lock", "60", "--sign", self.key, self.source,
                                        self.channel], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.addCleanup(run.kill)  # a failed step must not leave it holding the channel
                self.wait_for_output(run, b"Holding the lock")  # the lock up and the new serial recorded
                shown = self.status("--key", self.key)
                self.assertEqual(shown.returncode, 1)
                self.assertRegex(shown.stdout, rb"lock: up since \d{4}-.*UTC; a publish is running now\n")
                self.assertRegex(shown.stdout, rb"serial: \d+; serial \d+ is being published now")
                run.send_signal(signal)
                self.assertEqual(run.wait(timeout=30), 128 + signal)
                stderr = run.stderr.read()
                self.assertIn(b"interrupted by SIG", stderr)
                self.assertIn(b"the lock is down again and the channel is as it was", stderr)
                self.assertEqual(snapshot(self.channel), before)
                shown = self.status("--key", self.key)  # no serial taken: not an "old release put back"
                self.assertEqual(shown.returncode, 0, shown.stdout)
                self.assertIn(serial_shown, shown.stdout)
        # Cut short while copying, after a file changed: the lock stays up, nothing temporary stays.
        self.tree(self.release(**{"data.pak": b"data 2", "zz.pak": b"z" * (400 << 20)}))
        run = subprocess.Popen([OPTIONS.publisher, "--sign", self.key, self.source, self.channel],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(run.kill)
        self.wait_for_output(run, b"* zz.pak")  # its copy begun: the line ends once it is done
        run.send_signal(2)
        self.assertEqual(run.wait(timeout=30), 130)
        stderr = run.stderr.read()
        self.assertIn(b"had already changed; the lock stays up, so launchers wait: run the same command again", stderr)
        self.assertTrue(os.path.exists(lock))
        self.assertEqual([n for _, _, names in os.walk(self.channel) for n in names if n.endswith(".orn-publish")], [])
        shown = self.status("--key", self.key)
        self.assertRegex(shown.stdout, rb"lock: up since .*; no publish is running: the last one stopped before")
        self.assertRegex(shown.stdout, rb"serial: \d+; serial \d+ was being published when that publish stopped")
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        self.assert_published(self.release(**{"data.pak": b"data 2", "zz.pak": b"z" * (400 << 20)}))
        # The first signed publish of a channel, cut short: the rerun signs it, whatever was recorded.
        self.channel = os.path.join(os.path.dirname(self.channel), "first")
        run = subprocess.Popen([OPTIONS.publisher, "--new-channel", "--sign", self.key, self.source, self.channel],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(run.kill)
        self.wait_for_output(run, b"* zz.pak")
        run.send_signal(2)
        self.assertEqual(run.wait(timeout=30), 130)
        refused = self.publish()
        self.assertEqual(refused.returncode, 2)
        self.assertIn(b"its lock was up already, left by a publish that did not finish, and stays up", refused.stderr)
        result = self.publish("--sign", self.key)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_published(self.release(**{"data.pak": b"data 2", "zz.pak": b"z" * (400 << 20)}))

    def test_every_object_of_the_release_just_written_stays_and_every_kept_release_is_checked(self):
        data = lambda round: self.release(**{"data.pak": b"data %d" % round})  # noqa: E731
        for round in range(4):
            self.tree(data(round))
            self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        # The refusal's own way out of signing, then signing again with a low serial.
        refused = self.publish()
        self.assertEqual(refused.returncode, 2)
        self.assertIn(b"launchers built with release keys refuse a channel that is not signed", refused.stderr)
        os.remove(self.channel_path("release"))
        (record,) = [path for path in glob.glob(os.path.join(os.environ["XDG_STATE_HOME"], "orn-publish", "*"))
                     if re.fullmatch(r"[0-9a-f]{64}", os.path.basename(path))]
        os.remove(record)
        self.tree(data(4))
        self.assertEqual(self.publish().returncode, 0)
        self.tree(data(5))
        result = self.publish("--sign", self.key, "--serial", "1")
        self.assertEqual(result.returncode, 0, result.stderr)
        for name in self.objects_named():
            self.assertEqual(hashlib.sha256(self.read("by-hash/" + name)).hexdigest(), name)
        self.tree(data(6))
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        shown = self.status("--key", self.key)
        self.assertEqual(shown.returncode, 0, shown.stdout)
        self.assertIn(b"kept releases: 3, every object whole\n", shown.stdout)
        # A published file written over in place (cp onto it) reaches an older release's object through its hard
        # link: status says so, and the next publish removes the damaged object rather than serve it.
        # Bytes of the same size, then the file left out of the tree, are caught too.
        for overwritten, next_tree in ((b"written over", b"written over"), (b"written again", b"data 7"),
                                       (b"data 8", None)):
            with self.subTest(next_tree=next_tree):
                before = hashlib.sha256(self.read("data.pak")).hexdigest()
                self.write("data.pak", overwritten)
                self.tree(self.release(**{"data.pak": next_tree}))
                if next_tree is None:
                    os.remove(os.path.join(self.source, "data.pak"))
                result = self.publish("--sign", self.key)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn(b"no longer held its bytes", result.stderr)
                self.assertFalse(os.path.exists(self.channel_path("by-hash/" + before)))
                shown = self.status("--key", self.key)
                self.assertEqual(shown.returncode, 1, shown.stdout)
                self.assertRegex(shown.stdout, rb"kept releases: no: .*/by-hash/[0-9a-f]{64}, named by release serial "
                                               rb"\d+, is missing; players whose cache holds that release fail")
