"""Debian's nginx as the update server: a generated configuration of its own
(web root, pid file, logs and temporary folders in one temporary folder),
listening on 127.0.0.1 only, stopped at the end. Used by the demo, the
end-to-end test against a real web server and the download and delta
benchmarks.

As a command it serves ROOT on PORT until it is stopped or SECONDS have passed:
    nginx_server.py --port PORT --root ROOT [--seconds SECONDS]
"""
import os
import shutil
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_server_process import WebServerProcess  # noqa: E402

CONFIG = """daemon off;
master_process off;
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log warn;
events {{ worker_connections 64; }}
http {{
    access_log {work}/access.log;
{options}    client_body_temp_path {work}/body;
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


class NginxServer(WebServerProcess):
    """With as_nobody (when run as root), nginx runs as the user nobody, as a
    web server runs beside the deployer's account: it reads only what is
    readable by others."""
    name = "nginx"
    stop_signal = signal.SIGQUIT

    def __init__(self, port, root, as_nobody=False, limit_rate=None, log_transfers=False, keepalive=None):
        """limit_rate ("20m"): each answer's pace, as on a slow link. log_transfers: each
        request's body bytes and Range header also go to a log that transfers() reads.
        keepalive: nginx's directives on keeping connections open, as given."""
        super().__init__(port, root)
        self.as_nobody = as_nobody and os.geteuid() == 0
        self.limit_rate = limit_rate
        self.log_transfers = log_transfers
        self.keepalive = keepalive

    def command(self):
        config = os.path.join(self.work, "nginx.conf")
        with open(config, "w") as out:
            out.write(CONFIG.format(work=self.work, port=self.port, root=self.root, options=self.options()))
        drop = None
        if self.as_nobody:
            os.chmod(self.work, 0o755)
            for name in os.listdir(self.work) + [""]:
                os.chown(os.path.join(self.work, name), NOBODY, NOBODY)
            drop = lambda: (os.setgid(NOBODY), os.setuid(NOBODY))  # noqa: E731
        return [find_nginx(), "-c", config, "-p", self.work, "-e", self.work + "/error.log"], drop

    def options(self):
        lines = []
        if self.limit_rate:
            lines.append("    limit_rate %s;\n" % self.limit_rate)
        if self.keepalive:
            lines.append("    %s\n" % self.keepalive)
        if self.log_transfers:
            lines.append("    log_format transfers '$request_uri $status $body_bytes_sent \"$http_range\"';\n")
            lines.append("    access_log %s/transfers.log transfers;\n" % self.work)
        return "".join(lines)

    def transfers(self):
        """With log_transfers, while the server runs: (path, status, body bytes, Range header) per request."""
        with open(os.path.join(self.work, "transfers.log")) as log:
            fields = [line.rstrip("\n").split(" ", 3) for line in log]
        return [(path, int(status), int(sent), asked.strip('"')) for path, status, sent, asked in fields]


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
