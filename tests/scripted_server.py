"""A small HTTP server on loopback that answers each path from a script:
canned statuses and bodies, sequences of answers (a lock that clears), range
requests answered, ignored or answered wrongly, chunked bodies, connections
that drop mid-body, stall, drip or never answer, and bodies that never end. It records every
request line it sees, and the Range field of each request.
Used by the end-to-end tests."""
import http.server
import os
import re
import threading
import time

STALL_SECONDS = 20  # a stalled answer gives up by itself after this long


class Reply:
    def __init__(self, status=200, body=b"", drop_after=None, send_length=True, body_file=None,
                 ranges=False, headers=None, chunked=False, stall_after=None, endless=False, etag=None,
                 drip_every=None, silent=False, rate=None, stray=None):
        self.status = status
        self.body = body
        self.drop_after = drop_after  # bytes of the body sent before the connection drops
        self.send_length = send_length
        self.body_file = body_file  # serve this file's bytes instead of `body`
        self.ranges = ranges  # answer "Range: bytes=A-B" with 206 and the piece
        self.headers = headers or {}  # extra fields, sent as given
        self.chunked = chunked  # chunked transfer coding, 1000-byte chunks
        self.stall_after = stall_after  # bytes sent before the answer stalls
        self.endless = endless  # a body of zeros that never ends
        self.etag = etag  # sent as ETag; a request whose If-Match differs gets 412
        self.drip_every = drip_every  # after the head, one body byte every this many seconds
        self.silent = silent  # the request is read, and nothing ever answered
        self.rate = rate  # bytes a second, sent 64 KiB at a time, as on a slow line
        self.stray = stray  # bytes sent unasked 10 ms after the answer, on the connection it keeps open


class ScriptedServer:
    """routes maps a request path to a Reply or a list of Replies; a list is
    answered in turn and its last Reply repeats. Unknown paths get 404."""

    def __init__(self, port, routes=None):
        self.routes = {path: list(replies) if isinstance(replies, list) else [replies]
                       for path, replies in (routes or {}).items()}
        self.requests = []
        self.ranges = []
        self.conditions = []  # each request's If-Match field, or None
        self.versions = []  # each request line's HTTP version
        self.agents = []  # each request's User-Agent field, or None
        self.hosts = []  # each request's Host field, or None
        self.stopping = threading.Event()
        self.lock = threading.Lock()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"

            def do_GET(self):
                with server.lock:
                    server.requests.append(self.path)
                    server.ranges.append(self.headers.get("Range"))
                    server.conditions.append(self.headers.get("If-Match"))
                    server.versions.append(self.request_version)
                    server.agents.append(self.headers.get("User-Agent"))
                    server.hosts.append(self.headers.get("Host"))
                    reply = server.reply_for(self.path)
                server.answer(self, reply)

            def log_message(self, *args):
                pass

        http.server.ThreadingHTTPServer.allow_reuse_address = True
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self.httpd.daemon_threads = True
        self.thread = threading.Thread(target=self.httpd.serve_forever, kwargs={"poll_interval": 0.05})

    def reply_for(self, path):
        replies = self.routes.get(path)
        if replies:
            return replies.pop(0) if len(replies) > 1 else replies[0]
        return Reply(404, b"not found")

    def answer(self, handler, reply):
        if reply.silent:
            self.stopping.wait(STALL_SECONDS)
            handler.close_connection = True
            return
        status, headers = reply.status, dict(reply.headers)
        if reply.stray is not None:
            handler.protocol_version = "HTTP/1.1"
        if reply.body_file:
            with open(reply.body_file, "rb") as source:
                source.seek(0, os.SEEK_END)
                size = source.tell()
        else:
            size = len(reply.body)
        start, end = 0, size
        asked = re.fullmatch(r"bytes=(\d+)-(\d+)", handler.headers.get("Range") or "")
        if reply.etag:
            headers["ETag"] = reply.etag
        if reply.etag and handler.headers.get("If-Match") not in (None, reply.etag):
            status, end, asked = 412, 0, None
        if reply.ranges and asked:
            first, last = int(asked.group(1)), int(asked.group(2))
            if first >= size:
                status, end = 416, 0
                headers["Content-Range"] = "bytes */%d" % size
            else:
                start, end = first, min(last + 1, size)
                status = 206
                headers["Content-Range"] = "bytes %d-%d/%d" % (start, end - 1, size)
        handler.send_response_only(status)
        handler.send_header("Content-Type", "application/octet-stream")
        if reply.chunked:
            handler.send_header("Transfer-Encoding", "chunked")
        elif reply.send_length and not reply.endless:
            handler.send_header("Content-Length", str(end - start))
        for name, value in headers.items():
            handler.send_header(name, value)
        handler.end_headers()
        try:
            if reply.endless:
                self.send_endless(handler.wfile)
            else:
                self.send_body(handler.wfile, reply, start, end)
            handler.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass
        handler.close_connection = True
        if reply.stray is not None:
            self.stopping.wait(0.01)
            handler.wfile.write(reply.stray)
            handler.wfile.flush()
            handler.close_connection = False

    def send_body(self, out, reply, start, end):
        limit = end - start
        if reply.drip_every is not None:
            return self.drip(out, reply.body[start:end], reply.drip_every)
        if reply.rate is not None:
            return self.pace(out, reply.body[start:end], reply.rate)
        for cut in (reply.drop_after, reply.stall_after):
            if cut is not None:
                limit = min(limit, cut)
        if reply.chunked:
            body = (reply.body[start:end] if not reply.body_file else open(reply.body_file, "rb").read()[start:end])
            coded = b"".join(b"%x\r\n%s\r\n" % (len(body[i:i + 1000]), body[i:i + 1000])
                             for i in range(0, len(body), 1000)) + b"0\r\n\r\n"
            out.write(coded[:reply.drop_after] if reply.drop_after is not None else coded)
        elif reply.body_file:
            with open(reply.body_file, "rb") as source:
                source.seek(start)
                left = limit
                while left > 0:
                    piece = source.read(min(left, 1 << 20))
                    if not piece:
                        break
                    out.write(piece)
                    left -= len(piece)
        else:
            out.write(reply.body[start:start + limit])
        if reply.stall_after is not None:
            out.flush()
            self.stopping.wait(STALL_SECONDS)

    def drip(self, out, body, every):
        deadline = time.monotonic() + STALL_SECONDS
        for at in range(len(body)):
            if self.stopping.is_set() or time.monotonic() > deadline:
                break
            out.write(body[at:at + 1])
            out.flush()
            self.stopping.wait(every)

    def pace(self, out, body, rate):
        for at in range(0, len(body), 1 << 16):
            if self.stopping.is_set():
                break
            out.write(body[at:at + (1 << 16)])
            out.flush()
            time.sleep((1 << 16) / rate)

    def send_endless(self, out):
        zeros = bytes(1 << 20)
        deadline = time.monotonic() + 60
        while not self.stopping.is_set() and time.monotonic() < deadline:
            out.write(zeros)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(timeout=5)

