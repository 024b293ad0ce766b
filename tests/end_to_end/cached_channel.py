"""A caching proxy in front of a published channel: Debian's Varnish before nginx, players arriving across a publish."""
import os
import shutil
import subprocess
import tempfile
import time
import urllib.request

from nginx_server import NginxServer
from readme_config import readme_varnish
from tcp_relay import TcpRelay, free_port
from varnish_server import VarnishServer

from .fixture import CANCELED, LATEST, OPTIONS, RUN_LOG, LauncherTestCase, write_tree

CLIENT_STATUS = 3


class ChannelPlayers(LauncherTestCase):
    """A channel that orn-publish publishes into a web root of the test's own, and players' game directories
    beside it, each started with its own launcher."""

    def setUp(self):
        if not (OPTIONS.publisher and OPTIONS.signed_launcher and OPTIONS.release_key):
            self.fail("these scenarios need --publisher, --signed-launcher and --release-key")
        super().setUp()
        self.web = tempfile.mkdtemp(prefix="launcher_e2e_cached.")
        self.addCleanup(shutil.rmtree, self.web, ignore_errors=True)

    def publish(self, channel, files, signed, *options):
        tree = write_tree(os.path.join(self.web, "tree"), files)
        self.run_publisher(*(["--sign", OPTIONS.release_key] if signed else []), *options, tree, channel)

    def run_publisher(self, *arguments):
        result = subprocess.run([OPTIONS.publisher, *arguments], capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)

    def player(self, name, launcher, files):
        directory = os.path.join(self.web, "players", name)
        own = dict(OPTIONS.target.libraries, **{"ORN_Launcher.exe": launcher, "ORN_Client.exe": OPTIONS.target.client})
        for path, content in dict(own, **files).items():
            os.makedirs(os.path.dirname(os.path.join(directory, path)), exist_ok=True)
            with open(os.path.join(directory, path), "wb") as out:
                out.write(content)
        os.chmod(os.path.join(directory, "ORN_Launcher.exe"), 0o700)
        os.chmod(os.path.join(directory, "ORN_Client.exe"), 0o700)
        return directory

    def start(self, directory):
        started = time.monotonic()
        result = self.run_launcher(executable=os.path.join(directory, "ORN_Launcher.exe"), cwd=directory)
        return result, started, time.monotonic()


class CachedChannel(ChannelPlayers):
    """Caches keep each URL for its own time from the moment someone asked for
    it, so right after a publish one player can meet a fresh file list beside
    a game file cached before it. Player A caches the small files, B the big
    one a little later; then a release is published; D starts at once, while
    every copy is still cached, and C once A's copies have expired but B's
    have not. Later every player starts again."""

    def setUp(self):
        super().setUp()
        # Seconds each answer is cached: room for two launcher runs and a publish in half of it (a Windows
        # start under Wine takes up to some 3 s).
        self.ttl = 20 if OPTIONS.target.wine else 8 if OPTIONS.sanitized else 4
        data = os.urandom(3 << 20)  # indexed, so that the later starts update it by delta
        self.releases = [{"ORN_Client.exe": OPTIONS.target.client, "notes.txt": b"notes 1", "data.pak": data},
                         {"ORN_Client.exe": OPTIONS.target.client, "notes.txt": b"notes 2",
                          "data.pak": data[:1 << 20] + b"release 2" * 100 + data[1 << 20:]}]

    def release_held(self, directory):
        """The index of the release the game directory wholly holds, or None."""
        held = {}
        for path in self.releases[0]:
            if os.path.exists(os.path.join(directory, path)):
                with open(os.path.join(directory, path), "rb") as source:
                    held[path] = source.read()
        return self.releases.index(held) if held in self.releases else None

    def assert_started(self, result, directory, release):
        self.assertEqual((result.returncode, self.release_held(directory)), (CLIENT_STATUS, release), result.stdout)

    def play(self, launcher, signed, revalidate):
        """The story behind a fresh cache of its own: C's run and what it left (before C starts again), and
        the requests that reached the origin."""
        root = tempfile.mkdtemp(dir=self.web)
        channel = os.path.join(root, LATEST.strip("/"))
        first, second = self.releases
        self.publish(channel, first, signed)
        with NginxServer(free_port(), root) as nginx, VarnishServer(OPTIONS.port, nginx.port, self.ttl, revalidate):
            a = self.player("a", launcher, {"data.pak": first["data.pak"]})
            a_result, a_start, a_end = self.start(a)
            time.sleep(self.ttl / 2)
            b = self.player("b", launcher, {})
            b_result, b_start, _ = self.start(b)
            self.publish(channel, second, signed)
            d = self.player("d", launcher, {})
            d_result, _, d_end = self.start(d)
            time.sleep(max(0.0, a_end + self.ttl + 0.3 - time.monotonic()))
            c = self.player("c", launcher, {})
            c_result, c_start, c_end = self.start(c)
            self.assertTrue(d_end < a_start + self.ttl and a_end + self.ttl < c_start and c_end < b_start + self.ttl,
                            "the arrivals missed the cache's timing (TTL %g s): A %.1f-%.1f, B from %.1f, D until "
                            "%.1f, C %.1f-%.1f" % (self.ttl, 0, a_end - a_start, b_start - a_start,
                                                   d_end - a_start, c_start - a_start, c_end - a_start))
            self.assert_started(a_result, a, 0)
            self.assert_started(b_result, b, 0)
            self.assert_started(d_result, d, 1 if revalidate else 0)
            c_left = self.release_held(c), os.path.exists(os.path.join(c, "data.pak"))
            time.sleep(max(0.0, c_end + self.ttl + 0.3 - time.monotonic()))
            for directory in (a, b, c, d):
                self.assert_started(self.start(directory)[0], directory, 1)
            shutil.rmtree(os.path.join(self.web, "players"))
        return c_result, c_left, nginx.requests()

    def test_players_across_a_publish_behind_a_cache(self):
        with open(OPTIONS.signed_launcher, "rb") as binary:
            signed_launcher = binary.read()
        c_result, c_left, asked = self.play(signed_launcher, signed=True, revalidate=False)
        self.assertEqual((c_result.returncode, c_left), (CLIENT_STATUS, (1, True)), c_result.stdout)
        mutable = [r for r in asked if not r.startswith("GET %sby-hash/" % LATEST)]
        self.assertEqual({r.split()[1] for r in mutable}, {LATEST + "update.lock", LATEST + "release"},
                         "only the lock and the release are asked for by a name that is reused")

        # What a launcher without keys meets in the same place: the new list beside the old cached data.pak.
        c_result, c_left, _ = self.play(OPTIONS.target.launcher_bytes, signed=True, revalidate=False)
        self.assertIn(b"* data.pak... Failed.\n", c_result.stdout)
        self.assertTrue(c_result.stdout.endswith(CANCELED), c_result.stdout)
        self.assertEqual((c_result.returncode, c_left), (1, (None, False)), "no stale data.pak taken for good")

        # A channel without keys needs a cache that asks the origin about every URL each time.
        c_result, c_left, asked = self.play(OPTIONS.target.launcher_bytes, signed=False, revalidate=True)
        self.assertEqual((c_result.returncode, c_left), (CLIENT_STATUS, (1, True)), c_result.stdout)
        self.assertIn("GET %sdata.pak HTTP/1.1 304" % LATEST, asked)

    def first_signed_release(self):
        """The signed launcher's bytes, a fresh web root and its channel, the first release published signed."""
        with open(OPTIONS.signed_launcher, "rb") as binary:
            signed_launcher = binary.read()
        root = tempfile.mkdtemp(dir=self.web)
        channel = os.path.join(root, LATEST.strip("/"))
        self.publish(channel, self.releases[0], True)
        return signed_launcher, root, channel

    def test_the_readmes_varnish_passing_ranges_and_its_warm_up_after_a_publish(self):
        """As a reader copies them: the edge fills only through the warm-up, and then serves every object."""
        signed_launcher, root, channel = self.first_signed_release()
        first, second = self.releases
        with NginxServer(free_port(), root) as nginx:
            _, passing, warm = readme_varnish(nginx.port, OPTIONS.port)
            with VarnishServer(OPTIONS.port, nginx.port, 0, vcl=passing):
                player = self.player("a", signed_launcher, {"data.pak": first["data.pak"]})
                self.assert_started(self.start(player)[0], player, 0)
                self.publish(channel, second, True)
                subprocess.run(["/bin/sh", "-c", warm], cwd=channel, check=True, timeout=60)
                before = len(nginx.requests())
                self.assert_started(self.start(player)[0], player, 1)
                asked = {r.split()[1] for r in nginx.requests()[before:]}
        self.assertEqual(asked, {LATEST + "update.lock", LATEST + "release"}, "every object from the warmed edge")

    def test_an_edge_that_still_serves_the_older_release(self):
        """Installed N+1 through edge A; edge B still serves N's release: the game starts as it is."""
        signed_launcher, root, channel = self.first_signed_release()
        second = self.releases[1]
        with NginxServer(free_port(), root) as nginx, \
                VarnishServer(free_port(), nginx.port, 300) as edge_a, \
                VarnishServer(free_port(), nginx.port, 300) as edge_b, TcpRelay(OPTIONS.port) as switch:
            switch.backend = edge_b.port
            self.assert_started(self.start(self.player("early", signed_launcher, {}))[0],
                                os.path.join(self.web, "players", "early"), 0)
            self.publish(channel, second, True)
            switch.backend = edge_a.port
            player = self.player("p", signed_launcher, {})
            opened = switch.connections
            self.assert_started(self.start(player)[0], player, 1)
            self.assertEqual(switch.connections - opened, 1, "the whole install on one connection to the cache")
            switch.backend = edge_b.port
            before = {name: os.stat(os.path.join(player, name)).st_mtime_ns for name in os.listdir(player)}
            result = self.start(player)[0]
            self.assertEqual(result.stdout, b"Connecting to server... Connected\nChecking for updated files... Done\n"
                             b"The server offers an update older than the one installed, starting ORN...\n")
            self.assert_started(result, player, 1)
            after = {name: os.stat(os.path.join(player, name)).st_mtime_ns for name in os.listdir(player)}
            self.assertEqual(after, dict(before, **{name: after.get(name) for name in ("client.log", RUN_LOG)}),
                             "nothing written but the client's and the run's logs")
            record = os.path.join(player, "ORN_Launcher.accepted")
            with open(record, "rb") as source:
                accepted = source.read()
            notes = os.path.join(player, "notes.txt")
            refusals = {  # what was changed on disk since: (file, its bytes)
                "a game file": (notes, b"changed since"),
                "the record's manifest": (record, accepted.replace(b"notes.txt", b"notes.txT", 1)),
                "the record cut short": (record, accepted[:len(accepted) // 2]),
                "the record gone": (record, None),
            }
            for name, (path, content) in refusals.items():
                with self.subTest(name):
                    if content is None:
                        os.remove(path)
                    else:
                        with open(path, "wb") as out:
                            out.write(content)
                    result = self.start(player)[0]
                    self.assertEqual(result.stdout, b"Connecting to server... Connected\nChecking for updated "
                                     b"files... !!Failed!!\nThe update is older than one already installed, "
                                     b"canceling launch.\n")
                    self.assertEqual(result.returncode, 1)
                    for put, original in ((notes, second["notes.txt"]), (record, accepted)):
                        with open(put, "wb") as out:
                            out.write(original)

    def test_two_re_signs_within_one_second_behind_a_revalidating_cache(self):
        """A cache that revalidates `release` by its validator serves the newer of two same-second re-signs."""
        with open(OPTIONS.signed_launcher, "rb") as binary:
            signed_launcher = binary.read()
        root = tempfile.mkdtemp(dir=self.web)
        channel = os.path.join(root, LATEST.strip("/"))
        self.publish(channel, self.releases[0], True)
        resign = [OPTIONS.publisher, "--sign", OPTIONS.release_key, "--resign", channel]
        with NginxServer(free_port(), root) as nginx, \
                VarnishServer(free_port(), nginx.port, self.ttl, revalidate=True) as edge, \
                TcpRelay(OPTIONS.port) as switch:
            switch.backend = edge.port
            subprocess.run(resign, capture_output=True, timeout=60, check=True)
            with urllib.request.urlopen("http://127.0.0.1:%d%srelease" % (edge.port, LATEST), timeout=30) as cached:
                validator = cached.headers["ETag"]
            subprocess.run(resign, capture_output=True, timeout=60, check=True)
            asked = urllib.request.Request("http://127.0.0.1:%d%srelease" % (nginx.port, LATEST),
                                           headers={"If-None-Match": validator})
            with urllib.request.urlopen(asked, timeout=30) as origin:  # a 304 would raise
                self.assertNotEqual(origin.headers["ETag"], validator)
            with open(os.path.join(channel, "release"), "rb") as source:
                serial = [line for line in source.read().split(b"\n") if line.startswith(b"serial ")][0].split()[1]
            player = self.player("p", signed_launcher, {})
            self.assert_started(self.start(player)[0], player, 0)
            with open(os.path.join(player, "ORN_Launcher.releases"), "rb") as accepted:
                self.assertEqual(accepted.read(), serial + b" latest\n")
