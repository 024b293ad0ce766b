"""Debian's lighttpd as an update server, for the end-to-end test that range
requests work with it: a generated configuration (web root, logs, pid file in
one temporary folder), listening on 127.0.0.1 only, stopped at the end."""
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

CONFIG = """server.document-root = "{root}"
server.bind = "127.0.0.1"
server.port = {port}
server.pid-file = "{work}/lighttpd.pid"
server.errorlog = "{work}/error.log"
server.modules = ("mod_accesslog")
accesslog.filename = "{work}/access.log"
"""


class LighttpdServer:
    def __init__(self, port, root):
        self.port = port
        self.root = os.path.abspath(root)
        self.work = tempfile.mkdtemp(prefix="lighttpd.")
        self.process = None
        self.logged = []

    def __enter__(self):
        lighttpd = shutil.which("lighttpd") or "/usr/sbin/lighttpd"
        if not os.access(lighttpd, os.X_OK):
            raise RuntimeError("lighttpd is not installed (Debian package lighttpd)")
        config = os.path.join(self.work, "lighttpd.conf")
        with open(config, "w") as out:
            out.write(CONFIG.format(root=self.root, port=self.port, work=self.work))
        self.process = subprocess.Popen([lighttpd, "-D", "-f", config], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("lighttpd did not start: " + self.process.stderr.read().decode(errors="replace"))
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return self
            except OSError:
                time.sleep(0.05)
        self.__exit__()
        raise RuntimeError("lighttpd did not listen on 127.0.0.1:%d within 10 s" % self.port)

    def __exit__(self, *exc):
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process is not None:
            self.process.stderr.close()
        try:
            with open(os.path.join(self.work, "access.log")) as log:
                self.logged = [line.split('"')[1] + " " + line.split('"')[2].split()[0] for line in log if '"' in line]
        except OSError:
            self.logged = []
        shutil.rmtree(self.work, ignore_errors=True)

    def requests(self):
        """The request lines of the access log, with their statuses, once the server has stopped
        (lighttpd writes its log in batches)."""
        return self.logged
