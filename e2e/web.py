"""A loopback web server for the report pages the programs download."""

import http.server
import threading
import time
from dataclasses import dataclass


@dataclass(frozen=True)
class Delayed:
    seconds: float
    body: bytes


class LoopbackServer:
    """Serves fixed pages over HTTP/1.1 on 127.0.0.1, at a port the system
    picks, and records the path of every request. Unknown paths get 404. A
    page given as Delayed(seconds, body) is answered only after that pause.
    With an ssl.SSLContext as tls, it serves https, and url() names the host
    "localhost" (the name in the test certificates).

        with LoopbackServer({"/r": page_bytes}) as server:
            type_text(server.url("/r"))
            ...
            wait_until(lambda: server.requests == ["/r"], "the page fetched")
    """

    def __init__(self, pages, tls=None):
        self.pages = dict(pages)
        self.requests = []
        self.answered = 0
        self.tls = tls
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):  # noqa: N802 (the library's name)
                owner.requests.append(self.path)
                body = owner.pages.get(self.path)
                if isinstance(body, Delayed):
                    time.sleep(body.seconds)
                    body = body.body
                owner.answered += 1  # from here on the client may have its answer
                status = 200 if body is not None else 404
                body = body if body is not None else b"not found"
                self.send_response(status)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

            def handle(self):
                try:
                    super().handle()
                except OSError:
                    pass  # a client that refused the certificate

        class Server(http.server.ThreadingHTTPServer):
            def finish_request(self, request, client_address):
                # The handshake in the request's own thread, not in accept.
                if owner.tls is not None:
                    try:
                        request = owner.tls.wrap_socket(request, server_side=True)
                    except OSError:
                        return
                super().finish_request(request, client_address)

        self.server = Server(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)

    def pending(self):
        """True while a request that came has not been answered yet."""
        return len(self.requests) > self.answered

    def url(self, path):
        if self.tls is not None:
            return f"https://localhost:{self.server.server_address[1]}{path}"
        return f"http://127.0.0.1:{self.server.server_address[1]}{path}"

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()
