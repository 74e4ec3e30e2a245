"""A loopback HTTP forward proxy that demands Basic proxy credentials and
records every request it saw (plain HTTP targets only)."""

import base64
import http.client
import http.server
import threading
from urllib.parse import urlsplit

from harness.https_server import QuietHandler, Serving


class HttpProxy:
    def __init__(self, user, password, host="127.0.0.1"):
        self.host = host
        self.expected = "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()
        self.seen = []  # (method, absolute URL, authorised)
        self._lock = threading.Lock()

    @property
    def port(self):
        return self._httpd.server_address[1]

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

            def _forward(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else None
                authorised = self.headers.get("Proxy-Authorization") == proxy.expected
                with proxy._lock:
                    proxy.seen.append((self.command, self.path, authorised))
                if not authorised:
                    self._reply(407, [("Proxy-Authenticate", 'Basic realm="test proxy"')], b"")
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

            do_GET = _forward
            do_POST = _forward

        self._httpd = http.server.ThreadingHTTPServer((self.host, 0), Handler)
        self._httpd.daemon_threads = True
        self._serving = Serving(self._httpd)
        return self

    def __exit__(self, *exc):
        self._serving.stop()
