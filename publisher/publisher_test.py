#!/usr/bin/env python3
"""The real orn-publish command run as a process over temporary trees."""
import argparse
import glob
import hashlib
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import release_signing  # noqa: E402

PUBLISHER = None
OWN = ("ORN_Launcher.exe", "physfs.dll", "sfml-network-2.dll", "sfml-system-2.dll")


def snapshot(root):
    """Every entry under root with its kind and content, to show that nothing changed."""
    seen = {}
    for directory, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(directory, name)
            if os.path.islink(path):
                seen[path] = ("link", os.readlink(path))
            elif os.path.isfile(path):
                with open(path, "rb") as source:  # a MiB: a sparse file of terabytes is never read whole
                    seen[path] = ("file", source.read(1 << 20), os.stat(path).st_size, os.stat(path).st_mtime_ns)
            else:
                seen[path] = ("other",)
    return seen


class PublisherTestCase(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="publisher_test.")
        # The publisher's record of the serials it signed: never the deployer's own ~/.local/state.
        os.environ["XDG_STATE_HOME"] = os.path.join(self.work, "state")
        self.source = os.path.join(self.work, "release")
        self.channel = os.path.join(self.work, "web", "~qel", "ORN", "windows", "latest")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def wait_for_output(self, process, text):
        """Reads the process's output until it shows `text`; fails if it ends or 30 s pass first."""
        seen, deadline = b"", time.monotonic() + 30
        while text not in seen:
            self.assertLess(time.monotonic(), deadline, seen)
            piece = os.read(process.stdout.fileno(), 4096)
            if not piece:
                self.fail(b"it ended first: " + seen + (process.stderr.read() if process.stderr else b""))
            seen += piece

    def tree(self, files, root=None):
        root = root or self.source
        for path, content in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as out:
                out.write(content)

    def publish(self, *options):
        return subprocess.run([PUBLISHER, *options, self.source, self.channel], capture_output=True, timeout=60)

    def release(self, **changes):
        files = {name: b"build of " + name.encode() for name in OWN}
        files.update({"data.pak": b"data 1", "libs/engine.dll": b"engine 1", "readme.txt": b"read me"})
        files.update(changes)
        return {path: content for path, content in files.items() if content is not None}

    def assert_published(self, files):
        listing = "".join("%s  %s\n" % (subprocess.run(["md5sum", "-"], input=files[p], capture_output=True)
                                         .stdout.split()[0].decode(), p) for p in sorted(files))
        with open(os.path.join(self.channel, "md5sums")) as manifest:
            self.assertEqual(manifest.read(), listing)
        check = subprocess.run(["md5sum", "-c", "--strict", "md5sums"], cwd=self.channel, capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.channel, "update.lock")))
        leftovers = [n for _, _, names in os.walk(self.channel) for n in names if n.endswith(".orn-publish")]
        self.assertEqual(leftovers, [])


class Publisher(PublisherTestCase):
    def test_refuses_trees_the_launcher_cannot_use_and_touches_nothing(self):
        # Each name rule on its own is the unit test's (nameProblem); here, one name per kind of rule, and
        # what only a real tree shows: folders below, bytes that are not UTF-8, links, a FIFO, a key.
        bad_names = ["deep/x.dat", "libs/sub/y.dat", "CON", "update.lock", "md5sums", "libs/x.dll.orn-publish",
                     "not-utf-8\udcff.dat", "libs/" + "x" * 142, "orn_launcher.exe", "ORN_LA~1.EXE",
                     "data.pak.orn-chunks", "data.pak.orn-blocks"]
        bad_trees = {name: {name: b"x"} for name in bad_names}
        bad_trees["Data.pak"] = {"Data.pak": b"x", "data.pak": b"y"}
        bad_trees["DONN\u00c9ES.pak"] = {"DONN\u00c9ES.pak": b"x", "donn\u00e9es.pak": b"y"}  # beyond ASCII
        bad_trees["old.secret"] = {"old.secret": b"orn-release-secret-key 1\n0123456789abcdef:AAAA\n"}
        os.makedirs(self.channel)
        self.tree({"index.html": b"the web root's own", "data.pak": b"published before"}, self.channel)
        before = snapshot(os.path.join(self.work, "web"))
        links = {"to-directory": os.path.join(self.work, "web"), "dangling": os.path.join(self.work, "nowhere")}
        for offending in list(bad_trees) + list(links) + ["fifo", "release.secret"]:
            with self.subTest(offending=offending):
                shutil.rmtree(self.source, ignore_errors=True)
                self.tree(dict(self.release(), **bad_trees.get(offending, {})))
                if offending in links:
                    os.symlink(links[offending], os.path.join(self.source, offending))
                if offending == "fifo":
                    os.mkfifo(os.path.join(self.source, offending))
                options = []
                if offending == "release.secret":  # the signing key itself, kept in the tree it signs
                    options = ["--sign", os.path.join(self.source, offending)]
                    subprocess.run([PUBLISHER, "keygen", options[1]], capture_output=True, timeout=60, check=True)
                result = self.publish("--new-channel", *options)  # beside the web root's own files
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(b"did you swap SOURCE and CHANNEL?" if offending == "md5sums"
                              else b"orn-publish: " + os.fsencode(offending), result.stderr)
                self.assertEqual(snapshot(os.path.join(self.work, "web")), before)
        self.assertEqual(subprocess.run([PUBLISHER, self.source], capture_output=True).returncode, 2)

    def test_second_publish_copies_what_changed_and_removes_what_left(self):
        first = self.release(**{"old.txt": b"going away"})
        self.tree(first)
        os.symlink(os.path.join(self.source, "readme.txt"), os.path.join(self.source, "link.txt"))
        first["link.txt"] = first["readme.txt"]
        os.makedirs(self.channel)
        self.tree({"index.html": b"not ours"}, self.channel)
        result = self.publish("--new-channel")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout, rb"Published 9 files: 9 copied, 0 removed, \d+ bytes copied, [\d.]+ s\n$")
        self.assert_published(first)
        self.assertFalse(os.path.islink(os.path.join(self.channel, "link.txt")), "a link is published as a copy")
        unchanged = os.stat(os.path.join(self.channel, "libs/engine.dll")).st_ino

        os.remove(os.path.join(self.source, "old.txt"))
        second = self.release(**{"data.pak": b"data 2", "new.txt": b"arrived"})
        second["link.txt"] = second["readme.txt"]
        self.tree(second)
        result = self.publish()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"Published 9 files: 2 copied, 1 removed, 13 bytes copied,", result.stdout)
        self.assert_published(second)
        self.assertFalse(os.path.exists(os.path.join(self.channel, "old.txt")))
        self.assertEqual(os.stat(os.path.join(self.channel, "libs/engine.dll")).st_ino, unchanged)
        with open(os.path.join(self.channel, "index.html"), "rb") as other:
            self.assertEqual(other.read(), b"not ours")

    def test_missing_own_files_and_client_are_warned_about(self):
        self.tree({"data.pak": b"only data"})
        result = self.publish()
        self.assertEqual(result.returncode, 0, result.stderr)
        for name in OWN + ("ORN_Client.exe",):
            self.assertIn(b"warning: " + name.encode() + b" is missing", result.stderr)
        self.assertIn(b"\nPublished 1 file: 1 copied, 0 removed, 9 bytes copied, ", result.stdout)
        self.assert_published({"data.pak": b"only data"})

    def test_the_readmes_commands_run_as_written(self):
        """The deployer's path as the README gives it, its paths moved into a scratch folder: a renamed option
        or command breaks this test rather than a reader. Its cron lines run as cron runs them: through /bin/sh,
        with cron's PATH (the folder of the orn-publish under test standing for /usr/bin) and HOME alone, and
        silent when all is well (cron mails what a job prints)."""
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "README.md")) as readme:
            text = readme.read()
        lines = re.findall(r"^ {6,}((?:[\d*]+ +){5})?(.*\born-publish .*)$", text, re.M)
        self.assertGreaterEqual(len(lines), 8, lines)
        self.assertEqual(len([line for line in lines if line[0]]), 2, "the cron lines for --resign and status")
        home = os.path.join(self.work, "home")
        os.makedirs(home)
        os.environ.pop("XDG_STATE_HOME")  # the state folder under HOME, as under cron
        cron = {"HOME": home, "LOGNAME": "deployer", "SHELL": "/bin/sh",
                "PATH": os.path.dirname(PUBLISHER) + ":/usr/bin:/bin"}
        self.tree(self.release())
        for schedule, command in lines:
            with self.subTest(command=command):
                command = command.replace("/srv/orn", os.path.join(self.work, "web"))
                if schedule:
                    result = subprocess.run(["/bin/sh", "-c", command], env=cron, capture_output=True, timeout=60)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    if " status " in command:
                        self.assertEqual(result.stdout + result.stderr, b"", "a daily mail saying all is well")
                    continue
                arguments = command.replace("~/", home + "/").split()[1:]
                arguments = [self.source if word == "release/" else word for word in arguments]
                arguments = [self.first_kept_serial(home) if word == "SERIAL" else word for word in arguments]
                result = subprocess.run([PUBLISHER] + arguments, env=dict(os.environ, HOME=home),
                                        capture_output=True, timeout=60)
                self.assertEqual(result.returncode, 0, result.stderr)
        for option in set(re.findall(r"`(?:orn-publish [^`]*)?(--[a-z-]+)", text)):
            self.assertIn(option.encode(), subprocess.run([PUBLISHER, "--help"], capture_output=True).stdout)

    def first_kept_serial(self, home):
        """The oldest release whose objects the README's channel (latest) keeps."""
        for record in glob.glob(os.path.join(home, ".local", "state", "orn-publish", "*.releases")):
            with open(record) as text:
                lines = text.read().splitlines()
            if lines[1].endswith("/latest"):
                return [line.split()[1] for line in lines if line.startswith("release ")][0]
        self.fail("no record of the releases kept in latest")

    def test_speaks_like_a_command_line_tool(self):
        for arguments, status, out, err in [
                (["--help"], 0, b"usage: orn-publish ", b""),
                (["--version"], 0, b"orn-publish ", b""),
                (["--sing", "k", "a", "b"], 2, b"", b"orn-publish: --sing: no such option (see orn-publish --help)\n"),
                (["--sign", "k", "--expires", "0", "a", "b"], 2, b"",
                 b"orn-publish: --expires 0: DAYS must be a whole number from 1 to 36500, or never"),
                ([self.source], 2, b"", b"orn-publish: give SOURCE and CHANNEL_DIR (see orn-publish --help)\n")]:
            with self.subTest(arguments=arguments):
                result = subprocess.run([PUBLISHER] + arguments, capture_output=True, timeout=60)
                self.assertEqual(result.returncode, status)
                self.assertTrue(result.stdout.startswith(out), result.stdout)
                self.assertTrue(result.stderr.startswith(err), result.stderr)
                self.assertEqual(result.stderr.count(b"\n"), 1 if err else 0)

    def test_failure_in_the_middle_keeps_the_lock_and_a_rerun_finishes(self):
        self.tree(self.release())
        publish = subprocess.Popen([PUBLISHER, "--hold-lock", "5", self.source, self.channel],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 30
        while not os.path.exists(os.path.join(self.channel, "update.lock")):
            self.assertLess(time.monotonic(), deadline, "the publish never raised the lock")
            time.sleep(0.02)
        os.makedirs(os.path.join(self.channel, "data.pak"))  # in the way of the new file, once past the checks
        stderr = publish.communicate(timeout=60)[1]
        self.assertEqual(publish.returncode, 1, stderr)
        self.assertIn(b"run the same command again", stderr)
        with open(os.path.join(self.channel, "update.lock"), "rb") as lock:
            self.assertRegex(lock.read(), rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC$")
        self.assertFalse(os.path.exists(os.path.join(self.channel, "md5sums")))
        os.rmdir(os.path.join(self.channel, "data.pak"))
        result = self.publish()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_published(self.release())


class PublishingSafely(PublisherTestCase):
    """A publish that says it worked has worked; one that fails leaves the
    channel as it was, or finishable by running the same command again."""

    def check_channel(self):
        check = subprocess.run(["md5sum", "-c", "--strict", "md5sums"], cwd=self.channel, capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def start_publish(self, *options):
        """A publish in the background, and a wait until it names `big.pak`, the file it then copies."""
        process = subprocess.Popen([PUBLISHER, *options, self.source, self.channel], stdout=subprocess.PIPE,
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
        result = subprocess.run([PUBLISHER, "--hold-lock", "1", self.source, self.channel], capture_output=True,
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
        unwritable = subprocess.run([PUBLISHER, self.source, self.channel], capture_output=True, timeout=60,
                                    preexec_fn=as_nobody)
        self.assertEqual(unwritable.returncode, 2, unwritable.stderr)
        self.assertIn(b"nothing in " + self.channel.encode() + b" was changed and no lock was raised",
                      unwritable.stderr)
        self.assertEqual(os.listdir(self.channel), [])
        os.chmod(os.path.join(self.source, "data.pak"), 0)
        os.chown(self.channel, nobody, nobody)
        unreadable = subprocess.run([PUBLISHER, self.source, self.channel], capture_output=True, timeout=60,
                                    preexec_fn=as_nobody)
        self.assertEqual(unreadable.returncode, 2, unreadable.stderr)
        self.assertIn(b"orn-publish: data.pak: cannot be read", unreadable.stderr)
        self.assertEqual(os.listdir(self.channel), [])


class SignedTestCase(PublisherTestCase):
    def setUp(self):
        super().setUp()
        self.key = os.path.join(self.work, "keys", "release.secret")
        # Whatever the umask, the secret key and the folders made for it are the owner's alone.
        self.keygen = subprocess.run([PUBLISHER, "keygen", self.key], capture_output=True, timeout=60,
                                     preexec_fn=lambda: os.umask(0))

    def release_lines(self):
        with open(os.path.join(self.channel, "release"), "rb") as source:
            text = source.read()
        self.assertTrue(release_signing.verifies(text, self.key), text)
        return release_signing.split(text)[0].decode().splitlines()

    def channel_path(self, path):
        return os.path.join(self.channel, path)

    def write(self, path, content):
        with open(self.channel_path(path), "wb") as out:
            out.write(content)

    def read(self, path):
        with open(self.channel_path(path), "rb") as source:
            return source.read()

    def resign(self, *options, key=None):
        return subprocess.run([PUBLISHER, "--sign", key or self.key, *options, "--resign", self.channel],
                              capture_output=True, timeout=60)

    def status(self, *options):
        return subprocess.run([PUBLISHER, "status", self.channel, *options], capture_output=True, timeout=60)

    def other_key(self):
        """A second key pair's secret file, and its public key line."""
        other = os.path.join(self.work, "keys", "other.secret")
        made = subprocess.run([PUBLISHER, "keygen", other], capture_output=True, timeout=60, check=True)
        return other, made.stdout.decode().strip()

    def serial(self):
        return int(self.release_lines()[2].split()[1])

    def objects_named(self):
        """The objects the channel's release names: its files', its indexes' and its md5sums'."""
        lines = self.release_lines()
        return {line.split()[1] for line in lines if line.startswith(("file ", "md5sums-sha256 "))}

    def expiry_days(self):
        """Days from now to the release's expiry, or None without one."""
        line = [line for line in self.release_lines() if line.startswith("expires ")]
        if not line:
            return None
        expires = time.mktime(time.strptime(line[0], "expires %Y-%m-%dT%H:%M:%SZ")) - time.timezone
        return round((expires - time.time()) / 86400)


class SignedPublishing(SignedTestCase):
    def test_keygen_writes_a_secret_key_once_and_prints_its_public_key(self):
        self.assertEqual(self.keygen.returncode, 0, self.keygen.stderr)
        self.assertEqual(os.stat(self.key).st_mode & 0o777, 0o600)
        public_key = release_signing.read_secret_key(self.key)[1][32:]
        self.assertEqual(self.keygen.stdout.decode(), release_signing.public_key_text(public_key) + "\n")
        self.assertEqual(stat.S_IMODE(os.stat(os.path.dirname(self.key)).st_mode), 0o700)
        with open(self.key, "rb") as source:
            before = source.read()
        again = subprocess.run([PUBLISHER, "keygen", self.key], capture_output=True, timeout=60)
        self.assertEqual(again.returncode, 2)
        self.assertIn(b"never overwritten", again.stderr)
        with open(self.key, "rb") as source:
            self.assertEqual(source.read(), before)

    def test_signed_releases_list_every_file_and_their_serial_only_grows(self):
        self.tree(self.release())
        self.assertEqual(self.publish("--sign", self.key, "--expires", "never").returncode, 0)
        self.assert_published(self.release())
        lines = self.release_lines()
        with open(os.path.join(self.channel, "md5sums"), "rb") as manifest:
            listing = manifest.read()
        paths = [line.split(b"  ", 1)[1].decode() for line in listing.splitlines()]
        sha256sum = subprocess.run(["sha256sum", *paths], cwd=self.channel, capture_output=True, check=True)
        files = ["file %s %d %s" % (digest.decode(), os.path.getsize(os.path.join(self.channel, path)), path)
                 for (digest, _), path in zip((line.split(b"  ", 1) for line in sha256sum.stdout.splitlines()), paths)]
        listing_sha = hashlib.sha256(listing).hexdigest()
        first = self.serial()  # the clock: above whatever a lost record or web root had signed
        self.assertLess(abs(first - time.time()), 120)
        self.assertEqual(lines, ["orn-release 1", "channel latest", "serial %d" % first, "md5sums-sha256 " + listing_sha] +
                         files + ["file %s %d by-hash/%s" % (listing_sha, len(listing), listing_sha)])
        for line in files:  # each file also under its SHA-256: the very file, not a copy, where links work
            self.assertTrue(os.path.samefile(self.channel_path(line.split()[3]), self.channel_path(
                "by-hash/" + line.split()[1])), line)
        self.assertEqual(self.read("by-hash/" + listing_sha), listing)
        self.assertEqual(os.stat(self.channel_path("md5sums")).st_nlink, 1)

        self.tree(self.release(**{"data.pak": b"data 2"}))
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        second = self.serial()
        self.assertGreater(second, first)
        before = snapshot(self.channel)
        for refused in (["--serial", str(second)], []):  # a serial that does not grow; an unsigned publish over a signed channel
            result = self.publish(*(["--sign", self.key] if refused else []), *refused)
            self.assertEqual(result.returncode, 2, result.stderr)
            self.assertIn(b"nothing in", result.stderr)
            self.assertEqual(snapshot(self.channel), before)
        self.assertEqual(self.publish("--sign", self.key, "--serial", str(second + 1000)).returncode, 0)
        self.assertEqual(self.serial(), second + 1000)
        self.assertIn(b"serial: %d (given with --serial)\n" % (second + 1000), self.status("--key", self.key).stdout)

        before = {path: entry for path, entry in snapshot(self.channel).items() if not path.endswith("release")}
        resigned = subprocess.run([PUBLISHER, "--sign", self.key, "--expires", "7", "--resign", self.channel],
                                  capture_output=True, timeout=60)
        self.assertEqual(resigned.returncode, 0, resigned.stderr)
        lines = self.release_lines()
        self.assertEqual(lines[2], "serial %d" % (second + 1001))
        self.assertIn(b"serial: %d (one above the highest serial known, %d, which is ahead of the clock)\n" %
                      (second + 1001, second + 1000), self.status("--key", self.key).stdout)
        expires = time.mktime(time.strptime(lines[3], "expires %Y-%m-%dT%H:%M:%SZ")) - time.timezone
        self.assertLess(abs(expires - (time.time() + 7 * 86400)), 120)
        self.assertEqual({p: e for p, e in snapshot(self.channel).items() if not p.endswith("release")}, before)

    def test_large_files_get_a_chunk_index_named_by_its_hash_kept_while_a_release_names_it(self):
        big = os.urandom(3 << 20)
        self.tree(self.release(**{"big.pak": big}))
        unsigned = os.path.join(self.work, "web", "unsigned")
        subprocess.run([PUBLISHER, self.source, unsigned], capture_output=True, timeout=60, check=True)
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(unsigned, "by-hash")))
        legacy = lambda root: {os.path.relpath(p, root): e[1:3] for p, e in snapshot(root).items()  # noqa: E731
                               if e[0] == "file" and not os.path.relpath(p, root).startswith(("by-hash", "release"))}
        self.assertEqual(legacy(self.channel), legacy(unsigned))  # md5sums too: as without signing
        (name,) = [line.split()[1] for line in self.release_lines() if line.endswith("big.pak.orn-chunks")]
        index = self.read("by-hash/" + name)
        self.assertEqual(hashlib.sha256(index).hexdigest(), name)
        magic, version, low, normal, high, size, sha, count = struct.unpack("<8s4IQ32sQ", index[:72])
        self.assertEqual((magic, version, low, normal, high), (b"ORNCHUNK", 1, 16 << 10, 64 << 10, 256 << 10))
        self.assertEqual((size, sha, len(index)), (len(big), hashlib.sha256(big).digest(), 72 + 24 * count))
        self.assertEqual(sum(struct.unpack_from("<I", index, 72 + 24 * i)[0] for i in range(count)), len(big))
        files = [line for line in self.release_lines() if line.startswith("file ")]
        self.assertEqual(files[-3], "file %s %d big.pak.orn-chunks" % (name, len(index)))  # before the marker
        self.assertEqual([line for line in files if "orn-chunks" in line], files[-3:-2])
        # Its block sums follow it: a weak and a strong sum of each 4 KiB block, the last one shorter.
        _, sums_name, sums_size, sums_path = files[-2].split()
        sums = self.read("by-hash/" + sums_name)
        self.assertEqual((sums_path, int(sums_size), hashlib.sha256(sums).hexdigest()),
                         ("big.pak.orn-blocks", len(sums), sums_name))
        self.assertEqual(sums[:56], struct.pack("<8s2IQ32s", b"ORNBLOCK", 1, 4096, len(big), hashlib.sha256(big).digest()))
        self.assertEqual(len(sums), 56 + 12 * ((len(big) + 4095) // 4096))
        for block in (0, (len(big) - 1) // 4096):
            data = big[block * 4096:(block + 1) * 4096]
            a = sum(data) & 0xffff
            b = sum((len(data) - i) * byte for i, byte in enumerate(data)) & 0xffff
            self.assertEqual(struct.unpack_from("<I", sums, 56 + 12 * block)[0], a | b << 16)

        # Status and a re-sign check the index where it is kept, and keep its line.
        pristine = os.path.join(self.work, "pristine")
        shutil.copytree(self.channel, pristine)
        self.assertEqual(self.status("--key", self.key).returncode, 0)
        self.assertEqual(self.resign().returncode, 0)
        self.assertEqual(files[-3:-1], [line for line in self.release_lines() if ".orn-" in line])
        self.write("by-hash/" + name, index[:-1] + bytes([index[-1] ^ 1]))
        self.assertIn(b"files match: no", self.status("--key", self.key).stdout)
        self.assertEqual(self.resign().returncode, 2)

    def test_a_replaced_release_or_manifest_is_dated_a_second_later_even_within_one_second(self):
        # A cache that revalidates by ETag (size and modification second) must see every replacement.
        self.tree({"game.pak": b"a"})
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        seconds = [int(os.stat(self.channel_path("release")).st_mtime)]
        for _ in range(3):
            self.assertEqual(self.resign().returncode, 0)
            seconds.append(int(os.stat(self.channel_path("release")).st_mtime))
        self.assertEqual(seconds, sorted(set(seconds)), seconds)
        manifest = int(os.stat(self.channel_path("md5sums")).st_mtime)
        self.tree({"game.pak": b"b"})
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        self.assertGreater(int(os.stat(self.channel_path("md5sums")).st_mtime), manifest)

    def test_a_publish_keeps_the_objects_of_the_last_releases_and_removes_only_other_objects(self):
        big = os.urandom(2 << 20)
        self.tree(self.release())
        # Other names there are not ours; an object's name that no release gives is.
        foreign = {"notes.txt": b"the deployer's", "F" * 64: b"not an object's name"}
        for keep in (["--keep-releases", "1"], ["--keep-releases", "2"], []):
            with self.subTest(keep=keep):
                shutil.rmtree(self.channel, ignore_errors=True)
                shutil.rmtree(os.environ["XDG_STATE_HOME"], ignore_errors=True)
                count, named, present = int(keep[1]) if keep else 3, [], set()
                for round in range(count + 3):
                    self.tree({"big.pak": big + b"%d" % round, "data.pak": b"data %d" % round})
                    recorded = named[-count:]
                    if round == count + 1:  # no record of the releases kept: the channel's verified one counts,
                        (record,) = glob.glob(os.path.join(os.environ["XDG_STATE_HOME"], "orn-publish", "*.releases"))
                        os.remove(record)  # and until it knows as many releases as kept, nothing is removed
                        recorded = named[-1:]
                    result = self.publish("--sign", self.key, *keep)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    named.append(self.objects_named())
                    recorded = (recorded + named[-1:])[-count:]
                    present |= named[-1]
                    if len(recorded) == count:
                        present = set().union(*recorded)
                    self.assertEqual(set(os.listdir(self.channel_path("by-hash"))) - set(foreign), present)
                    for name in present - {"f" * 64}:
                        self.assertEqual(hashlib.sha256(self.read("by-hash/" + name)).hexdigest(), name)
                    if round == 0:
                        first = self.read("release")
                        self.tree(dict(foreign, **{"f" * 64: b"planted"}), self.channel_path("by-hash"))
                        present.add("f" * 64)
                # Signed again with the same files: nothing of the release before goes.
                before = set(os.listdir(self.channel_path("by-hash")))
                self.assertEqual(self.publish("--sign", self.key, *keep).returncode, 0)
                self.assertEqual(set(os.listdir(self.channel_path("by-hash"))), before)
                self.assertTrue(set(foreign) <= before)
                # An old release put back in the channel: still the newest releases' objects are kept.
                with open(self.channel_path("release"), "wb") as out:
                    out.write(first)
                self.tree({"big.pak": big + b"again", "data.pak": b"data again"})
                self.assertEqual(self.publish("--sign", self.key, *keep).returncode, 0)
                named.append(self.objects_named())
                self.assertEqual(set(os.listdir(self.channel_path("by-hash"))) - set(foreign),
                                 set().union(*named[-count:]))

    def test_every_object_is_in_place_before_the_release_that_names_it(self):
        self.tree(self.release())
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        first = self.read("release")
        second = self.release(**{"data.pak": b"data 2", "big.pak": os.urandom(2 << 20)})
        self.tree(second)
        publish = subprocess.Popen([PUBLISHER, "--hold-lock", "2", "--sign", self.key, self.source, self.channel],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 30
        while not os.path.exists(self.channel_path("update.lock")):
            self.assertLess(time.monotonic(), deadline, "the publish never raised the lock")
            time.sleep(0.02)
        os.mkdir(self.channel_path("release.orn-publish"))  # the release alone cannot be written
        stderr = publish.communicate(timeout=60)[1]
        self.assertEqual(publish.returncode, 1, stderr)
        self.assertEqual(self.read("release"), first)
        for content in list(second.values()) + [self.read("md5sums")]:
            self.assertEqual(self.read("by-hash/" + hashlib.sha256(content).hexdigest()), content)
        os.rmdir(self.channel_path("release.orn-publish"))
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        self.assert_published(second)
        self.assertEqual(self.status("--key", self.key).returncode, 0)

    def test_a_second_publish_of_a_channel_refuses_while_the_first_runs(self):
        self.tree(self.release())
        first = subprocess.Popen([PUBLISHER, "--hold-lock", "3", "--sign", self.key, self.source, self.channel],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 30
        while not os.path.exists(os.path.join(self.channel, "update.lock")):
            self.assertLess(time.monotonic(), deadline, "the first publish never raised the lock")
            time.sleep(0.02)
        second = self.publish("--sign", self.key)
        self.assertEqual(second.returncode, 1)
        self.assertIn(b"another orn-publish is publishing", second.stderr)
        self.assertTrue(os.path.exists(os.path.join(self.channel, "update.lock")), "the first run's lock stays up")
        self.assertEqual(first.wait(timeout=60), 0, first.stderr.read())
        self.assert_published(self.release())
        self.assertIn(b" (the signing time in UTC seconds)\n", self.status("--key", self.key).stdout,
                      "the refused run signed nothing")

    def test_links_planted_in_the_channel_are_refused_and_nothing_is_touched_through_them(self):
        outside = os.path.join(self.work, "outside")
        precious = os.path.join(outside, "precious.txt")
        self.tree({"precious.txt": b"the deployer's own"}, outside)
        os.chmod(precious, 0o600)
        self.tree(self.release())
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        pristine = os.path.join(self.work, "pristine")
        shutil.copytree(self.channel, pristine)
        planted = [(link, "link") for link in ["d", "md5sums.orn-publish-written", "release.orn-publish",
                                               "libs/engine.dll.orn-publish", "libs/engine.dll", "sub/folder/x",
                                               "update.lock", "md5sums", "release",
                                               "\x1b]0;PWNED\x07\x1b[2J\u009b",
                                               "\udc9b2J\udc9b31mx\u202e"]]  # shown escaped: 8-bit CSI, a direction mark
        planted += [("md5sums", "hard link"),  # to the secret key: never read, never quoted
                    ("md5sums.orn-publish", "directory"), ("md5sums.orn-publish-written", "fifo"),
                    ("data.pak", "directory"),  # where the tree puts a file: the copy would fail with the lock up
                    ("by-hash", "link"), ("by-hash/" + "0" * 64, "link"), ("by-hash", "file"),
                    ("by-hash/folder", "directory"),  # the chunk indexes' folder holds their files and nothing else
                    ("", "link")]  # "": the channel itself
        visible = lambda path: re.sub(rb"[\x00-\x1f\x7f-\xff]",  # noqa: E731
                                      lambda m: b"".join(b"\\x%02x" % c for c in m.group()), os.fsencode(path))
        for link, kind in planted:
            with self.subTest(link=link, kind=kind):
                shutil.rmtree(self.channel, ignore_errors=True)
                if os.path.islink(self.channel):
                    os.remove(self.channel)
                where = os.path.join(self.channel, link) if link else self.channel
                if link:
                    shutil.copytree(pristine, self.channel)
                    os.makedirs(os.path.dirname(where), exist_ok=True)
                    if os.path.isdir(where):
                        shutil.rmtree(where)
                    elif os.path.exists(where):
                        os.remove(where)
                if kind == "link":
                    os.symlink(outside if link in ("d", "") else precious, where)
                else:
                    {"hard link": lambda: os.link(self.key, where), "directory": lambda: os.mkdir(where),
                     "fifo": lambda: os.mkfifo(where), "file": lambda: self.write(link, b"in the way")}[kind]()
                if link == "d":  # the old manifest lists a file through the link, to be removed
                    with open(os.path.join(self.channel, "md5sums"), "ab") as manifest:
                        manifest.write(b"0" * 32 + b"  d/precious.txt\n")
                before = snapshot(self.work)
                for command in (["--sign", self.key, self.source, self.channel],
                                ["--sign", self.key, "--resign", self.channel]):
                    result = subprocess.run([PUBLISHER, *command], capture_output=True, timeout=60)
                    self.assertEqual(result.returncode, 2, result.stderr)
                    self.assertIn(visible(where) + b": ", result.stderr)
                    self.assertNotRegex(result.stderr, rb"[\x1b\x80-\xff]")
                    self.assertNotIn(b"orn-release-secret-key", result.stderr)
                    self.assertEqual(snapshot(self.work), before)
                    self.assertEqual(os.stat(precious).st_mode & 0o777, 0o600)
        # A directory where a listed file was is not the file: never removed, nor what it holds.
        os.remove(self.channel)
        shutil.copytree(pristine, self.channel)
        os.remove(os.path.join(self.channel, "readme.txt"))
        self.tree({"readme.txt/kept.txt": b"not ours"}, self.channel)
        os.remove(os.path.join(self.source, "readme.txt"))
        result = self.publish("--sign", self.key)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.channel, "readme.txt", "kept.txt"), "rb") as kept:
            self.assertEqual(kept.read(), b"not ours")


class SigningOnAHostileServer(SignedTestCase):
    """The web server's files may be an attacker's: orn-publish signs only what
    its deployer signed, its serials never go back, and its key stays private."""

    def restore(self, pristine, **changes):
        shutil.rmtree(self.channel)
        shutil.copytree(pristine, self.channel)
        for path, content in changes.items():
            if content is None:
                os.remove(self.channel_path(path))
            elif isinstance(content, int):
                with open(self.channel_path(path), "ab") as grown:
                    grown.truncate(content)
            else:
                self.write(path, content)

    def test_resign_refuses_all_that_was_not_signed_before(self):
        self.tree(self.release(**{"ORN_Client.exe": b"the real client"}))
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        pristine = os.path.join(self.work, "pristine")
        shutil.copytree(self.channel, pristine)
        other, other_public = self.other_key()
        listing, body = self.read("md5sums"), release_signing.split(self.read("release"))[0]
        md5 = lambda data: hashlib.md5(data).hexdigest().encode()  # noqa: E731
        forged = b"the attacker's client"
        cases = {
            "forged client and its md5sums line": {"ORN_Client.exe": forged,
                                                   "md5sums": listing.replace(md5(b"the real client"), md5(forged))},
            "forged client alone": {"ORN_Client.exe": forged},
            "libs/evil.dll and its line": {"libs/evil.dll": b"evil", "md5sums": listing + md5(b"evil") +
                                           b"  libs/evil.dll\n"},
            "md5sums changed": {"md5sums": listing + b"\n"},
            "release signed by another key": {"release": release_signing.sign(body, other)},
            "release missing": {"release": None},
            "a listed file grown sparse to a terabyte": {"data.pak": 1 << 40},  # refused by its size, not hashed
            "the client's object forged": {"by-hash/" + hashlib.sha256(b"the real client").hexdigest(): forged},
            "md5sums' object missing": {"by-hash/" + hashlib.sha256(listing).hexdigest(): None},
        }
        for name, changes in cases.items():
            with self.subTest(name):
                self.restore(pristine, **changes)
                before = snapshot(self.channel)
                result = self.resign()
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(b"nothing in", result.stderr)
                self.assertEqual(snapshot(self.channel), before)
        # The same entries signed anew; a release under a key being rotated away is trusted when named.
        self.restore(pristine, release=release_signing.sign(body, other))
        result = self.resign("--trust", other_public)
        self.assertEqual(result.returncode, 0, result.stderr)
        unchanging = lambda lines: [line for line in lines if not line.startswith(("serial", "expires"))]  # noqa
        self.assertEqual(unchanging(self.release_lines()), unchanging(body.decode().splitlines()))
        self.assertGreater(self.serial(), int(re.search(rb"serial (\d+)", body).group(1)))

    def test_a_planted_deleted_or_rolled_back_release_never_lowers_the_serial(self):
        self.tree(self.release())
        sign = ["--sign", self.key]
        self.assertEqual(self.publish(*sign).returncode, 0)
        first, oldest = self.read("release"), self.serial()
        for _ in range(2):
            self.assertEqual(self.publish(*sign).returncode, 0)
        highest = self.serial()
        self.assertGreater(highest, oldest + 1)
        largest = 1 << 62  # the largest serial that launchers read
        planted = release_signing.sign(re.sub(rb"serial \d+", b"serial %d" % largest,
                                              release_signing.split(first)[0]), self.other_key()[0])
        above = lambda step: sign + ["--serial", str(highest + step)]  # noqa: E731
        steps = [  # (the server's release becomes, options, exit status, serial signed: +N above the highest)
            ("rolled back to the first serial, re-signed", first, lambda: "resign", 2, None),
            ("rolled back to the first serial", first, lambda: sign, 0, "grows"),
            ("planted 2^62 under another key", planted, lambda: sign, 2, None),
            ("planted, --serial not above the record", planted, lambda: above(0), 2, None),
            ("planted, --serial above the record", planted, lambda: above(1), 0, "+1"),
            ("deleted, unsigned publish", None, lambda: [], 2, None),
            ("deleted, signed publish", None, lambda: sign, 2, None),
            ("deleted, --serial above the record", None, lambda: above(1), 0, "+1"),
            ("--serial past what launchers read", b"", lambda: sign + ["--serial", str(largest + 1)], 2, None),
            ("the largest serial launchers read", b"", lambda: sign + ["--serial", str(largest)], 0, largest),
            ("no serial left after it", b"", lambda: sign, 2, None),
        ]
        for name, release, options, status, serial in steps:
            with self.subTest(name):
                options = options()
                if release is None and os.path.exists(self.channel_path("release")):
                    os.remove(self.channel_path("release"))
                elif release:
                    self.write("release", release)
                before = snapshot(self.channel)
                result = self.resign() if options == "resign" else self.publish(*options)
                self.assertEqual(result.returncode, status, result.stderr)
                if options == "resign":  # a valid old release put back is not blessed anew, and status tells
                    older = b"%d is older than the last one signed here, %d" % (oldest, highest)
                    self.assertIn(b"serial " + older, result.stderr)
                    shown = self.status("--key", self.key)
                    self.assertEqual(shown.returncode, 1, shown.stdout)
                    self.assertIn(b"serial: " + older.replace(b" is", b","), shown.stdout)
                if serial is None:
                    self.assertEqual(snapshot(self.channel), before)
                    continue
                if serial == "grows":
                    self.assertGreater(self.serial(), highest)
                else:
                    self.assertEqual(self.serial(), highest + 1 if serial == "+1" else serial)
                highest = self.serial()
        state = os.path.join(os.environ["XDG_STATE_HOME"], "orn-publish")
        self.assertEqual(os.stat(state).st_mode & 0o777, 0o700)

    def test_expiry_by_default_kept_when_signed_anew_warned_and_shown_by_status(self):
        self.tree(self.release())
        public, other_public = self.keygen.stdout.decode().strip(), self.other_key()[1]
        steps = [  # (command, options, days to the expiry or None, warned)
            ("publish", [], 90, False), ("resign", [], 90, False),
            ("publish", ["--expires", "never"], None, False), ("resign", [], None, False),
            ("publish", ["--expires", "7"], 7, True), ("resign", [], 7, True),
        ]
        for command, options, days, warned in steps:
            with self.subTest(command=command, options=options):
                result = self.publish("--sign", self.key, *options) if command == "publish" else self.resign(*options)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.expiry_days(), days)
                self.assertEqual(b"orn-publish: warning: the release expires in 7 days" in result.stderr, warned)
        pristine = os.path.join(self.work, "pristine")
        shutil.copytree(self.channel, pristine)
        listing = self.read("md5sums") + b"0" * 32 + b"  big.pak\n"
        body = re.sub(rb"md5sums-sha256 \w+", b"md5sums-sha256 " + hashlib.sha256(listing).hexdigest().encode(),
                      release_signing.split(self.read("release"))[0])
        planted = {"md5sums": listing, "big.pak": 200 << 30, "release": body + b"file " + b"0" * 64 +
                   b" 214748364800 big.pak\nsignature \x9b2J\x9b31m " + b"A" * 86 + b"==\n"}
        statuses = [  # (options, exit status, a line shown, the server's files changed first)
            (["--key", self.key], 1, b" (in 7 days), within 14 days: sign it anew\n"),  # a part of a day counts
            (["--key", self.key, "--warn-days", "3"], 0, b"highest serial known, "),
            (["--trust", public, "--warn-days", "3"], 0, b"files: 7\nsignature: verifies\nfiles match: yes\n"),
            (["--warn-days", "3"], 1, b"signature: not checked"),
            (["--trust", other_public, "--warn-days", "3"], 1, b"signature: does not verify"),
            (["--warn-days"], 2, b""),
            (["--key", self.key, "--warn-days", "3"], 1, b"files match: no", {"data.pak": b"changed on the server"}),
            (["--key", self.key, "--warn-days", "3"], 1, b"files match: not checked", planted),  # nothing hashed
        ]
        for options, status, line, *changes in statuses:
            with self.subTest(options=options, changes=bool(changes)):
                if changes:
                    self.restore(pristine, **changes[0])
                result = self.status(*options)
                self.assertEqual(result.returncode, status, result.stdout + result.stderr)
                self.assertIn(line, result.stdout)
                self.assertNotIn(b"\x9b", result.stdout)

    def test_a_secret_key_others_may_read_or_reached_through_a_link_is_refused(self):
        self.tree(self.release())
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        loose, link = os.path.join(self.work, "keys", "loose.secret"), os.path.join(self.work, "keys", "link.secret")
        owned, inside = os.path.join(self.work, "keys", "nobody.secret"), self.channel_path("release.secret")
        for copy in (loose, owned, inside):
            shutil.copy(self.key, copy)
        os.chown(owned, 65534, -1)  # nobody, as the web server's user may be
        os.symlink(self.key, link)
        served = self.channel_path("libs/notes.txt")  # the key under another name, where nginx serves it
        cases = [(loose, 0o644, b"permissions too open (0644)"), (loose, 0o640, b"permissions too open (0640)"),
                 (link, None, b"symbolic link"), (os.path.dirname(self.key), None, b"not a regular file"),
                 (owned, None, b"owned by another user (uid 65534)"), (inside, None, b"lies inside the channel"),
                 (self.key, "hard link", b"a secret key lies inside the channel, where the web server serves it to "
                                         b"anyone: " + os.fsencode(served)),
                 (self.key, "copy", b"a secret key lies inside the channel"),
                 (self.key, "copy with a BOM and CR LF", b"a secret key lies inside the channel"),
                 (self.key, "its secret alone", b"a secret key lies inside the channel")]
        with open(self.key, "rb") as source:
            text = source.read()
        copies = {"copy": text, "copy with a BOM and CR LF": b"\xef\xbb\xbf" + text.replace(b"\n", b"\r\n"),
                  "its secret alone": b"backup: " + text.split(b":")[-1]}
        for key, mode, message in cases:
            with self.subTest(key=key, mode=mode):
                if mode == "hard link":
                    os.remove(inside)
                    os.link(self.key, served)
                elif mode in copies:
                    os.remove(served)
                    with open(served, "wb") as out:
                        out.write(copies[mode])
                elif mode:
                    os.chmod(loose, mode)
                before = snapshot(self.channel)
                for result in (self.publish("--sign", key), self.resign(key=key), self.status("--key", key)):
                    self.assertEqual(result.returncode, 2, result.stderr)
                    self.assertIn(message, result.stderr)
                    self.assertNotIn(b"orn-release-secret-key", result.stdout + result.stderr)
                self.assertEqual(snapshot(self.channel), before)


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
                result = subprocess.run([PUBLISHER, "--sign", self.key, source, channel], capture_output=True,
                                        timeout=60)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(snapshot(self.work), before)
        shutil.rmtree(inside_channel)
        for channel in (mistyped, web + "/elsewhere"):  # a new channel beside others, when the deployer says so
            result = subprocess.run([PUBLISHER, "--new-channel", self.source, channel], capture_output=True,
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
                run = subprocess.Popen([PUBLISHER, "--hold-lock", "60", "--sign", self.key, self.source, self.channel],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
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
        run = subprocess.Popen([PUBLISHER, "--sign", self.key, self.source, self.channel], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
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
        run = subprocess.Popen([PUBLISHER, "--new-channel", "--sign", self.key, self.source, self.channel],
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


class ReleaseManagerCommands(SignedTestCase):
    """promote and rollback: releases already signed, published again as a channel's next serial."""

    def run_publisher(self, *arguments):
        return subprocess.run([PUBLISHER, *arguments], capture_output=True, timeout=60)

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


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--publisher", required=True)
    options, rest = parser.parse_known_args()
    PUBLISHER = os.path.abspath(options.publisher)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
