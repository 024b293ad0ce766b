"""A TCP relay on loopback: each connection it accepts is forwarded to the
backend port it names at that moment (as DNS sends a player to one cache edge
or another), and counted, so that a test sees how many connections a run
opened. Stops by itself after `seconds`. Used by the end-to-end tests."""
import socket
import threading
import time


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class TcpRelay:
    def __init__(self, port, backend=None, seconds=300):
        self.backend = backend
        self.connections = 0
        self.listener = socket.create_server(("127.0.0.1", port), reuse_port=False)
        self.listener.settimeout(0.2)
        self.deadline = time.monotonic() + seconds
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.serve, daemon=True)

    def serve(self):
        while not self.stopping.is_set() and time.monotonic() < self.deadline:
            try:
                client, _ = self.listener.accept()
            except socket.timeout:
                continue
            self.connections += 1
            threading.Thread(target=self.relay, args=(client, self.backend), daemon=True).start()

    def relay(self, client, backend):
        with client, socket.create_connection(("127.0.0.1", backend), timeout=30) as server:
            client.settimeout(30)
            pipes = [threading.Thread(target=self.pipe, args=(a, b), daemon=True)
                     for a, b in ((client, server), (server, client))]
            for pipe in pipes:
                pipe.start()
            for pipe in pipes:
                pipe.join(60)

    @staticmethod
    def pipe(source, target):
        try:
            while data := source.recv(1 << 16):
                target.sendall(data)
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.thread.join(5)
        self.listener.close()
