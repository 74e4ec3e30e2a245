"""Stands in for xdg-open in the OAuth tests: plays the user's browser.

Started as `PROGRAM URL` by the client's opener. It fetches URL (the
provider's authorization endpoint, HTTPS trusting FAKE_BROWSER_CA) and, when
the provider answers with a redirect, goes to its target, the loopback
listener, over a raw socket so that the listener's answer is kept byte for
byte. FAKE_BROWSER_MODE says how it behaves there:
  follow (default)  a GET for the redirect target, as a browser sends it
  close             connect, then close without sending anything
  post              a POST request line instead of a GET
With FAKE_BROWSER_DELAY set to seconds, it waits that long first, as a user
who takes time to sign in.
With FAKE_BROWSER_CLICK set to a button's label, a sign-in page (an answer
200 with a form) is answered the way a user does it: that button's form is
submitted, and its redirect followed.
One JSON line per run is appended to FAKE_BROWSER_OUT.

A test sets it up with BrowserStandIn, which puts it first on PATH as
xdg-open and reads back the runs.
"""

import base64
import html.parser
import http.client
import json
import os
import socket
import ssl
import sys
import time
from pathlib import Path
from urllib.parse import urlencode, urljoin, urlsplit


def fetch_provider(url, method="GET", form=None):
    parts = urlsplit(url)
    context = ssl.create_default_context(cafile=os.environ["FAKE_BROWSER_CA"])
    conn = http.client.HTTPSConnection(parts.hostname, parts.port, context=context, timeout=10)
    try:
        target = parts.path + ("?" + parts.query if parts.query else "")
        if form is None:
            conn.request(method, target)
        else:
            conn.request(method, target, urlencode(form),
                         {"Content-Type": "application/x-www-form-urlencoded"})
        resp = conn.getresponse()
        body = resp.read()
        return resp.status, resp.getheader("Location"), body
    finally:
        conn.close()


class _Forms(html.parser.HTMLParser):
    """Each form's action, method, named input values and submit buttons."""

    def __init__(self):
        super().__init__()
        self.forms, self._button = [], None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "form":
            self.forms.append({"action": a.get("action", ""), "method": a.get("method", "get"),
                               "fields": {}, "buttons": []})
        elif tag == "input" and self.forms and a.get("name"):
            self.forms[-1]["fields"][a["name"]] = a.get("value") or ""
        elif tag == "button" and self.forms:
            self._button = {"name": a.get("name"), "value": a.get("value") or "", "label": ""}
            self.forms[-1]["buttons"].append(self._button)

    def handle_endtag(self, tag):
        if tag == "button":
            self._button = None

    def handle_data(self, data):
        if self._button is not None:
            self._button["label"] += data.strip()


def click(url, page, label):
    """Submits the form of the button labelled label; the answer."""
    parser = _Forms()
    parser.feed(page.decode("utf-8", "replace"))
    for form in parser.forms:
        for button in form["buttons"]:
            if button["label"] == label:
                fields = dict(form["fields"])
                if button["name"]:
                    fields[button["name"]] = button["value"]
                action = urljoin(url, form["action"])
                if form["method"].lower() == "post":
                    return fetch_provider(action, "POST", fields)
                return fetch_provider(action + "?" + urlencode(fields))
    raise LookupError(f"no button {label!r} on the page")


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


class BrowserStandIn:
    """This program as xdg-open in folder/browser-bin, trusting ca_file;
    env is what the program under test needs in its environment."""

    def __init__(self, folder, ca_file, **settings):
        folder = Path(folder)
        self.out = folder / "browser.jsonl"
        bin_dir = folder / "browser-bin"
        bin_dir.mkdir()
        opener = bin_dir / "xdg-open"
        opener.write_text(f"#!/bin/sh\nexec /usr/bin/python3 {Path(__file__).resolve()} \"$@\"\n")
        opener.chmod(0o755)
        self.env = {"PATH": f"{bin_dir}:{os.environ['PATH']}", "FAKE_BROWSER_CA": str(ca_file),
                    "FAKE_BROWSER_OUT": str(self.out), **settings}

    def runs(self):
        """The record of each run so far."""
        if not self.out.exists():
            return []
        return [json.loads(line) for line in self.out.read_text().splitlines()]


def main():
    url = sys.argv[1]
    mode = os.environ.get("FAKE_BROWSER_MODE", "follow")
    record = {"url": url, "mode": mode}
    time.sleep(float(os.environ.get("FAKE_BROWSER_DELAY", "0")))
    try:
        status, location, body = fetch_provider(url)
        label = os.environ.get("FAKE_BROWSER_CLICK")
        if label and status == 200:
            record["clicked"] = label
            status, location, body = click(url, body, label)
        record.update(status=status, location=location)
        if status in (301, 302, 303, 307) and location:
            record["answer"] = base64.b64encode(visit_redirect(location, mode)).decode()
    except Exception as exc:  # recorded for the test to show
        record["error"] = repr(exc)
    with open(os.environ["FAKE_BROWSER_OUT"], "a", encoding="utf-8") as out:
        out.write(json.dumps(record) + "\n")


if __name__ == "__main__":
    main()
