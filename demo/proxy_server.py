#!/usr/bin/python3
"""Demo HTTP proxy on loopback that prints every request passing through it.

Plain HTTP requests are forwarded; CONNECT opens a tunnel, which is how
HTTPS (the application servers, the sign-in service) goes through a proxy.
With --user and --password it asks for Basic proxy credentials (407
without them), as company proxies do.

Try it with the demo client: set the proxy to
  http://127.0.0.1:3128                 (or with credentials: ... user:password)
  pac:https://127.0.0.1:8443/proxy.pac  (the demo's PAC file names this proxy)
in the "Proxy" section of the demo page, then press Reload.

Usage: demo/proxy_server.py [--port 3128] [--user U --password P]
The tests use the same proxy (tests/integration/harness/http_proxy.py).
Only Debian's python3 standard library is used.
"""

import argparse
import base64
import http.client
import http.server
import select
import socket
import sys
import threading
from urllib.parse import urlsplit

# Hop-by-hop headers that a proxy does not pass on.
HOP_HEADERS = ("proxy-authorization", "proxy-connection", "connection", "keep-alive")


def pipe(a, b, idle_seconds=30):
    """Copies bytes both ways until either side closes or both stay idle."""
    sockets = [a, b]
    while True:
        readable, _, broken = select.select(sockets, [], sockets, idle_seconds)
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


class ProxyServer:
    """The proxy on host:port (0 picks a free port). on_request(method,
    target, authorised, user_agent) is called for every request: target is
    the absolute URL, or host:port for a CONNECT."""

    def __init__(self, host="127.0.0.1", port=0, user=None, password=None, on_request=None):
        self.expected = (None if user is None else
                         "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode())
        self.on_request = on_request or (lambda *seen: None)
        self.httpd = http.server.ThreadingHTTPServer((host, port), self._handler())
        self.httpd.daemon_threads = True
        self._thread = None

    @property
    def port(self):
        return self.httpd.server_address[1]

    def _handler(self):
        proxy = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, fmt, *args):
                pass

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
                proxy.on_request(self.command, self.path, authorised, self.headers.get("User-Agent", ""))
                if not authorised:
                    self._reply(407, [("Proxy-Authenticate", 'Basic realm="velomark demo proxy"')], b"")
                return authorised

            def _forward(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else None
                if not self._admitted():
                    return
                target = urlsplit(self.path)
                try:
                    conn = http.client.HTTPConnection(target.hostname, target.port or 80, timeout=10)
                    path = target.path + ("?" + target.query if target.query else "")
                    headers = {k: v for k, v in self.headers.items() if k.lower() not in HOP_HEADERS}
                    conn.request(self.command, path or "/", body=body, headers=headers)
                    response = conn.getresponse()
                    data = response.read()
                    conn.close()
                except (OSError, http.client.HTTPException, ValueError):
                    self._reply(502, [], b"")
                    return
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

            do_GET = do_POST = do_HEAD = _forward

        return Handler

    def start(self):
        # A short poll interval, so that stop() does not hold its caller up.
        self._thread = threading.Thread(target=self.httpd.serve_forever,
                                        kwargs={"poll_interval": 0.05}, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        self.httpd.shutdown()
        self._thread.join(10)
        self.httpd.server_close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=3128)
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    args = parser.parse_args()

    def show(method, target, authorised, user_agent):
        verdict = "" if authorised else "  (refused: no or wrong credentials)"
        print(f"proxy: {method} {target}  [{user_agent}]{verdict}", flush=True)

    server = ProxyServer(args.host, args.port, args.user, args.password, show).start()
    print(f"demo proxy on {args.host}:{server.port}"
          + (f" (user {args.user})" if args.user else ""), flush=True)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    finally:
        server.stop()


if __name__ == "__main__":
    sys.exit(main())
