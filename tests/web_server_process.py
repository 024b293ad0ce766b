"""A web server from Debian's packages as the update server in tests: run on
a configuration generated in a temporary folder (logs, pid file), listening
on 127.0.0.1 only, stopped at the end; its access log read back as request
lines with their statuses. Subclasses say how their server is started."""
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time


class WebServerProcess:
    name = "web server"
    stop_signal = signal.SIGTERM

    def __init__(self, port, root):
        self.port = port
        self.root = os.path.abspath(root)
        self.work = tempfile.mkdtemp(prefix=self.name + ".")
        self.process = None
        self.logged = None

    def command(self):
        """The command line that runs the server in the foreground, and a function run before it starts."""
        raise NotImplementedError

    def __enter__(self):
        arguments, before_start = self.command()
        self.process = subprocess.Popen(arguments, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        preexec_fn=before_start)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("%s did not start: %s" % (self.name, self.process.stderr.read().decode(
                    errors="replace")))
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return self
            except OSError:
                time.sleep(0.05)
        self.__exit__()
        raise RuntimeError("%s did not listen on 127.0.0.1:%d within 10 s" % (self.name, self.port))

    def __exit__(self, *exc):
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(self.stop_signal)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process is not None:
            self.process.stderr.close()
        self.logged = self.read_log()
        shutil.rmtree(self.work, ignore_errors=True)

    def read_log(self):
        try:
            with open(os.path.join(self.work, "access.log")) as log:
                return [line.split('"')[1] + " " + line.split('"')[2].split()[0] for line in log if '"' in line]
        except OSError:
            return []

    def requests(self):
        """The request lines of the access log, with their statuses: so far while the
        server runs (where it writes its log at once), all of them once it has stopped."""
        return self.logged if self.logged is not None else self.read_log()
