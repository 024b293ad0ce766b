"""Publishing unsigned: the trees refused, what a second publish changes, the warnings, the
README's commands as written, the command line, and a failure in the middle finished by a rerun."""
import glob
import os
import re
import shutil
import subprocess
import time

from .fixture import OPTIONS, OWN, README, PublisherTestCase, snapshot


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
                    subprocess.run([OPTIONS.publisher, "keygen", options[1]], capture_output=True, timeout=60,
                                   check=True)
                result = self.publish("--new-channel", *options)  # beside the web root's own files
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(b"did you swap SOURCE and CHANNEL?" if offending == "md5sums"
                              else b"orn-publish: " + os.fsencode(offending), result.stderr)
                self.assertEqual(snapshot(os.path.join(self.work, "web")), before)
        self.assertEqual(subprocess.run([OPTIONS.publisher, self.source], capture_output=True).returncode, 2)

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
        with open(README) as readme:
            text = readme.read()
        lines = re.findall(r"^ {6,}((?:[\d*]+ +){5})?(.*\born-publish .*)$", text, re.M)
        self.assertGreaterEqual(len(lines), 8, lines)
        self.assertEqual(len([line for line in lines if line[0]]), 2, "the cron lines for --resign and status")
        home = os.path.join(self.work, "home")
        os.makedirs(home)
        os.environ.pop("XDG_STATE_HOME")  # the state folder under HOME, as under cron
        cron = {"HOME": home, "LOGNAME": "deployer", "SHELL": "/bin/sh",
                "PATH": os.path.dirname(OPTIONS.publisher) + ":/usr/bin:/bin"}
        self.tree(self.release())
        logs = os.path.join(self.work, "log")
        os.makedirs(logs)
        with open(os.path.join(logs, "access.log"), "w") as log:
            log.write('127.0.0.1 - - [10/Dec/2026:12:00:00 +0000] "GET / HTTP/1.1" 200 5 "-" "-"\n')
        for schedule, command in lines:
            with self.subTest(command=command):
                command = command.replace("/srv/orn", os.path.join(self.work, "web"))
                command = command.replace("/var/log/nginx", logs)
                if schedule:
                    result = subprocess.run(["/bin/sh", "-c", command], env=cron, capture_output=True, timeout=60)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    if " status " in command:
                        self.assertEqual(result.stdout + result.stderr, b"", "a daily mail saying all is well")
                    continue
                arguments = command.replace("~/", home + "/").split()[1:]
                arguments = [self.source if word == "release/" else word for word in arguments]
                arguments = [self.first_kept_serial(home) if word == "SERIAL" else word for word in arguments]
                arguments = [path for word in arguments for path in (sorted(glob.glob(word)) if "*" in word else [word])]
                result = subprocess.run([OPTIONS.publisher] + arguments, env=dict(os.environ, HOME=home),
                                        capture_output=True, timeout=60)
                self.assertEqual(result.returncode, 0, result.stderr)
        # The Windows part names the options of make-windows-dist.sh, which its own test checks.
        for option in set(re.findall(r"`(?:orn-publish [^`]*)?(--[a-z-]+)", text.split("\n## Windows\n")[0])):
            self.assertIn(option.encode(), subprocess.run([OPTIONS.publisher, "--help"], capture_output=True).stdout)

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
                result = subprocess.run([OPTIONS.publisher] + arguments, capture_output=True, timeout=60)
                self.assertEqual(result.returncode, status)
                self.assertTrue(result.stdout.startswith(out), result.stdout)
                self.assertTrue(result.stderr.startswith(err), result.stderr)
                self.assertEqual(result.stderr.count(b"\n"), 1 if err else 0)

    def test_failure_in_the_middle_keeps_the_lock_and_a_rerun_finishes(self):
        self.tree(self.release())
        publish = subprocess.Popen([OPTIONS.publisher, "--hold-lock", "5", self.source, self.channel],
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
