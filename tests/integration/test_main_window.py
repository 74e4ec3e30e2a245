"""The main window under a real X server: how it ends, its geometry, the
command-line file, the offline page with reload, new windows and the system
opener, web-process crashes and the extra trusted CA."""

import os
import signal

import pytest

from harness.app_server import AppServer, page
from harness.client_run import ClientRun, client_binary, wait_for
from harness.http_proxy import HttpProxy
from harness.ini import ini_value

TITLE = "velomark client  5.0.0-140.x64"


def main_geometry(run):
    text = run.ini_text()
    return tuple(ini_value(text, "main", k) for k in ("left", "top", "width", "height"))


@pytest.mark.parametrize("how", ["closeApp", "close request"])
def test_the_loop_ends_with_exit_code_0(display, tmp_path, how):
    script = "await report('ready', true); await new Promise(r => setTimeout(r, 100));"
    if how == "closeApp":
        script += "window.closeApp(1, 2, 3);"
    with AppServer(routes={"/app.html": page(script)}) as server:
        run = ClientRun(display, tmp_path, url=server.url("/app.html"))
        with run:
            window = display.wait_for_window("velomark client")
            assert display.xdotool("getwindowname", window) == TITLE
            server.wait_result("ready")
            if how == "close request":
                display.request_close(window)
            assert run.wait_exit(20) == 0


def test_geometry_is_stored_on_every_change_and_used_at_the_next_start(display, tmp_path):
    run = ClientRun(display, tmp_path)  # no URL: the offline page is enough here
    with run:
        window = display.wait_for_window("velomark client")
        assert display.window_geometry(window) == (100, 100, 1200, 800)
        wait_for(lambda: main_geometry(run) == ("100", "100", "1200", "800"), what="first-run geometry")
        display.xdotool("windowsize", window, 1300, 900)
        display.xdotool("windowmove", window, 210, 160)
        wait_for(lambda: main_geometry(run) == ("210", "160", "1300", "900"), what="changed geometry")
        display.request_close(window)
        assert run.wait_exit(20) == 0
    display.wait_no_window("velomark client")

    with ClientRun(display, tmp_path) as again:
        window = display.wait_for_window("velomark client")
        wait_for(lambda: display.window_geometry(window) == (210, 160, 1300, 900), what="reused geometry")
    display.wait_no_window("velomark client")

    # A stored size below the minimum grows to it, and the grown size is stored.
    text = again.ini_text().replace("width = 1300", "width = 800").replace("height = 900", "height = 300")
    again.ini_file.write_text(text)
    with ClientRun(display, tmp_path) as small:
        window = display.wait_for_window("velomark client")
        wait_for(lambda: display.window_geometry(window)[2:] == (1025, 480), what="minimum size")
        wait_for(lambda: main_geometry(small)[2:] == ("1025", "480"), what="minimum size stored")


@pytest.mark.parametrize("kind", ["missing", "empty", "directory"])
def test_a_file_to_open_that_is_not_there_ends_the_run_early(display, tmp_path, kind):
    path = tmp_path / "message.tsf"
    if kind == "empty":
        path.write_bytes(b"")
    elif kind == "directory":
        path.mkdir()
    with AppServer(routes={"/app.html": page("")}) as server:
        run = ClientRun(display, tmp_path, args=["-i", str(path)], url=server.url("/app.html"))
        with run:
            assert run.wait_exit(30) == 0
        assert f"File [{path}] not found!" in run.log_text()
        assert server.requests == []


@pytest.mark.parametrize("args", [["{file}"], ["-i", "{file}"]])
def test_a_file_to_open_marks_the_application_url(display, tmp_path, args):
    path = tmp_path / "message.tsf"
    path.write_bytes(b"From: a@example.org\r\n\r\nbody")
    with AppServer(routes={"/app.html": page("await report('loaded', location.search);")}) as server:
        run = ClientRun(display, tmp_path, args=[a.format(file=path) for a in args],
                        url=server.url("/app.html"))
        with run:
            assert server.wait_result("loaded") == "?o=1"


def test_offline_page_reload_decides_the_url_again(display, tmp_path):
    app = "await report('app', await outcome(() => window.getSetting('k', 'fresh')));"
    with AppServer(routes={"/app.html": page(app)}) as server:
        run = ClientRun(display, tmp_path, args=["some-file.tsf"])  # ignored on the offline page
        run.set_app_url("")
        with run:
            window = display.wait_for_window("velomark client")
            run.wait_log("Final URL to load app from: []")
            run.set_app_url(server.url("/app.html"))
            # "Try again" has the focus; it calls window.reload() one second later.
            display.xdotool("windowfocus", "--sync", window)
            wait_for(lambda: (display.xdotool("key", "--window", window, "Return"), server.results)[1],
                     timeout=30, interval=2, what="the app page after reload")
            assert server.wait_result("app") == {"ok": "fresh"}
            # reload never adds the start-up file marker
            assert all(r["query"] == "" for r in server.requests if r["path"] == "/app.html")


def test_new_windows_and_openURL_go_to_the_system_opener(display, tmp_path):
    script = """
      await outcome(() => window.openURL());
      await outcome(() => window.openURL('a', 'b'));
      await outcome(() => window.openURL(5));
      await outcome(() => window.openURL('mailto:someone@example.org?subject=a b'));
      await report('ready', true);
    """
    body = """
      <a id='link' target='_blank' href='http://192.0.2.1/page?a=1&amp;b=2'
         style='position:fixed;left:0;top:0;width:100%;height:50%;display:block;background:#cfc'>new window</a>
      <button style='position:fixed;left:0;top:50%;width:100%;height:50%'
         onclick="window.open('https://192.0.2.2/popup')">popup</button>
    """
    html = page(script).replace("<body>", "<body>" + body)
    with AppServer(routes={"/app.html": html}) as server:
        run = ClientRun(display, tmp_path, url=server.url("/app.html"))
        with run:
            window = display.wait_for_window("velomark client")
            server.wait_result("ready")
            wait_for(lambda: run.opened() == [["mailto:someone@example.org?subject=a b"]], what="openURL")
            assert run.log_text().count("ERROR: openURL had wrong parameter count!") == 2
            display.xdotool("mousemove", "--window", window, 600, 200, "click", "1")
            wait_for(lambda: len(run.opened()) == 2, what="target=_blank")
            display.xdotool("mousemove", "--window", window, 600, 600, "click", "1")
            wait_for(lambda: len(run.opened()) == 3, what="window.open")
            assert run.opened()[1:] == [["http://192.0.2.1/page?a=1&b=2"], ["https://192.0.2.2/popup"]]


def test_a_killed_web_process_is_logged_and_the_page_comes_back(display, tmp_path):
    script = "await report('load', await outcome(() => window.getSetting('k', 'back')));"
    with AppServer(routes={"/app.html": page(script)}) as server:
        run = ClientRun(display, tmp_path, url=server.url("/app.html"))
        with run:
            assert server.wait_result("load") == {"ok": "back"}

            def kill_web_processes():
                victims = wait_for(lambda: run.processes_named("WebKitWebProcess"), what="a web process")
                for pid in victims:
                    os.kill(pid, signal.SIGKILL)

            # Three crashes within a minute are reloaded, with the bridge working again ...
            for reloads in (1, 2, 3):
                kill_web_processes()
                assert server.wait_result("load", count=1 + reloads) == {"ok": "back"}
                wait_for(lambda: run.log_text().count("ERROR: Web process ended (crashed); reloading") == reloads,
                         what=f"crash #{reloads} in the log")
            # ... a fourth is only logged, so a page that kills the engine cannot spin.
            kill_web_processes()
            run.wait_log("ERROR: Web process ended (crashed); not reloaded, too many restarts")
            assert len(server.results["load"]) == 4


@pytest.mark.parametrize("trusted", [True, False])
def test_https_pages_are_checked_against_the_extra_ca(display, tmp_path, ca, other_ca, trusted):
    script = "await report('secure', await outcome(() => window.getSetting('k', location.protocol)));"
    with AppServer(routes={"/app.html": page(script)}, ca=ca) as server:
        extra = ca.ca_file if trusted else other_ca.ca_file
        run = ClientRun(display, tmp_path, env={"VELOMARK_TEST_EXTRA_CA": str(extra)},
                        url=server.url("/app.html"))
        with run:
            if trusted:
                assert server.wait_result("secure") == {"ok": "https:"}
            else:
                run.wait_log(f"ERROR: TLS certificate of [{server.url('/app.html')}] refused")
                assert server.results == {}


def test_a_page_on_another_extra_ca_host_loads_after_its_certificate_is_checked(display, tmp_path, ca):
    # The application's host is allowed before the first load; a host that a
    # link leads to later goes through the engine's TLS failure and a retry.
    with AppServer("127.0.0.2", routes={"/next.html": page("report('next', location.href);")}, ca=ca) as other, \
            AppServer(routes={"/app.html": page(f"location.href = {other.url('/next.html')!r};")}, ca=ca) as app:
        run = ClientRun(display, tmp_path, env={"VELOMARK_TEST_EXTRA_CA": str(ca.ca_file)},
                        url=app.url("/app.html"))
        with run:
            assert other.wait_result("next", timeout=60) == other.url("/next.html")
        assert "refused" not in run.log_text()


def test_the_client_binary_runs_its_main_window(display, tmp_path):
    # No application server is running on the test build's loopback endpoints
    # (CTest keeps the other real-client tests away): the client decides on the
    # offline page, shows it in its main window and ends on a close request.
    log = tmp_path / "client.log"
    run = ClientRun(display, tmp_path, binary=client_binary(), args=["-l", str(log)])
    with run:
        window = display.wait_for_window("velomark client", timeout=90)
        assert display.xdotool("getwindowname", window) == TITLE
        wait_for(lambda: log.exists() and "Final URL to load app from: []" in log.read_text(errors="replace"),
                 timeout=90, what="the URL decision in the log")
        display.request_close(window)
        assert run.wait_exit(60) == 0


@pytest.mark.parametrize("password", ["s3cret", "wrong"])
def test_the_web_view_goes_through_its_proxy_with_the_credentials(display, tmp_path, password):
    script = "await report('proxied', await outcome(() => window.getSetting('k', 'via proxy')));"
    with AppServer(host="127.0.0.3", routes={"/app.html": page(script)}) as server, \
            HttpProxy("ProxyUser", "s3cret") as proxy:
        run = ClientRun(display, tmp_path, env={"VELOMARK_TEST_PROXY": f"127.0.0.1 {proxy.port} ProxyUser {password}"},
                        url=server.url("/app.html"))
        with run:
            if password == "wrong":
                # Refused credentials are not offered again and again.
                run.wait_log("ERROR: Proxy authentication failed")
                assert server.requests == []
                return
            assert server.wait_result("proxied") == {"ok": "via proxy"}
        page_requests = [s for s in proxy.seen if s[1] == server.url("/app.html")]
        # The first try has no credentials and gets 407; the answer to the
        # engine's authentication request carries them.
        assert page_requests[0][2] is False
        assert page_requests[-1][2] is True
        assert ("POST", server.url("/result/proxied"), True) in proxy.seen

