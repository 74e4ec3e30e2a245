#!/usr/bin/python3
"""Demo application servers: HTTPS on 127.0.0.1, 127.0.0.2 and 127.0.0.3.

Each answers the reachability probe check.html with exactly "OK" and serves
the files of demo/www (velomark.html first of all, and proxy.pac, a PAC file
naming the demo proxy) under the release path
/pc/, the QA path /pc-qa/ and the root (developer servers: with the
application domain "localhost", a developer setting "dev:PORT" reaches
dev.localhost, i.e. 127.0.0.1).

They are the demo's package server too: at the root they serve an
update.json that offers a newer build, a small Debian package signed with
the demo's own update authority (demo/run/update-ca) and its signature, all
made at start into demo/run/update (demo/update_package.py). A client built
with VELOMARK_PACKAGE_HOST=127.0.0.1:8443 and
VELOMARK_UPDATE_CA_FILE=demo/run/update-ca/ca.pem offers it when it ends.

The certificate comes from a test CA made by scripts/make-test-ca.sh into
demo/run/ca. Build a client that trusts it and looks here:

  cmake -S . -B build/demo -DVELOMARK_APP_HOST_TEMPLATE='127.0.0.%id%:8443' \\
        -DVELOMARK_APP_DOMAIN=localhost -DVELOMARK_EXTRA_CA_FILE=$PWD/demo/run/ca/ca.pem

Usage: demo/server.py [--port 8443] [--hosts 127.0.0.1,127.0.0.2,127.0.0.3]
                      [--update-dir DIR] [--update-ca-dir DIR]
Only Debian's python3 standard library is used.
"""

import argparse
import http.server
import re
import ssl
import subprocess
import sys
import threading
import time
from pathlib import Path

from update_package import make_demo_update

DEMO_DIR = Path(__file__).resolve().parent
SOURCE_DIR = DEMO_DIR.parent
SAFE_NAME = re.compile(r"[A-Za-z0-9_-][A-Za-z0-9._-]*")
TYPES = {".html": "text/html; charset=utf-8", ".js": "text/javascript", ".css": "text/css",
         ".json": "application/json", ".png": "image/png", ".svg": "image/svg+xml",
         ".deb": "application/vnd.debian.binary-package", ".p7s": "application/pkcs7-signature",
         ".pac": "application/x-ns-proxy-autoconfig"}
# The demo package is small; sent at once it would leave no time to see the
# client's download indicator turn. Well inside the client's 15 seconds.
PACKAGE_SECONDS = 4
PACKAGE_PIECES = 40


def make_handler(www, update_dir):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def reply(self, status, body, content_type="text/html; charset=utf-8", pieces=1, seconds=0):
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            if self.command == "HEAD":
                return
            size = -(-len(body) // pieces) or 1
            for offset in range(0, len(body), size):
                if offset:
                    time.sleep(seconds / pieces)
                self.wfile.write(body[offset:offset + size])
                self.wfile.flush()

        def do_GET(self):
            path = self.path.split("?", 1)[0]
            name = ""
            for prefix in ("/pc/", "/pc-qa/", "/"):
                if path.startswith(prefix):
                    name = path[len(prefix):]
                    break
            if name == "check.html":
                return self.reply(200, b"OK")
            # Only plain names inside www and the update folder: nothing
            # outside them can be reached.
            for folder in (www, update_dir):
                if SAFE_NAME.fullmatch(name) and (folder / name).is_file():
                    body = (folder / name).read_bytes()
                    kind = Path(name).suffix
                    slow = (PACKAGE_PIECES, PACKAGE_SECONDS) if kind == ".deb" else (1, 0)
                    return self.reply(200, body, TYPES.get(kind, "application/octet-stream"), *slow)
            return self.reply(404, b"not found")

        do_HEAD = do_GET

        def log_message(self, fmt, *args):
            sys.stderr.write("%s %s\n" % (self.server.server_address[0], fmt % args))

    return Handler


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, handler, context):
        self.context = context
        super().__init__(address, handler)

    def get_request(self):
        sock, addr = super().get_request()
        return self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False), addr

    def handle_error(self, request, client_address):
        pass  # clients that refuse the certificate are not the server's problem


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=8443)
    parser.add_argument("--hosts", default="127.0.0.1,127.0.0.2,127.0.0.3")
    parser.add_argument("--ca-dir", type=Path, default=DEMO_DIR / "run" / "ca")
    parser.add_argument("--www", type=Path, default=DEMO_DIR / "www")
    parser.add_argument("--update-dir", type=Path, default=DEMO_DIR / "run" / "update")
    parser.add_argument("--update-ca-dir", type=Path, default=DEMO_DIR / "run" / "update-ca")
    args = parser.parse_args()

    subprocess.run(["bash", str(SOURCE_DIR / "scripts" / "make-test-ca.sh"), str(args.ca_dir)],
                   check=True)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(str(args.ca_dir / "server.pem"), str(args.ca_dir / "server.key"))

    first_host = args.hosts.split(",")[0]
    make_demo_update(args.update_dir, args.update_ca_dir, f"https://{first_host}:{args.port}")
    handler = make_handler(args.www.resolve(), args.update_dir.resolve())
    servers = [Server((host, args.port), handler, context) for host in args.hosts.split(",")]
    threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in servers]
    for t in threads:
        t.start()
    print(f"demo servers on {args.hosts} port {args.port}; CA {args.ca_dir / 'ca.pem'}", flush=True)
    try:
        for t in threads:
            t.join()
    except KeyboardInterrupt:
        pass
    finally:
        for s in servers:
            s.shutdown()
            s.server_close()


if __name__ == "__main__":
    main()
