"""The update step at the end of a real run: the client ends through
closeApp, checks the test build's package server (https://127.0.0.1:18445,
the build's CA), asks its Yes/No question, which xdotool answers, and on Yes
downloads the package under its indicator, checks it against the build's
update authority and hands it to the xdg-open stand-in."""

import json
import threading
import time

import pytest

from harness.https_server import HttpsServer, Response
from harness.ini import ini_value
from harness.real_client import (app_routes, application_servers, build_ca, build_update_authority, page,
                                 package_server_port, real_client)
from harness.update_authority import make_package, sign
from harness.xvfb import wait_until

PACKAGE = "velomark_5.1.0-1_all.deb"
QUESTION = "^velomark$"


def local_seconds_now():
    return int(time.time()) + time.localtime().tm_gmtoff


def closing_page():
    return page("await report('loaded', true); window.closeApp();")


@pytest.fixture
def offered(tmp_path):
    """The package server with an update.json that offers a signed package,
    whose transfer is held back until `released` is set."""
    package = make_package(tmp_path / "package")
    port = package_server_port()
    released = threading.Event()
    url = f"https://127.0.0.1:{port}/pool/{PACKAGE}"
    manifest = {"velomark": {"linux deb": {"64": [
        {"version": "5.1.0-1", "requires": "", "url": url}]}}}
    routes = {
        "/update.json": Response(200, json.dumps(manifest).encode(), {"Content-Type": "application/json"}),
        "/pool/" + PACKAGE: Response(200, package, pace=lambda offset: released.wait(60) if offset else None,
                                     piece_size=128),
        "/pool/" + PACKAGE + ".p7s": Response(200, sign(package, build_update_authority().signer)),
    }
    with HttpsServer("127.0.0.1", port, build_ca(), routes) as server:
        server.package = package
        server.released = released
        yield server
        released.set()



def answer_question(display, keys):
    box = display.wait_for_window(QUESTION, timeout=60)
    display.wait_for_focus(box)
    display.key(*keys)
    return box


def test_yes_downloads_the_checked_package_under_the_indicator_and_hands_it_over(display, tmp_path, offered):
    with application_servers({"127.0.0.1": app_routes(closing_page())}):
        with real_client(display, tmp_path, args=["-l"]) as run:
            before = local_seconds_now()
            box = answer_question(display, ["Return"])  # Yes has the focus
            display.wait_until_gone(box)
            window = wait_until(lambda: display.window_sized(100, 100), 30, "no indicator window")
            left, top, _, _ = display.window_geometry(window)
            assert (left, top) == ((display.width - 100) // 2, (display.height - 100) // 2)
            offered.released.set()
            assert run.wait_exit(60) == 0
            after = local_seconds_now()
    target = run.tmp / PACKAGE
    assert run.opened() == [[str(target)]]
    assert target.read_bytes() == offered.package
    assert offered.paths() == ["/update.json", "/pool/" + PACKAGE, "/pool/" + PACKAGE + ".p7s"]
    assert before - 1 <= int(ini_value(run.ini_text(), "", "lastUpdateCheck")) <= after + 1
    # The log was closed before the check: none of its lines reach the file.
    log = (run.tmp / "velomark_log.txt").read_text(errors="replace")
    assert "Final URL to load app from: [" in log
    assert "update" not in log.lower() and "Download" not in log


def test_no_downloads_nothing_and_the_next_run_does_not_check_again(display, tmp_path, offered):
    with application_servers({"127.0.0.1": app_routes(closing_page())}):
        with real_client(display, tmp_path) as run:
            answer_question(display, ["alt+n"])
            assert run.wait_exit(60) == 0
        stored = ini_value(run.ini_text(), "", "lastUpdateCheck")
        assert abs(int(stored) - local_seconds_now()) <= 60
        assert offered.paths() == ["/update.json"]
        assert run.opened() == []
        assert not (run.tmp / PACKAGE).exists()

        # Within seven days the next run ends without asking or fetching.
        with real_client(display, tmp_path) as again:
            assert again.wait_exit(60) == 0
        assert offered.paths() == ["/update.json"]
        assert ini_value(again.ini_text(), "", "lastUpdateCheck") == stored
        assert not display.windows(QUESTION)


def test_a_failed_check_still_ends_with_0_and_stores_the_time(display, tmp_path):
    # Nothing listens on the package port.
    with application_servers({"127.0.0.1": app_routes(closing_page())}):
        with real_client(display, tmp_path) as run:
            assert run.wait_exit(60) == 0
    assert abs(int(ini_value(run.ini_text(), "", "lastUpdateCheck")) - local_seconds_now()) <= 60
    assert not display.windows(QUESTION)
