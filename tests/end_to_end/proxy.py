"""The player's proxy: the launcher reaches its server only through it, and says so when the proxy lets it not."""
import contextlib
import os
import subprocess

from scripted_server import Reply, ScriptedServer
from nginx_server import NginxServer
from tcp_relay import TcpRelay, free_port
from tinyproxy_server import TinyproxyServer

from .fixture import LATEST, LAUNCHING, LOCK, OPTIONS, PIECE, RELEASE, RUN_LOG, piece, uri
from .signing import SignedChannelCase

SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"


def edited(content, count):
    """`content` with `count` 4 KiB edits, too far apart to be fetched as one range."""
    changed = bytearray(content)
    for at in range(1 << 20, len(content) - 4096, len(content) // count):
        changed[at:at + 4096] = os.urandom(4096)
    return bytes(changed)


class Proxy(SignedChannelCase):
    """Natively the proxy is named by http_proxy, under Wine by the Windows
    Internet Settings. The game server listens on a port of its own, which only
    the proxy is sent to: where the launcher's build points, nothing listens."""

    @classmethod
    def setUpClass(cls):
        cls.proxy_port = free_port()
        cls.environment = dict(os.environ)
        if not OPTIONS.target.wine:
            cls.environment["http_proxy"] = "http://127.0.0.1:%d/" % cls.proxy_port
            return
        # The Wine prefix is every scenario's: no other one goes through a proxy, even after a failed start here.
        cls.addClassCleanup(cls.remove_settings)
        # Loopback goes through the proxy only when the settings say so, as on Windows.
        for name, kind, value in (("ProxyServer", "REG_SZ", "https=127.0.0.1:1;http=127.0.0.1:%d" % cls.proxy_port),
                                  ("ProxyOverride", "REG_SZ", "*.example.org;<local>;<-loopback>"),
                                  ("ProxyEnable", "REG_DWORD", "1")):
            cls.registry("add", "/v", name, "/t", kind, "/d", value)

    @classmethod
    def remove_settings(cls):
        for name in ("ProxyEnable", "ProxyServer", "ProxyOverride"):
            cls.registry("delete", "/v", name, check=False)  # one never added is no failure

    @staticmethod
    def registry(*change, check=True):
        subprocess.run([OPTIONS.target.wine, "reg", change[0], SETTINGS, *change[1:], "/f"], check=check,
                       capture_output=True, timeout=120)

    def through_proxy(self, routes, port=None):
        """The game server (or a scripted proxy, on `port`): `routes` as a proxy asks for them, by their URLs in full."""
        origin = "http://127.0.0.1:%d" % OPTIONS.port
        server = ScriptedServer(port or free_port(), {origin + path: reply for path, reply in routes.items()})
        server.port = server.httpd.server_address[1]
        return server

    def run_through(self):
        return self.run_launcher(env=self.environment)

    def assert_logged_proxy(self):
        origin = "the Windows Internet Settings" if OPTIONS.target.wine else "http_proxy"
        with open(self.path(RUN_LOG), "rb") as log:
            self.assertIn(b"through the proxy 127.0.0.1:%d (%s)" % (self.proxy_port, origin.encode()), log.read())

    def test_signed_install_resume_and_delta_through_a_proxy_that_closes_each_connection(self):
        big = os.urandom(PIECE + (1 << 20))
        files = {"big.pak": big, "small.dat": b"small"}
        channel = self.publish(files, LATEST.strip("/"))
        routes = self.routes(channel)
        served = uri(self.object(channel, "big.pak"))
        routes[served] = Reply(200, big, ranges=True, etag='"v1"')
        dropped = piece(big, PIECE, len(big) - 1)
        dropped.drop_after, dropped.etag = 1000, '"v1"'
        broken = dict(routes, **{served: [routes[served], dropped]})
        # The proxy is trusted for nothing: a release it changed is refused as any server's.
        forged = bytearray(routes[RELEASE].body)
        forged[-2] ^= 1
        with self.through_proxy(dict(routes, **{RELEASE: Reply(200, bytes(forged))}), self.proxy_port):
            result = self.run_through()
        self.assertEqual((result.stdout.splitlines()[-1], result.returncode),
                         (b"The update's signature is not valid, canceling launch.", 1))
        self.assertFalse(os.path.exists(self.path("small.dat")))
        with self.through_proxy(broken) as server, TinyproxyServer(self.proxy_port, server.port):
            result = self.run_through()
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertEqual(self.read("big.pak.orn-partial"), big[:PIECE], "the whole first piece is kept")
        with self.through_proxy(routes) as server, TinyproxyServer(self.proxy_port, server.port) as proxy:
            result = self.run_through()
        self.assertEqual((result.stdout.endswith(b"* big.pak... Done.\n" + LAUNCHING), result.returncode),
                         (True, 3), result.stdout)
        self.assertEqual(self.read("big.pak"), big)
        asked = [r for p, r in zip(server.requests, server.ranges) if p.endswith(served)]
        self.assertEqual(asked, ["bytes=%d-%d" % (PIECE, len(big) - 1)], "resumed after the kept piece")
        self.assertIn("GET http://127.0.0.1:%d%s HTTP/1.1" % (OPTIONS.port, LOCK), proxy.requests())
        self.assert_logged_proxy()

        changed = edited(big, 7)
        channel = self.publish({"big.pak": changed, "small.dat": b"small"}, LATEST.strip("/"))
        object_uri = uri(self.object(channel, "big.pak"))
        with self.through_proxy(self.routes(channel)) as server, TinyproxyServer(self.proxy_port, server.port):
            result = self.run_through()
        self.assert_updated(result, changed)
        self.assertGreaterEqual(len([p for p in server.requests if p.endswith(object_uri)]), 7,
                                "the changed blocks alone, each asked for again alone")
        # A proxy that keeps the connection (nginx takes a proxy's requests itself) gets them pipelined on it.
        self.put("big.pak", big)
        with NginxServer(free_port(), self.web) as web, TcpRelay(self.proxy_port, web.port) as kept:
            result = self.run_through()
        self.assert_updated(result, changed)
        asked = [r for r in web.requests() if "%s%s HTTP/1.1 206" % (LATEST, object_uri[len(LATEST):]) in r]
        self.assertGreaterEqual(len(asked), 7, web.requests())
        self.assertEqual(kept.connections, 1, "every request on one kept connection")

    def assert_updated(self, result, content):
        self.assertEqual((result.stdout.endswith(b"* big.pak... Done.\n" + LAUNCHING), result.returncode),
                         (True, 3), result.stdout)
        self.assertEqual(self.read("big.pak"), content)
        self.assertIn(b"built from the old copy", self.read(RUN_LOG))

    def test_a_proxy_that_asks_for_a_password_or_is_down_is_named(self):
        wants_password = Reply(407, b"log in first", headers={"Proxy-Authenticate": 'Basic realm="school"'})
        cases = {  # name: the proxy, what the player is told of it
            "asks for a password": (lambda: self.through_proxy({LOCK: wants_password}, self.proxy_port),
                                    b"asks for a password, which this launcher cannot give."),
            "down": (contextlib.nullcontext, b"cannot be reached."),
        }
        for name, (proxy, told) in cases.items():
            with self.subTest(name), ScriptedServer(OPTIONS.port, {LOCK: Reply(404)}) as direct, proxy() as scripted:
                result = self.run_through()
            self.assertEqual((result.stdout, result.returncode),
                             (b"Connecting to server... !!Failed!!\nThe proxy at 127.0.0.1:%d %s\n"
                              % (self.proxy_port, told), 1))
            self.assertEqual(direct.requests, [], "never around the proxy")
            if scripted is not None:
                self.assertEqual(len(scripted.requests), 1, "a 407 is not asked again")
        self.assert_logged_proxy()
