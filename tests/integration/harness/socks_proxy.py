"""A loopback SOCKS5 proxy (RFC 1928, no authentication, CONNECT only)
that records the target of every tunnel it opens."""

import socket
import socketserver
import struct
import threading

from harness.http_proxy import pipe


def _read(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    return data


class Socks5Proxy:
    def __init__(self, host="127.0.0.1"):
        self.host = host
        self.targets = []  # "host:port" of each tunnel, in order
        self._lock = threading.Lock()

    @property
    def port(self):
        return self._server.server_address[1]

    def __enter__(self):
        proxy = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                client = self.request
                try:
                    version, count = _read(client, 2)
                    methods = _read(client, count)
                    if version != 5 or 0 not in methods:
                        client.sendall(b"\x05\xff")
                        return
                    client.sendall(b"\x05\x00")
                    _, command, _, kind = _read(client, 4)
                    if kind == 1:
                        host = socket.inet_ntoa(_read(client, 4))
                    elif kind == 3:
                        host = _read(client, _read(client, 1)[0]).decode()
                    else:
                        host = socket.inet_ntop(socket.AF_INET6, _read(client, 16))
                    (port,) = struct.unpack("!H", _read(client, 2))
                    if command != 1:
                        client.sendall(b"\x05\x07\x00\x01" + bytes(6))
                        return
                    with proxy._lock:
                        proxy.targets.append(f"{host}:{port}")
                    upstream = socket.create_connection((host, port), timeout=10)
                except (OSError, ConnectionError, ValueError):
                    return
                with upstream:
                    client.sendall(b"\x05\x00\x00\x01" + bytes(6))
                    pipe(client, upstream)

        class Server(socketserver.ThreadingTCPServer):
            daemon_threads = True
            allow_reuse_address = True

        self._server = Server((self.host, 0), Handler)
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": 0.05}, daemon=True)
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._server.shutdown()
        self._thread.join(10)
        self._server.server_close()
