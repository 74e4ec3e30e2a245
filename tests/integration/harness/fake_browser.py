"""Stands in for xdg-open in the OAuth tests: plays the user's browser.

Started as `PROGRAM URL` by the client's opener. It fetches URL (the
provider's authorization endpoint, HTTPS trusting FAKE_BROWSER_CA) and, when
the provider answers with a redirect, goes to its target, the loopback
listener, over a raw socket so that the listener's answer is kept byte for
byte. FAKE_BROWSER_MODE says how it behaves there:
  follow (default)  a GET for the redirect target, as a browser sends it
  close             connect, then close without sending anything
  post              a POST request line instead of a GET
One JSON line per run is appended to FAKE_BROWSER_OUT.
"""

import base64
import http.client
import json
import os
import socket
import ssl
import sys
import time
from urllib.parse import urlsplit


def fetch_provider(url):
    parts = urlsplit(url)
    context = ssl.create_default_context(cafile=os.environ["FAKE_BROWSER_CA"])
    conn = http.client.HTTPSConnection(parts.hostname, parts.port, context=context, timeout=10)
    try:
        conn.request("GET", parts.path + "?" + parts.query)
        resp = conn.getresponse()
        resp.read()
        return resp.status, resp.getheader("Location")
    finally:
        conn.close()


def connect(host, port, patience=10.0):
    # The client starts its listener just after starting the browser; a real
    # browser is slower than this stand-in, so wait for the port to open.
    deadline = time.monotonic() + patience
    while True:
        try:
            return socket.create_connection((host, port), timeout=10)
        except ConnectionRefusedError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.02)


def visit_redirect(location, mode):
    parts = urlsplit(location)
    sock = connect(parts.hostname, parts.port or 80)
    with sock:
        if mode == "close":
            return b""
        target = parts.path + ("?" + parts.query if parts.query else "")
        method = "POST" if mode == "post" else "GET"
        request = (f"{method} {target} HTTP/1.1\r\nHost: {parts.netloc}\r\n"
                   "User-Agent: fake-browser\r\nAccept: text/html\r\n\r\n")
        sock.sendall(request.encode())
        answer = b""
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                return answer
            answer += chunk


def main():
    url = sys.argv[1]
    mode = os.environ.get("FAKE_BROWSER_MODE", "follow")
    record = {"url": url, "mode": mode}
    try:
        status, location = fetch_provider(url)
        record.update(status=status, location=location)
        if status in (301, 302, 303, 307) and location:
            record["answer"] = base64.b64encode(visit_redirect(location, mode)).decode()
    except Exception as exc:  # recorded for the test to show
        record["error"] = repr(exc)
    with open(os.environ["FAKE_BROWSER_OUT"], "a", encoding="utf-8") as out:
        out.write(json.dumps(record) + "\n")


if __name__ == "__main__":
    main()
