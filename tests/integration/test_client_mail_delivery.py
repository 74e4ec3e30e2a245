"""sendMail through the real page to real mail servers on loopback, and the
desktop hand-off to the user's mail program.

The servers: a private instance of Debian's Postfix, strict about envelope
addresses, that delivers into Maildirs (harness/postfix.py), and aiosmtpd
recording every command. The sends: recipients typed with "; " and ", "
between them, a sender setting with a display name that is not ASCII, an
empty password stored in its protected form; then the address book. The
hand-off goes to an xdg-email stand-in on PATH (harness/client_run.py)."""

import base64
import json

from harness.client_run import wait_for
from harness.ini import protect, write_preferences
from harness.postfix import PostfixServer
from harness.real_client import application_servers, app_routes, build_ca, page, real_client
from smtp_loopback import SmtpServer

DEVICE_ID = "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"
NAMED_SENDER = "Alice \u00c4rger <alice@example.org>"
MAILBOXES = ["a@example.org", "b@example.net", "c@example.org", "d@example.net",
             "alice@example.org"]

SEND_SCRIPT = """
  const set = (k, v) => window.setSetting(k, v);
  const mail = (to, subject) =>
      outcome(() => window.sendMail(to, subject, 'plain text', '<p>html</p>', '', ''));
  for (const [name, url] of Object.entries(@SERVERS@)) {
    await set('smtp_server', url);
    await set('smtp_auth', 'none');
    await set('smtp_sender', 'plain@example.org');
    await report(name + '-semicolon', await mail('a@example.org; b@example.net', 'semicolon'));
    await report(name + '-comma', await mail('c@example.org, d@example.net', 'comma'));
    await set('smtp_sender', @NAMED@);
    await report(name + '-named', await mail('a@example.org', 'named'));
  }
  await report('book', (await outcome(() => window.getAddresses())).ok);

  // An empty password, stored protected, is sent as such.
  await set('smtp_server', @TLS@);
  await set('smtp_sender', 'plain@example.org');
  await set('smtp_auth', 'tls');
  await set('smtp_login', 'user');
  await set('smtp_passwd', @EMPTY_PASSWORD@);
  await report('empty-password', await mail('e@example.org', 'empty password'));
  await window.closeApp();
"""


def header_bytes(raw):
    return raw.split(b"\r\n\r\n", 1)[0] if b"\r\n\r\n" in raw else raw.split(b"\n\n", 1)[0]


def by_subject(server):
    return {m["data"].split(b"Subject: ", 1)[1].split(b"\r\n", 1)[0]: m
            for m in server.recorder.messages}


def test_recipient_lists_and_a_named_sender_reach_postfix_and_aiosmtpd(display, tmp_path):
    ca = build_ca()
    with PostfixServer(MAILBOXES) as postfix, SmtpServer() as plain, \
            SmtpServer(mode="require-starttls", ca=ca, credentials=("user", "")) as tls:
        servers = {"postfix": f"smtp://127.0.0.1:{postfix.port}",
                   "aiosmtpd": f"smtp://127.0.0.1:{plain.port}"}
        script = (SEND_SCRIPT.replace("@SERVERS@", json.dumps(servers))
                  .replace("@NAMED@", json.dumps(NAMED_SENDER))
                  .replace("@TLS@", json.dumps(f"smtp://127.0.0.1:{tls.port}"))
                  .replace("@EMPTY_PASSWORD@", json.dumps(protect("", DEVICE_ID))))
        with application_servers({"127.0.0.1": app_routes(page(script))}) as apps:
            app = apps["127.0.0.1"]
            run = real_client(display, tmp_path)
            write_preferences(run, [f"deviceId = {DEVICE_ID}"])
            with run:
                for name in servers:
                    for case in ("semicolon", "comma", "named"):
                        assert app.wait_result(f"{name}-{case}", timeout=60) == {"ok": ""}, \
                            (name, case, postfix.log())
                # Semicolons separate addresses for the book as for the envelope.
                assert app.wait_result("book") == (
                    "a@example.org,b@example.net,c@example.org,d@example.net")
                assert app.wait_result("empty-password", timeout=60) == {"ok": ""}
                assert run.wait_exit(30) == 0

            # Postfix delivered each list to both mailboxes; the To line is
            # the normalised list.
            for subject, first, second in (("semicolon", "a@example.org", "b@example.net"),
                                           ("comma", "c@example.org", "d@example.net")):
                for address in (first, second):
                    mine = [m for _, m in postfix.wait_messages(address) if m["Subject"] == subject]
                    assert len(mine) == 1, (address, postfix.log())
                    assert str(mine[0]["To"]) == f"{first}, {second}"
            named = [(raw, m) for raw, m in postfix.wait_messages("a@example.org", 2)
                     if m["Subject"] == "named"]
            assert len(named) == 1
            raw, message = named[0]
            assert str(message["From"]) == NAMED_SENDER
            assert str(message["Reply-To"]) == NAMED_SENDER
            assert message["Return-Path"] == "<alice@example.org>"
            assert message["Message-ID"].endswith("@example.org>")
            assert max(header_bytes(raw)) < 0x80
            assert postfix.delivered() == MAILBOXES[:4]

    # aiosmtpd saw plain envelope addresses.
    sent = by_subject(plain)
    assert sent[b"=?UTF-8?B?c2VtaWNvbG9u?="]["rcpt_tos"] == ["a@example.org", "b@example.net"]
    assert sent[b"=?UTF-8?B?Y29tbWE=?="]["rcpt_tos"] == ["c@example.org", "d@example.net"]
    assert sent[b"=?UTF-8?B?bmFtZWQ=?="]["mail_from"] == "alice@example.org"
    assert plain.recorder.raw_rcpt == ["TO:<a@example.org>", "TO:<b@example.net>",
                                       "TO:<c@example.org>", "TO:<d@example.net>",
                                       "TO:<a@example.org>"]
    [over_tls] = tls.recorder.messages
    assert over_tls["login"] == "user" and over_tls["tls"]


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
