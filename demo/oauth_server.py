#!/usr/bin/python3
"""Demo sign-in and token service for the "google" and "ms" mail security.

HTTPS on 127.0.0.1:8444 with the demo CA (scripts/make-test-ca.sh into
demo/run/ca). A demo client built with

  -DVELOMARK_MS_LOGIN_HOST=127.0.0.1:8444 -DVELOMARK_GOOGLE_AUTH_HOST=127.0.0.1:8444
  -DVELOMARK_GOOGLE_TOKEN_HOST=127.0.0.1:8444

(scripts/run.sh does that) sends the browser here to sign in:

  GET  /o/oauth2/auth, /consumers/oauth2/v2.0/authorize
       a sign-in page for the account of login_hint, with "Allow" and "Deny"
  POST /decide
       the page's answer: a redirect to the client's loopback redirect URI
       with a one-time code and the state, or with error=access_denied
  POST /token, /consumers/oauth2/v2.0/token
       the code grant (access and refresh token) and the refresh grant

Access tokens are signed (demo/oauth_tokens.py) so that the demo SMTP server
can check them. The browser sees a certificate of the demo CA, which it does
not know: accept it once, or import demo/run/ca/ca.pem.

Usage: demo/oauth_server.py [--port 8444] [--host 127.0.0.1]
       [--ca-dir demo/run/ca] [--key-file demo/run/oauth-token.key]
Only Debian's python3 standard library is used.
"""

import argparse
import html
import http.server
import ipaddress
import json
import secrets
import ssl
import subprocess
import sys
import threading
import time
from pathlib import Path
from urllib.parse import parse_qsl, urlencode, urlsplit

sys.path.insert(0, str(Path(__file__).resolve().parent))
from oauth_tokens import DEFAULT_KEY_FILE, issue_access_token, load_key  # noqa: E402
from server import Server  # noqa: E402  (the TLS server of the application demo)

DEMO_DIR = Path(__file__).resolve().parent
SOURCE_DIR = DEMO_DIR.parent
AUTHORIZE = {"/o/oauth2/auth": "Google", "/consumers/oauth2/v2.0/authorize": "Microsoft"}
TOKEN = {"/token", "/consumers/oauth2/v2.0/token"}
CODE_LIFETIME = 300
ACCESS_LIFETIME = 3600
MAX_BODY = 64 * 1024

PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Demo sign-in</title>
<style>
 body {{ font-family: sans-serif; background: #f3f4f6; }}
 form {{ background: white; max-width: 420px; margin: 60px auto; padding: 20px 24px;
        border-radius: 6px; box-shadow: 0 1px 3px #0003; }}
 h1 {{ font-size: 20px; color: #1e3a8a; }} input {{ width: 100%; box-sizing: border-box; }}
 button {{ margin: 14px 8px 0 0; padding: 6px 16px; }}
</style></head><body>
<form method="post" action="/decide">
 <h1>Demo {provider} sign-in</h1>
 <p>The velomark client asks to send mail as this account:</p>
 <label>Account <input name="account" value="{account}"></label>
 <p>Permission: <code>{scope}</code></p>
 <input type="hidden" name="client_id" value="{client_id}">
 <input type="hidden" name="redirect_uri" value="{redirect_uri}">
 <input type="hidden" name="state" value="{state}">
 <button type="submit" name="decision" value="allow">Allow</button>
 <button type="submit" name="decision" value="deny">Deny</button>
</form></body></html>
"""


def loopback_redirect(uri):
    """True for an http URI on a loopback host: the only place this demo
    sends a browser with a code, so it can never hand one to a stranger."""
    try:
        parts = urlsplit(uri)
        port = parts.port
    except ValueError:
        return False
    if parts.scheme != "http" or port is None or parts.username is not None:
        return False
    if parts.hostname == "localhost":
        return True
    try:
        return ipaddress.ip_address(parts.hostname or "").is_loopback
    except ValueError:
        return False


class Grants:
    """Codes (one use, short-lived) and refresh tokens, in memory only."""

    def __init__(self, key):
        self.key = key
        self.lock = threading.Lock()
        self.codes = {}  # code -> (client_id, redirect_uri, account, expiry)
        self.refresh = {}  # refresh token -> (client_id, account)

    def new_code(self, client_id, redirect_uri, account):
        code = "demo-code-" + secrets.token_urlsafe(18)
        with self.lock:
            self.codes[code] = (client_id, redirect_uri, account, time.time() + CODE_LIFETIME)
        return code

    def exchange(self, form):
        """(status, answer object) for a token request's form."""
        grant = form.get("grant_type")
        client_id = form.get("client_id", "")
        with self.lock:
            if grant == "authorization_code":
                entry = self.codes.pop(form.get("code", ""), None)
                if (entry is None or entry[0] != client_id or entry[1] != form.get("redirect_uri")
                        or entry[3] < time.time()):
                    return 400, {"error": "invalid_grant",
                                 "error_description": "The code is unknown, used or expired."}
                account = entry[2]
                refresh = "demo-rt-" + secrets.token_urlsafe(24)
                self.refresh[refresh] = (client_id, account)
            elif grant == "refresh_token":
                entry = self.refresh.get(form.get("refresh_token", ""))
                if entry is None or entry[0] != client_id:
                    return 400, {"error": "invalid_grant",
                                 "error_description": "The refresh token is unknown."}
                account, refresh = entry[1], None
            else:
                return 400, {"error": "unsupported_grant_type"}
        answer = {"access_token": issue_access_token(self.key, account, ACCESS_LIFETIME),
                  "token_type": "Bearer", "expires_in": ACCESS_LIFETIME}
        if refresh:
            answer["refresh_token"] = refresh
        return 200, answer


def make_handler(grants):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def reply(self, status, body, content_type="text/html; charset=utf-8", headers=()):
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            for name, value in headers:
                self.send_header(name, value)
            self.end_headers()
            self.wfile.write(body)

        def text(self, status, message):
            self.reply(status, message.encode(), "text/plain; charset=utf-8")

        def form(self):
            length = int(self.headers.get("Content-Length") or 0)
            if length > MAX_BODY:
                return None
            return dict(parse_qsl(self.rfile.read(length).decode("utf-8", "replace"),
                                  keep_blank_values=True))

        def do_GET(self):
            parts = urlsplit(self.path)
            provider = AUTHORIZE.get(parts.path)
            if provider is None:
                return self.text(404, "not found")
            q = dict(parse_qsl(parts.query, keep_blank_values=True))
            if q.get("response_type") != "code" or not loopback_redirect(q.get("redirect_uri", "")):
                return self.text(400, "This demo signs in only for a code sent to a loopback "
                                      "redirect URI (response_type=code, http://localhost:PORT/...).")
            page = PAGE.format(**{k: html.escape(v, quote=True) for k, v in {
                "provider": provider, "account": q.get("login_hint", ""),
                "scope": q.get("scope", ""), "client_id": q.get("client_id", ""),
                "redirect_uri": q["redirect_uri"], "state": q.get("state", "")}.items()})
            self.reply(200, page.encode())

        def do_POST(self):
            path = urlsplit(self.path).path
            form = self.form()
            if form is None:
                self.close_connection = True
                return self.text(413, "too large")
            if path == "/decide":
                return self.decide(form)
            if path in TOKEN:
                status, answer = grants.exchange(form)
                return self.reply(status, json.dumps(answer).encode(), "application/json")
            return self.text(404, "not found")

        def decide(self, form):
            redirect_uri = form.get("redirect_uri", "")
            if not loopback_redirect(redirect_uri):
                return self.text(400, "bad redirect URI")
            answer = {}
            if form.get("decision") == "allow" and form.get("account"):
                answer["code"] = grants.new_code(form.get("client_id", ""), redirect_uri,
                                                 form["account"])
            else:
                answer.update(error="access_denied",
                              error_description="The user declined the sign-in.")
            answer["state"] = form.get("state", "")
            separator = "&" if "?" in redirect_uri else "?"
            self.reply(303, b"", headers=[("Location", redirect_uri + separator + urlencode(answer))])

        def log_message(self, fmt, *args):
            sys.stderr.write("oauth %s\n" % (fmt % args))

    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=8444)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--ca-dir", type=Path, default=DEMO_DIR / "run" / "ca")
    parser.add_argument("--key-file", type=Path, default=DEFAULT_KEY_FILE)
    args = parser.parse_args()

    subprocess.run(["bash", str(SOURCE_DIR / "scripts" / "make-test-ca.sh"), str(args.ca_dir)],
                   check=True)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(str(args.ca_dir / "server.pem"), str(args.ca_dir / "server.key"))
    server = Server((args.host, args.port), make_handler(Grants(load_key(args.key_file))), context)
    print(f"demo sign-in service on https://{args.host}:{args.port}; CA {args.ca_dir / 'ca.pem'}",
          flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
