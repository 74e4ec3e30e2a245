#!/usr/bin/python3
"""Demo SMTP server: accepts every message on 127.0.0.1:2525.

AUTH (LOGIN, PLAIN) is offered and optional; any login and password are
accepted. When the demo CA folder holds a server certificate (made by
scripts/make-test-ca.sh), STARTTLS is offered too, so the security "tls"
works with a client that trusts that CA; nothing requires it.

Each arrived message is printed (envelope, header lines and a summary of
its parts) and stored as demo/run/mail/NNNN.eml.

Usage: demo/smtp_server.py [--port 2525] [--host 127.0.0.1]
                           [--store demo/run/mail] [--ca-dir demo/run/ca]
Needs Debian's python3-aiosmtpd.
"""

import argparse
import email
import email.policy
import logging
import signal
import ssl
import sys
import threading
from pathlib import Path

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

DEMO_DIR = Path(__file__).resolve().parent


def parts_summary(message):
    lines = []
    for part in message.walk():
        if part.is_multipart():
            lines.append(f"  {part.get_content_type()}")
            continue
        payload = part.get_payload(decode=True) or b""
        name = part.get_filename()
        lines.append(f"  {part.get_content_type()} {len(payload)} bytes"
                     + (f" file {name!r}" if name is not None else ""))
    return lines


class Store:
    def __init__(self, folder: Path):
        self.folder = folder
        self.folder.mkdir(parents=True, exist_ok=True)
        self.lock = threading.Lock()

    def next_path(self):
        with self.lock:
            numbers = [int(p.stem) for p in self.folder.glob("*.eml") if p.stem.isdigit()]
            path = self.folder / f"{max(numbers, default=0) + 1:04d}.eml"
            path.touch()
            return path

    async def handle_DATA(self, server, session, envelope):
        data = envelope.original_content or envelope.content
        path = self.next_path()
        path.write_bytes(data)
        message = email.message_from_bytes(data, policy=email.policy.compat32)
        login = (session.auth_data.login.decode(errors="replace")
                 if isinstance(session.auth_data, LoginPassword) else None)
        out = [f"=== message {path.name} from {session.peer[0]}"
               + (f" (login {login!r})" if login else " (no login)")
               + (" over TLS" if server.transport.get_extra_info("ssl_object") else ""),
               f"MAIL FROM: {envelope.mail_from}",
               *(f"RCPT TO: {rcpt}" for rcpt in envelope.rcpt_tos),
               "Headers:",
               *(f"  {key}: {value}" for key, value in message.items()),
               "Parts:",
               *parts_summary(message),
               f"Stored as {path}"]
        print("\n".join(out), flush=True)
        return "250 Message accepted for delivery"


def accept_any(server, session, envelope, mechanism, auth_data):
    return AuthResult(success=True, auth_data=auth_data)


def main():
    # aiosmtpd logs a warning about its own deprecated attribute on every login.
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=2525)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--store", type=Path, default=DEMO_DIR / "run" / "mail")
    parser.add_argument("--ca-dir", type=Path, default=DEMO_DIR / "run" / "ca")
    args = parser.parse_args()

    kwargs = {"authenticator": accept_any, "auth_required": False, "auth_require_tls": False,
              "data_size_limit": 64 * 1024 * 1024}
    cert, key = args.ca_dir / "server.pem", args.ca_dir / "server.key"
    if cert.is_file() and key.is_file():
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(str(cert), str(key))
        kwargs["tls_context"] = context
    store = Store(args.store)
    # "google" and "ms" accounts log in with a token of the demo sign-in service.
    sys.path.insert(0, str(DEMO_DIR))
    from oauth_tokens import xoauth2_hook
    store.auth_XOAUTH2 = xoauth2_hook()
    controller = Controller(store, hostname=args.host, port=args.port, **kwargs)
    controller.start()
    print(f"smtp server on {args.host} port {args.port}; messages in {args.store}"
          + ("; STARTTLS offered" if "tls_context" in kwargs else ""), flush=True)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    stop.wait()
    controller.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
