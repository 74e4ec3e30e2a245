"""Two windows of the client on one preferences file: pages that write
settings at the same time keep every one of them."""

import threading

from harness.app_server import AppServer, page
from harness.client_run import ClientRun
from harness.ini import ini_value

KEYS = 300


def writer(prefix):
    return f"""
      await report('ready-{prefix}', true);
      while ((await (await fetch('/go')).text()) !== 'yes') await new Promise(r => setTimeout(r, 20));
      for (let i = 0; i < {KEYS}; i++) await window.setSetting('{prefix}' + i, 'v' + i);
      await report('done-{prefix}', true);
    """


def test_two_windows_writing_at_once_lose_no_setting(display, tmp_path):
    go = threading.Event()
    routes = {"/a.html": page(writer("a")), "/b.html": page(writer("b")),
              "/go": lambda _: ("text/plain", b"yes" if go.is_set() else b"no")}
    with AppServer(routes=routes) as server:
        first = ClientRun(display, tmp_path / "a", url=server.url("/a.html"))
        # The second window uses the first one's preferences folder.
        second = ClientRun(display, tmp_path / "b", url=server.url("/b.html"),
                           env={"XDG_CONFIG_HOME": str(first.config_home)})
        with first, second:
            server.wait_result("ready-a", timeout=60)
            server.wait_result("ready-b", timeout=60)
            go.set()
            server.wait_result("done-a", timeout=120)
            server.wait_result("done-b", timeout=120)
    text = first.ini_text()
    missing = [f"{p}{i}" for p in "ab" for i in range(KEYS) if ini_value(text, "WebApp", f"{p}{i}") != f"v{i}"]
    assert missing == []
