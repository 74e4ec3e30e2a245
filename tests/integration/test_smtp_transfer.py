"""The SMTP transfer against a real aiosmtpd server on loopback, driven
through tests/tools/smtp_send: what went over the wire, TLS and AUTH modes,
and the error results."""

import base64
import email
import email.policy
import re
from concurrent.futures import ThreadPoolExecutor

import pytest

from smtp_loopback import DroppingServer, SmtpServer, StallingServer, curl_error_text, run_send

CURLE_UNSUPPORTED_PROTOCOL = 1
CURLE_BAD_FUNCTION_ARGUMENT = 43
CURLE_OPERATION_TIMEDOUT = 28
CURLE_SEND_ERROR = 55
CURLE_PEER_FAILED_VERIFICATION = 60
CURLE_USE_SSL_FAILED = 64
CURLE_LOGIN_DENIED = 67
CURLE_AUTH_ERROR = 94

FALLBACK_TEXT = "Please view this message in a modern HTML enabled email program."
UUID = r"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"


def request(port, scheme="smtp", **fields):
    base = {
        "serverUrl": f"{scheme}://127.0.0.1:{port}",
        "security": "none",
        "sender": "sender@example.com",
        "replyTo": "reply@example.net",
        "recipients": "to@example.org",
        "subject": "Hello",
        "htmlBody": "<p>Hello</p>",
        "textBody": "Hello",
    }
    base.update(fields)
    return base


def header_lines(data):
    """The six header lines of the message, from "Date:" on (libcurl puts its
    own Content-Type and Mime-Version lines in front of them)."""
    head = data.split(b"\r\n\r\n", 1)[0].decode().split("\r\n")
    first = next(i for i, line in enumerate(head) if line.startswith("Date: "))
    return head[first:]


def only_message(server):
    assert len(server.recorder.messages) == 1
    return server.recorder.messages[0]


def test_message_headers_body_and_attachments(tmp_path):
    payload = bytes(range(256)) * 40 + b"\r\n\x00tail"
    html = "<html><body><p>Gr\u00fc\u00dfe, <b>caf\u00e9</b></p></body></html>"
    with SmtpServer() as server:
        answer = run_send(request(
            server.port,
            recipients=" first@example.org;;second@example.org ,",
            subject="Gr\u00fc\u00dfe \u2014 plain words",
            htmlBody=html,
            textBody="Plain version",
            attachments=[
                {"fileName": "C:\\Users\\me\\docs/report.pdf",
                 "base64": base64.b64encode(payload).decode()},
                {"fileName": "empty.txt", "base64": ""},
            ]), tmp_path, {"TZ": "<-0330>3:30"})
    assert answer == {"ok": True, "resultCode": 0, "resultText": curl_error_text(0),
                      "tokenProvider": ""}
    got = only_message(server)
    assert got["mail_from"] == "sender@example.com"
    assert got["rcpt_tos"] == ["first@example.org", "second@example.org"]
    assert not got["tls"]

    lines = header_lines(got["data"])
    assert [line.split(":", 1)[0] for line in lines] == \
        ["Date", "To", "From", "Reply-To", "Message-ID", "Subject"]
    assert re.fullmatch(r"Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), \d\d "
                        r"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} "
                        r"\d\d:\d\d:\d\d -0330", lines[0])
    assert lines[1] == "To: first@example.org,second@example.org"
    assert lines[2] == "From: sender@example.com"
    assert lines[3] == "Reply-To: reply@example.net"
    assert re.fullmatch(rf"Message-ID: <{UUID}@example\.com>", lines[4])
    subject = "Gr\u00fc\u00dfe \u2014 plain words".encode()
    assert lines[5] == "Subject: =?UTF-8?B?" + base64.b64encode(subject).decode() + "?="

    msg = email.message_from_bytes(got["data"], policy=email.policy.default)
    assert str(msg["Subject"]) == "Gr\u00fc\u00dfe \u2014 plain words"
    assert msg.get_content_type() == "multipart/mixed"
    parts = msg.get_payload()
    assert [p.get_content_type() for p in parts] == \
        ["multipart/alternative", "application/pdf", "text/plain"]
    html_part, text_part = parts[0].get_payload()
    assert html_part.get_content_type() == "text/html"
    assert html_part.get_payload(decode=True) == html.encode()
    assert text_part.get_content_type() == "text/plain"
    assert "Content-Type" not in text_part
    assert text_part.get_payload(decode=True) == b"Plain version\r\n"

    pdf, empty = parts[1], parts[2]
    for part in (pdf, empty):
        assert part["Content-Transfer-Encoding"] == "base64"
    assert pdf.get_filename() == "report.pdf"
    assert pdf.get_payload(decode=True) == payload
    assert empty.get_filename() == "empty.txt"
    assert empty.get_payload(decode=True) == b""


def test_fallback_text_empty_subject_and_sender_without_domain(tmp_path):
    with SmtpServer() as server:
        answer = run_send(request(server.port, sender="postmaster", textBody="", subject=""),
                          tmp_path)
    assert answer["ok"], answer
    got = only_message(server)
    lines = header_lines(got["data"])
    assert re.fullmatch(rf"Message-ID: <{UUID}@>", lines[4])
    assert lines[5] == "Subject: =?UTF-8?B??="
    assert re.search(r"\+0000$", lines[0])
    msg = email.message_from_bytes(got["data"], policy=email.policy.default)
    _, text_part = msg.get_payload()[0].get_payload()
    assert text_part.get_payload(decode=True) == (FALLBACK_TEXT + "\r\n").encode()


def test_envelope_drops_blanks_and_stops_at_255_fields(tmp_path):
    addresses = [f"r{i}@example.org" for i in range(3, 257)]
    recipients = "r1@example.org, r2@example.org," + ",".join(addresses)
    with SmtpServer() as server:
        answer = run_send(request(server.port, recipients=recipients), tmp_path)
    assert answer["ok"], answer
    got = only_message(server)
    # The blank after the comma stays in the To line, not in the RCPT command.
    assert server.recorder.raw_rcpt[:2] == ["TO:<r1@example.org>", "TO:<r2@example.org>"]
    assert len(server.recorder.raw_rcpt) == 255
    assert "r256@example.org" not in got["rcpt_tos"]
    assert got["rcpt_tos"][-1] == "r255@example.org"
    # The To line is folded after commas: no line over 998 characters, and
    # unfolding gives the list back (a fold brings its own blank); a reader
    # sees all 256 addresses.
    head = got["data"].split(b"\r\n\r\n", 1)[0].decode()
    to_lines = re.search(r"^To: .*?(?=\r\n\S)", head, re.S | re.M).group(0).split("\r\n")
    assert len(to_lines) > 1 and all(len(line) <= 998 for line in to_lines)
    assert "".join(to_lines).replace(" ", "") == ("To: " + recipients).replace(" ", "")
    msg = email.message_from_bytes(got["data"], policy=email.policy.default)
    assert [a.addr_spec for a in msg["To"].addresses][-1] == "r256@example.org"
    assert len(msg["To"].addresses) == 256


@pytest.mark.parametrize("mode, scheme, security, env, expect_code, expect_tls", [
    # "tls" requires STARTTLS on an smtp URL.
    ("require-starttls", "smtp", "tls", {}, 0, True),
    # Implicit TLS from the URL scheme, even with security "none".
    ("implicit", "smtps", "none", {}, 0, True),
    ("implicit", "smtps", "ssl", {}, 0, True),
    # Any other security value only tries TLS on an smtp URL.
    ("starttls", "smtp", "google", {}, 0, True),
    ("plain", "smtp", "ms", {}, 0, False),
    # "none" never asks for STARTTLS, even when it is offered.
    ("starttls", "smtp", "none", {}, 0, False),
    # Required TLS that the server does not offer is an error.
    ("plain", "smtp", "tls", {}, CURLE_USE_SSL_FAILED, None),
])
def test_tls_modes(tmp_path, ca, mode, scheme, security, env, expect_code, expect_tls):
    with SmtpServer(mode, ca) as server:
        answer = run_send(request(server.port, scheme, security=security,
                                  extraCaFile=str(ca.ca_file)), tmp_path, env)
    assert answer["resultCode"] == expect_code, answer
    assert answer["resultText"] == curl_error_text(expect_code)
    if expect_code == 0:
        assert only_message(server)["tls"] is expect_tls
    else:
        assert server.recorder.messages == []


@pytest.mark.parametrize("extra_ca, ignore_ssl, expect_code", [
    (True, None, 0),
    (False, None, CURLE_PEER_FAILED_VERIFICATION),
    (False, "0", CURLE_PEER_FAILED_VERIFICATION),
    (False, "no", CURLE_PEER_FAILED_VERIFICATION),
    (False, "1", 0),
    (False, " $1", 0),
])
def test_certificate_checks(tmp_path, ca, extra_ca, ignore_ssl, expect_code):
    env = {} if ignore_ssl is None else {"TS_IGNORESSL": ignore_ssl}
    with SmtpServer("implicit", ca) as server:
        answer = run_send(request(server.port, "smtps", security="tls",
                                  extraCaFile=str(ca.ca_file) if extra_ca else ""),
                          tmp_path, env)
    assert answer["resultCode"] == expect_code, answer


@pytest.mark.parametrize("mechanism", ["LOGIN", "PLAIN"])
@pytest.mark.parametrize("password, expect_code", [
    ("s3cret p\u00e4ss", 0),
    ("wrong", CURLE_LOGIN_DENIED),
])
def test_auth_with_login_and_password(tmp_path, ca, mechanism, password, expect_code):
    credentials = ("user@example.com", "s3cret p\u00e4ss")
    with SmtpServer("require-starttls", ca, credentials=credentials,
                    mechanisms=[mechanism]) as server:
        answer = run_send(request(server.port, security="tls", login=credentials[0],
                                  password=password, extraCaFile=str(ca.ca_file)), tmp_path)
    assert answer["resultCode"] == expect_code, answer
    if expect_code == 0:
        assert server.recorder.logins == [(mechanism, credentials[0])]
        assert only_message(server)["login"] == credentials[0]
    else:
        assert server.recorder.messages == []


def test_login_is_used_whatever_the_security(tmp_path):
    # The caller leaves the login empty for "none"; a login given here is
    # always offered, without TLS when the security says "none".
    credentials = ("user", "pw")
    with SmtpServer(credentials=credentials) as server:
        answer = run_send(request(server.port, login="user", password="pw"), tmp_path)
    assert answer["ok"], answer
    assert [login for _, login in server.recorder.logins] == ["user"]
    assert only_message(server)["tls"] is False


def test_bearer_token_goes_out_as_xoauth2(tmp_path, ca):
    with SmtpServer("starttls", ca, credentials=("x", "y"), mechanisms=["XOAUTH2"]) as server:
        answer = run_send(request(server.port, security="ms", login="me@example.com",
                                  password="", bearerToken="tok-123",
                                  extraCaFile=str(ca.ca_file)), tmp_path)
    assert answer["ok"], answer
    assert answer["tokenProvider"] == "MS"
    assert server.recorder.bearer == ["user=me@example.com\x01auth=Bearer tok-123\x01\x01"]


@pytest.mark.parametrize("security, provider", [("google", "GOOGLE"), ("ms", "MS")])
def test_token_error_ends_before_connecting(tmp_path, security, provider):
    with SmtpServer() as server:
        answer = run_send(request(server.port, security=security,
                                  bearerTokenError="sign-in cancelled"), tmp_path)
    assert answer == {"ok": False, "resultCode": CURLE_AUTH_ERROR,
                      "resultText": "ERROR: sign-in cancelled", "tokenProvider": provider}
    assert server.recorder.connections == 0


def test_refused_recipient_gives_libcurl_error(tmp_path):
    with SmtpServer(refuse={"nobody@example.org"}) as server:
        answer = run_send(request(server.port, recipients="nobody@example.org"), tmp_path)
    assert answer == {"ok": False, "resultCode": CURLE_SEND_ERROR,
                      "resultText": curl_error_text(CURLE_SEND_ERROR), "tokenProvider": ""}
    assert server.recorder.messages == []


def test_a_server_that_stops_answering_ends_the_transfer(tmp_path):
    """Takes about a minute: a transfer ends when no data has moved for 60
    seconds. The three servers stall at once, each in its own driver run:
    during the connection set-up (no answer to EHLO, ended by the 8-second
    connect limit), after the message data (no answer to the final dot) and
    in the middle of a reply."""
    with StallingServer("greeting") as greeting, StallingServer("data") as data, \
            StallingServer("reply") as reply:
        servers = {"greeting": greeting, "data": data, "reply": reply}
        for name in servers:
            (tmp_path / name).mkdir()
        with ThreadPoolExecutor(len(servers)) as pool:
            runs = {name: pool.submit(run_send, request(server.port), tmp_path / name,
                                      None, 150)
                    for name, server in servers.items()}
            answers = {name: run.result() for name, run in runs.items()}
        for name, server in servers.items():
            assert server.stalled.is_set(), name
    timed_out = {"ok": False, "resultCode": CURLE_OPERATION_TIMEDOUT,
                 "resultText": curl_error_text(CURLE_OPERATION_TIMEDOUT), "tokenProvider": ""}
    assert answers == {name: timed_out for name in servers}


def test_dropped_connection_gives_libcurl_error(tmp_path):
    with DroppingServer() as server:
        answer = run_send(request(server.port), tmp_path)
    assert not answer["ok"]
    assert answer["resultCode"] != 0
    assert answer["resultText"] == curl_error_text(answer["resultCode"])


@pytest.mark.parametrize("field, value, named", [
    ("sender", "a@example.com\r\nRCPT TO:<victim@example.org>", "sender"),
    ("attachments", [{"fileName": "a.pdf\r\nContent-Type: text/html", "base64": "QQ=="}],
     "attachment file name"),
    ("sender", "a@example.com\n", "sender"),
    ("replyTo", "r@example.com\r\nBcc: victim@example.org", "reply address"),
    ("recipients", "to@example.org,x@example.org\rRCPT TO:<victim@example.org>", "recipients"),
    ("recipients", "to@example.org\n", "recipients"),
])
def test_line_break_in_an_address_sends_nothing(tmp_path, field, value, named):
    with SmtpServer() as server:
        answer = run_send(request(server.port, **{field: value},
                                  logFile=str(tmp_path / "log.txt")), tmp_path)
    assert answer["ok"] is False
    assert answer["resultCode"] == CURLE_BAD_FUNCTION_ARGUMENT
    assert named in answer["resultText"]
    assert server.recorder.connections == 0
    assert ("ERROR: " + answer["resultText"]) in (tmp_path / "log.txt").read_text()


def test_debug_log_holds_the_dialogue(tmp_path):
    log = tmp_path / "log.txt"
    with SmtpServer() as server:
        answer = run_send(request(server.port, debug=True, logFile=str(log)), tmp_path)
    assert answer["ok"], answer
    text = log.read_bytes().decode()
    # One entry per piece of debug information, line feeds and carriage
    # returns at its ends removed; the message text keeps its inner breaks.
    assert text.startswith("CURL: ")
    assert re.search(r"\r\nCURL: MAIL FROM:<sender@example\.com>( SIZE=\d+)?\r\n", text)
    for line in ("CURL: RCPT TO:<to@example.org>",
                 "CURL: 250 Message accepted", "CURL: DATA"):
        assert "\r\n" + line + "\r\n" in text
    assert "\r\nSubject: =?UTF-8?B?SGVsbG8=?=\r\n" in text  # so does the message


def test_no_debug_lines_without_debug(tmp_path):
    log = tmp_path / "log.txt"
    with SmtpServer() as server:
        answer = run_send(request(server.port, logFile=str(log)), tmp_path)
    assert answer["ok"], answer
    assert log.read_text() == ""


def test_server_without_scheme_is_smtp(tmp_path):
    with SmtpServer() as server:
        answer = run_send(request(server.port, serverUrl=f"127.0.0.1:{server.port}"), tmp_path)
    assert answer["ok"], answer
    assert only_message(server)["rcpt_tos"] == ["to@example.org"]


def test_server_url_of_another_protocol_sends_nothing(tmp_path):
    # An HTTP server that would answer 200 to the message posted to it: the
    # mail must not count as sent, and no byte of it may leave.
    import http.server
    import threading

    posted = []

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            posted.append(self.rfile.read(int(self.headers.get("Content-Length") or 0)))
            self.send_response(200)
            self.send_header("Content-Length", "0")
            self.end_headers()

        def log_message(self, *args):
            pass

    httpd = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    thread = threading.Thread(target=httpd.serve_forever, daemon=True)
    thread.start()
    try:
        port = httpd.server_address[1]
        for url in (f"http://127.0.0.1:{port}/", f"file://{tmp_path}/mail.eml"):
            answer = run_send(request(port, serverUrl=url), tmp_path)
            assert answer["ok"] is False and answer["resultCode"] == CURLE_UNSUPPORTED_PROTOCOL, url
            assert answer["resultText"] == curl_error_text(CURLE_UNSUPPORTED_PROTOCOL)
    finally:
        httpd.shutdown()
        httpd.server_close()
    assert posted == []
    assert not (tmp_path / "mail.eml").exists()
