"""Loopback HTTP(S) servers that serve test pages to the client's web view
and collect what those pages report back.

A page reports with  report(key, value)  (see BRIDGE_PAGE_HELPERS): a POST
to /result/<key> whose body is the JSON value. Tests wait for a key with
wait_result(key). Every request is recorded in `requests`.
"""

import json
import ssl
import threading
import time
from urllib.parse import urlsplit

from harness.certs import TestCa
from harness.https_server import QuietHandler, Serving, TlsServer

# Script every test page includes: report() and a helper that runs a bridge
# call and reports its outcome as {"ok": value} or {"error": message}.
BRIDGE_PAGE_HELPERS = """
<script>
async function report(key, value) {
  await fetch('/result/' + encodeURIComponent(key), {method: 'POST', body: JSON.stringify(value === undefined ? {undefined: true} : value)});
}
async function outcome(call) {
  try { const v = await call(); return v === undefined ? {undefined: true} : {ok: v}; }
  catch (e) { return {error: (e && e.message !== undefined) ? e.message : String(e)}; }
}
</script>
"""


def page(body_script, head=""):
    """An HTML page that includes the helpers and runs body_script (the body
    of an async function) once loaded."""
    return (f"<!DOCTYPE html><html><head><meta charset='utf-8'>{head}{BRIDGE_PAGE_HELPERS}</head><body>"
            f"<script>(async () => {{ try {{ {body_script} }} catch (e) {{ report('page-error', String(e)); }} }})();</script>"
            "</body></html>")


class AppServer:
    """One loopback server. routes maps a path (no query) to HTML text, to
    (content type, bytes), or to a callable(request) returning one of them.
    Unknown paths answer 404."""

    def __init__(self, host="127.0.0.1", routes=None, ca: TestCa = None, port=0):
        self.host = host
        self.port = port
        self.routes = dict(routes or {})
        self.ca = ca
        self.requests = []
        self.results = {}
        self._cond = threading.Condition()
        self._httpd = None
        self._serving = None

    @property
    def scheme(self):
        return "https" if self.ca else "http"

    @property
    def origin(self):
        return f"{self.scheme}://{self.host}:{self._httpd.server_address[1]}"

    def url(self, path):
        return self.origin + path

    def __enter__(self):
        server = self

        class Handler(QuietHandler):
            def _record(self, body):
                parts = urlsplit(self.path)
                with server._cond:
                    server.requests.append({"method": self.command, "path": parts.path,
                                            "query": parts.query, "body": body})
                    server._cond.notify_all()
                return parts

            def _send(self, status, ctype, data):
                self.send_response(status)
                self.send_header("Content-Type", ctype)
                self.send_header("Content-Length", str(len(data)))
                self.send_header("Cache-Control", "no-store")
                # One request per connection: a kept-alive connection that a
                # navigating page drops would otherwise lose the next report.
                self.send_header("Connection", "close")
                self.close_connection = True
                self.end_headers()
                self.wfile.write(data)

            def do_GET(self):
                parts = self._record(b"")
                route = server.routes.get(parts.path)
                if callable(route):
                    route = route(parts)
                if route is None:
                    self._send(404, "text/plain", b"not found")
                elif isinstance(route, tuple):
                    self._send(200, route[0], route[1])
                else:
                    self._send(200, "text/html; charset=utf-8", route.encode())

            def do_POST(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(min(length, 1 << 20))
                parts = self._record(body)
                if parts.path.startswith("/result/"):
                    key = parts.path[len("/result/"):]
                    try:
                        value = json.loads(body)
                    except ValueError:
                        value = {"unparsable": body.decode(errors="replace")}
                    with server._cond:
                        server.results.setdefault(key, []).append(value)
                        server._cond.notify_all()
                self._send(204, "text/plain", b"")

        context = None
        if self.ca:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(self.ca.cert_file, self.ca.key_file)
        # The handshake runs in each connection's own thread: a connection
        # that the web view opens and then drops mid-handshake (it cancels
        # and restarts a navigation when it changes web process) must not
        # stall the accept loop for every later request.
        self._httpd = TlsServer((self.host, self.port), self, context, Handler)
        self._serving = Serving(self._httpd)
        return self

    def __exit__(self, *exc):
        self._serving.stop()

    def wait_result(self, key, timeout=30, count=1):
        """The count-th value reported under key; fails after timeout seconds."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while len(self.results.get(key, [])) < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError(f"no result {key!r} (#{count}) within {timeout}s; have {self.results}")
                self._cond.wait(left)
            return self.results[key][count - 1]

    def wait_request(self, predicate, timeout=30):
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for r in self.requests:
                    if predicate(r):
                        return r
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError(f"no matching request within {timeout}s; have {self.requests}")
                self._cond.wait(left)
