"""Runs the test-only tools/update_probe driver and parses its answer."""

import json
import os
import subprocess

from harness.client_run import XDG_OPEN_STAND_IN, opener_calls
from harness.paths import program
from harness.sandbox import private_env


def run_update_probe(args, env, timeout=120):
    """env: a private environment (harness.sandbox.private_env, or a
    display's environment for --indicator)."""
    proc = subprocess.run([str(program("tests", "update_probe")), *map(str, args)], env=env,
                          capture_output=True, text=True, timeout=timeout)
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout)


class Installer:
    """A private TMPDIR and an xdg-open stand-in on PATH for one probe run."""

    def __init__(self, root):
        self.env = private_env(root)
        self.tmp = self.env["TMPDIR"].rstrip("/") + "/"
        self.env["TMPDIR"] = self.tmp
        bin_dir = root / "bin"
        bin_dir.mkdir()
        self.calls = root / "opened.txt"
        opener = bin_dir / "xdg-open"
        opener.write_text(XDG_OPEN_STAND_IN.format(log=self.calls))
        opener.chmod(0o755)
        self.env["PATH"] = f"{bin_dir}:{os.environ.get('PATH', '/usr/bin:/bin')}"

    def opened(self):
        """The xdg-open calls so far, each as a list of its arguments."""
        return opener_calls(self.calls)
