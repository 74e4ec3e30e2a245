"""The demo sign-in service (demo/oauth_server.py): the sign-in page, the
redirect with a code and the state, the token grants, and the tokens that
the demo SMTP server checks (demo/oauth_tokens.py)."""

import base64
import http.client
import json
import re
import smtplib
import ssl
from urllib.parse import parse_qsl, urlencode, urlsplit

import pytest

from aiosmtpd.controller import Controller

from harness.demo import DemoProgram, demo_module
from harness.ports import free_port
from smtp_loopback import Recorder

oauth_tokens = demo_module("oauth_tokens")

REDIRECT = "http://localhost:8100/tessel"
CLIENT = "client-1.apps.example"


@pytest.fixture(scope="module")
def service(tmp_path_factory):
    folder = tmp_path_factory.mktemp("demo-oauth")
    port = free_port()
    key_file = folder / "token.key"
    with DemoProgram("oauth_server.py", "--port", port, "--ca-dir", folder / "ca",
                     "--key-file", key_file, ready="demo sign-in service on"):
        context = ssl.create_default_context(cafile=str(folder / "ca" / "ca.pem"))
        yield Client(port, context), oauth_tokens.load_key(key_file)


class Client:
    def __init__(self, port, context):
        self.port, self.context = port, context

    def request(self, method, target, form=None):
        conn = http.client.HTTPSConnection("127.0.0.1", self.port, context=self.context,
                                           timeout=10)
        try:
            body = urlencode(form) if form is not None else None
            headers = {"Content-Type": "application/x-www-form-urlencoded"} if form else {}
            conn.request(method, target, body, headers)
            resp = conn.getresponse()
            return resp.status, resp.getheader("Location"), resp.read().decode()
        finally:
            conn.close()

    def sign_in_page(self, path, **query):
        params = {"response_type": "code", "client_id": CLIENT, "redirect_uri": REDIRECT,
                  "scope": "https://apis.test/auth/gmail.send", "state": "xsf1_2"}
        params.update(query)
        return self.request("GET", path + "?" + urlencode(params))

    def token(self, path, **form):
        status, _, body = self.request("POST", path, form)
        return status, json.loads(body)


def hidden_fields(page):
    return dict(re.findall(r'<input type="hidden" name="(\w+)" value="([^"]*)">', page))


@pytest.mark.parametrize("authorize, token_path", [
    ("/o/oauth2/auth", "/token"),
    ("/consumers/oauth2/v2.0/authorize", "/consumers/oauth2/v2.0/token"),
])
def test_allow_gives_a_code_for_tokens_that_sign_the_account(service, authorize, token_path):
    client, key = service
    status, _, page = client.sign_in_page(authorize, login_hint="a&b@example.org")
    assert status == 200
    assert 'value="a&amp;b@example.org"' in page and ">Allow</button>" in page
    fields = hidden_fields(page)
    assert fields == {"client_id": CLIENT, "redirect_uri": REDIRECT, "state": "xsf1_2"}

    status, location, _ = client.request("POST", "/decide", {
        **fields, "account": "a&b@example.org", "decision": "allow"})
    assert status == 303 and location.startswith(REDIRECT + "?")
    answer = dict(parse_qsl(urlsplit(location).query))
    assert set(answer) == {"code", "state"} and answer["state"] == "xsf1_2"

    grant = {"client_id": CLIENT, "redirect_uri": REDIRECT, "code": answer["code"],
             "grant_type": "authorization_code"}
    status, tokens = client.token(token_path, **grant)
    assert status == 200 and set(tokens) >= {"access_token", "refresh_token"}
    login = "a&b@example.org"
    xoauth2 = f"user={login}\x01auth=Bearer {tokens['access_token']}\x01\x01"
    assert oauth_tokens.xoauth2_account(key, xoauth2) == login
    # The token is bound to the account it was issued for.
    assert oauth_tokens.xoauth2_account(key, xoauth2.replace("user=a&b", "user=c")) is None

    assert client.token(token_path, **grant) == (
        400, {"error": "invalid_grant", "error_description": "The code is unknown, used or expired."})

    refresh = {"client_id": CLIENT, "redirect_uri": REDIRECT,
               "refresh_token": tokens["refresh_token"], "grant_type": "refresh_token"}
    status, again = client.token(token_path, **refresh)
    assert status == 200 and "refresh_token" not in again
    assert again["access_token"] != tokens["access_token"]
    assert oauth_tokens.check_access_token(key, again["access_token"]) == login
    assert client.token(token_path, **{**refresh, "client_id": "other"})[0] == 400
    assert client.token(token_path, grant_type="password")[1] == {"error": "unsupported_grant_type"}


def test_deny_and_foreign_redirects(service):
    client, _ = service
    status, location, _ = client.request("POST", "/decide", {
        "client_id": CLIENT, "redirect_uri": REDIRECT, "state": "s t", "account": "x",
        "decision": "deny"})
    assert status == 303
    assert dict(parse_qsl(urlsplit(location).query)) == {
        "error": "access_denied", "error_description": "The user declined the sign-in.",
        "state": "s t"}

    # A code goes to a loopback listener only, never to another host.
    for uri in ("https://localhost:8100/tessel", "http://evil.example:8100/", "http://localhost/",
                "http://127.0.0.1.evil.example:80/", "http://u@localhost:8100/"):
        assert client.sign_in_page("/o/oauth2/auth", redirect_uri=uri)[0] == 400, uri
        status, location, _ = client.request("POST", "/decide", {
            "redirect_uri": uri, "state": "s", "account": "x", "decision": "allow"})
        assert (status, location) == (400, None), uri
    assert client.sign_in_page("/o/oauth2/auth", response_type="token")[0] == 400
    assert client.request("GET", "/elsewhere")[0] == 404


def test_tokens_refused_when_altered_foreign_or_expired(tmp_path):
    key = oauth_tokens.load_key(tmp_path / "k")
    assert (tmp_path / "k").stat().st_mode & 0o777 == 0o600
    assert oauth_tokens.load_key(tmp_path / "k") == key  # kept, not remade
    token = oauth_tokens.issue_access_token(key, "me@example.org", lifetime=60, now=1000)
    check = oauth_tokens.check_access_token
    assert check(key, token, now=1059) == "me@example.org"
    assert check(key, token, now=1061) is None
    assert check(oauth_tokens.load_key(tmp_path / "other"), token, now=1000) is None
    body, mac = token[len("demo-at."):].split(".")
    for altered in (token[:-2] + ("AA" if token[-2:] != "AA" else "BB"), "demo-at." + body,
                    "demo-at." + mac + "." + mac, "ya29." + body + "." + mac, "", "demo-at.!.!"):
        assert check(key, altered, now=1000) is None, altered
    assert oauth_tokens.xoauth2_account(key, f"user=me@example.org\x01auth={token}\x01\x01") is None


def test_the_smtp_hook_takes_only_a_token_issued_to_that_account(tmp_path):
    key_file = tmp_path / "token.key"
    key = oauth_tokens.load_key(key_file)
    recorder = Recorder()
    recorder.auth_XOAUTH2 = oauth_tokens.xoauth2_hook(key_file)
    port = free_port()
    controller = Controller(recorder, hostname="127.0.0.1", port=port, auth_require_tls=False)
    token = oauth_tokens.issue_access_token(key, "me@example.org")

    def response(user, bearer):
        return f"user={user}\x01auth=Bearer {bearer}\x01\x01".encode()

    def auth(blob, initial):
        with smtplib.SMTP("127.0.0.1", port, timeout=10) as s:
            s.ehlo()
            if initial:  # the response with the command
                reply = s.docmd("AUTH", "XOAUTH2 " + base64.b64encode(blob).decode())
            else:
                assert s.docmd("AUTH", "XOAUTH2")[0] == 334
                reply = s.docmd(base64.b64encode(blob).decode())
            if reply[0] == 334:  # the error challenge; the client answers it empty
                assert json.loads(base64.b64decode(reply[1]))["status"] == "401"
                reply = s.docmd("")
            if reply[0] == 235:
                s.sendmail("me@example.org", ["to@example.net"], b"Subject: x\r\n\r\nbody\r\n")
            return reply[0]

    controller.start()
    try:
        for initial in (True, False):
            assert auth(response("me@example.org", token), initial) == 235
            assert auth(response("you@example.org", token), initial) == 535
            assert auth(response("me@example.org", token[:-3] + "abc"), initial) == 535
            assert auth(b"not a response", initial) == 535
    finally:
        controller.stop()
    assert [m["login"] for m in recorder.messages] == ["me@example.org"] * 2
