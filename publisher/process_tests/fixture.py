"""What every publisher test shares: the orn-publish under test, the temporary folders each test
gets (a release tree, a channel under a web root, a state folder), and the helpers that run the
command and read what it wrote."""
import os
import shutil
import subprocess
import tempfile
import time
import types
import unittest

import release_signing

# What the command line chose: configure() sets it before any test runs.
OPTIONS = types.SimpleNamespace(publisher=None)
OWN = ("ORN_Launcher.exe", "physfs.dll", "sfml-network-2.dll", "sfml-system-2.dll")
# The README whose deployer's commands a test runs as written.
README = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "README.md")


def configure(options):
    OPTIONS.publisher = os.path.abspath(options.publisher)


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
        return subprocess.run([OPTIONS.publisher, *options, self.source, self.channel], capture_output=True, timeout=60)

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


class SignedTestCase(PublisherTestCase):
    def setUp(self):
        super().setUp()
        self.key = os.path.join(self.work, "keys", "release.secret")
        # Whatever the umask, the secret key and the folders made for it are the owner's alone.
        self.keygen = subprocess.run([OPTIONS.publisher, "keygen", self.key], capture_output=True, timeout=60,
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
        return subprocess.run([OPTIONS.publisher, "--sign", key or self.key, *options, "--resign", self.channel],
                              capture_output=True, timeout=60)

    def status(self, *options):
        return subprocess.run([OPTIONS.publisher, "status", self.channel, *options], capture_output=True, timeout=60)

    def other_key(self):
        """A second key pair's secret file, and its public key line."""
        other = os.path.join(self.work, "keys", "other.secret")
        made = subprocess.run([OPTIONS.publisher, "keygen", other], capture_output=True, timeout=60, check=True)
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
