"""A private D-Bus session bus that several programs of one test share, as
the programs of one desktop login do.

    with SessionBus(tmp_path) as bus:
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.address

The bus listens on a socket file inside folder; leaving the block ends the
daemon."""

import shutil
import subprocess
from pathlib import Path

from harness.processes import end_process


class SessionBus:
    def __init__(self, folder):
        self.socket = Path(folder) / "session-bus"
        self.address = f"unix:path={self.socket}"
        self._proc = None

    def __enter__(self):
        daemon = shutil.which("dbus-daemon")
        assert daemon, "dbus-daemon is not installed (scripts/install-deps.sh)"
        self._proc = subprocess.Popen(
            [daemon, "--session", "--nofork", "--nopidfile", f"--address={self.address}",
             "--print-address=1"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
            start_new_session=True)
        # The daemon prints its address once it accepts connections.
        line = self._proc.stdout.readline().decode().strip()
        if not line.startswith(self.address):
            end_process(self._proc)
            raise AssertionError(f"dbus-daemon did not start on {self.address} (said {line!r})")
        return self

    def __exit__(self, *exc):
        end_process(self._proc)


def no_session_bus(folder):
    """A bus address that leads nowhere: the program under test finds no
    session bus (and starts none of its own)."""
    return f"unix:path={Path(folder) / 'no-session-bus'}"
