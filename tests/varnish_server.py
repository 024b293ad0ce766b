"""Debian's Varnish as a caching proxy in front of a test's web server: its
own working directory (-n) in a temporary folder, no management port,
listening on 127.0.0.1 only, stopped at the end. Its VCL either keeps every
answer for `ttl` seconds with no grace, as a cache that knows nothing of the
channel does, or (revalidate) asks the origin whether each kept answer is
still current before serving it.

As a command it caches the server at BACKEND_PORT on PORT until it is stopped
or SECONDS have passed:
    varnish_server.py --port PORT --backend-port BACKEND_PORT --ttl TTL [--revalidate] [--seconds SECONDS]
"""
import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_server_process import WebServerProcess  # noqa: E402

VCL = """vcl 4.1;

backend origin {{
    .host = "127.0.0.1";
    .port = "{backend_port}";
}}

sub vcl_backend_response {{
{policy}
    # Returning here skips the built-in rules, which would obey the origin's
    # (absent) cache headers and keep what they cannot cache for two minutes.
    return (deliver);
}}
"""
KEEP_FOR_TTL = """    set beresp.ttl = {ttl}s;
    set beresp.grace = 0s;
    set beresp.keep = 0s;"""
# Stale at once but kept: each request asks the origin with If-None-Match or
# If-Modified-Since, and a 304 serves the kept copy. A TTL of 0 would drop it.
REVALIDATE = """    set beresp.ttl = 1ms;
    set beresp.grace = 0s;
    set beresp.keep = {ttl}s;"""


def find_varnishd():
    for candidate in (shutil.which("varnishd"), "/usr/sbin/varnishd"):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise RuntimeError("varnishd is not installed (Debian package varnish)")


class VarnishServer(WebServerProcess):
    name = "varnish"

    def __init__(self, port, backend_port, ttl, revalidate=False, vcl=None):
        """vcl: a whole VCL of one's own instead (its backend on backend_port)."""
        super().__init__(port, ".")
        self.backend_port = backend_port
        self.ttl = ttl
        self.revalidate = revalidate
        self.vcl = vcl

    def command(self):
        vcl = os.path.join(self.work, "channel.vcl")
        policy = (REVALIDATE if self.revalidate else KEEP_FOR_TTL).format(ttl="%g" % self.ttl)
        with open(vcl, "w") as out:
            out.write(self.vcl or VCL.format(backend_port=self.backend_port, policy=policy))
        # -j none: no switch to the package's users, who could not enter this folder.
        return [find_varnishd(), "-F", "-j", "none", "-n", os.path.join(self.work, "state"), "-T", "none",
                "-a", "127.0.0.1:%d" % self.port, "-f", vcl, "-s", "malloc,256m",
                "-p", "default_grace=0", "-p", "default_keep=0"], None

    def body_bytes_sent(self):
        """While it runs: the bytes of the answers' bodies it has sent."""
        counter = subprocess.run(["varnishstat", "-n", os.path.join(self.work, "state"), "-1", "-f",
                                  "MAIN.s_resp_bodybytes"], capture_output=True, text=True, timeout=30, check=True)
        return int(counter.stdout.split()[1])

    def read_log(self):
        return []  # what reached the origin is in the origin's log


def main():
    import argparse

    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--backend-port", type=int, required=True)
    parser.add_argument("--ttl", type=float, required=True)
    parser.add_argument("--revalidate", action="store_true")
    parser.add_argument("--seconds", type=float, default=600, help="stop by itself after this long")
    options = parser.parse_args()
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(True))
    with VarnishServer(options.port, options.backend_port, options.ttl, options.revalidate):
        deadline = time.monotonic() + options.seconds
        while not stop and time.monotonic() < deadline:
            time.sleep(0.1)


if __name__ == "__main__":
    main()
