"""Mail over SMTP with an OAuth sign-in, through the real client.

The page stores a "google" or "ms" account and calls sendMail. The test
build points the provider hosts at https://127.0.0.1:18444, where a sign-in
service stand-in runs; an xdg-open stand-in (harness/fake_browser.py) plays
the user's browser: it opens the authorization URL, which the service
answers with a redirect to the client's listener on localhost:8100, and
follows it. The client exchanges the code for tokens and hands the access
token to an aiosmtpd server on loopback that accepts AUTH XOAUTH2 only for
a token the service issued.
"""

import base64
import itertools
import json
import re
import ssl
import threading
from urllib.parse import parse_qsl, urlencode

import pytest
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, AuthResult

from harness.demo import DemoProgram, demo_module
from harness.fake_browser import BrowserStandIn
from harness.https_server import HttpsServer, Response
from harness.ports import free_port
from harness.real_client import app_routes, application_servers, build_ca, build_setting, page, \
    real_client
from smtp_loopback import Recorder, curl_error_text

oauth_tokens = demo_module("oauth_tokens")

REDIRECT_URI = "http://localhost:8100/tessel"
LOGIN = "me+mail@example.org"
STATE_INVALID = "ERROR: Failed xsf validation (state invalid)"


def provider_port():
    hosts = {build_setting(name) for name in (
        "VELOMARK_MS_LOGIN_HOST", "VELOMARK_GOOGLE_AUTH_HOST", "VELOMARK_GOOGLE_TOKEN_HOST")}
    match = re.fullmatch(r"127\.0\.0\.1:(\d+)", hosts.pop()) if len(hosts) == 1 else None
    assert match, (f"the provider hosts of this build are {hosts!r}; configure it with "
                   "scripts/test-config.sh")
    return int(match.group(1))


class SignInService:
    """Both providers' authorization and token endpoints on one HTTPS server.

    Each browser visit takes the next entry of sign_ins: "allow" redirects
    with a fresh code and the state, "deny" with error=access_denied. Codes
    are good for one exchange, refresh tokens for the life of the service.
    Access tokens are unique, so the SMTP server can tell which one it got."""

    def __init__(self):
        self.providers = {
            "MS": {"client_id": build_setting("VELOMARK_MS_CLIENT_ID"), "secret": None},
            "GOOGLE": {"client_id": build_setting("VELOMARK_GOOGLE_CLIENT_ID"),
                       "secret": build_setting("VELOMARK_GOOGLE_CLIENT_SECRET")},
        }
        self.sign_ins = []
        self.token_answer_override = []  # (status, body) answered instead, in order
        self.visits = []
        self.grants = []
        self.issued = []  # access tokens in the order they were handed out
        self.revoked = set()  # issued, but the mail server no longer takes them
        self._codes, self._refresh = set(), set()
        self._numbers = itertools.count(1)
        self._lock = threading.Lock()
        self.server = HttpsServer("127.0.0.1", provider_port(), build_ca(), {
            "/consumers/oauth2/v2.0/authorize": lambda r: self._authorize("MS", r),
            "/o/oauth2/auth": lambda r: self._authorize("GOOGLE", r),
            "/consumers/oauth2/v2.0/token": lambda r: self._token("MS", r),
            "/token": lambda r: self._token("GOOGLE", r),
        })

    def _authorize(self, provider, req):
        params = dict(parse_qsl(req.query))
        with self._lock:
            self.visits.append((provider, params))
            outcome = self.sign_ins.pop(0) if self.sign_ins else "allow"
            answer = {"state": params.get("state", "")}
            # A request the provider would not take still ends at the
            # listener, so a fault shows in the test at once, not after the
            # client's two-minute wait.
            good = (params.get("client_id") == self.providers[provider]["client_id"]
                    and params.get("redirect_uri") == REDIRECT_URI
                    and params.get("response_type") == "code")
            if outcome == "deny" or not good:
                answer.update(error="access_denied" if good else "invalid_request",
                              error_description="The user said no")
            else:
                code = f"4/code-{next(self._numbers)}"
                self._codes.add(code)
                answer["code"] = code
        return Response(302, b"", {"Location": REDIRECT_URI + "?" + urlencode(answer)})

    def _token(self, provider, req):
        form = dict(parse_qsl(req.body.decode(), keep_blank_values=True))
        expected = self.providers[provider]
        with self._lock:
            self.grants.append((provider, form))
            if self.token_answer_override:
                status, body = self.token_answer_override.pop(0)
                return Response(status, body, {"Content-Type": "application/json"})
            good_client = (form.get("client_id") == expected["client_id"]
                           and form.get("redirect_uri") == REDIRECT_URI
                           and form.get("client_secret") == expected["secret"])
            grant = form.get("grant_type")
            if grant == "authorization_code" and form.get("code") in self._codes:
                self._codes.discard(form["code"])
            elif grant == "refresh_token" and form.get("refresh_token") in self._refresh:
                pass
            else:
                good_client = False
            if not good_client:
                return Response(400, b'{"error":"invalid_grant"}',
                                {"Content-Type": "application/json"})
            n = next(self._numbers)
            answer = {"access_token": f"ya29.access-{n}", "token_type": "Bearer",
                      "expires_in": 3599}
            if grant == "authorization_code":
                answer["refresh_token"] = f"1//refresh-{n}"
                self._refresh.add(answer["refresh_token"])
            self.issued.append(answer["access_token"])
        return Response(200, json.dumps(answer).encode(), {"Content-Type": "application/json"})

    def accepts(self, user, token):
        """For the SMTP server: the account signed in and the token is ours."""
        with self._lock:
            return user == LOGIN and token in self.issued and token not in self.revoked

    def __enter__(self):
        self.server.start()
        return self

    def __exit__(self, *exc):
        self.server.stop()


class XOAuth2Recorder(Recorder):
    """Takes AUTH XOAUTH2 only when accept(user, token) says yes; every
    password mechanism is refused."""

    def __init__(self, accept):
        super().__init__()
        self.accept = accept
        self.refused = []

    async def auth_XOAUTH2(self, server, args):
        # The client response is "user=" login ^A "auth=Bearer " token ^A^A.
        blob = base64.b64decode(args[1]) if len(args) > 1 else await server.challenge_auth("")
        if blob is MISSING:
            return AuthResult(success=False, handled=False)
        text = blob.decode()
        fields = dict(p.split("=", 1) for p in text.split("\x01") if "=" in p)
        token = fields.get("auth", "").removeprefix("Bearer ")
        if self.accept(fields.get("user"), token):
            self.bearer.append(token)
            return AuthResult(success=True, auth_data=blob)
        # As the big providers do it: an error challenge, which the client
        # answers with an empty response, then the refusal.
        self.refused.append(token)
        await server.challenge_auth(b'{"status":"401","schemes":"bearer"}')
        return AuthResult(success=False, handled=False,
                          message="535 5.7.8 Username and Password not accepted")


class MailServer:
    """aiosmtpd on loopback with TLS from the build's CA: STARTTLS for an
    smtp:// URL, TLS from the first byte for smtps://."""

    def __init__(self, recorder, scheme):
        ca = build_ca()
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(str(ca.cert_file), str(ca.key_file))
        self.recorder = recorder
        self.port = free_port()
        self.url = f"{scheme}://127.0.0.1:{self.port}"
        # aiosmtpd's own TLS check only knows STARTTLS; with smtps the whole
        # connection is TLS anyway.
        kwargs = {"hostname": "127.0.0.1", "port": self.port, "auth_required": True,
                  "auth_require_tls": scheme != "smtps",
                  "authenticator": self._refuse_password}
        kwargs["ssl_context" if scheme == "smtps" else "tls_context"] = context
        self.controller = Controller(self.recorder, **kwargs)

    def _refuse_password(self, server, session, envelope, mechanism, auth_data):
        self.recorder.logins.append(mechanism)
        return AuthResult(success=False, handled=False)

    def __enter__(self):
        self.controller.start()
        return self

    def __exit__(self, *exc):
        self.controller.stop()


def mail_page(security, smtp_url, sends, password="not the password"):
    """Stores the account (the password protected as the web application
    does it: AES-256-CBC keyed by SHA-256 of the device identifier; None
    stores none), sends `sends` messages and reports each answer, then
    closes the client."""
    account = {"smtp_server": smtp_url, "smtp_login": LOGIN, "smtp_sender": "me@example.org",
               "smtp_auth": security}
    return page(f"""
      const enc = new TextEncoder();
      async function protect(text, deviceId) {{
        const keyBytes = await crypto.subtle.digest('SHA-256', enc.encode(deviceId));
        const key = await crypto.subtle.importKey('raw', keyBytes, 'AES-CBC', false, ['encrypt']);
        const iv = crypto.getRandomValues(new Uint8Array(16));
        const c = new Uint8Array(await crypto.subtle.encrypt({{name: 'AES-CBC', iv}}, key,
                                                             enc.encode(text)));
        const all = new Uint8Array(16 + c.length);
        all.set(iv); all.set(c, 16);
        return btoa(String.fromCharCode(...all));
      }}
      for (const [k, v] of Object.entries({json.dumps(account)})) await window.setSetting(k, v);
      const info = await window.getHostInfo();
      const password = {json.dumps(password)};
      if (password === null) await window.deleteSetting('smtp_passwd');
      else await window.setSetting('smtp_passwd', await protect(password, info.deviceID));
      for (let i = 1; i <= {sends}; i++) {{
        await report('send' + i, await outcome(() => window.sendMail(
            'to@example.net', 'Message ' + i, 'Text ' + i, '<p>Message ' + i + '</p>', '', '')));
      }}
      await report('alive', await outcome(() => window.getSetting('smtp_auth', '')));
      await window.closeApp();
    """)


class Session:
    def __init__(self, display, tmp_path, **browser_env):
        self.display = display
        self.tmp = tmp_path
        self.browser = BrowserStandIn(tmp_path, build_ca().ca_file, **browser_env)

    def run(self, security, smtp_url, sends, **page_options):
        """Runs the client on mail_page; the answers of the sends in order."""
        routes = app_routes(mail_page(security, smtp_url, sends, **page_options))
        with application_servers({"127.0.0.1": routes}) as servers:
            server = servers["127.0.0.1"]
            log = self.tmp / "log.txt"
            with real_client(self.display, self.tmp, args=["-l", str(log)],
                             env=self.browser.env) as run:
                answers = [server.wait_result(f"send{i}", timeout=90) for i in range(1, sends + 1)]
                assert server.wait_result("alive") == {"ok": security}
                assert run.wait_exit(30) == 0
        self.log = log.read_bytes().decode(errors="replace")
        return answers


@pytest.mark.parametrize("security, provider, scope_end, scheme", [
    ("google", "GOOGLE", "/auth/gmail.send", "smtp"),
    ("ms", "MS", "/SMTP.Send offline_access", "smtps"),
])
def test_sign_in_then_the_refresh_token_serves_the_next_send(display, tmp_path, security,
                                                            provider, scope_end, scheme):
    with SignInService() as service, MailServer(XOAuth2Recorder(service.accepts), scheme) as smtp:
        session = Session(display, tmp_path)
        answers = session.run(security, smtp.url, 2)

    assert answers == [{"ok": ""}, {"ok": ""}]
    # One browser round trip; the second send refreshed silently.
    [run] = session.browser.runs()
    assert "error" not in run, run
    assert run["status"] == 302 and run["location"].startswith(REDIRECT_URI + "?")
    assert b"Thank you! You can now close this window." in base64.b64decode(run["answer"])
    [(visited, params)] = service.visits
    assert visited == provider and params["login_hint"] == LOGIN
    assert params["scope"].endswith(scope_end)
    assert [(p, f["grant_type"]) for p, f in service.grants] == [
        (provider, "authorization_code"), (provider, "refresh_token")]
    assert service.grants[1][1]["refresh_token"] == "1//refresh-2"  # came with the first token

    # Each message went with the token issued for its send, over TLS, and
    # no password mechanism was tried.
    assert smtp.recorder.bearer == service.issued == ["ya29.access-2", "ya29.access-3"]
    assert smtp.recorder.refused == [] and smtp.recorder.logins == []
    assert [(m["rcpt_tos"], m["tls"]) for m in smtp.recorder.messages] == [
        (["to@example.net"], True)] * 2
    assert b"Subject: =?UTF-8?B?" in smtp.recorder.messages[0]["data"]
    assert "Received bearer token: [ya29.access-3]" in session.log


@pytest.mark.parametrize("security, password", [("google", ""), ("ms", None)])
def test_the_stored_password_of_a_sign_in_account_is_not_needed(display, tmp_path, security,
                                                                password):
    """A sign-in account authenticates with its token only: an empty password
    stored in its protected form, or none at all, does not stop the send."""
    with SignInService() as service, MailServer(XOAuth2Recorder(service.accepts), "smtp") as smtp:
        session = Session(display, tmp_path)
        answers = session.run(security, smtp.url, 1, password=password)
    assert answers == [{"ok": ""}]
    assert smtp.recorder.bearer == service.issued == ["ya29.access-2"]
    assert [m["rcpt_tos"] for m in smtp.recorder.messages] == [["to@example.net"]]


def test_failures_answer_the_page_and_the_client_goes_on(display, tmp_path):
    """A refused sign-in and a refused code exchange each fail their send
    with the token's text under CurlError 94 before the SMTP server is
    contacted; the next send signs in again and goes through. A token that
    the mail server refuses fails as a transfer error."""
    refusal = b'{"error":"invalid_grant","error_description":"Code \\"used\\" / expired"}'
    with SignInService() as service, MailServer(XOAuth2Recorder(service.accepts), "smtp") as smtp:
        service.sign_ins = ["deny", "allow", "allow"]
        service.token_answer_override = [(400, refusal)]
        service.revoked = {"ya29.access-4"}  # the one the fourth send refreshes to
        session = Session(display, tmp_path)
        answers = session.run("google", smtp.url, 4)

    token_text = ("ERROR: Failed posting bearer token request (got no token. Instead, got ["
                  + refusal.decode() + "])")
    assert answers == [
        {"ok": f"Error during sending: {STATE_INVALID} (CurlError 94)"},
        {"ok": f"Error during sending: {token_text} (CurlError 94)"},
        {"ok": ""},
        {"ok": f"Error during sending: {curl_error_text(67)} (CurlError 67)"},
    ]
    # The first three sends ran the browser (no refresh token survived the
    # failures); the fourth refreshed.
    assert len(session.browser.runs()) == 3
    assert [f["grant_type"] for _, f in service.grants] == [
        "authorization_code", "authorization_code", "refresh_token"]
    assert len(smtp.recorder.messages) == 1
    assert smtp.recorder.bearer == ["ya29.access-3"]
    assert smtp.recorder.refused == ["ya29.access-4"]
    assert "WARN: Got error access_denied" in session.log
    assert (f"ERROR: Failed to receive a bearer oauth2 token: {STATE_INVALID}" in session.log)


def demo_sign_in_service(key_file):
    """demo/oauth_server.py on the provider port of this build, with the
    build's CA."""
    return DemoProgram("oauth_server.py", "--port", provider_port(),
                       "--ca-dir", build_ca().ca_file.parent, "--key-file", key_file,
                       ready="demo sign-in service on")


def test_the_demo_sign_in_service_round_trip(display, tmp_path):
    """The demo's own service on the provider port: the browser presses
    "Allow" on its sign-in page, and the SMTP server takes the token with the
    demo SMTP server's XOAUTH2 check."""
    key_file = tmp_path / "token.key"
    recorder = Recorder()
    recorder.auth_XOAUTH2 = oauth_tokens.xoauth2_hook(key_file)
    with demo_sign_in_service(key_file), MailServer(recorder, "smtp") as smtp:
        session = Session(display, tmp_path, FAKE_BROWSER_CLICK="Allow")
        answers = session.run("ms", smtp.url, 2)
    assert answers == [{"ok": ""}, {"ok": ""}]
    [run] = session.browser.runs()
    assert run["clicked"] == "Allow" and run["status"] == 303, run
    assert [(m["login"], m["tls"]) for m in smtp.recorder.messages] == [(LOGIN, True)] * 2
