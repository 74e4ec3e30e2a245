"""sendMail through the real page to real mail servers on loopback, and the
desktop hand-off to the user's mail program.

The servers: a private instance of Debian's Postfix, strict about envelope
addresses, that delivers into Maildirs (harness/postfix.py), and aiosmtpd
recording every command. The sends: recipients typed with "; " and ", "
between them, a sender setting with a display name that is not ASCII, an
empty password stored in its protected form; then the address book. The
hand-off goes to an xdg-email stand-in on PATH (harness/client_run.py)."""

import base64
import email
import email.policy
import json

from harness.client_run import wait_for
from harness.ini import protect, write_preferences
from harness.postfix import PostfixServer
from harness.real_client import application_servers, app_routes, build_ca, page, real_client
from smtp_loopback import SmtpServer

DEVICE_ID = "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"
NAMED_SENDER = "Alice \u00c4rger <alice@example.org>"

PAGE_HELPERS = """
  const set = (k, v) => window.setSetting(k, v);
  const mail = (to, subject) =>
      outcome(() => window.sendMail(to, subject, 'plain text', '<p>html</p>', '', ''));
"""


def run_page(display, tmp_path, script, keys):
    """Runs the client on a page made of script (with the values of
    @NAME@ placeholders given as keyword arguments to replace) and answers
    the results the page reports under keys; the page closes the client."""
    with application_servers({"127.0.0.1": app_routes(page(PAGE_HELPERS + script))}) as apps:
        app = apps["127.0.0.1"]
        run = real_client(display, tmp_path)
        write_preferences(run, [f"deviceId = {DEVICE_ID}"])
        with run:
            results = {key: app.wait_result(key, timeout=60) for key in keys}
            assert run.wait_exit(30) == 0
    return results


def fill(script, **values):
    for name, value in values.items():
        script = script.replace(f"@{name}@", json.dumps(value))
    return script


def by_subject(server):
    return {str(parsed(m)["Subject"]): m for m in server.recorder.messages}


def parsed(message):
    return email.message_from_bytes(message["data"], policy=email.policy.default)


def header_bytes(raw):
    return raw.replace(b"\r\n", b"\n").split(b"\n\n", 1)[0]


RECIPIENTS_SCRIPT = """
  await set('smtp_sender', 'me@example.org');
  for (const [name, url] of Object.entries(@SERVERS@)) {
    await set('smtp_server', url);
    await report(name + '-semicolon', await mail('a@example.org; b@example.net', 'semicolon'));
    await report(name + '-comma', await mail('c@example.org, d@example.net', 'comma'));
  }
  await report('book', (await outcome(() => window.getAddresses())).ok);
  await window.closeApp();
"""


def test_recipients_separated_by_semicolons_or_commas(display, tmp_path):
    """Each address of "a; b" and "c, d" gets the message, the envelope holds
    the addresses without blanks, the To line the normalised list, and the
    address book each address."""
    mailboxes = ["a@example.org", "b@example.net", "c@example.org", "d@example.net"]
    with PostfixServer(mailboxes) as postfix, SmtpServer() as plain:
        servers = {"postfix": f"smtp://127.0.0.1:{postfix.port}",
                   "aiosmtpd": f"smtp://127.0.0.1:{plain.port}"}
        results = run_page(display, tmp_path, fill(RECIPIENTS_SCRIPT, SERVERS=servers),
                           [f"{name}-{case}" for name in servers for case in ("semicolon", "comma")]
                           + ["book"])
        for subject, first, second in (("semicolon", "a@example.org", "b@example.net"),
                                       ("comma", "c@example.org", "d@example.net")):
            for name in servers:
                assert results[f"{name}-{subject}"] == {"ok": ""}, (name, postfix.log())
            for address in (first, second):
                [(_, message)] = postfix.wait_messages(address)
                assert message["Subject"] == subject
                assert str(message["To"]) == f"{first}, {second}"
        assert postfix.delivered() == mailboxes

    # A semicolon separates addresses for the book as it does for the envelope.
    assert results["book"] == "a@example.org,b@example.net,c@example.org,d@example.net"
    assert plain.recorder.raw_rcpt == ["TO:<a@example.org>", "TO:<b@example.net>",
                                       "TO:<c@example.org>", "TO:<d@example.net>"]
    sent = by_subject(plain)
    assert sent["semicolon"]["rcpt_tos"] == ["a@example.org", "b@example.net"]
    assert sent["comma"]["rcpt_tos"] == ["c@example.org", "d@example.net"]


NAMED_SCRIPT = """
  await set('smtp_sender', @NAMED@);
  for (const [name, url] of Object.entries(@SERVERS@)) {
    await set('smtp_server', url);
    await report(name, await mail('a@example.org', 'named'));
  }
  await window.closeApp();
"""


def test_a_sender_with_a_name_that_is_not_ascii(display, tmp_path):
    """The envelope sender is the address alone; From and Reply-To read back
    as the setting's text from 7-bit header lines."""
    with PostfixServer(["a@example.org"]) as postfix, SmtpServer() as plain:
        servers = {"postfix": f"smtp://127.0.0.1:{postfix.port}",
                   "aiosmtpd": f"smtp://127.0.0.1:{plain.port}"}
        results = run_page(display, tmp_path, fill(NAMED_SCRIPT, NAMED=NAMED_SENDER, SERVERS=servers),
                           list(servers))
        assert results == {name: {"ok": ""} for name in servers}, postfix.log()
        [(raw, message)] = postfix.wait_messages("a@example.org")

    assert str(message["From"]) == NAMED_SENDER
    assert str(message["Reply-To"]) == NAMED_SENDER
    assert message["Return-Path"] == "<alice@example.org>"
    assert message["Message-ID"].endswith("@example.org>")
    assert max(header_bytes(raw)) < 0x80
    [got] = plain.recorder.messages
    assert got["mail_from"] == "alice@example.org"
    assert str(parsed(got)["From"]) == NAMED_SENDER


EMPTY_PASSWORD_SCRIPT = """
  for (const [k, v] of Object.entries({smtp_server: @TLS@, smtp_sender: 'me@example.org',
                                       smtp_auth: 'tls', smtp_login: 'user',
                                       smtp_passwd: @PROTECTED@})) {
    await set(k, v);
  }
  await report('sent', await mail('e@example.org', 'empty password'));
  await window.closeApp();
"""


def test_an_empty_password_stored_protected_is_sent(display, tmp_path):
    with SmtpServer(mode="require-starttls", ca=build_ca(), credentials=("user", "")) as tls:
        script = fill(EMPTY_PASSWORD_SCRIPT, TLS=f"smtp://127.0.0.1:{tls.port}",
                      PROTECTED=protect("", DEVICE_ID))
        results = run_page(display, tmp_path, script, ["sent"])
    assert results == {"sent": {"ok": ""}}
    [got] = tls.recorder.messages
    assert got["login"] == "user" and got["tls"]


HAND_OFF_SCRIPT = """
  await window.setSetting('useMacMail', 'true');
  const handOff = () => outcome(() => window.sendMail(
      'a@example.org; b@example.net', 'Report', 'ignored', '<p>Hello there</p>',
      'sub\\\\report.pdf', @ATTACHMENT@));
  await report('opened', await handOff());
  while ((await fetch('/go')).status !== 200) await new Promise((r) => setTimeout(r, 100));
  await report('failed', await handOff());
  await window.closeApp();
"""


def test_the_desktop_hand_off_opens_the_mail_program_through_xdg_email(display, tmp_path):
    attachment = b"%PDF-1.4\x00\xff binary"
    script = HAND_OFF_SCRIPT.replace("@ATTACHMENT@",
                                     json.dumps(base64.b64encode(attachment).decode()))
    with application_servers({"127.0.0.1": app_routes(page(script))}) as apps:
        app = apps["127.0.0.1"]
        run = real_client(display, tmp_path, args=["-l", str(tmp_path / "log.txt")])
        with run:
            assert app.wait_result("opened", timeout=60) == {"ok": ""}
            path = run.tmp / "report.pdf"
            [call] = run.emailed()
            assert call["args"] == ["--utf8", "--subject", "Report", "--body", "Hello there\r\n",
                                    "--attach", str(path),
                                    "--to", "a@example.org", "--to", "b@example.net"]
            assert base64.b64decode(call["attached"]) == attachment
            assert oct(path.stat().st_mode & 0o777) == "0o600"

            run.set_email_status(4)
            app.routes["/go"] = ("text/plain", b"go")
            assert app.wait_result("failed", timeout=60) == {
                "ok": "Error: The mail program could not be opened "
                      "(xdg-email ended with exit status 4)"}
            wait_for(lambda: len(run.emailed()) == 2, what="second xdg-email call")
            assert run.wait_exit(30) == 0

    # The attachment files of the run are gone with it.
    second = run.emailed()[1]["args"]
    assert not path.exists()
    assert not (run.tmp / second[second.index("--attach") + 1]).exists()
    log = (tmp_path / "log.txt").read_bytes().decode(errors="replace")
    assert ("ERROR: Failed to open the mail program: xdg-email ended with exit status 4"
            in log)
