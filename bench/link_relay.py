#!/usr/bin/env python3
"""A wide-area path on loopback: a user-space TCP relay that forwards each
connection to a backend port with a one-way delay each way, a rate shared
by all connections (per direction), and a slow start per connection (10
segments of 1460 bytes in the first round trip, doubling each round trip up
to the rate), as a new TCP connection meets on a real path. netem is not
available in these kernels, hence the relay. Stops by itself after `seconds`.

As a command it relays PORT to BACKEND until it is stopped:
    link_relay.py --port PORT --backend BACKEND [--delay-ms 20] [--mbit 200]
"""
import collections
import socket
import threading
import time

SEGMENT = 1460
INITIAL_SEGMENTS = 10
READ_BYTES = 1 << 16


class Link:
    """One direction of the path: its serialisation at `rate` bytes a second, shared by every connection."""

    def __init__(self, rate):
        self.rate = rate
        self.free_at = 0.0
        self.lock = threading.Lock()

    def transmit(self, count):
        """Waits while `count` bytes go onto the wire behind those already on it."""
        with self.lock:
            start = max(time.monotonic(), self.free_at)
            self.free_at = start + count / self.rate
            done = self.free_at
        time.sleep(max(0.0, done - time.monotonic()))


class Pipe:
    """One direction of one connection: bytes read are delivered `delay` later, paced by the link and by this
    connection's congestion window."""

    def __init__(self, source, target, link, delay):
        self.source, self.target, self.link, self.delay = source, target, link, delay
        self.queue = collections.deque()
        self.ready = threading.Condition()
        self.window = INITIAL_SEGMENTS * SEGMENT
        self.round_trip = 2 * delay
        self.largest_window = max(self.window, int(link.rate * self.round_trip)) if self.round_trip else 1 << 62
        self.threads = [threading.Thread(target=self.read, daemon=True), threading.Thread(target=self.send, daemon=True)]
        for thread in self.threads:
            thread.start()

    def read(self):
        try:
            while data := self.source.recv(READ_BYTES):
                with self.ready:
                    self.queue.append((time.monotonic() + self.delay, data))
                    self.ready.notify()
        except OSError:
            pass
        with self.ready:
            self.queue.append((time.monotonic() + self.delay, None))
            self.ready.notify()

    def send(self):
        window_start, window_sent = None, 0
        try:
            while True:
                with self.ready:
                    while not self.queue:
                        self.ready.wait(1)
                    due, data = self.queue.popleft()
                time.sleep(max(0.0, due - time.monotonic()))
                if data is None:
                    self.target.shutdown(socket.SHUT_WR)
                    return
                for at in range(0, len(data), SEGMENT * 8):
                    piece = data[at:at + SEGMENT * 8]
                    now = time.monotonic()
                    if window_start is None:
                        window_start = now
                    if window_sent + len(piece) > self.window:
                        # The window is spent: the next round trip, with twice the window.
                        time.sleep(max(0.0, window_start + self.round_trip - now))
                        window_start, window_sent = time.monotonic(), 0
                        self.window = min(2 * self.window, self.largest_window)
                    self.link.transmit(len(piece))
                    self.target.sendall(piece)
                    window_sent += len(piece)
        except OSError:
            pass


class LinkRelay:
    def __init__(self, port, backend, delay=0.020, rate=200e6 / 8, seconds=3600):
        self.backend, self.delay = backend, delay
        self.links = (Link(rate), Link(rate))  # towards the server, towards the client
        self.direct = False  # set: new connections pass bytes on with no delay and no limit, as loopback does
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
            threading.Thread(target=self.connect, args=(client,), daemon=True).start()

    def connect(self, client):
        direct = self.direct
        delay, links = (0.0, (Link(float("inf")), Link(float("inf")))) if direct else (self.delay, self.links)
        time.sleep(2 * delay)  # the handshake's round trip
        try:
            server = socket.create_connection(("127.0.0.1", self.backend), timeout=30)
        except OSError:
            client.close()
            return
        for end in (client, server):
            end.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        Pipe(client, server, links[0], delay)
        Pipe(server, client, links[1], delay)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.thread.join(5)
        self.listener.close()


def main():
    import argparse

    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--backend", type=int, required=True)
    parser.add_argument("--delay-ms", type=float, default=20)
    parser.add_argument("--mbit", type=float, default=200)
    parser.add_argument("--seconds", type=float, default=3600)
    options = parser.parse_args()
    with LinkRelay(options.port, options.backend, options.delay_ms / 1000, options.mbit * 1e6 / 8, options.seconds):
        time.sleep(options.seconds)


if __name__ == "__main__":
    main()
