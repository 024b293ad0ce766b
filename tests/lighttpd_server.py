"""Debian's lighttpd as an update server, for the end-to-end test that range
requests work with it: a generated configuration (web root, logs, pid file in
one temporary folder), listening on 127.0.0.1 only, stopped at the end."""
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_server_process import WebServerProcess  # noqa: E402

CONFIG = """server.document-root = "{root}"
server.bind = "127.0.0.1"
server.port = {port}
server.pid-file = "{work}/lighttpd.pid"
server.errorlog = "{work}/error.log"
server.modules = ("mod_accesslog")
accesslog.filename = "{work}/access.log"
"""


class LighttpdServer(WebServerProcess):
    """It writes its access log in batches: read requests() once it has stopped."""
    name = "lighttpd"

    def command(self):
        lighttpd = shutil.which("lighttpd") or "/usr/sbin/lighttpd"
        if not os.access(lighttpd, os.X_OK):
            raise RuntimeError("lighttpd is not installed (Debian package lighttpd)")
        config = os.path.join(self.work, "lighttpd.conf")
        with open(config, "w") as out:
            out.write(CONFIG.format(root=self.root, port=self.port, work=self.work))
        return [lighttpd, "-D", "-f", config], None
