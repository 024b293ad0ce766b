"""Several servers: the launcher built with two (127.0.0.1 on the test port, then on the mirror port) against two
nginx mirrors of one origin that orn-publish signs, each kept in step by the README's rsync lines."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

from nginx_server import NginxServer
from readme_config import README
from scripted_server import Reply, ScriptedServer

from .fixture import (CONNECTED, HEADER, LATEST, LAUNCHING, LOCK, OPTIONS, RELEASE, LauncherTestCase, object_path, uri,
                      write_tree)


# Stands in for rsync on the PATH: runs the real one, and notes what the mirror holds before and after (its lock
# up, its files by name, size and time, the objects its release names that it lacks).
WATCHING_RSYNC = """#!%s
import json, os, re, subprocess, sys
mirror = os.environ["WATCHED_MIRROR"]


def note():
    try:
        with open(os.path.join(mirror, "release"), "rb") as release:
            named = [n.decode() for n in re.findall(rb"^file ([0-9a-f]{64}) ", release.read(), re.M)]
    except FileNotFoundError:
        named = []
    files = sorted([os.path.relpath(os.path.join(d, n), mirror), os.stat(os.path.join(d, n)).st_size,
                    os.stat(os.path.join(d, n)).st_mtime_ns] for d, _, names in os.walk(mirror) for n in names)
    with open(os.environ["WATCHED_STATES"], "a") as states:
        states.write(json.dumps({"locked": os.path.exists(os.path.join(mirror, "update.lock")),
                                 "files": [f for f in files if f[0] != "update.lock"],
                                 "lacking": [n for n in named if not os.path.exists(os.path.join(mirror, "by-hash", n))]
                                 }) + "\\n")


note()
status = subprocess.call([%r] + sys.argv[1:])
note()
sys.exit(status)
"""


def readme_mirror_sync(origin, mirror):
    """The README's lines that bring a mirror in step, with its two folders named."""
    with open(README) as readme:
        text = readme.read()
    lines = re.search(r"^    # Brings MIRROR in step with ORIGIN.*\n(?:    .*\n)+", text, re.M).group(0)
    lines = re.sub(r"^    ", "", lines, flags=re.M)
    lines = re.sub(r"^ORIGIN=.*$", "ORIGIN='%s'" % origin, lines, count=1, flags=re.M)
    return re.sub(r"^MIRROR=.*$", "MIRROR='%s'" % mirror, lines, count=1, flags=re.M)


class Mirrors(LauncherTestCase):
    def setUp(self):
        if not (OPTIONS.publisher and OPTIONS.mirrors_launcher and OPTIONS.release_key and OPTIONS.mirror_port):
            self.fail("these scenarios need --publisher, --mirrors-launcher, --mirror-port and --release-key")
        if not shutil.which("rsync"):
            self.fail("the README's mirror lines need rsync (Debian package rsync)")
        super().setUp()
        with open(OPTIONS.mirrors_launcher, "rb") as binary:
            self.launcher_bytes = binary.read()
        self.put("ORN_Launcher.exe", self.launcher_bytes, executable=True)
        self.web = tempfile.mkdtemp(prefix="launcher_e2e_mirrors.")
        self.addCleanup(shutil.rmtree, self.web, ignore_errors=True)
        self.origin, self.first, self.second = (os.path.join(self.web, name) for name in ("origin", "first", "second"))

    def channel(self, root):
        return os.path.join(root, LATEST.strip("/"))

    def publish(self, serial):
        files = {"ORN_Client.exe": OPTIONS.target.client, "data.pak": b"data %d" % serial,
                 "libs/engine.dll": b"engine %d" % serial}
        tree = write_tree(os.path.join(self.web, "tree"), files)
        result = subprocess.run([OPTIONS.publisher, "--sign", OPTIONS.release_key, tree, self.channel(self.origin)],
                                capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        return files

    def sync(self, mirror):
        """The README's lines, watched: the mirror ends as the origin, and from its first copy to the last its lock
        is up and its release never names an object that it lacks and held before."""
        bin_folder, states = os.path.join(self.web, "bin"), os.path.join(self.web, "states")
        os.makedirs(bin_folder, exist_ok=True)
        with open(os.path.join(bin_folder, "rsync"), "w") as shim:
            shim.write(WATCHING_RSYNC % (sys.executable, shutil.which("rsync")))
        os.chmod(os.path.join(bin_folder, "rsync"), 0o755)
        environment = dict(os.environ, PATH=bin_folder + os.pathsep + os.environ["PATH"],
                           WATCHED_MIRROR=self.channel(mirror), WATCHED_STATES=states)
        result = subprocess.run(["sh", "-c", readme_mirror_sync(self.channel(self.origin), self.channel(mirror))],
                                capture_output=True, timeout=60, env=environment)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.channel(mirror), "update.lock")), "the mirror's lock is down")
        self.assertEqual(self.tree(mirror), self.tree(self.origin))
        with open(states) as lines:
            watched = [json.loads(line) for line in lines]
        os.remove(states)
        locked = [state["locked"] for state in watched]
        self.assertIn(True, locked, "the README's lines never raised the mirror's lock")
        unlocked, copying = watched[:locked.index(True)], watched[locked.index(True):]
        self.assertEqual([state["files"] for state in unlocked], [watched[0]["files"]] * len(unlocked),
                         "nothing is copied before the lock is up")
        self.assertTrue(all(state["locked"] for state in copying), "the lock stays up to the last copy")
        for before, after in zip(watched, watched[1:]):
            self.assertLessEqual(set(after["lacking"]), set(before["lacking"]), "an object lacked")

    def tree(self, root):
        found = {}
        for folder, _, names in os.walk(self.channel(root)):
            for name in names:
                with open(os.path.join(folder, name), "rb") as source:
                    found[os.path.relpath(os.path.join(folder, name), self.channel(root))] = source.read()
        return found

    def copy_from_origin(self, mirror, name):
        os.makedirs(os.path.dirname(os.path.join(self.channel(mirror), name)), exist_ok=True)
        shutil.copyfile(os.path.join(self.channel(self.origin), name), os.path.join(self.channel(mirror), name))

    def object(self, path):
        with open(os.path.join(self.channel(self.origin), "release"), "rb") as release:
            return object_path(release.read(), path)

    def assert_updated(self, result, files):
        self.assert_downloads(result.stdout, HEADER, [b"* data.pak... Done.\n", b"* libs/engine.dll... Done.\n"],
                              LAUNCHING)
        self.assertEqual((result.stderr, result.returncode), (b"", 3))
        for path in ("data.pak", "libs/engine.dll"):
            self.assertEqual(self.read(path), files[path], path)

    def asked(self, port, request):
        """The log's lines for the request path asked of the server on `port`: each one's status, in order."""
        log = self.read("ORN_Launcher.log").decode()
        line = r"127\.0\.0\.1:%d GET %s(?: bytes=[0-9-]+)?: (no answer|status \d+)" % (port, re.escape(request))
        return re.findall(line, log)

    def test_one_server_down_then_one_lagging_then_both_in_step(self):
        first_port, second_port = OPTIONS.port, OPTIONS.mirror_port
        release1 = self.publish(1)
        self.sync(self.second)
        with NginxServer(second_port, self.second):  # the first is down: every request goes on to the second
            self.assert_updated(self.run_launcher(), release1)
        self.assertEqual(self.asked(first_port, LOCK), ["no answer"])
        self.assertEqual(self.asked(second_port, LOCK), ["status 404"])
        self.assertEqual(self.asked(first_port, uri(self.object("data.pak"))), [], "the server that answered is kept")

        # The first stalls after the head of its release: the second's is taken, and the game is whole.
        no_updates = CONNECTED + b"Checking for updated files... Done\nNo updates found, starting ORN...\n"
        stalling = {LOCK: Reply(404), RELEASE: Reply(200, b"release", stall_after=0)}
        with ScriptedServer(first_port, stalling), NginxServer(second_port, self.second):
            result = self.run_launcher()
        self.assertEqual((result.stdout, result.returncode), (no_updates, 3))
        self.assertEqual(self.asked(first_port, LOCK) + self.asked(first_port, RELEASE), ["status 404", "status 200"])
        self.assertEqual(self.asked(second_port, LOCK) + self.asked(second_port, RELEASE), ["status 200"])

        # The first mirror half-synced in the wrong order: release 2's release and manifest, not its files.
        self.sync(self.first)
        release2 = self.publish(2)
        self.sync(self.second)
        for name in ("release", "md5sums", self.object("md5sums")):
            self.copy_from_origin(self.first, name)
        with NginxServer(first_port, self.first), NginxServer(second_port, self.second):
            self.assert_updated(self.run_launcher(), release2)
            engine, data = uri(self.object("libs/engine.dll")), uri(self.object("data.pak"))
            self.assertEqual(self.asked(second_port, LOCK), [], "a lock that is not up is no failure")
            # Pipelined, both were asked of the first together, and the one asked alone once more there.
            self.assertEqual(set(self.asked(first_port, engine) + self.asked(first_port, data)), {"status 404"})
            self.assertEqual(self.asked(second_port, engine) + self.asked(second_port, data), ["status 206"] * 2)

            # A forged release on the first: the second's, the one installed, is taken.
            with open(os.path.join(self.channel(self.first), "release"), "r+b") as release:
                text = release.read()
                release.seek(0)
                release.write(text.replace(b"serial ", b"serial 9", 1))
            result = self.run_launcher()
            self.assertEqual((result.stdout, result.returncode), (no_updates, 3))
            self.assertEqual(self.asked(second_port, RELEASE), ["status 200"])

        # The README's lines mend the half-synced mirror, and it alone serves release 3.
        release3 = self.publish(3)
        self.sync(self.first)
        with NginxServer(first_port, self.first):
            self.assert_updated(self.run_launcher(), release3)
        self.assertEqual(self.asked(second_port, LOCK), [])
