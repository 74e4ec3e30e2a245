"""Runs the client (or the test-only window host) under a private display
with its own HOME, XDG_CONFIG_HOME and TMPDIR, a private D-Bus session (or
the session bus a test gives), an xdg-open stand-in on PATH that records
what it was asked to open and an xdg-email stand-in that records the
messages handed to the mail program.

Everything the run starts lives in one process group that stop() ends, so
no process (web and network processes, D-Bus daemon) is left behind."""

import json
import os
import signal
import subprocess
import time
from pathlib import Path

from harness.paths import program
from harness.xvfb import wait_until

XDG_OPEN_STAND_IN = """#!/bin/sh
# Records each call, one argument per line, then an end marker.
for a in "$@"; do printf '%s\\n' "$a" >> "{log}"; done
printf -- '--end--\\n' >> "{log}"
"""

XDG_EMAIL_STAND_IN = """#!/usr/bin/python3
# Records each call as one JSON line: its arguments and the content of the
# file to attach, read while the call runs. Ends with the status written in
# the status file (0 when there is none).
import base64, json, pathlib, sys
args = sys.argv[1:]
attached = None
if "--attach" in args:
    attached = base64.b64encode(pathlib.Path(args[args.index("--attach") + 1]).read_bytes()).decode()
with open("{log}", "a") as log:
    log.write(json.dumps({{"args": args, "attached": attached}}) + "\\n")
status = pathlib.Path("{status}")
sys.exit(int(status.read_text()) if status.exists() else 0)
"""


def client_binary():
    return program("src", "velomark_client")


def window_host_binary():
    return program("tests", "webview_host")


def wait_for(condition, timeout=30, what="condition", interval=0.05):
    return wait_until(condition, timeout, f"timed out waiting for {what}", interval)


class ClientRun:
    """One run of binary (the window host unless named) in folder; url, when
    given, is the application URL the window host decides on (set_app_url).
    bus_address, when given, is the session bus the run uses instead of a
    private one of its own."""

    def __init__(self, display, folder: Path, binary=None, args=(), env=None, url=None,
                 bus_address=None):
        self.display = display
        self.bus_address = bus_address
        self.folder = Path(folder)
        self.binary = Path(binary or window_host_binary())
        self.args = list(args)
        self.extra_env = dict(env or {})
        self.home = self.folder / "home"
        self.config_home = self.home / ".config"
        self.tmp = self.folder / "tmp"
        self.bin = self.folder / "bin"
        self.opened_log = self.folder / "opened.txt"
        self.emailed_log = self.folder / "emailed.txt"
        self.email_status_file = self.folder / "xdg_email_status"
        self.log_file = self.tmp / "client_log.txt"
        self.url_file = self.folder / "app_url.txt"
        self.proc = None
        for d in (self.config_home, self.tmp, self.bin):
            d.mkdir(parents=True, exist_ok=True)
        if url is not None:
            self.set_app_url(url)

    @property
    def ini_file(self):
        return self.config_home / "tessel" / "velomark_client.ini"

    def set_app_url(self, url):
        """The URL the window host decides on (empty: offline page)."""
        self.url_file.write_text(url)

    def environment(self):
        stand_in = self.bin / "xdg-open"
        stand_in.write_text(XDG_OPEN_STAND_IN.format(log=self.opened_log))
        stand_in.chmod(0o755)
        mail_stand_in = self.bin / "xdg-email"
        mail_stand_in.write_text(XDG_EMAIL_STAND_IN.format(log=self.emailed_log,
                                                           status=self.email_status_file))
        mail_stand_in.chmod(0o755)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("DBUS_", "XDG_", "WAYLAND"))}
        env.update({
            "DISPLAY": self.display.display,
            "HOME": str(self.home),
            "XDG_CONFIG_HOME": str(self.config_home),
            "XDG_DATA_HOME": str(self.home / ".local" / "share"),
            "XDG_CACHE_HOME": str(self.home / ".cache"),
            "XDG_RUNTIME_DIR": str(self.tmp),
            "TMPDIR": str(self.tmp) + "/",
            "PATH": f"{self.bin}:{os.environ.get('PATH', '/usr/bin:/bin')}",
            "NO_AT_BRIDGE": "1",
            "LC_ALL": "C.UTF-8",
            "VELOMARK_TEST_URL_FILE": str(self.url_file),
            "VELOMARK_TEST_LOG": str(self.log_file),
        })
        if self.bus_address:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        env.update(self.extra_env)
        return env

    def start(self):
        self.stdout = open(self.folder / "client_output.txt", "wb")
        bus = [] if self.bus_address else ["dbus-run-session", "--"]
        self.proc = subprocess.Popen(
            [*bus, str(self.binary), *self.args],
            env=self.environment(), cwd=self.folder, stdout=self.stdout, stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL, start_new_session=True)
        return self

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def wait_exit(self, timeout=30):
        return self.proc.wait(timeout)

    def stop(self):
        if not self.proc:
            return
        group = self.proc.pid
        for sig, grace in ((signal.SIGTERM, 5), (signal.SIGKILL, 5)):
            try:
                os.killpg(group, sig)
            except ProcessLookupError:
                break
            deadline = time.monotonic() + grace
            while time.monotonic() < deadline and self._group_alive(group):
                time.sleep(0.05)
            if not self._group_alive(group):
                break
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            pass
        self.stdout.close()

    @staticmethod
    def _group_alive(group):
        try:
            os.killpg(group, 0)
        except ProcessLookupError:
            return False
        # Zombies still count for killpg; the group is alive only while a
        # member is not a zombie.
        for pid in ClientRun._group_members(group):
            try:
                state = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0]
            except (OSError, IndexError):
                continue
            if state != "Z":
                return True
        try:
            while os.waitpid(-group, os.WNOHANG)[0]:
                pass
        except ChildProcessError:
            pass
        return False

    @staticmethod
    def _group_members(group):
        members = []
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                fields = (entry / "stat").read_text().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[2]) == group:
                members.append(int(entry.name))
        return members

    def processes_named(self, name):
        """Pids of the run's processes whose command name starts with name."""
        found = []
        for pid in self._group_members(self.proc.pid):
            try:
                comm = Path(f"/proc/{pid}/comm").read_text().strip()
            except OSError:
                continue
            if comm.startswith(name[:15]):
                found.append(pid)
        return found

    def log_text(self):
        try:
            return self.log_file.read_bytes().decode("utf-8", errors="replace")
        except FileNotFoundError:
            return ""

    def wait_log(self, text, timeout=30):
        wait_for(lambda: text in self.log_text(), timeout, f"log line {text!r}")

    def ini_text(self):
        try:
            return self.ini_file.read_bytes().decode("utf-8-sig", errors="replace")
        except FileNotFoundError:
            return ""

    def set_email_status(self, status):
        """The exit status of the xdg-email stand-in's next calls."""
        self.email_status_file.write_text(str(status))

    def emailed(self):
        """The xdg-email calls so far: {"args": [...], "attached": base64 of
        the file to attach as it was during the call, or None}."""
        try:
            return [json.loads(line) for line in self.emailed_log.read_text().splitlines()]
        except FileNotFoundError:
            return []

    def opened(self):
        """The xdg-open calls so far, each as a list of its arguments."""
        return opener_calls(self.opened_log)


def opener_calls(log):
    """The calls that the xdg-open stand-in recorded in log, each as a list
    of its arguments."""
    try:
        lines = log.read_text().splitlines()
    except FileNotFoundError:
        return []
    calls, current = [], []
    for line in lines:
        if line == "--end--":
            calls.append(current)
            current = []
        else:
            current.append(line)
    return calls
