"""A loopback HTTP forward proxy that records every request it saw: plain
HTTP requests are forwarded, CONNECT opens a tunnel (how HTTPS goes through
a proxy). With a user name it demands Basic proxy credentials and answers
407 without them; without one it lets everything through."""

import base64
import http.client
import http.server
import select
import socket
import threading
from urllib.parse import urlsplit

from harness.https_server import QuietHandler, Serving


def pipe(a, b):
    """Copies bytes both ways until either side closes."""
    sockets = [a, b]
    while True:
        readable, _, broken = select.select(sockets, [], sockets, 30)
        if broken or not readable:
            return
        for s in readable:
            try:
                data = s.recv(65536)
            except OSError:
                return
            if not data:
                return
            (b if s is a else a).sendall(data)


class HttpProxy:
    def __init__(self, user=None, password=None, host="127.0.0.1"):
        self.host = host
        self.expected = (None if user is None else
                         "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode())
        self.seen = []  # (method, absolute URL or host:port of a CONNECT, authorised)
        self.user_agents = []  # the User-Agent of each entry of seen
        self._lock = threading.Lock()

    @property
    def port(self):
        return self._httpd.server_address[1]

    @property
    def address(self):
        return f"{self.host}:{self.port}"

    def tunnels(self, target, authorised=True):
        """The user agents of the CONNECTs to target (host:port) with that outcome."""
        with self._lock:
            return [agent for seen, agent in zip(self.seen, self.user_agents)
                    if seen == ("CONNECT", target, authorised)]

    def __enter__(self):
        proxy = self

        class Handler(QuietHandler):
            def _reply(self, status, headers, body):
                self.send_response(status)
                for k, v in headers:
                    self.send_header(k, v)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.close_connection = True
                self.end_headers()
                self.wfile.write(body)

            def _admitted(self):
                authorised = (proxy.expected is None
                              or self.headers.get("Proxy-Authorization") == proxy.expected)
                with proxy._lock:
                    proxy.seen.append((self.command, self.path, authorised))
                    proxy.user_agents.append(self.headers.get("User-Agent", ""))
                if not authorised:
                    self._reply(407, [("Proxy-Authenticate", 'Basic realm="test proxy"')], b"")
                return authorised

            def _forward(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else None
                if not self._admitted():
                    return
                target = urlsplit(self.path)
                conn = http.client.HTTPConnection(target.hostname, target.port or 80, timeout=10)
                path = target.path + ("?" + target.query if target.query else "")
                headers = {k: v for k, v in self.headers.items()
                           if k.lower() not in ("proxy-authorization", "proxy-connection", "connection")}
                conn.request(self.command, path or "/", body=body, headers=headers)
                response = conn.getresponse()
                data = response.read()
                conn.close()
                self._reply(response.status,
                            [(k, v) for k, v in response.getheaders()
                             if k.lower() not in ("content-length", "connection", "transfer-encoding")],
                            data)

            def do_CONNECT(self):
                if not self._admitted():
                    return
                host, _, port = self.path.rpartition(":")
                try:
                    upstream = socket.create_connection((host.strip("[]"), int(port)), timeout=10)
                except (OSError, ValueError):
                    self._reply(502, [], b"")
                    return
                self.send_response(200, "Connection established")
                self.end_headers()
                self.wfile.flush()
                self.close_connection = True
                with upstream:
                    pipe(self.connection, upstream)

            do_GET = _forward
            do_POST = _forward

        self._httpd = http.server.ThreadingHTTPServer((self.host, 0), Handler)
        self._httpd.daemon_threads = True
        self._serving = Serving(self._httpd)
        return self

    def __exit__(self, *exc):
        self._serving.stop()
