"""A publish that says it worked has worked; one that fails leaves the channel as it was, or
finishable by the same command again."""
import os
import shutil
import subprocess

from .fixture import OPTIONS, PublisherTestCase, snapshot


class PublishingSafely(PublisherTestCase):
    """A publish that says it worked has worked; one that fails leaves the
    channel as it was, or finishable by running the same command again."""

    def check_channel(self):
        check = subprocess.run(["md5sum", "-c", "--strict", "md5sums"], cwd=self.channel, capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def start_publish(self, *options):
        """A publish in the background, and a wait until it names `big.pak`, the file it then copies."""
        process = subprocess.Popen([OPTIONS.publisher, *options, self.source, self.channel], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        self.wait_for_output(process, b"* big.pak")
        return process


    def test_a_source_written_while_it_is_copied_is_never_listed_with_other_bytes(self):
        big = os.path.join(self.source, "big.pak")
        before = os.urandom(1 << 20) * 256
        self.tree(self.release(**{"big.pak": before}))
        process = self.start_publish()
        with open(big, "ab") as out:
            out.write(b"appended while copied")
        process.communicate(timeout=60)
        if process.returncode == 1:  # seen changing: the lock stays up and a rerun publishes it right
            self.assertTrue(os.path.exists(os.path.join(self.channel, "update.lock")))
            self.assertEqual(self.publish().returncode, 0)
        self.assertEqual(process.returncode in (0, 1), True)
        self.check_channel()  # whatever it published, it lists those very bytes
        with open(os.path.join(self.channel, "big.pak"), "rb") as published:
            # A copy done before the append published the bytes it read.
            self.assertIn(published.read(), (before + b"appended while copied", before) if process.returncode == 0
                          else (before + b"appended while copied",))

    def test_killed_during_a_copy_then_another_tree_leaves_nothing_of_the_failed_run(self):
        self.tree(self.release(**{"a-new.dat": b"copied before the kill", "big.pak": os.urandom(1 << 20) * 256}))
        process = self.start_publish()
        process.kill()
        process.wait(timeout=30)
        shutil.rmtree(self.source)
        self.tree(self.release())
        result = self.publish()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_published(self.release())
        self.assertEqual(sorted(os.listdir(self.channel)), sorted(["libs", "md5sums"] + [p for p in self.release()
                                                                                        if "/" not in p]))

    def test_a_link_inside_the_channel_is_refused_and_the_other_channel_untouched(self):
        stable = os.path.join(os.path.dirname(self.channel), "stable")
        self.tree({"libs/engine.dll": b"stable engine", "md5sums": b""}, stable)
        os.makedirs(self.channel)
        os.symlink("../stable/libs", os.path.join(self.channel, "libs"))
        self.tree(self.release())
        before = snapshot(os.path.dirname(self.channel))
        result = self.publish("--new-channel")
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn(b"a symbolic link inside the channel", result.stderr)
        self.assertEqual(snapshot(os.path.dirname(self.channel)), before)

    def test_a_cr_lf_or_damaged_previous_manifest_still_removes_or_warns(self):
        self.tree(self.release(**{"old.txt": b"going away", "also-old.txt": b"going too"}))
        self.assertEqual(self.publish().returncode, 0)
        path = os.path.join(self.channel, "md5sums")
        with open(path, "rb") as manifest:
            lines = manifest.read().replace(b"\n", b"\r\n")
        also_old = [line for line in lines.splitlines(keepends=True) if line.endswith(b"  also-old.txt\r\n")][0]
        with open(path, "wb") as manifest:  # behind a blank line, where the parser stops
            manifest.write(lines.replace(also_old, b"") + b"\r\n" + also_old)
        shutil.rmtree(self.source)
        self.tree(self.release())
        result = self.publish()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.channel, "old.txt")), "a CR LF line is still read")
        self.assertRegex(result.stderr, rb"warning: the previous md5sums has 2 lines that do not parse \(lines \d+, "
                                        rb"\d+\): ")
        self.assertNotIn(b"also-old.txt", result.stderr, "the server's line is not echoed: it could be anything")
        # Millions of planted lines: one warning, whatever they hold.
        planted = [b"0" * 32 + b"  ../outside\n", b"1" * 32 + b"  data.pak\n", b"2" * 32 + b"  data.pak\n"]
        with open(path, "wb") as manifest:
            manifest.write(b"".join(planted) * 100000)
        result = self.publish()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertLess(len(result.stderr), 1024, result.stderr[:1024])
        self.assertIn(b"has 200000 lines that do not parse (lines 1, 2, 4, 5, 7, 8, 10, 11, 13, 14, ...)",
                      result.stderr)

    def test_published_files_are_readable_by_a_web_server_whatever_the_umask(self):
        self.tree(self.release())
        result = subprocess.run([OPTIONS.publisher, "--hold-lock", "1", self.source, self.channel], capture_output=True,
                                timeout=60, preexec_fn=lambda: os.umask(0o077))
        self.assertEqual(result.returncode, 0, result.stderr)
        web = os.path.join(self.work, "web")
        for directory, dirs, files in os.walk(web):
            self.assertEqual(os.stat(directory).st_mode & 0o777, 0o755, directory)
            for name in files:
                self.assertEqual(os.stat(os.path.join(directory, name)).st_mode & 0o777, 0o644, name)

    def test_what_an_unprivileged_deployer_cannot_read_or_write_is_refused_before_the_lock(self):
        nobody = 65534
        as_nobody = lambda: (os.setgid(nobody), os.setuid(nobody))  # noqa: E731
        os.chmod(self.work, 0o755)
        self.tree(self.release())
        for directory, _, _ in os.walk(self.source):
            os.chmod(directory, 0o755)
        for path in self.release():
            os.chmod(os.path.join(self.source, path), 0o644)
        os.makedirs(self.channel)
        os.chmod(os.path.join(self.work, "web"), 0o755)
        unwritable = subprocess.run([OPTIONS.publisher, self.source, self.channel], capture_output=True, timeout=60,
                                    preexec_fn=as_nobody)
        self.assertEqual(unwritable.returncode, 2, unwritable.stderr)
        self.assertIn(b"nothing in " + self.channel.encode() + b" was changed and no lock was raised",
                      unwritable.stderr)
        self.assertEqual(os.listdir(self.channel), [])
        os.chmod(os.path.join(self.source, "data.pak"), 0)
        os.chown(self.channel, nobody, nobody)
        unreadable = subprocess.run([OPTIONS.publisher, self.source, self.channel], capture_output=True, timeout=60,
                                    preexec_fn=as_nobody)
        self.assertEqual(unreadable.returncode, 2, unreadable.stderr)
        self.assertIn(b"orn-publish: data.pak: cannot be read", unreadable.stderr)
        self.assertEqual(os.listdir(self.channel), [])
