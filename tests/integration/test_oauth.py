"""OAuth sign-in and token requests end to end on loopback.

The test-only oauth_probe runs the client's OAuth code with the provider
hosts pointing at HTTPS servers here (test CA from scripts/make-test-ca.sh)
and its redirect listener on a free port. The browser is a stand-in for
xdg-open (harness/fake_browser.py) put first on PATH: it fetches the
authorization URL from the provider stand-in, which redirects it to the
loopback listener with a code and the state, and follows that redirect.
"""

import base64
import json
import socket
import subprocess
from urllib.parse import parse_qsl

import pytest

from harness.fake_browser import BrowserStandIn
from harness.https_server import HttpsServer, Response
from harness.paths import program
from harness.ports import free_port
from harness.sandbox import private_env

MS_ID = "0b1c2d3e-aaaa-bbbb-cccc-0123456789ab"
GOOGLE_ID = "123456789012-abcdefghijklmnopqrstuvwxyz012345.apps.googleusercontent.test"
GOOGLE_SECRET = "GOCSPX-a+b/c=d e_0123456789abcdefg"
SECRET_ENC = "GOCSPX-a%2Bb/c=d%20e_0123456789abcdefg"
NO_REDIRECT = ("ERROR: Failed to retrieve token (network? Wrong ID provider? Firewall? "
               "Antivirus?)")
STATE_INVALID = "ERROR: Failed xsf validation (state invalid)"
NO_JSON = ("ERROR: Failed posting bearer token request (got no json result, please check "
           "debug logging)")

PAGE = ("HTTP/1.1 200 OK\nServer: tessel\nContent-Type: text/html; charset=UTF-8\n"
        "Connection: close\nX-Frame-Options: SAMEORIGIN\nX-XSS-Protection: 1; mode=block\n"
        "X-Content-Type-Options: nosniff\nX-Cache-Status: BYPASS\n\n<!DOCTYPE html>\n"
        "<html><body><style>html {background-color: white;}.box {background-color: #2064a8; "
        "color: white; border-radius: 40px; box-shadow: 10px 10px 20px #777; width: 80%; "
        "max-width: 800px; padding: 30px; margin: 30px auto 0 auto; text-align: center; "
        "font-size: 22px;}.check {color: white; font-size: 100px;}</style><div class=\"box\">"
        "<div class=\"check\">&#10004;</div><p>Thank you! You can now close this window.</p>"
        "<p>Vielen Dank! Sie können dieses Fenster jetzt schliessen.</p>"
        "<p>Merci beaucoup ! Vous pouvez maintenant fermer cette fenêtre.</p>"
        "</div></body></html>").encode()


class Providers:
    """Both providers on two HTTPS servers: the first serves Microsoft's
    endpoints and Google's sign-in, the second Google's token endpoint."""

    def __init__(self, ca):
        self.redirect_query = lambda state: f"code=4%2F0Ab+cd&state={state}&scope=x%3Ay"
        self.token_answers = []
        self.authorize = HttpsServer("127.0.0.1", 0, ca, {
            "/consumers/oauth2/v2.0/authorize": self._authorize,
            "/o/oauth2/auth": self._authorize,
            "/consumers/oauth2/v2.0/token": self._token,
        })
        self.google_token = HttpsServer("127.0.0.1", 0, ca, {"/token": self._token})
        self.token_requests = []

    def _authorize(self, req):
        if self.redirect_query is None:  # the user never finishes signing in
            return Response(200, b"<html>sign in</html>")
        params = dict(parse_qsl(req.query))
        location = params["redirect_uri"] + "?" + self.redirect_query(params.get("state", ""))
        return Response(302, b"", {"Location": location})

    def _token(self, req):
        self.token_requests.append(req)
        status, body = self.token_answers.pop(0)
        return Response(status, body, {"Content-Type": "application/json"})

    def host_args(self):
        a = f"127.0.0.1:{self.authorize.port}"
        return ["--ms-client-id", MS_ID, "--ms-login-host", a, "--ms-scope-host", "outlook.test",
                "--google-client-id", GOOGLE_ID, "--google-secret", GOOGLE_SECRET,
                "--google-auth-host", a,
                "--google-token-host", f"127.0.0.1:{self.google_token.port}",
                "--google-scope-host", "apis.test"]

    def __enter__(self):
        self.authorize.start()
        self.google_token.start()
        return self

    def __exit__(self, *exc):
        self.authorize.stop()
        self.google_token.stop()


@pytest.fixture
def providers(ca):
    with Providers(ca) as p:
        yield p


class Probe:
    def __init__(self, tmp_path, ca, providers):
        self.tmp = tmp_path
        self.ca = ca
        self.providers = providers
        self.binary = program("tests", "oauth_probe")
        self.port = free_port()
        self.log = tmp_path / "log.txt"
        self.browser = BrowserStandIn(tmp_path, ca.ca_file)
        self.env = private_env(tmp_path, **self.browser.env)

    def run(self, *steps, timeout=None, trust=True, browser_mode="follow"):
        args = [str(self.binary), *self.providers.host_args(), "--port", str(self.port),
                "--log", str(self.log)]
        if trust:
            args += ["--ca", str(self.ca.ca_file)]
        if timeout is not None:
            args += ["--timeout", str(timeout)]
        env = dict(self.env, FAKE_BROWSER_MODE=browser_mode)
        proc = subprocess.run([*args, *steps], env=env, capture_output=True, text=True,
                              timeout=90)
        assert proc.returncode == 0, proc.stderr
        out = json.loads(proc.stdout)
        self.state = out["state"]
        return out

    def log_lines(self):
        return self.log.read_bytes().decode().split("\r\n")[:-1]

    @property
    def redirect_uri(self):
        return f"http://localhost:{self.port}/tessel"


@pytest.fixture
def probe(tmp_path, ca, providers):
    return Probe(tmp_path, ca, providers)


def results(out):
    return [(s["result"], s["refresh"]) for s in out["steps"]]


def bodies(providers):
    return [r.body.decode() for r in providers.token_requests]


def test_google_sign_in_then_the_kept_refresh_token_is_reused(probe, providers):
    providers.token_answers = [(200, b'{"access_token":"AT1","refresh_token":"RT/1+x"}'),
                               (200, b'{"access_token":"AT2","expires_in":3599}')]
    out = probe.run("--send", "google", "a b+c@x.test", "--send", "google", "a b+c@x.test")
    assert results(out) == [("AT1", "RT/1+x"), ("AT2", "RT/1+x")]

    # One browser run: the second send refreshed silently.
    [visit] = probe.browser.runs()
    state = probe.state
    assert visit["url"] == (
        f"https://127.0.0.1:{providers.authorize.port}/o/oauth2/auth?response_type=code&"
        f"client_id={GOOGLE_ID}&login_hint=a%20b%2Bc@x.test&"
        f"redirect_uri={probe.redirect_uri}&scope=https://apis.test/auth/gmail.send&"
        f"state={state}")
    assert base64.b64decode(visit["answer"]) == PAGE

    assert [r.path for r in providers.token_requests] == ["/token", "/token"]
    assert bodies(providers) == [
        f"client_id={GOOGLE_ID}&redirect_uri={probe.redirect_uri}&code=4/0Ab%20cd"
        f"&grant_type=authorization_code&client_secret={SECRET_ENC}",
        f"client_id={GOOGLE_ID}&redirect_uri={probe.redirect_uri}&refresh_token=RT/1%2Bx"
        f"&grant_type=refresh_token&client_secret={SECRET_ENC}",
    ]
    for r in providers.token_requests:
        assert r.method == "POST"
        assert r.headers["Content-Type"] == "application/x-www-form-urlencoded"
        assert r.headers["User-Agent"] == "Mozilla/5.0 Gecko/41.0 Firefox/41.0"

    where = f"localhost:{probe.port}"
    request = (f"GET /tessel?code=4%2F0Ab+cd&state={state}&scope=x%3Ay HTTP/1.1\r\n"
               f"Host: {where}\r\nUser-Agent: fake-browser\r\nAccept: text/html\r\n\r\n")
    received = f"Received from auth client: [{request}]\r\n"
    log = probe.log.read_bytes().decode()
    assert log.count(received) == 1
    lines = log.replace(received, "").split("\r\n")[:-1]
    assert lines == [
        f"Compiled oauth url: [{visit['url']}]",
        "Open URL in default webbrowser now...",
        f"Established listening server on {where}",
        "Incomming auth client connection established",
        "Sent success (200 OK) answer to calling auth client",
        "Successfully got an auth token code answer",
        "Ignored header key: scope value: x:y",
        "Successfully got auth token: [4/0Ab cd]",
        "Received refresh token: [RT/1+x]",
        "Received bearer token: [AT1]",
        "Received bearer token: [AT2]",
    ]


def test_microsoft_grants_carry_no_secret_and_the_scope_space_is_escaped(probe, providers):
    providers.token_answers = [(200, b'{"access_token":"M1","refresh_token":"MR1"}'),
                               (200, b'{"access_token":"M2","refresh_token":"MR2"}')]
    out = probe.run("--send", "ms", "", "--acquire", "MS", "")
    assert results(out) == [("M1", "MR1"), ("M2", "MR2")]
    [visit] = probe.browser.runs()
    assert visit["url"] == (
        f"https://127.0.0.1:{providers.authorize.port}/consumers/oauth2/v2.0/authorize?"
        f"response_type=code&client_id={MS_ID}&redirect_uri={probe.redirect_uri}&"
        f"scope=https://outlook.test/SMTP.Send%20offline_access&state={probe.state}")
    assert [r.path for r in providers.token_requests] == ["/consumers/oauth2/v2.0/token"] * 2
    assert bodies(providers) == [
        f"client_id={MS_ID}&redirect_uri={probe.redirect_uri}&code=4/0Ab%20cd"
        "&grant_type=authorization_code",
        f"client_id={MS_ID}&redirect_uri={probe.redirect_uri}&refresh_token=MR1"
        "&grant_type=refresh_token",
    ]


def test_a_refused_refresh_is_followed_by_a_sign_in_in_the_same_call(probe, providers):
    providers.token_answers = [(400, b'{"error":"invalid_grant"}'),
                               (200, b'{"access_token":"NEWAT","refresh_token":"NEWRT"}')]
    out = probe.run("--refresh", "OLD", "--send", "ms", "me@x.test")
    assert results(out)[1] == ("NEWAT", "NEWRT")
    assert len(probe.browser.runs()) == 1
    assert [dict(parse_qsl(b))["grant_type"] for b in bodies(providers)] == [
        "refresh_token", "authorization_code"]
    assert "refresh_token=OLD&" in bodies(providers)[0]


def test_an_empty_refresh_token_in_the_answer_leaves_the_slot_alone(probe, providers):
    providers.token_answers = [(200, b'{"access_token":"A","refresh_token":""}'),
                               (200, b'{"access_token":"B","refresh_token":"R2"}')]
    out = probe.run("--refresh", "KEEP", "--send", "google", "x", "--send", "google", "x")
    assert results(out)[1:] == [("A", "KEEP"), ("B", "R2")]
    assert probe.browser.runs() == []
    assert "refresh_token=R2" not in "".join(bodies(providers))


@pytest.mark.parametrize("security", ["none", "tls", "Google", "MS", ""])
def test_other_security_values_ask_for_no_token(probe, providers, security):
    out = probe.run("--refresh", "R", "--send", security, "x")
    assert results(out)[1] == ("", "R")
    assert out["opened"] == 0
    assert providers.token_requests == []


@pytest.mark.parametrize("name, redirect_query, browser_mode, result, slot, log_line", [
    ("state in other letter case",
     lambda s: f"code=abc&state={s.upper()}", "follow", STATE_INVALID, "",
     "WARN: Failed xsf validation (state value was missing or not the same as the sent one)"),
    ("provider error", lambda s: f"error=access_denied&error_description=No+way&state={s}",
     "follow", STATE_INVALID, "", "WARN: Got error access_denied"),
    ("no GET line", lambda s: f"code=abc&state={s}", "post", STATE_INVALID, "",
     "Ignored header key:  value: "),
    ("closed without data", lambda s: f"code=abc&state={s}", "close", NO_REDIRECT, "R",
     "Auth client connection closed"),
    ("valid state, no code", lambda s: f"state={s}", "follow", "", "R",
     "Successfully got auth token: []"),
])
def test_sign_in_results(probe, providers, name, redirect_query, browser_mode, result, slot,
                         log_line):
    providers.redirect_query = redirect_query
    out = probe.run("--refresh", "R", "--authorize", "GOOGLE", "", browser_mode=browser_mode)
    assert results(out)[1] == (result, slot), name
    assert log_line in probe.log_lines()
    if browser_mode != "close":
        assert base64.b64decode(probe.browser.runs()[0]["answer"]) == PAGE


def test_an_empty_code_is_passed_back_without_a_token_request(probe, providers):
    providers.redirect_query = lambda s: f"state={s}"
    out = probe.run("--send", "google", "x")
    assert results(out) == [("", "")]
    assert providers.token_requests == []


def test_port_already_taken(probe, providers):
    providers.redirect_query = None
    with socket.socket() as squatter:
        squatter.bind(("127.0.0.1", probe.port))
        squatter.listen(1)
        out = probe.run("--refresh", "R", "--authorize", "MS", "")
    assert results(out)[1] == (NO_REDIRECT, "R")
    assert out["opened"] == 1
    assert (f"ERROR: Cannot create server on localhost:{probe.port} for receiving oauth result"
            in probe.log_lines())


def test_short_time_out(probe, providers):
    providers.redirect_query = None
    out = probe.run("--authorize", "GOOGLE", "", timeout=1)
    assert results(out) == [(NO_REDIRECT, "")]
    assert probe.log_lines()[-1] == (f"ERROR: Connection to localhost:{probe.port} timed out. "
                                     "Nothing was received in 1 seconds.")


BODY_ERROR = b'{"error":"invalid_grant","error_description":"Bad \\u00e9"}'


@pytest.mark.parametrize("status, body, result, slot", [
    (200, b'{"access_token":"T"}', "T", "R"),
    (500, b'{"access_token":"T","refresh_token":"N"}', "T", "N"),  # the status is not looked at
    (200, b'{"access_token":5,"refresh_token":7}', "", "R"),
    (400, BODY_ERROR, "ERROR: Failed posting bearer token request (got no token. Instead, got ["
     + BODY_ERROR.decode() + "])", ""),
    (200, b'{"access_token"', "ERROR: Failed posting bearer token request (got no token. "
     "Instead, got [{\"access_token\"])", ""),
    (200, b"<html>busy</html>", NO_JSON, ""),
    (200, b' {"access_token":"T"}', NO_JSON, ""),
    (200, b'\xef\xbb\xbf{"access_token":"T"}', NO_JSON, ""),
    (200, b"", NO_JSON, ""),
])
def test_token_answers(probe, providers, status, body, result, slot):
    providers.token_answers = [(status, body)]
    out = probe.run("--refresh", "R", "--token", "GOOGLE", "the code", "")
    assert results(out)[1] == (result, slot)
    assert bodies(providers) == [
        f"client_id={GOOGLE_ID}&redirect_uri={probe.redirect_uri}&code=the%20code"
        f"&grant_type=authorization_code&client_secret={SECRET_ENC}"]


def test_token_endpoint_unreachable_or_untrusted(probe, providers):
    providers.token_answers = [(200, b'{"access_token":"T"}')]
    out = probe.run("--refresh", "R", "--token", "MS", "c", "", trust=False)
    assert results(out)[1] == (NO_JSON, "")
    assert providers.token_requests == []

    providers.google_token.stop()
    out = probe.run("--refresh", "R", "--token", "GOOGLE", "c", "")
    assert results(out)[1] == (NO_JSON, "")
