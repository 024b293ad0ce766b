"""A game of many small files: their requests go pipelined on one kept
connection through each web server and cache studios put in front of a
game, and a server that closes early gets the rest one at a time."""
import contextlib
import os
import random
import shutil
import subprocess
import tempfile

from apache_server import ApacheServer
from lighttpd_server import LighttpdServer
from nginx_server import NginxServer
from readme_config import readme_varnish
from tcp_relay import TcpRelay, free_port
from varnish_server import VarnishServer

from .fixture import HEADER, LATEST, LAUNCHING, OPTIONS, PIECE, RUN_LOG, LauncherTestCase, write_tree

FILES = 240


@contextlib.contextmanager
def behind_varnish(web):
    """nginx serving `web` behind Varnish with the README's VCL; yields Varnish's port and nginx."""
    with NginxServer(free_port(), web, as_nobody=True) as nginx:
        vcl, _, _ = readme_varnish(nginx.port, 0)
        with VarnishServer(free_port(), nginx.port, 60, vcl=vcl) as varnish:
            varnish.requests = nginx.requests
            yield varnish


class ManyFiles(LauncherTestCase):
    def setUp(self):
        if not (OPTIONS.publisher and OPTIONS.signed_launcher and OPTIONS.release_key):
            self.fail("these scenarios need --publisher, --signed-launcher and --release-key")
        super().setUp()
        self.web = tempfile.mkdtemp(prefix="launcher_e2e_many.")
        self.addCleanup(shutil.rmtree, self.web, ignore_errors=True)
        chance = random.Random(FILES)
        self.files = {("libs/lib_%03d.dll" if i % 2 else "asset_%03d.dat") % i: chance.randbytes(chance.randint(1, 8192))
                      for i in range(FILES)}
        self.files["big.pak"] = os.urandom(PIECE + 999)  # more than one answer: gone on with in the same run
        tree = write_tree(os.path.join(self.web, "tree"), self.files)
        result = subprocess.run([OPTIONS.publisher, "--sign", OPTIONS.release_key, tree,
                                 os.path.join(self.web, LATEST.strip("/"))], capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        os.chmod(self.web, 0o755)  # the servers' workers read as nobody
        with open(OPTIONS.signed_launcher, "rb") as binary:
            self.launchers = {"unsigned": self.launcher_bytes, "signed": binary.read()}

    def install(self, launcher):
        for name in os.listdir(self.game):
            if name not in self.installed:
                shutil.rmtree(self.path(name)) if os.path.isdir(self.path(name)) else os.remove(self.path(name))
        self.put("ORN_Launcher.exe", launcher, executable=True)
        return self.run_launcher()

    def test_a_game_of_many_small_files_comes_pipelined_through_each_server(self):
        servers = {  # each, and how many connections carry the install: None for one at a time
            "nginx": (lambda: NginxServer(free_port(), self.web, as_nobody=True), 1),
            "Apache, which ends a connection after 100 answers": (lambda: ApacheServer(free_port(), self.web), 3),
            "Apache closing after two answers": (lambda: ApacheServer(free_port(), self.web, 2), None),
            "lighttpd": (lambda: LighttpdServer(free_port(), self.web), 1),
            "Varnish with the README's VCL": (lambda: behind_varnish(self.web), 1),
        }
        lines = [b"* %s... Done.\n" % name.encode() for name in self.files]
        for name, (server, connections) in servers.items():
            for signed, launcher in self.launchers.items():
                with self.subTest(name, launcher=signed):
                    with server() as web, TcpRelay(OPTIONS.port, web.port) as relay:
                        result = self.install(launcher)
                    self.assert_downloads(result.stdout, HEADER, lines, LAUNCHING)
                    for path, content in self.files.items():
                        self.assertEqual(self.read(path), content, path)
                    if connections:
                        self.assertEqual(relay.connections, connections)
                    else:
                        self.assertGreater(relay.connections, FILES // 4)
                    with open(self.path(RUN_LOG)) as log:
                        self.assertNotIn("one request at a time", log.read())
                    if signed == "unsigned":  # the signed one asks for objects by their digests
                        self.assert_asked_in_the_order_told(web.requests(), result.stdout, connections is not None)

    def assert_asked_in_the_order_told(self, requests, stdout, once):
        """Each file's line comes in the order its request went out; a kept connection asks each file once
        (the larger one in two pieces)."""
        asked = [line.split()[1][len(LATEST):] for line in requests if line.split()[1][len(LATEST):] in self.files]
        told = [line[2:-len("... Done.")] for line in stdout.decode().splitlines() if line.startswith("* ")]
        self.assertEqual(list(dict.fromkeys(asked)), told)
        if once:
            self.assertEqual(len(asked), len(self.files) + 1)
