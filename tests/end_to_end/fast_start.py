"""A fast start: the launcher's record of digests spares it reading unchanged files."""
import os
import re
import shutil
import subprocess
import tempfile
import time


from .fixture import CONNECTED, DIGEST_CACHE, HEADER, LAUNCHING, OPTIONS, LauncherTestCase, md5, update_server


class FastStart(LauncherTestCase):
    """The launcher's record of digests: an unchanged file is not read again
    on the next start; a file changed in any way is hashed, and fetched."""

    def put_old(self, name, content):
        """A file last modified an hour ago: settled, so its recorded digest may be trusted."""
        self.put(name, content)
        old = time.time() - 3600
        os.utime(self.path(name), (old, old))

    def traced_run(self):
        """A run with the files it opens traced (natively); the traced names."""
        if OPTIONS.target.wine:
            return self.run_launcher(), None
        traces = tempfile.mkdtemp(prefix="launcher_e2e_trace.")
        self.addCleanup(shutil.rmtree, traces, ignore_errors=True)
        trace = os.path.join(traces, "opened")
        # LeakSanitizer cannot run under ptrace; the other runs check for leaks.
        environment = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
        result = subprocess.run(["strace", "-f", "-qq", "-e", "trace=open,openat", "-o", trace,
                                 self.path("ORN_Launcher.exe")], cwd=self.game, capture_output=True,
                                timeout=OPTIONS.target.timeout, env=environment)
        with open(trace) as log:
            return result, re.findall(r'open(?:at)?\(.*?"([^"]*)"', log.read())

    def test_unchanged_files_are_not_read_and_any_change_is_fetched(self):
        files = {name: name.encode() * 50 for name in ("kept.dat", "racy.dat", "grown.dat", "swapped.dat",
                                                         "deleted.dat", "libs/kept.dll")}
        for name, content in files.items():
            self.put_old(name, content)
        self.put("racy.dat", files["racy.dat"])  # written just now: its record cannot vouch for it yet
        no_update = CONNECTED + b"Checking for updated files... Done\nNo updates found, starting ORN...\n"
        with update_server(files):
            self.assertEqual(self.run_launcher().stdout, no_update)
            self.assertTrue(os.path.isfile(self.path(DIGEST_CACHE)))
            second, opened = self.traced_run()
        self.assertEqual((second.stdout, second.returncode), (no_update, 3))
        if opened is not None:
            read = {os.path.relpath(name, self.game) for name in opened if name.startswith(self.game)}
            self.assertEqual(read & set(files), {"racy.dat"}, "only the file changed within its record's tick is read")

        racy = os.stat(self.path("racy.dat"))
        self.put("racy.dat", b"R" * len(files["racy.dat"]))  # same size, same time
        os.utime(self.path("racy.dat"), ns=(racy.st_atime_ns, racy.st_mtime_ns))
        grown = os.stat(self.path("grown.dat"))
        self.put("grown.dat", files["grown.dat"] + b"more")
        os.utime(self.path("grown.dat"), ns=(grown.st_atime_ns, grown.st_mtime_ns))
        swapped = os.stat(self.path("swapped.dat"))
        self.put("swapped.new", b"S" * len(files["swapped.dat"]))
        os.utime(self.path("swapped.new"), ns=(swapped.st_atime_ns, swapped.st_mtime_ns))
        os.replace(self.path("swapped.new"), self.path("swapped.dat"))  # another file, same size and time
        os.remove(self.path("deleted.dat"))
        with update_server(files):
            third = self.run_launcher()
        fetched = ["racy.dat", "grown.dat", "swapped.dat", "deleted.dat"]
        self.assert_downloads(third.stdout, HEADER, [b"* %s... Done.\n" % p.encode() for p in fetched], LAUNCHING)
        for name, content in files.items():
            self.assertEqual(self.read(name), content, name)

    def test_a_damaged_cache_is_never_trusted(self):
        old, new = b"the old content", b"the new content"

        def sealed(text):
            return text + md5(text) + b"\n"
        damages = {"sealed as the launcher seals it (trusted: a hint, not a defence)": lambda body, forged: sealed(body),
                   "checksum does not match": lambda body, forged: forged,
                   "truncated": lambda body, forged: forged[:len(forged) // 2],
                   "garbage": lambda body, forged: os.urandom(300),
                   "future version": lambda body, forged: sealed(body.replace(b" 1\n", b" 2\n", 1)),
                   "a directory": None}
        for name, damage in damages.items():
            with self.subTest(name):
                self.put_old("kept.dat", b"kept")
                self.put_old("changed.dat", old)
                with update_server({"kept.dat": b"kept", "changed.dat": old}):
                    self.assertEqual(self.run_launcher().returncode, 3)
                # The record made then, altered to claim that the file now holds the new content.
                forged = self.read(DIGEST_CACHE).replace(md5(old), md5(new))
                os.remove(self.path(DIGEST_CACHE))
                if damage is None:
                    os.mkdir(self.path(DIGEST_CACHE))
                else:
                    self.put(DIGEST_CACHE, damage(forged[:forged.rindex(b"\n", 0, len(forged) - 1) + 1], forged))
                with update_server({"kept.dat": b"kept", "changed.dat": new}):
                    result = self.run_launcher()
                if name.startswith("sealed"):
                    self.assertEqual(result.stdout, CONNECTED + b"Checking for updated files... Done\n"
                                     b"No updates found, starting ORN...\n")
                    continue
                self.assertEqual(result.stdout, HEADER + b"* changed.dat... Done.\n" + LAUNCHING)
                self.assertEqual(self.read("changed.dat"), new)

    def test_a_libs_folder_elsewhere_is_written_once_and_current_after(self):
        elsewhere = tempfile.mkdtemp(prefix="launcher_e2e_libs.")
        self.addCleanup(shutil.rmtree, elsewhere, ignore_errors=True)
        os.symlink(elsewhere, self.path("libs"))
        files = {"libs/a.dll": b"a library on another disk"}
        with update_server(files):
            first = self.run_launcher()
            second = self.run_launcher()
        self.assertEqual(first.stdout, HEADER + b"* libs/a.dll... Done.\n" + LAUNCHING)
        self.assertEqual(second.stdout, CONNECTED + b"Checking for updated files... Done\n"
                         b"No updates found, starting ORN...\n")
        with open(os.path.join(elsewhere, "a.dll"), "rb") as written:
            self.assertEqual(written.read(), files["libs/a.dll"])
