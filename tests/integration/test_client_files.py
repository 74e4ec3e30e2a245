"""attachFiles, openFile and requestData end to end: the real client, its
page on a loopback application server, the GTK open-file dialog and the
message box driven with xdotool, and an xdg-open stand-in on PATH."""

import base64
import os

from harness.client_run import wait_for
from harness.real_client import application_servers, app_routes, page, real_client

LIMIT = 20971520
TITLE = "Pick a file"

SCRIPT = """
  window.attachFileResolve = (name, data) => {
    report('attached', {name, length: data.length,
                        data: data.length < 4096 ? data : null,
                        zeros: data.length >= 4096 && /^A+=*$/.test(data)});
  };
  for (let i = 1; i <= 4; ++i) {
    await window.attachFiles('TITLE');
    await report('dialog-' + i + '-closed', true);
  }
  await report('open', await outcome(() => window.openFile('folder/../sub\\\\report "q".txt', OPEN_DATA)));
  await report('data-1', await window.requestData());
  await report('data-2', await window.requestData());
  while ((await fetch('/go')).status !== 200) await new Promise((r) => setTimeout(r, 100));
  await window.closeApp();
""".replace("TITLE", TITLE)


def gone(display, name, window, timeout):
    try:
        wait_for(lambda: window not in display.windows(name), timeout, "window to close")
        return True
    except AssertionError:
        return False


def answer_window(display, name, *keys_then_text):
    """Finds the window titled name, focuses it and sends the keys (a str
    item is typed as text), again until the window is gone: a freshly
    mapped GTK window may drop the first key events before it is ready."""
    window = display.wait_for_window(name, timeout=60)
    for _ in range(10):
        display.xdotool("windowfocus", "--sync", window, check=False)
        for item in keys_then_text:
            if isinstance(item, tuple):
                display.xdotool("key", *item, check=False)
            else:
                display.xdotool("type", "--delay", "20", item, check=False)
        if gone(display, name, window, 5):
            return
    raise AssertionError(f"window {name!r} did not close")


def choose_in_dialog(display, path):
    """Types path into the open-file dialog's location entry and accepts;
    None cancels the dialog."""
    if path is None:
        answer_window(display, f"^{TITLE}$", ("Escape",))
    else:
        answer_window(display, f"^{TITLE}$", ("ctrl+l",), ("ctrl+a",), str(path), ("Return",))


def test_attach_open_and_request_data(display, tmp_path):
    files = tmp_path / "files"
    # One folder per file, so the location entry's completion has nothing to add.
    quoted = files / "one" / 'say "hi".txt'
    too_big = files / "two" / "big.bin"
    at_limit = files / "three" / "limit.bin"
    for path in (quoted, too_big, at_limit):
        path.parent.mkdir(parents=True)
    quoted.write_bytes(b"\x00\x01quoted \xff content")
    with open(too_big, "wb") as f:
        f.truncate(LIMIT + 1)
    with open(at_limit, "wb") as f:
        f.truncate(LIMIT)
    message_file = tmp_path / "message.tsf"
    message_file.write_bytes(b"abc")
    open_data = base64.b64encode(b"opened \x00 bytes").decode()

    script = SCRIPT.replace("OPEN_DATA", f"'{open_data}'")
    with application_servers({"127.0.0.1": app_routes(page(script))}) as servers:
        app = servers["127.0.0.1"]
        run = real_client(display, tmp_path,
                          args=["-l", str(tmp_path / "log.txt"), str(message_file)])
        with run:
            choose_in_dialog(display, quoted)
            assert app.wait_result("attached")["name"] == 'say "hi".txt'
            app.wait_result("dialog-1-closed", timeout=60)

            choose_in_dialog(display, too_big)
            # The bridge call waits for the message box; close it as a user would.
            answer_window(display, "^velomark$", ("Return",))
            app.wait_result("dialog-2-closed", timeout=60)

            choose_in_dialog(display, at_limit)
            app.wait_result("dialog-3-closed", timeout=120)
            choose_in_dialog(display, None)
            app.wait_result("dialog-4-closed", timeout=60)

            assert app.wait_result("open") == {"undefined": True}
            opened_path = run.tmp / 'report "q".txt'
            wait_for(lambda: run.opened(), what="xdg-open call")
            assert run.opened() == [[str(opened_path)]]
            assert opened_path.read_bytes() == b"opened \x00 bytes"
            assert oct(opened_path.stat().st_mode & 0o777) == "0o600"

            assert app.wait_result("data-1") == "YWJj"
            assert app.wait_result("data-2") == ""

            app.routes["/go"] = ("text/plain", b"go")
            assert run.wait_exit(60) == 0

    delivered = app.results["attached"]
    assert delivered == [
        {"name": 'say "hi".txt', "length": len(base64.b64encode(quoted.read_bytes())),
         "data": base64.b64encode(quoted.read_bytes()).decode(), "zeros": False},
        {"name": "limit.bin", "length": 4 * ((LIMIT + 2) // 3), "data": None, "zeros": True},
    ]
    # The temporary file handed to the opener is removed when the client ends.
    assert not opened_path.exists()
    log = (tmp_path / "log.txt").read_bytes().decode(errors="replace")
    assert "Skippinmg file because it is > 20MB [big.bin]" in log
    assert f"openB64File running [{opened_path}]" in log
    assert "?o=1" in "".join(r["path"] + "?" + r["query"] for r in app.requests)
    assert os.path.exists(message_file)
