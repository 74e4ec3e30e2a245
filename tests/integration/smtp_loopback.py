"""A recording SMTP server on loopback (aiosmtpd) and the pieces around it:
the smtp_send driver and libcurl's own error texts."""

import base64
import ctypes
import json
import os
import socket
import ssl
import subprocess
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

from harness.paths import program
from harness.ports import free_port
from harness.sandbox import private_folders

_libcurl = ctypes.CDLL("libcurl.so.4")
_libcurl.curl_easy_strerror.restype = ctypes.c_char_p
_libcurl.curl_easy_strerror.argtypes = [ctypes.c_int]


def curl_error_text(code):
    """libcurl's message for a result number, as the transfer reports it."""
    return _libcurl.curl_easy_strerror(code).decode()


class Recorder:
    """aiosmtpd handler keeping every accepted message and the raw commands."""

    def __init__(self, refuse=()):
        self.refuse = set(refuse)
        self.connections = 0
        self.raw_rcpt = []
        self.messages = []
        self.logins = []
        self.bearer = []
        self._lock = threading.Lock()

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refuse:
            return "550 5.1.1 Mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        with self._lock:
            self.messages.append({
                "mail_from": envelope.mail_from,
                "rcpt_tos": list(envelope.rcpt_tos),
                "data": envelope.original_content or envelope.content,
                "tls": server.transport.get_extra_info("ssl_object") is not None,
                "login": (session.auth_data.login.decode()
                          if isinstance(session.auth_data, LoginPassword) else None),
            })
        return "250 Message accepted"

    async def auth_XOAUTH2(self, server, args):
        # The client response is "user=" login ^A "auth=Bearer " token ^A^A,
        # sent after an empty challenge unless it came with the command.
        if len(args) > 2:
            blob = base64.b64decode(args[2])
        else:
            blob = await server.challenge_auth("")
        self.bearer.append(blob.decode())
        return AuthResult(success=True, auth_data=blob)


class _RecordingSMTP(SMTP):
    # The To line is one unfolded line, several kilobytes long for hundreds of
    # recipients; aiosmtpd's RFC 5321 limit of 1000 octets would refuse it.
    line_length_limit = 1 << 16

    def connection_made(self, transport):
        if self._original_transport is None:
            self.event_handler.connections += 1
        super().connection_made(transport)

    async def smtp_RCPT(self, arg):
        self.event_handler.raw_rcpt.append(arg)
        await super().smtp_RCPT(arg)


class _Controller(Controller):
    def factory(self):
        return _RecordingSMTP(self.handler, **self.SMTP_kwargs)


class SmtpServer:
    """Context manager: a recording server on 127.0.0.1 with its own port.

    mode: "plain", "starttls" (STARTTLS offered), "require-starttls" or
    "implicit" (TLS from the first byte), with the server certificate of ca
    (harness.certs). credentials: (login, password) that AUTH LOGIN/PLAIN
    accept, required unless auth_required is False; mechanisms limits what
    is offered. recorder replaces the plain Recorder (a subclass that
    behaves otherwise)."""

    def __init__(self, mode="plain", ca=None, credentials=None, mechanisms=None, refuse=(),
                 auth_required=True, recorder=None):
        self.recorder = recorder or Recorder(refuse)
        self.port = free_port()
        kwargs = {"hostname": "127.0.0.1", "port": self.port, "data_size_limit": 2**28,
                  "auth_require_tls": False}
        context = None
        if mode != "plain":
            context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
            context.load_cert_chain(str(ca.cert_file), str(ca.key_file))
        if mode in ("starttls", "require-starttls"):
            kwargs["tls_context"] = context
            kwargs["require_starttls"] = mode == "require-starttls"
        if credentials is not None:
            def authenticator(server, session, envelope, mechanism, auth_data):
                ok = isinstance(auth_data, LoginPassword) and (
                    auth_data.login.decode(), auth_data.password.decode()) == credentials
                if ok:
                    self.recorder.logins.append((mechanism, auth_data.login.decode()))
                # handled=False lets the server send the 535 reply itself.
                return AuthResult(success=ok, handled=ok, auth_data=auth_data)
            kwargs["authenticator"] = authenticator
            kwargs["auth_required"] = auth_required
        if mechanisms is not None:
            offered = {"LOGIN", "PLAIN", "XOAUTH2"}
            kwargs["auth_exclude_mechanism"] = sorted(offered - set(mechanisms))
        if mode == "implicit":
            kwargs["ssl_context"] = context
        self.controller = _Controller(self.recorder, **kwargs)

    def __enter__(self):
        self.controller.start()
        # start() makes one probe connection to see that the server is up.
        self.recorder.connections = 0
        return self

    def __exit__(self, *exc):
        self.controller.stop()


class _SocketServer:
    """A listening socket on 127.0.0.1 served by _serve in a thread of its
    own while the context lasts."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(4)
        self.port = self.sock.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)

    def _serve(self):
        raise NotImplementedError

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        # shutdown() wakes the accept() blocked in the serving thread.
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        self.thread.join(5)


class DroppingServer(_SocketServer):
    """Greets, reads one command and closes the connection."""

    def _serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with conn:
                conn.sendall(b"220 127.0.0.1 ESMTP\r\n")
                conn.recv(1024)


class StallingServer(_SocketServer):
    """Speaks SMTP up to a point, then says nothing more and keeps the
    connection open until the client gives up: "greeting" (no answer to
    EHLO), "data" (the message is read, the final dot gets no answer) or
    "reply" (half a line of the answer to MAIL). stalled is set when it
    has gone silent."""

    def __init__(self, stall):
        super().__init__()
        self.stall = stall
        self.stalled = threading.Event()

    def _serve(self):
        try:
            conn, _ = self.sock.accept()
        except OSError:
            return
        with conn, conn.makefile("rb") as lines:
            conn.sendall(b"220 127.0.0.1 ESMTP\r\n")
            in_data = False
            for line in lines:
                if in_data:
                    if line == b".\r\n":
                        break
                    continue
                command = line[:4].upper()
                if command == b"EHLO" and self.stall == "greeting":
                    break
                if command == b"MAIL" and self.stall == "reply":
                    conn.sendall(b"250-2.1.0 Sender")
                    break
                if command == b"DATA":
                    conn.sendall(b"354 Go ahead\r\n")
                    in_data = True
                elif command == b"QUIT":
                    return
                else:
                    conn.sendall(b"250 OK\r\n")
            self.stalled.set()
            # Silent until the client closes the connection.
            while conn.recv(4096):
                pass


def run_send(request, tmp_path, env_extra=None, timeout=60):
    """Runs the smtp_send driver on request; answers its parsed JSON line."""
    driver = program("tests", "smtp_send")
    path = tmp_path / "request.json"
    path.write_text(json.dumps(request))
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), **private_folders(tmp_path),
           "LC_ALL": "C.UTF-8", "TZ": "UTC0"}
    env.update(env_extra or {})
    done = subprocess.run([str(driver), str(path)], env=env, capture_output=True,
                          timeout=timeout, text=True)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)
