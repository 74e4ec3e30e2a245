"""A private instance of Debian's Postfix on loopback that delivers each of
its mailbox addresses into a Maildir of its own, for tests against a real,
strict mail server.

    with PostfixServer(["someone@example.org"]) as mx:
        ... send to smtp://127.0.0.1:{mx.port} ...
        [message] = mx.wait_messages("someone@example.org")

The instance has its own configuration, queue and data folders and its own
port; the system's Postfix (if one runs) is neither used nor disturbed. It
needs root, as Postfix's master does, and the postfix package
(scripts/install-deps.sh installs it)."""

import email
import email.policy
import os
import pwd
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path

from harness.ports import free_port

POSTFIX = "/usr/sbin/postfix"

# The services a Postfix instance needs to take mail over SMTP and deliver it
# locally, none of them chrooted (a chroot would need copies of system files
# in the queue folder). Taken from Debian's master.cf.
MASTER_CF = """\
{port}     inet  n       -       n       -       -       smtpd
pickup    unix  n       -       n       60      1       pickup
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
proxywrite unix -       -       n       -       1       proxymap
smtp      unix  -       -       n       -       -       smtp
relay     unix  -       -       n       -       -       smtp
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
local     unix  -       n       n       -       -       local
virtual   unix  -       n       n       -       -       virtual
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
"""

MAIN_CF = """\
compatibility_level = 3.6
queue_directory = {root}/queue
data_directory = {root}/data
mail_owner = postfix
setgid_group = postdrop
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = mx.example.test
mydestination =
mynetworks = 127.0.0.0/8
relayhost =
# Envelope addresses as RFC 5321 writes them, nothing more lenient.
strict_rfc821_envelopes = yes
smtpd_banner = $myhostname ESMTP
virtual_mailbox_domains = {domains}
virtual_mailbox_base = {root}/mail
virtual_mailbox_maps = texthash:{root}/conf/mailboxes
virtual_uid_maps = static:{uid}
virtual_gid_maps = static:{gid}
maillog_file_prefixes = {root}
maillog_file = {root}/maillog
"""



class PostfixServer:
    """Context manager: the instance, started on 127.0.0.1:port."""

    def __init__(self, mailboxes):
        if os.geteuid() != 0:
            raise AssertionError("the Postfix tests need root: Postfix's master runs as root")
        if not os.access(POSTFIX, os.X_OK):
            raise AssertionError(f"{POSTFIX} is missing: install the postfix package "
                                 "(scripts/install-deps.sh)")
        self.mailboxes = list(mailboxes)
        self.port = free_port()
        self.root = None

    def _postfix(self, *args, check=True):
        done = subprocess.run([POSTFIX, "-c", str(self.root / "conf"), *args],
                              capture_output=True, text=True, timeout=60)
        if check and done.returncode != 0:
            raise AssertionError(f"postfix {' '.join(args)} failed: {done.stdout}{done.stderr}"
                                 f"{self.log()}")
        return done

    def _configure(self):
        owner = pwd.getpwnam("postfix")
        # Outside pytest's private folders: Postfix's own user has to reach
        # the mailboxes.
        self.root = Path(tempfile.mkdtemp(prefix="velomark-postfix-"))
        self.root.chmod(0o755)
        for name in ("conf", "queue", "data", "mail"):
            (self.root / name).mkdir()
        for name in ("data", "mail"):
            os.chown(self.root / name, owner.pw_uid, owner.pw_gid)
        domains = sorted({address.rsplit("@", 1)[1] for address in self.mailboxes})
        (self.root / "conf" / "main.cf").write_text(MAIN_CF.format(
            root=self.root, domains=", ".join(domains), uid=owner.pw_uid, gid=owner.pw_gid))
        (self.root / "conf" / "master.cf").write_text(MASTER_CF.format(port=self.port))
        # Each address has a Maildir of its own (the trailing slash): domain/local/.
        (self.root / "conf" / "mailboxes").write_text("".join(
            f"{address} {address.rsplit('@', 1)[1]}/{address.rsplit('@', 1)[0]}/\n"
            for address in self.mailboxes))

    def _wait_listening(self, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=2) as s:
                    if s.recv(256).startswith(b"220 "):
                        return
            except OSError:
                pass
            time.sleep(0.1)
        raise AssertionError(f"Postfix did not answer on port {self.port}: {self.log()}")

    def __enter__(self):
        self._configure()
        try:
            # check creates the queue folders with the owners Postfix wants.
            self._postfix("check")
            self._postfix("start")
            self._wait_listening()
        except BaseException:
            self.__exit__()
            raise
        return self

    def _master_pid(self):
        try:
            return int((self.root / "queue" / "pid" / "master.pid").read_text().split()[0])
        except (OSError, ValueError, IndexError):
            return None

    def __exit__(self, *exc):
        if self.root is None:
            return
        pid = self._master_pid()
        self._postfix("stop", check=False)
        # stop returns at once; the master ends its services, then itself.
        deadline = time.monotonic() + 20
        while pid and time.monotonic() < deadline and _alive(pid):
            time.sleep(0.05)
        if pid and _alive(pid):
            os.kill(pid, signal.SIGKILL)
        shutil.rmtree(self.root, ignore_errors=True)
        self.root = None

    def log(self):
        try:
            return (self.root / "maillog").read_text(errors="replace")
        except (OSError, TypeError):
            return ""

    def maildir(self, address):
        local, domain = address.rsplit("@", 1)
        return self.root / "mail" / domain / local / "new"

    def messages(self, address):
        """The messages delivered to address so far, oldest first, each as
        (raw bytes, parsed message)."""
        folder = self.maildir(address)
        if not folder.is_dir():
            return []
        files = sorted(folder.iterdir(), key=lambda p: (p.stat().st_mtime, p.name))
        return [(p.read_bytes(), email.message_from_bytes(p.read_bytes(), policy=email.policy.default))
                for p in files]

    def wait_messages(self, address, count=1, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.messages(address)
            if len(found) >= count:
                return found
            time.sleep(0.1)
        raise AssertionError(f"{count} message(s) for {address} not delivered: "
                             f"{self.delivered()} {self.log()}")

    def delivered(self):
        """Every mailbox address that has received mail."""
        return [address for address in self.mailboxes if self.messages(address)]


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie whose parent has not reaped it yet has ended all the same.
    try:
        return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False
