"""The publisher with real web servers: orn-publish writes the channel, nginx, lighttpd or Apache serves it."""
import os
import shutil
import subprocess
import tempfile
import time

from apache_server import ApacheServer
from lighttpd_server import LighttpdServer
from nginx_server import NginxServer
from scripted_server import Reply
from tcp_relay import TcpRelay, free_port

from .fixture import (CONNECTED, HEADER, LATEST, LAUNCHING, OPTIONS, PIECE, LauncherTestCase, piece,
                       update_server, uri)


class PublishedWithNginx(LauncherTestCase):
    """The deployer's half and the player's half together: orn-publish writes
    the channel, Debian's nginx serves it, the launcher updates from it."""

    def setUp(self):
        if not OPTIONS.publisher:
            self.fail("these scenarios need the native orn-publish: run with --publisher")
        super().setUp()
        self.web = tempfile.mkdtemp(prefix="launcher_e2e_web.")
        self.addCleanup(shutil.rmtree, self.web, ignore_errors=True)
        self.channel = os.path.join(self.web, LATEST.strip("/"))
        self.release = os.path.join(self.web, "release")

    def publish(self, files, obstacle=None):
        """Publishes `files`; with `obstacle`, a folder of that name is put in the channel once the lock is
        up (the checks before it refuse one), so that the publish fails halfway."""
        shutil.rmtree(self.release, ignore_errors=True)
        for path, content in files.items():
            os.makedirs(os.path.dirname(os.path.join(self.release, path)), exist_ok=True)
            with open(os.path.join(self.release, path), "wb") as out:
                out.write(content)
        # A deployer's umask of 077: nginx's worker, another user, must still read what is published.
        publish = subprocess.Popen([OPTIONS.publisher, *(["--hold-lock", "5"] if obstacle else []), self.release,
                                    self.channel], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   preexec_fn=lambda: os.umask(0o077))
        if obstacle:
            deadline = time.monotonic() + 30
            while not os.path.exists(os.path.join(self.channel, "update.lock")):
                self.assertLess(time.monotonic(), deadline, "the publish never raised the lock")
                time.sleep(0.02)
            os.makedirs(os.path.join(self.channel, obstacle))
        publish.communicate(timeout=60)
        return publish

    def test_publish_install_update_behind_the_lock(self):
        first = {"ORN_Launcher.exe": self.launcher_bytes, "ORN_Client.exe": OPTIONS.target.client,
                 "data.pak": b"data 1", "libs/engine.dll": b"engine 1", "big.pak": os.urandom(PIECE + 4321)}
        first.update(OPTIONS.target.libraries)
        self.assertEqual(self.publish(first).returncode, 0)
        os.chmod(self.web, 0o755)
        with NginxServer(free_port(), self.web, as_nobody=True) as nginx, TcpRelay(OPTIONS.port, nginx.port) as relay:
            result = self.run_launcher()
            self.assertEqual(relay.connections, 1, "the whole install on one connection")
            fetched = ["data.pak", "libs/engine.dll", "big.pak"]
            self.assert_downloads(result.stdout, HEADER, [b"* %s... Done.\n" % p.encode() for p in fetched], LAUNCHING)
            self.assertEqual(result.returncode, 3)
            for path in fetched:
                self.assertEqual(self.read(path), first[path], path)
            self.assertIn("GET %sbig.pak HTTP/1.1 206" % LATEST, nginx.requests())
            self.assertEqual(self.run_launcher().stdout, CONNECTED + b"Checking for updated files... Done\n"
                             b"No updates found, starting ORN...\n")

            # Release 2 meets an obstacle in the channel: the lock stays up and the launcher waits.
            second = dict(first, **{"data.pak": b"data 2", "new.dat": b"new in release 2",
                                    "ORN_Launcher.exe": self.launcher_bytes + b"#release 2"})
            self.assertEqual(self.publish(second, obstacle="new.dat").returncode, 1)
            with open(os.path.join(self.channel, "update.lock"), "rb") as lock:
                started = lock.read()
            launcher = subprocess.Popen(OPTIONS.target.command(self.path("ORN_Launcher.exe")), cwd=self.game,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            deadline = time.monotonic() + OPTIONS.target.timeout
            while sum(" 200" in r and "update.lock" in r for r in nginx.requests()) < 3:
                self.assertLess(time.monotonic(), deadline, "the launcher never asked for the lock")
                time.sleep(0.05)
            os.rmdir(os.path.join(self.channel, "new.dat"))
            self.assertEqual(self.publish(second).returncode, 0)
            stdout, stderr = launcher.communicate(timeout=OPTIONS.target.timeout)
        self.assertTrue(OPTIONS.target.console(stdout, "standard output").startswith(
            b"Connecting to server... Failed.\n"
            b"Server locked during update operation, waiting for lock to be released.\n"
            b"Update started at " + started + b"\nWaiting... Connected\n"), stdout)
        self.assertEqual(launcher.returncode, 3)
        for path in ("data.pak", "new.dat", "ORN_Launcher.exe"):
            self.assertEqual(self.read(path), second[path], path)


    def test_resume_against_nginx_with_the_if_match_it_honours(self):
        big = os.urandom(2 * PIECE + 777)
        self.assertEqual(self.publish({"big.pak": big}).returncode, 0)
        served = os.path.join(self.channel, "big.pak")
        os.chmod(self.web, 0o755)
        for republished in (False, True):
            with self.subTest(republished=republished):
                facts = os.stat(served)
                etag = '"%x-%x"' % (int(facts.st_mtime), facts.st_size)  # nginx's: time and size
                # A first start broken inside the second piece, by a stand-in with nginx's ETag.
                dropped = piece(big, PIECE, 2 * PIECE - 1)
                dropped.drop_after, dropped.etag = 1000, etag
                with update_server({"big.pak": big}, {uri("big.pak"): [Reply(200, big, ranges=True, etag=etag),
                                                                       dropped]}):
                    self.assertEqual(self.run_launcher().returncode, 1)
                if republished:  # the same bytes published again: another ETag
                    os.utime(served, (facts.st_mtime + 10, facts.st_mtime + 10))
                # A server that closes a connection after two answers, or once idle for 10 ms: the next
                # request goes on a new one.
                with NginxServer(OPTIONS.port, self.web, as_nobody=True,
                                 keepalive="keepalive_requests 2; keepalive_timeout 10ms;") as nginx:
                    result = self.run_launcher()
                    asked = [r for r in nginx.requests() if "big.pak" in r]
                self.assertEqual(result.stdout, HEADER + b"* big.pak... Done.\n" + LAUNCHING)
                self.assertEqual(self.read("big.pak"), big)
                line = "GET %sbig.pak HTTP/1.1 " % LATEST
                self.assertEqual(asked, [line + "412"] + [line + "206"] * 3 if republished else [line + "206"] * 2)
                os.remove(self.path("big.pak"))

    def test_lighttpd_and_apache_answer_the_pieces_with_206_on_one_kept_connection(self):
        big = os.urandom(2 * PIECE + 999)
        self.assertEqual(self.publish({"big.pak": big}).returncode, 0)
        os.chmod(self.web, 0o755)  # Apache's workers, run as root, read as nobody
        servers = {  # each, and how many connections a whole install takes on it
            "lighttpd": (lambda: LighttpdServer(free_port(), self.web), 1),
            "Apache": (lambda: ApacheServer(free_port(), self.web), 1),
            "Apache closing after two answers": (lambda: ApacheServer(free_port(), self.web, 1), 3),
        }
        for name, (server, connections) in servers.items():
            with self.subTest(name):
                with server() as web, TcpRelay(OPTIONS.port, web.port) as relay:
                    result = self.run_launcher()
                    self.assertEqual(relay.connections, connections)
                asked = [r for r in web.requests() if "big.pak" in r]
                self.assertEqual(result.stdout, HEADER + b"* big.pak... Done.\n" + LAUNCHING)
                self.assertEqual(self.read("big.pak"), big)
                self.assertEqual(asked, ["GET %sbig.pak HTTP/1.1 206" % LATEST] * 3)
                os.remove(self.path("big.pak"))
