"""The real client on a desktop: one client per session bus (a later start
hands its command line to the running client and ends with 0 at once; the
running one comes to the front and opens the message file named there as if
it had been named at its own start), every start on its own without a
session bus, and the window's names and icon for the desktop."""

import base64
import re
import subprocess
import threading

from harness.client_run import client_binary, wait_for
from harness.paths import BUILD_DIR
from harness.real_client import app_routes, application_servers, build_setting, page, real_client
from harness.session_bus import SessionBus, no_session_bus

# Each load of the page reports its query and what requestData hands over,
# then waits for the test's go before it closes the client.
REPORT_AND_WAIT = """
  await report('load', {search: location.search, data: await window.requestData()});
  while ((await (await fetch('/go')).text()) !== 'yes') await new Promise(r => setTimeout(r, 50));
  window.closeApp();
"""


def waiting_page():
    go = threading.Event()
    routes = app_routes(page(REPORT_AND_WAIT),
                        **{"/go": lambda _: ("text/plain", b"yes" if go.is_set() else b"no")})
    return routes, go


def start_again(run, args, cwd):
    """A later start of the client by the same user on the same display and
    session bus as run, from the folder cwd."""
    return subprocess.run([str(client_binary()), *args], env=run.environment(), cwd=cwd,
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=60)


def unfocus(display, window):
    display.focus_nothing()
    assert display.focused_window() != str(window)


def test_a_later_start_brings_the_window_forward_and_hands_over_its_file(display, tmp_path):
    content = b"From: a@example.org\r\nSubject: \xc3\xa4\r\n\r\n\x00\xff"
    folder = tmp_path / "mail"
    folder.mkdir()
    (folder / "message.tsf").write_bytes(content)
    routes, go = waiting_page()
    with SessionBus(tmp_path) as bus, application_servers({"127.0.0.1": routes}) as servers:
        server = servers["127.0.0.1"]
        with real_client(display, tmp_path / "first", bus_address=bus.address) as first:
            assert server.wait_result("load") == {"search": "", "data": ""}
            window = display.wait_for_window("velomark client")

            # Without a file: only the window comes forward.
            unfocus(display, window)
            plain = start_again(first, [], cwd=folder)
            assert (plain.returncode, plain.stdout, plain.stderr) == (0, b"", b"")
            display.wait_for_focus(window)

            # A file named relative to the later start's folder.
            unfocus(display, window)
            with_file = start_again(first, ["message.tsf"], cwd=folder)
            assert (with_file.returncode, with_file.stdout, with_file.stderr) == (0, b"", b"")
            second_load = server.wait_result("load", count=2)
            display.wait_for_focus(window)

            # The usage never goes to the running client.
            usage = start_again(first, ["-h"], cwd=folder)
            assert usage.returncode == 0 and usage.stdout.startswith(b"velomark_client usage:\n")

            assert len(display.windows("velomark client")) == 1
            go.set()
            assert first.wait_exit(30) == 0
    assert second_load == {"search": "?o=1", "data": base64.b64encode(content).decode()}
    # The start without a file loaded nothing.
    assert len(server.results["load"]) == 2
    assert b"CRITICAL" not in (first.folder / "client_output.txt").read_bytes()


def test_a_later_start_naming_a_missing_file_ends_and_the_running_client_shows_the_box(display, tmp_path):
    log = tmp_path / "log.txt"
    routes, go = waiting_page()
    with SessionBus(tmp_path) as bus, application_servers({"127.0.0.1": routes}) as servers:
        server = servers["127.0.0.1"]
        with real_client(display, tmp_path / "first", args=["-l", str(log)], bus_address=bus.address) as first:
            server.wait_result("load")
            # It ends without waiting for the box its file causes.
            later = start_again(first, ["-i", "gone.tsf"], cwd=tmp_path)
            assert later.returncode == 0
            box = display.wait_for_window("^velomark$")
            display.xdotool("windowfocus", "--sync", box)
            display.xdotool("key", "--window", box, "Return")
            display.wait_no_window("^velomark$")
            # The running client goes on with the page it had.
            assert first.proc.poll() is None
            go.set()
            assert first.wait_exit(30) == 0
    assert len(server.results["load"]) == 1
    assert f"File [{tmp_path / 'gone.tsf'}] not found!" in log.read_text(errors="replace")


def test_without_a_session_bus_every_start_is_a_client_of_its_own(display, tmp_path):
    routes, go = waiting_page()
    nowhere = no_session_bus(tmp_path)
    with application_servers({"127.0.0.1": routes}) as servers:
        with real_client(display, tmp_path / "first", bus_address=nowhere) as first, \
             real_client(display, tmp_path / "second", bus_address=nowhere) as second:
            servers["127.0.0.1"].wait_result("load", count=2)
            wait_for(lambda: len(display.windows("velomark client")) == 2, what="two client windows")
            go.set()
            assert (first.wait_exit(30), second.wait_exit(30)) == (0, 0)


def test_the_window_carries_the_application_id_and_the_installed_icon(display, tmp_path):
    app_id = build_setting("VELOMARK_APP_ID")
    assert app_id, "the build names no application id"
    # The desktop files as `cmake --install` puts them, in the user's data folder.
    data = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", str(BUILD_DIR), "--component", "desktop", "--prefix", str(data)],
                   check=True, capture_output=True, timeout=120)
    routes, go = waiting_page()
    with application_servers({"127.0.0.1": routes}) as servers:
        run = real_client(display, tmp_path / "run", env={"XDG_DATA_HOME": str(data / "share")})
        with run:
            servers["127.0.0.1"].wait_result("load")
            window = display.wait_for_window("velomark client")
            exact = f"^{re.escape(app_id)}$"
            # WM_CLASS: both the instance and the class name are the id the
            # desktop entry's StartupWMClass names.
            assert window in display.xdotool("search", "--classname", exact).split()
            assert window in display.xdotool("search", "--class", exact).split()
            wait_for(lambda: display.has_property(window, "_NET_WM_ICON"), what="the window's icon")
            go.set()
            assert run.wait_exit(30) == 0
