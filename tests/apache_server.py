"""Debian's Apache httpd as an update server, for the end-to-end tests of
ranges and kept connections: a generated configuration (web root, logs, pid
file in one temporary folder), listening on 127.0.0.1 only, one process in
the foreground, stopped at the end."""
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_server_process import WebServerProcess  # noqa: E402

MODULES = "/usr/lib/apache2/modules"
CONFIG = """ServerRoot "{work}"
ServerName 127.0.0.1
Listen 127.0.0.1:{port}
PidFile "{work}/httpd.pid"
ErrorLog "{work}/error.log"
LoadModule mpm_event_module {modules}/mod_mpm_event.so
LoadModule authz_core_module {modules}/mod_authz_core.so
{user}
DocumentRoot "{root}"
<Directory "{root}">
    Require all granted
</Directory>
LogFormat "%h %l %u %t \\"%r\\" %>s %b" common
CustomLog "{work}/access.log" common
KeepAlive On
MaxKeepAliveRequests {keepalive_requests}
KeepAliveTimeout 5
"""


class ApacheServer(WebServerProcess):
    name = "apache"

    def __init__(self, port, root, keepalive_requests=100):
        """keepalive_requests: MaxKeepAliveRequests (1 lets a connection carry two answers)."""
        super().__init__(port, root)
        self.keepalive_requests = keepalive_requests

    def command(self):
        apache = shutil.which("apache2") or "/usr/sbin/apache2"
        if not os.access(apache, os.X_OK):
            raise RuntimeError("Apache httpd is not installed (Debian package apache2)")
        os.chmod(self.work, 0o755)
        # As root it must hand its workers to an account of its own.
        user = "User nobody\nGroup nogroup" if os.geteuid() == 0 else ""
        config = os.path.join(self.work, "httpd.conf")
        with open(config, "w") as out:
            out.write(CONFIG.format(work=self.work, port=self.port, root=self.root, modules=MODULES, user=user,
                                    keepalive_requests=self.keepalive_requests))
        return [apache, "-X", "-f", config], None
