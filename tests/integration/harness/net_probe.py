"""Runs the test-only tools/net_probe driver in a private HOME and parses its answer."""

import json
import os
import subprocess
from pathlib import Path

BUILD_DIR = Path(os.environ.get("VELOMARK_BUILD_DIR", Path(__file__).resolve().parents[3] / "build" / "dev"))
NET_PROBE = BUILD_DIR / "tests" / "net_probe"


def private_env(tmp_path, **extra):
    """Environment with its own HOME, XDG_CONFIG_HOME and TMPDIR below tmp_path."""
    env = {k: v for k, v in os.environ.items()
           if k.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy")}
    for name in ("home", "config", "tmp"):
        (tmp_path / name).mkdir(exist_ok=True)
    env.update(HOME=str(tmp_path / "home"), XDG_CONFIG_HOME=str(tmp_path / "config"),
               TMPDIR=str(tmp_path / "tmp"))
    env.update(extra)
    return env


def run_net_probe(args, env, timeout=120):
    assert NET_PROBE.exists(), f"{NET_PROBE} is not built"
    proc = subprocess.run([str(NET_PROBE), *map(str, args)], env=env, capture_output=True,
                          text=True, timeout=timeout)
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout)
