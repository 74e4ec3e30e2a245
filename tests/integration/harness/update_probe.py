"""Runs the test-only tools/update_probe driver and parses its answer."""

import json
import subprocess

from harness.paths import program


def run_update_probe(args, env, timeout=120):
    """env: a private environment (harness.sandbox.private_env, or a
    display's environment for --indicator)."""
    proc = subprocess.run([str(program("tests", "update_probe")), *map(str, args)], env=env,
                          capture_output=True, text=True, timeout=timeout)
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout)
