"""sendMail and getAddresses end to end: the real client, its page on a
loopback application server, and real aiosmtpd servers on loopback.

One client run walks through the cases in order, changing the account
settings from the page between the sends, so the address book carries over
from one case to the next as it does for a user."""

import base64
import email
import email.policy
import json

from harness.ini import protect, write_preferences
from harness.real_client import application_servers, app_routes, build_ca, page, real_client
from smtp_loopback import DroppingServer, SmtpServer, curl_error_text

DEVICE_ID = "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"
PASSWORD = "s3cret"
ATTACHMENT_BYTES = bytes(range(256)) * 3 + b"\r\n/+="
CURLE_BAD_FUNCTION_ARGUMENT = 43
CURLE_SEND_ERROR = 55


def parsed(message):
    return email.message_from_bytes(message["data"], policy=email.policy.default)


def by_subject(server):
    return {str(parsed(m)["Subject"]): m for m in server.recorder.messages}


SCRIPT = """
  const send = (...a) => outcome(() => window.sendMail(...a));
  const mail = (to, subject) => send(to, subject, 'plain text', '<p>html</p>', '', '');
  const set = (k, v) => window.setSetting(k, v);
  const addresses = async () => (await outcome(() => window.getAddresses())).ok;

  await report('five', await send('a@example.org', 's', 't', 'h', ''));
  await report('seven', await send('a@example.org', 's', 't', 'h', '', '', ''));
  await report('empty-subject', await mail('a@example.org', ''));
  await report('numeric-subject', await send('a@example.org', 42, 't', 'h', '', ''));
  await report('null-subject', await send('a@example.org', null, 't', 'h', '', ''));
  await report('empty-recipients', await mail('', 'subject'));

  await report('no-settings', await mail('a@example.org', 'none yet'));
  await set('smtp_server', @PLAIN@);
  await report('no-sender', await mail('a@example.org', 'no sender'));
  await window.deleteSetting('smtp_server');
  await set('smtp_sender', 'Me@Example.com');
  await report('no-server', await mail('a@example.org', 'no server'));
  await window.deleteSetting('smtp_sender');

  // The desktop hand-off answers "" whatever it reports, SMTP settings or not.
  await set('useMacMail', 'true');
  await report('desktop', await send('a@example.org', 'desktop', '', '<p>h</p>', 'dir/desk.txt', 'ZGVzaw=='));
  await window.deleteSetting('useMacMail');
  await report('after-desktop', await addresses());

  // "none" ignores the stored login and password; smtp_reply is absent.
  await set('smtp_server', @PLAIN@);
  await set('smtp_sender', 'Me@Example.com');
  await set('smtp_login', 'someone');
  await set('smtp_passwd', @PROTECTED@);
  await set('smtp_auth', 'none');
  await report('sent-absent-reply', await mail(' Bob@Example.ORG , Carol@Example.org', 'absent reply'));
  // A server typed without a scheme is SMTP, not libcurl's guess of HTTP.
  await set('smtp_server', @BARE@);
  await set('smtp_reply', '');
  await report('sent-empty-reply', await mail('bob@example.org', 'empty reply'));
  await set('smtp_server', @PLAIN@);
  await set('smtp_reply', 'Reply@Example.net');
  await report('sent-own-reply', await send('BOB@example.org', 'own reply', '', '<p>html</p>',
                                            'C:\\\\docs/sub\\\\report "v2".pdf', @ATTACHMENT@));
  await report('book', await addresses());

  await report('refused', await mail('refused@example.org, dora@example.org', 'refused'));
  await report('book-after-refused', await addresses());
  await set('smtp_server', @DROPPING@);
  await report('dropped', await mail('erin@example.org', 'dropped'));
  await report('book-after-dropped', await addresses());

  // STARTTLS with a login: first without a stored password, then with it.
  await set('smtp_server', @TLS@);
  await set('smtp_auth', 'tls');
  await set('smtp_login', 'user');
  await window.deleteSetting('smtp_passwd');
  await report('no-password', await mail('frank@example.org', 'no password'));
  await report('still-running', await window.getSetting('smtp_auth', ''));
  await set('smtp_passwd', @PROTECTED@);
  await report('sent-tls', await mail('Frank@Example.org', 'over tls'));

  // Line breaks: the preferences file keeps one line per value, and a
  // recipient text with a line break is refused before anything is sent.
  await set('smtp_server', @PLAIN@);
  await set('smtp_auth', 'none');
  await set('smtp_sender', 'me@example.com\\r\\nBcc: evil@example.org');
  await report('stored-sender', await window.getSetting('smtp_sender', ''));
  await report('crlf-sender', await mail('gina@example.org', 'crlf sender'));
  await set('smtp_sender', 'Me@Example.com');
  await report('crlf-recipients', await mail('hal@example.org\\r\\nBcc: evil@example.org', 'crlf rcpt'));
  await report('book-final', await addresses());
  await window.closeApp();
"""


def test_send_mail_results_and_address_book(display, tmp_path):
    ca = build_ca()
    # AUTH is offered but not required, so a client that logged in anyway would show.
    plain = SmtpServer(credentials=("someone", PASSWORD), auth_required=False,
                       refuse={"refused@example.org"})
    tls = SmtpServer(mode="require-starttls", ca=ca, credentials=("user", PASSWORD))
    with plain, tls, DroppingServer() as dropping:
        script = (SCRIPT.replace("@PLAIN@", json.dumps(f"smtp://127.0.0.1:{plain.port}"))
                  .replace("@BARE@", json.dumps(f"127.0.0.1:{plain.port}"))
                  .replace("@DROPPING@", json.dumps(f"smtp://127.0.0.1:{dropping.port}"))
                  .replace("@TLS@", json.dumps(f"smtp://127.0.0.1:{tls.port}"))
                  .replace("@PROTECTED@", json.dumps(protect(PASSWORD, DEVICE_ID)))
                  .replace("@ATTACHMENT@", json.dumps(base64.b64encode(ATTACHMENT_BYTES).decode())))
        with application_servers({"127.0.0.1": app_routes(page(script))}) as servers:
            app = servers["127.0.0.1"]
            run = real_client(display, tmp_path, args=["-l", str(tmp_path / "log.txt")])
            write_preferences(run, [f"deviceId = {DEVICE_ID}"])
            with run:
                r = lambda key: app.wait_result(key, timeout=60)  # noqa: E731
                assert r("five") == r("seven") == {"ok": "Error: Wrong parameter count"}
                for key in ("empty-subject", "numeric-subject", "null-subject", "empty-recipients"):
                    assert r(key) == {"ok": "Error: Invalid or missing parameters"}, key
                for key in ("no-settings", "no-sender", "no-server"):
                    assert r(key) == {
                        "ok": "Error: I can't send without SMTP parameters for server and sender"}, key
                assert r("desktop") == {"ok": ""}
                # The attachment waits in the temporary folder until the client ends.
                desk_file = run.tmp / "desk.txt"
                assert desk_file.read_bytes() == b"desk"
                assert r("after-desktop") == ""

                for key in ("sent-absent-reply", "sent-empty-reply", "sent-own-reply"):
                    assert r(key) == {"ok": ""}, key
                assert r("book") == "bob@example.org,carol@example.org"

                refused = r("refused")["ok"]
                assert refused == f"Error during sending: {curl_error_text(CURLE_SEND_ERROR)} (CurlError 55)"
                assert r("book-after-refused") == "bob@example.org,carol@example.org"
                dropped = r("dropped")["ok"]
                assert dropped.startswith("Error during sending: ")
                code = int(dropped.rsplit("(CurlError ", 1)[1].rstrip(")"))
                assert code != 0 and dropped == (
                    f"Error during sending: {curl_error_text(code)} (CurlError {code})")
                assert r("book-after-dropped") == "bob@example.org,carol@example.org"

                no_password = r("no-password")["ok"]
                assert no_password.startswith("Error") and "password is stored" in no_password
                assert r("still-running") == "tls"
                assert r("sent-tls") == {"ok": ""}

                assert r("stored-sender") == "me@example.com Bcc: evil@example.org"
                # The flattened sender is no address; the server refuses it.
                assert r("crlf-sender")["ok"].startswith("Error during sending: ")
                crlf = r("crlf-recipients")["ok"]
                assert crlf == ("Error during sending: Line break in the recipients, nothing was sent "
                                f"(CurlError {CURLE_BAD_FUNCTION_ARGUMENT})")
                assert r("book-final") == "bob@example.org,carol@example.org,frank@example.org"
                assert run.wait_exit(30) == 0

    assert not desk_file.exists()
    sent = by_subject(plain)
    assert sorted(sent) == ["absent reply", "empty reply", "own reply"]
    absent = sent["absent reply"]
    assert absent["login"] is None and plain.recorder.logins == []
    assert absent["mail_from"] == "Me@Example.com"
    assert absent["rcpt_tos"] == ["Bob@Example.ORG", "Carol@Example.org"]
    assert str(parsed(absent)["Reply-To"]) == "Me@Example.com"
    assert str(parsed(sent["empty reply"])["Reply-To"]) == "Me@Example.com"
    own = parsed(sent["own reply"])
    assert str(own["Reply-To"]) == "Reply@Example.net"
    # The attachment travels under the last part of its name only.
    (attachment,) = list(own.iter_attachments())
    assert attachment.get_filename() == 'report "v2".pdf'
    assert attachment.get_content_type() == "application/pdf"
    assert attachment.get_payload(decode=True) == ATTACHMENT_BYTES
    # A sender that had a line break never adds a header line or a recipient.
    for message in plain.recorder.messages:
        assert parsed(message)["Bcc"] is None
        assert "evil@example.org" not in message["rcpt_tos"]
    assert all("evil" not in rcpt for rcpt in plain.recorder.raw_rcpt)

    over_tls = by_subject(tls)
    assert list(over_tls) == ["over tls"]
    # Without a stored password the client did not even connect.
    assert tls.recorder.connections == 1
    assert over_tls["over tls"]["tls"] and over_tls["over tls"]["login"] == "user"

    log = (tmp_path / "log.txt").read_bytes().decode(errors="replace")
    assert "ERROR: SendMail had wrong parameter count!" in log
    assert "ERROR: SendMail, empty recipients or subject!" in log
    assert f"Mail sending error: {curl_error_text(CURLE_SEND_ERROR)} (55)" in log
