"""Debian's tinyproxy as the player's forward proxy in tests: a generated
configuration in a temporary folder, listening on 127.0.0.1 only and taking
clients from there alone, stopped at the end. With `upstream`, it hands every
request (its URL in full) on to that port, whatever server the URL names: a
game server that the launcher's own host name does not lead to is then
reachable only through the proxy. Its log read back as the request lines it
took."""
import os
import re
import shutil
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_server_process import WebServerProcess  # noqa: E402

CONFIG = """Listen 127.0.0.1
Port {port}
Allow 127.0.0.1
Timeout 30
MaxClients 32
LogFile "{work}/tinyproxy.log"
LogLevel Connect
PidFile "{work}/tinyproxy.pid"
DisableViaHeader No
{upstream}"""


def find_tinyproxy():
    for candidate in (shutil.which("tinyproxy"), "/usr/bin/tinyproxy"):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise RuntimeError("tinyproxy is not installed (Debian package tinyproxy)")


class TinyproxyServer(WebServerProcess):
    name = "tinyproxy"
    stop_signal = signal.SIGTERM

    def __init__(self, port, upstream=None):
        super().__init__(port, ".")
        self.upstream = upstream

    def command(self):
        config = os.path.join(self.work, "tinyproxy.conf")
        upstream = "Upstream http 127.0.0.1:%d\n" % self.upstream if self.upstream else ""
        with open(config, "w") as out:
            out.write(CONFIG.format(port=self.port, work=self.work, upstream=upstream))
        if os.geteuid() == 0:  # tinyproxy started as root drops to nobody, who must write its log
            os.chmod(self.work, 0o777)
        return [find_tinyproxy(), "-d", "-c", config], None

    def read_log(self):
        """The request lines the proxy took from its clients."""
        try:
            with open(os.path.join(self.work, "tinyproxy.log")) as log:
                return [found.group(1) for found in (re.search(r"Request \(file descriptor \d+\): (.*)$", line)
                                                     for line in log) if found]
        except OSError:
            return []
