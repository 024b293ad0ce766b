"""Staged rollouts as players meet them: a hundred game directories of one
channel that nginx serves, through each step orn-publish takes a rollout."""
import concurrent.futures
import math
import os
import re
import shutil
import subprocess
import tempfile

from nginx_server import NginxServer
from readme_config import readme_varnish
from tcp_relay import TcpRelay, free_port
from varnish_server import VarnishServer

from .fixture import OPTIONS, RUN_LOG, LauncherTestCase, write_tree

# Enough for the share to show; a sanitized build (some ten times slower) checks the same steps with fewer.
DIRECTORIES = 100
SANITIZED_DIRECTORIES = 20
INSTALL_ID = "ORN_Launcher.id"


def place(game):
    """Where the game directory's install id places it, in [0, 1)."""
    with open(os.path.join(game, INSTALL_ID)) as text:
        return int(text.read()[:8], 16) / 2 ** 32


class StagedRollouts(LauncherTestCase):
    def setUp(self):
        if not (OPTIONS.publisher and OPTIONS.signed_launcher and OPTIONS.release_key and OPTIONS.blind_launcher):
            self.fail("these scenarios need --publisher, --signed-launcher, --release-key and --rollout-blind-launcher")
        super().setUp()
        self.web = tempfile.mkdtemp(prefix="launcher_e2e_rollout.")
        self.addCleanup(shutil.rmtree, self.web, ignore_errors=True)
        self.channel = os.path.join(self.web, "~qel", "ORN", "windows", "latest")
        self.first = {"data.pak": b"data 1", "libs/engine.dll": b"engine 1", "ORN_Client.exe": OPTIONS.target.client}
        self.second = dict(self.first, **{"data.pak": b"data 2", "new.dat": b"new in 2"})
        self.deployer(self.publish_options(), self.first)

    def publish_options(self, *options):
        return ["--sign", OPTIONS.release_key, *options]

    def deployer(self, options, tree=None):
        """orn-publish with `options`, publishing `tree` when given; returns what it printed."""
        arguments = [*options, write_tree(os.path.join(self.web, "tree"), tree), self.channel] if tree else options
        result = subprocess.run([OPTIONS.publisher, *arguments], capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        os.chmod(self.web, 0o755)  # nginx's worker reads as nobody
        return result.stdout + result.stderr

    def rollout(self, *options):
        return self.deployer(["rollout", self.channel, *options, "--sign", OPTIONS.release_key])

    def game_directories(self, count, launcher):
        """`count` game directories holding the first release as installed, with `launcher` in each."""
        with open(launcher, "rb") as binary:
            executable = binary.read()
        games = []
        for _ in range(count):
            game = tempfile.mkdtemp(prefix="launcher_e2e_player.", dir=self.web)
            for name, content in dict(self.first, **OPTIONS.target.libraries, **{"ORN_Launcher.exe": executable}).items():
                os.makedirs(os.path.dirname(os.path.join(game, name)), exist_ok=True)
                with open(os.path.join(game, name), "wb") as out:
                    out.write(content)
            for name in ("ORN_Launcher.exe", "ORN_Client.exe"):
                os.chmod(os.path.join(game, name), 0o755)
            games.append(game)
        return games

    def start(self, games):
        """Starts the launcher in each game directory (a few at once); each must start the game, on the
        release it took: returns which took the second."""
        def one(game):
            result = subprocess.run(OPTIONS.target.command(os.path.join(game, "ORN_Launcher.exe")), cwd=game,
                                    capture_output=True, timeout=OPTIONS.target.timeout)
            log = os.path.join(game, RUN_LOG)
            with open(log, "rb") if os.path.exists(log) else open(os.devnull, "rb") as text:
                self.assertEqual(result.returncode, 3, (game, result.stdout, result.stderr, text.read()))
            with open(os.path.join(game, "data.pak"), "rb") as data:
                return data.read() == self.second["data.pak"]
        # Wine's one server for every Windows process is slower to start many at once: two there.
        with concurrent.futures.ThreadPoolExecutor(2 if OPTIONS.target.wine else 4) as pool:
            return list(pool.map(one, games))

    def assert_share(self, players, took, share):
        """Exactly those whose id falls below the share took it, and their number is within five standard
        deviations of the share's (a sound rollout fails this about once in two million runs)."""
        for game, taken in zip(players, took):
            self.assertEqual(taken, place(game) < share, (game, place(game), share))
        spread = 5 * math.sqrt(len(players) * share * (1 - share))
        self.assertLessEqual(abs(sum(took) - share * len(players)), spread, (sum(took), share))

    def test_a_hundred_players_through_a_rollout_with_older_and_unsigned_launchers_on_the_current_release(self):
        count = SANITIZED_DIRECTORIES if OPTIONS.sanitized else DIRECTORIES
        players = self.game_directories(count, OPTIONS.signed_launcher)
        others = self.game_directories(1, OPTIONS.blind_launcher) + self.game_directories(1, OPTIONS.launcher)
        with NginxServer(free_port(), self.web, as_nobody=True) as nginx, TcpRelay(OPTIONS.port, nginx.port):
            said = self.deployer(self.publish_options("--rollout", "25"), self.second)
            self.assertIn(b"25%", said)
            taken = self.start(players)
            self.assert_share(players, taken, 0.25)
            self.assertEqual(self.start(others), [False, False])
            with open(os.path.join(players[0], RUN_LOG), "rb") as log:
                self.assertIn(b"rollout: serial", log.read())
            self.assertEqual(self.start(players), taken, "a second start changes nothing")

            self.rollout("60")
            more = self.start(players)
            self.assertTrue(all(later or not before for before, later in zip(taken, more)), "nobody goes back")
            self.assert_share(players, more, 0.60)
            self.assertEqual(self.start(others), [False, False])

            self.rollout("--complete")
            self.assertEqual(self.start(players + others), [True] * (count + 2))

    def test_a_forged_share_is_refused_and_a_share_change_reaches_players_through_the_cache_at_once(self):
        players = self.game_directories(4, OPTIONS.signed_launcher)
        self.deployer(self.publish_options("--rollout", "0"), self.second)
        with NginxServer(free_port(), self.web, as_nobody=True) as nginx:
            vcl, _, _ = readme_varnish(nginx.port, 0)
            with VarnishServer(free_port(), nginx.port, 60, vcl=vcl) as varnish, TcpRelay(OPTIONS.port, varnish.port):
                self.assertEqual(self.start(players), [False] * 4)
                release = os.path.join(self.channel, "release")
                with open(release, "rb") as text:
                    signed = text.read()
                forged = re.sub(rb"( staged [0-9a-f]{64}) 0\n", rb"\1 1000000\n", signed)
                self.assertNotEqual(forged, signed)
                with open(release, "wb") as out:
                    out.write(forged)
                result = subprocess.run(OPTIONS.target.command(os.path.join(players[0], "ORN_Launcher.exe")),
                                        cwd=players[0], capture_output=True, timeout=OPTIONS.target.timeout)
                self.assertEqual(result.returncode, 1, result.stdout)
                with open(os.path.join(players[0], "data.pak"), "rb") as data:
                    self.assertEqual(data.read(), self.first["data.pak"])
                with open(release, "wb") as out:
                    out.write(signed)
                self.rollout("100")  # the README's VCL checks release with the origin before each use
                self.assertEqual(self.start(players), [True] * 4)
