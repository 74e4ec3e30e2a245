"""Private per-user folders for a program under test, so that it reads and
writes nothing of the real user's."""

import os
from pathlib import Path

_FOLDERS = {"HOME": "home", "XDG_CONFIG_HOME": "config", "XDG_DATA_HOME": "data",
            "XDG_CACHE_HOME": "cache", "XDG_RUNTIME_DIR": "runtime", "TMPDIR": "tmp"}
ALL_FOLDERS = tuple(_FOLDERS)


def private_folders(root, names=("HOME", "XDG_CONFIG_HOME", "TMPDIR")):
    """Environment entries that point each of names at its own folder below
    root (made here, private to the user)."""
    env = {}
    for name in names:
        path = Path(root) / _FOLDERS[name]
        path.mkdir(mode=0o700, parents=True, exist_ok=True)
        env[name] = str(path)
    return env


def private_env(root, **extra):
    """This process's environment with private HOME, XDG_CONFIG_HOME and
    TMPDIR below root and without the proxy variables, which would otherwise
    reach the program's HTTP client; extra entries are added last."""
    env = {k: v for k, v in os.environ.items()
           if k.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy")}
    env.update(private_folders(root))
    env.update(extra)
    return env
