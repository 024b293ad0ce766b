"""A small HTTP server on loopback that answers each path from a script:
canned statuses and bodies, sequences of answers (a lock that clears), and
connections that drop mid-body. It records every request line it sees.
Used by the end-to-end tests, the demo and the download benchmark."""
import http.server
import os
import shutil
import threading


class Reply:
    def __init__(self, status=200, body=b"", drop_after=None, send_length=True, body_file=None):
        self.status = status
        self.body = body
        self.drop_after = drop_after  # bytes of the body sent before the connection drops
        self.send_length = send_length
        self.body_file = body_file  # serve this file's bytes instead of `body`


class ScriptedServer:
    """routes maps a request path to a Reply or a list of Replies; a list is
    answered in turn and its last Reply repeats. Unknown paths get 404. A
    `directory` serves files under it for paths that no route names."""

    def __init__(self, port, routes=None, directory=None):
        self.routes = {path: list(replies) if isinstance(replies, list) else [replies]
                       for path, replies in (routes or {}).items()}
        self.directory = os.path.abspath(directory) if directory is not None else None
        self.requests = []
        self.lock = threading.Lock()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"

            def do_GET(self):
                with server.lock:
                    server.requests.append(self.path)
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
        if self.directory is not None:
            local = os.path.normpath(os.path.join(self.directory, path.lstrip("/")))
            if local.startswith(self.directory + os.sep) and os.path.isfile(local):
                return Reply(200, body_file=local)
        return Reply(404, b"not found")

    @staticmethod
    def answer(handler, reply):
        length = os.path.getsize(reply.body_file) if reply.body_file else len(reply.body)
        handler.send_response_only(reply.status)
        handler.send_header("Content-Type", "application/octet-stream")
        if reply.send_length:
            handler.send_header("Content-Length", str(length))
        handler.end_headers()
        try:
            if reply.body_file:
                with open(reply.body_file, "rb") as source:
                    shutil.copyfileobj(source, handler.wfile, 1 << 20)
            else:
                handler.wfile.write(reply.body[:reply.drop_after] if reply.drop_after is not None else reply.body)
            handler.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass
        handler.close_connection = True

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(timeout=5)


def main():
    """Serves a directory on loopback for a bounded time: the demo's update server."""
    import argparse
    import time

    parser = argparse.ArgumentParser(description=main.__doc__)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--directory", required=True)
    parser.add_argument("--seconds", type=float, default=300, help="stop by itself after this long")
    options = parser.parse_args()
    with ScriptedServer(options.port, directory=options.directory):
        time.sleep(options.seconds)


if __name__ == "__main__":
    main()
