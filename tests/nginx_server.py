"""Debian's nginx as the update server: a generated configuration of its own
(web root, pid file, logs and temporary folders in one temporary folder),
listening on 127.0.0.1 only, stopped at the end. Used by the demo, the
end-to-end test against a real web server and the download benchmark.

As a command it serves ROOT on PORT until it is stopped or SECONDS have passed:
    nginx_server.py --port PORT --root ROOT [--seconds SECONDS]
"""
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

CONFIG = """daemon off;
master_process off;
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log warn;
events {{ worker_connections 64; }}
http {{
    access_log {work}/access.log;
    client_body_temp_path {work}/body;
    proxy_temp_path {work}/proxy;
    fastcgi_temp_path {work}/fastcgi;
    uwsgi_temp_path {work}/uwsgi;
    scgi_temp_path {work}/scgi;
    types {{ }}
    default_type application/octet-stream;
    sendfile on;
    server {{
        listen 127.0.0.1:{port};
        root {root};
    }}
}}
"""


def find_nginx():
    for candidate in (shutil.which("nginx"), "/usr/sbin/nginx"):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise RuntimeError("nginx is not installed (Debian package nginx-light)")


NOBODY = 65534


class NginxServer:
    """With as_nobody (when run as root), nginx runs as the user nobody, as a
    web server runs beside the deployer's account: it reads only what is
    readable by others."""

    def __init__(self, port, root, as_nobody=False):
        self.port = port
        self.root = os.path.abspath(root)
        self.work = tempfile.mkdtemp(prefix="nginx.")
        self.process = None
        self.as_nobody = as_nobody and os.geteuid() == 0

    def __enter__(self):
        config = os.path.join(self.work, "nginx.conf")
        with open(config, "w") as out:
            out.write(CONFIG.format(work=self.work, port=self.port, root=self.root))
        drop = None
        if self.as_nobody:
            os.chmod(self.work, 0o755)
            for name in os.listdir(self.work) + [""]:
                os.chown(os.path.join(self.work, name), NOBODY, NOBODY)
            drop = lambda: (os.setgid(NOBODY), os.setuid(NOBODY))  # noqa: E731
        self.process = subprocess.Popen([find_nginx(), "-c", config, "-p", self.work, "-e", self.work + "/error.log"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, preexec_fn=drop)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("nginx did not start: " + self.process.stderr.read().decode(errors="replace"))
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return self
            except OSError:
                time.sleep(0.05)
        self.__exit__()
        raise RuntimeError("nginx did not listen on 127.0.0.1:%d within 10 s" % self.port)

    def __exit__(self, *exc):
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process is not None:
            self.process.stderr.close()
        shutil.rmtree(self.work, ignore_errors=True)

    def requests(self):
        """The request lines of the access log so far, with their statuses."""
        with open(os.path.join(self.work, "access.log")) as log:
            return [line.split('"')[1] + " " + line.split('"')[2].split()[0] for line in log if '"' in line]


def main():
    import argparse

    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--seconds", type=float, default=600, help="stop by itself after this long")
    options = parser.parse_args()
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(True))
    with NginxServer(options.port, options.root):
        deadline = time.monotonic() + options.seconds
        while not stop and time.monotonic() < deadline:
            time.sleep(0.1)


if __name__ == "__main__":
    main()
