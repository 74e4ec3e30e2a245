"""HTTPS (or plain HTTP) test servers on loopback with declared routes.

A route maps a path (without query) to a Response or to a callable that
takes the Request and returns a Response. Every request is recorded, so a
test can check what went over the wire. Servers run in a thread each.

    ca = make_test_ca(tmp_path / "ca")          # from harness.certs
    with HttpsServer("127.0.0.1", 0, ca, {"/pc/check.html": Response(200, b"OK")}) as s:
        ... s.port, s.requests ...
"""

import http.server
import ssl
import threading
from dataclasses import dataclass, field
from urllib.parse import urlsplit


@dataclass
class Response:
    status: int = 200
    body: bytes = b""
    headers: dict = field(default_factory=dict)
    # Called before each piece of the body with the number of bytes sent so
    # far: a test slows a transfer down or holds it back until it has seen
    # what it waits for.
    pace: object = None
    piece_size: int = 4096


@dataclass
class Request:
    method: str
    path: str
    query: str
    headers: dict
    body: bytes


class QuietHandler(http.server.BaseHTTPRequestHandler):
    """The base of the test servers' handlers: HTTP/1.1, and no access log
    lines in the test output."""

    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass


class Serving:
    """httpd.serve_forever in a thread of its own, until stop()."""

    def __init__(self, httpd):
        self.httpd = httpd
        # A short poll interval, so that stop() does not hold the test up.
        self._thread = threading.Thread(target=httpd.serve_forever,
                                        kwargs={"poll_interval": 0.05}, daemon=True)
        self._thread.start()

    def stop(self):
        self.httpd.shutdown()
        self._thread.join(10)
        self.httpd.server_close()


class _Handler(QuietHandler):
    def _serve(self):
        parts = urlsplit(self.path)
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        req = Request(self.command, parts.path, parts.query, dict(self.headers.items()), body)
        server = self.server.owner
        with server.lock:
            server.requests.append(req)
        route = server.routes.get(parts.path)
        if route is None:
            resp = Response(404, b"not found")
        elif callable(route):
            resp = route(req)
        else:
            resp = route
        self.send_response(resp.status)
        headers = {"Content-Type": "text/html", "Connection": "close", **resp.headers}
        for k, v in headers.items():
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(resp.body)))
        self.end_headers()
        if self.command != "HEAD":
            self._write_body(resp)
        self.close_connection = True

    def _write_body(self, resp):
        if resp.pace is None:
            self.wfile.write(resp.body)
            return
        for offset in range(0, len(resp.body), resp.piece_size):
            resp.pace(offset)
            self.wfile.write(resp.body[offset:offset + resp.piece_size])
            self.wfile.flush()

    do_GET = do_POST = do_HEAD = _serve


class TlsServer(http.server.ThreadingHTTPServer):
    """A threading HTTP server; with an SSL context it speaks HTTPS."""

    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, owner, context, handler=None):
        self.owner = owner
        self.context = context
        super().__init__(address, handler or _Handler)

    def get_request(self):
        sock, addr = super().get_request()
        if self.context is not None:
            # Handshake in the handler thread's first read, not here, so one
            # client that never speaks TLS cannot stall the accept loop.
            sock = self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, addr

    def handle_error(self, request, client_address):
        pass  # refused handshakes are expected in certificate tests


class HttpsServer:
    """One server on host:port (port 0 picks a free one). ca None gives plain HTTP."""

    def __init__(self, host, port, ca, routes=None):
        self.host = host
        self.routes = dict(routes or {})
        self.requests = []
        self.lock = threading.Lock()
        context = None
        if ca is not None:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(str(ca.cert_file), str(ca.key_file))
        self._server = TlsServer((host, port), self, context)
        self.port = self._server.server_address[1]
        self._serving = None

    @property
    def scheme(self):
        return "https" if self._server.context is not None else "http"

    def url(self, path="/"):
        return f"{self.scheme}://{self.host}:{self.port}{path}"

    def start(self):
        self._serving = Serving(self._server)
        return self

    def stop(self):
        if self._serving is not None:
            self._serving.stop()
            self._serving = None
        self._server.server_close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def paths(self):
        with self.lock:
            return [r.path for r in self.requests]
