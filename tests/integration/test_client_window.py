"""The real client's run from start to exit: the shutdown after closeApp,
the offline page and reload, the choice among the numbered servers, the
file named on the command line, developer mode, switches that look like the
usage request, and the logging switches across two runs."""

import base64
import threading

import pytest

from harness.client_run import wait_for
from harness.ini import ini_value
from harness.real_client import app_routes, application_servers, loopback_application_port, page, real_client

USAGE_FIRST_LINE = b"velomark_client usage:"


def app_url(host):
    return f"https://{host}:{loopback_application_port()}/pc/velomark.html"


def output_of(run):
    return (run.folder / "client_output.txt").read_bytes()


def test_closeApp_ends_with_0_after_deleting_the_files_openFile_wrote(display, tmp_path):
    # The page opens three files and waits for the test's go before closeApp,
    # so the files can be seen while the client runs.
    script = r"""
      await window.openFile('attachments/report.txt', btoa('first version'));
      await window.openFile('attachments/report.txt', btoa('second version'));
      await window.openFile('C:\\Users\\me\\memo.txt', btoa('memo'));
      await window.openFile('folder.txt', btoa('becomes a folder'));
      await report('opened', true);
      while ((await (await fetch('/go')).text()) !== 'yes') await new Promise(r => setTimeout(r, 50));
      await report('closing', true);
      window.closeApp();
    """
    go = threading.Event()
    routes = app_routes(page(script), **{"/go": lambda _: ("text/plain", b"yes" if go.is_set() else b"no")})
    log = tmp_path / "log.txt"
    with application_servers({"127.0.0.1": routes}) as servers:
        run = real_client(display, tmp_path, args=["-l", str(log)])
        unrelated = run.tmp / "keep.txt"
        unrelated.write_text("not the client's")
        with run:
            servers["127.0.0.1"].wait_result("opened")
            report_file, memo, folder = (run.tmp / n for n in ("report.txt", "memo.txt", "folder.txt"))
            wait_for(lambda: len(run.opened()) == 4, what="four calls of the system opener")
            assert run.opened() == [[str(report_file)], [str(report_file)], [str(memo)], [str(folder)]]
            assert report_file.read_text() == "second version"
            assert memo.read_text() == "memo"
            assert oct(report_file.stat().st_mode & 0o777) == "0o600"
            # A path that is a folder at shutdown is not the file that was written.
            folder.unlink()
            folder.mkdir()
            go.set()
            servers["127.0.0.1"].wait_result("closing")
            assert run.wait_exit(30) == 0
    assert not report_file.exists() and not memo.exists()
    assert folder.is_dir() and unrelated.read_text() == "not the client's"
    assert "Failed deletion" not in log.read_text(errors="replace")


def test_the_offline_page_reloads_into_the_application_once_a_server_answers(display, tmp_path):
    # The file argument names nothing: on the offline page it is ignored, and
    # reload never brings it back.
    script = """
      await report('loaded', {search: location.search, data: await window.requestData(),
                              host: await window.getHostInfo()});
      window.closeApp();
    """
    log = tmp_path / "log.txt"
    run = real_client(display, tmp_path, args=["-l", str(log), str(tmp_path / "missing.tsf")])
    with run:
        window = display.wait_for_window("velomark client", timeout=60)
        wait_for(lambda: log.exists() and "Final URL to load app from: []" in log.read_text(errors="replace"),
                 timeout=60, what="the offline decision")
        with application_servers({"127.0.0.1": app_routes(page(script))}) as servers:
            server = servers["127.0.0.1"]
            # "Try again" has the focus; it hides itself and reloads a second later.
            display.xdotool("windowfocus", "--sync", window)
            # The window goes away with the run once the page has closed it.
            wait_for(lambda: (display.xdotool("key", "--window", window, "Return", check=False),
                              server.results)[1],
                     timeout=60, interval=2, what="the application page after Try again")
            loaded = server.wait_result("loaded")
            assert run.wait_exit(30) == 0
    assert loaded["search"] == "" and loaded["data"] == ""
    assert (loaded["host"]["mode"], loaded["host"]["channel"]) == ("release", "release")
    text = log.read_text(errors="replace")
    assert "not found!" not in text
    assert f"Use application URL: [{app_url('127.0.0.1')}]" in text


@pytest.mark.parametrize("first", ["down", "answers OK with a line break"])
def test_the_second_server_is_used_when_the_first_does_not_answer_OK(display, tmp_path, first):
    app = "await report('app', {origin: location.origin, k: await window.getSetting('k', 'v')}); window.closeApp();"
    routes = {"127.0.0.2": app_routes(page(app)), "127.0.0.3": app_routes(page("report('third', 1);"))}
    if first != "down":
        routes["127.0.0.1"] = app_routes(page("report('first', 1);"),
                                         **{"/pc/check.html": ("text/plain", b"OK\n")})
    log = tmp_path / "log.txt"
    with application_servers(routes) as servers:
        with real_client(display, tmp_path, args=["-l", str(log)]) as run:
            got = servers["127.0.0.2"].wait_result("app")
            assert run.wait_exit(30) == 0
        assert servers["127.0.0.3"].requests == []
        if first != "down":
            assert [r["path"] for r in servers["127.0.0.1"].requests] == ["/pc/check.html"]
    assert got == {"origin": f"https://127.0.0.2:{loopback_application_port()}", "k": "v"}
    text = log.read_text(errors="replace")
    assert f"Checking [https://127.0.0.1:{loopback_application_port()}/pc/check.html?t=" in text
    assert f"Use application URL: [{app_url('127.0.0.2')}]" in text


def test_a_file_argument_marks_the_url_and_requestData_hands_it_over_once(display, tmp_path):
    content = b"From: a@example.org\r\nSubject: \xc3\xa4\r\n\r\n\x00\xff binary"
    message = tmp_path / "message.tsf"
    message.write_bytes(content)
    # The second load comes from reload, which never adds the marker.
    script = """
      const n = Number(sessionStorage.getItem('loads') || 0) + 1;
      sessionStorage.setItem('loads', n);
      await report('load', {search: location.search, first: await window.requestData(),
                            second: await window.requestData()});
      if (n === 1) window.reload(); else window.closeApp();
    """
    with application_servers({"127.0.0.1": app_routes(page(script))}) as servers:
        server = servers["127.0.0.1"]
        # Only the first bare parameter is the file to open.
        with real_client(display, tmp_path, args=[str(message), str(tmp_path / "other.tsf")]) as run:
            first = server.wait_result("load", count=1)
            again = server.wait_result("load", count=2)
            assert run.wait_exit(30) == 0
    assert first == {"search": "?o=1", "first": base64.b64encode(content).decode(), "second": ""}
    assert again == {"search": "", "first": "", "second": ""}


def close_the_box_and_see_the_run_end(display, run):
    box = display.wait_for_window("^velomark$", timeout=60)
    assert display.xdotool("getwindowname", box) == "velomark"
    assert run.proc.poll() is None  # the box holds the run until it is closed
    display.xdotool("windowfocus", "--sync", box)
    display.xdotool("key", "--window", box, "Return")
    # A second box would hold the run again.
    assert run.wait_exit(30) == 0


def test_a_missing_file_to_open_shows_its_box_and_ends_with_0(display, tmp_path):
    missing = tmp_path / "gone" / "message.tsf"
    log = tmp_path / "log.txt"
    with application_servers({"127.0.0.1": app_routes(page("report('shown', 1);"))}) as servers:
        with real_client(display, tmp_path, args=["-l", str(log), "-i", str(missing)]) as run:
            close_the_box_and_see_the_run_end(display, run)
        assert [r["path"] for r in servers["127.0.0.1"].requests] == ["/pc/check.html"]
    assert f"File [{missing}] not found!" in log.read_text(errors="replace")


def test_a_preferences_file_that_cannot_be_made_ends_the_run_at_its_first_use(display, tmp_path):
    # The settings folder is a plain file: the migration's first read meets it.
    log = tmp_path / "log.txt"
    with application_servers({"127.0.0.1": app_routes(page("report('shown', 1);"))}) as servers:
        run = real_client(display, tmp_path, args=["-l", str(log)])
        (run.config_home / "tessel").write_text("not a folder")
        with run:
            close_the_box_and_see_the_run_end(display, run)
        # Neither the logging set-up nor the main window came after the box.
        assert servers["127.0.0.1"].requests == []
    assert not log.exists()


def test_a_bridge_command_meeting_an_unusable_preferences_file_ends_the_run(display, tmp_path):
    # The page opens a file, then waits for the test to make the preferences
    # file unusable (a folder in its place) before it writes a setting.
    script = r"""
      await window.openFile('kept.txt', btoa('kept'));
      await report('opened', true);
      while ((await (await fetch('/go')).text()) !== 'yes') await new Promise(r => setTimeout(r, 50));
      await report('writing', true);
      await window.setSetting('k', 'v');
    """
    go = threading.Event()
    routes = app_routes(page(script), **{"/go": lambda _: ("text/plain", b"yes" if go.is_set() else b"no")})
    with application_servers({"127.0.0.1": routes}) as servers:
        with real_client(display, tmp_path, args=["-l", str(tmp_path / "log.txt")]) as run:
            servers["127.0.0.1"].wait_result("opened")
            kept = run.tmp / "kept.txt"
            wait_for(kept.exists, what="the file openFile writes")
            run.ini_file.unlink()
            run.ini_file.mkdir()
            go.set()
            servers["127.0.0.1"].wait_result("writing")
            close_the_box_and_see_the_run_end(display, run)
    # The run ended without the shutdown: the temporary file is still there.
    assert kept.read_text() == "kept"


@pytest.mark.parametrize("env, flag", [({"TS_PLSKEYID": "1"}, "true"), ({"TS_CLKEYID": "false"}, "true"),
                                       ({"TS_PLSKEYID": "0", "TS_CLKEYID": ""}, "")])
def test_developer_mode_comes_from_the_environment(display, tmp_path, env, flag):
    script = "await report('host', await window.getHostInfo()); window.closeApp();"
    log = tmp_path / "log.txt"
    base = {"TS_PLSKEYID": "", "TS_CLKEYID": ""}
    with application_servers({"127.0.0.1": app_routes(page(script))}) as servers:
        with real_client(display, tmp_path, args=["-l", str(log)], env={**base, **env}) as run:
            host = servers["127.0.0.1"].wait_result("host")
            assert run.wait_exit(30) == 0
    assert host["developerMode"] == flag
    line = "Detected TS_PLSKEYID and/or TS_CLKEYID. Turn on developerMode for getHostInfo call."
    assert (line in log.read_text(errors="replace")) == bool(flag)


@pytest.mark.parametrize("args", [["-H"], ["-help"], ["--help"], ["-h", "{file}"]])
def test_switches_near_the_usage_request_run_the_client(display, tmp_path, args):
    # "-h file" makes the file the value of h: neither usage nor a file to open.
    script = "await report('loaded', location.search); window.closeApp();"
    file = tmp_path / "message.tsf"
    file.write_bytes(b"x")
    with application_servers({"127.0.0.1": app_routes(page(script))}) as servers:
        with real_client(display, tmp_path, args=[a.format(file=file) for a in args]) as run:
            assert servers["127.0.0.1"].wait_result("loaded") == ""
            assert run.wait_exit(30) == 0
    assert USAGE_FIRST_LINE not in output_of(run)


@pytest.mark.parametrize("switch", [["-l", "{log}"], ["-l{log}"], ["-l"], ["-l1"]])
def test_logging_switch_is_remembered_and_later_runs_log_to_the_default_path(display, tmp_path, switch):
    script = "await window.setSetting('run', location.search + 'x'); window.closeApp();"
    chosen = tmp_path / "chosen log.txt"
    with application_servers({"127.0.0.1": app_routes(page(script))}):
        first = real_client(display, tmp_path, args=[a.format(log=chosen) for a in switch])
        default = first.tmp / "velomark_log.txt"
        with first:
            assert first.wait_exit(60) == 0
        assert ini_value(first.ini_text(), "WebApp", "debug") == "true"
        first_log = chosen if "{log}" in "".join(switch) else default
        assert "Final URL to load app from: [" in first_log.read_text(errors="replace")
        assert not (default if first_log == chosen else chosen).exists()
        before = first_log.read_bytes()

        with real_client(display, tmp_path) as second:
            assert second.wait_exit(60) == 0
    # The second run logs to the default path and leaves a chosen file alone.
    if first_log == chosen:
        assert chosen.read_bytes() == before
        assert "Final URL to load app from: [" in default.read_text(errors="replace")
    else:
        assert default.read_bytes().count(b"Final URL to load app from: [") == 2


def test_the_engine_starts_while_the_servers_are_probed_and_the_page_follows_the_answer(display, tmp_path):
    # The first server holds its probe answer until the engine's web process
    # is running: it is up before the decision, yet the page is asked for
    # only after the probe's answer and the log keeps the decision's order.
    seen = {}
    holder = {}

    def check(parts):
        run = holder["run"]
        wait_for(lambda: run.proc is not None and run.processes_named("WebKitWebProcess"), timeout=30,
                 what="the web process during the probe")
        seen["web process during probe"] = True
        return ("text/plain", b"OK")

    app = "await report('app', location.pathname); window.closeApp();"
    log = tmp_path / "log.txt"
    with application_servers({"127.0.0.1": app_routes(page(app), **{"/pc/check.html": check})}) as servers:
        server = servers["127.0.0.1"]
        holder["run"] = real_client(display, tmp_path, args=["-l", str(log)])
        with holder["run"] as run:
            assert server.wait_result("app", timeout=60) == "/pc/velomark.html"
            assert run.wait_exit(30) == 0
        paths = [r["path"] for r in server.requests if not r["path"].startswith("/result/")]
    assert seen == {"web process during probe": True}
    assert paths == ["/pc/check.html", "/pc/velomark.html"]
    text = log.read_text(errors="replace")
    order = [text.index(line) for line in (
        f"Checking [https://127.0.0.1:{loopback_application_port()}/pc/check.html?t=",
        f"iCheckURLExists: [https://127.0.0.1:{loopback_application_port()}/pc/check.html?t=",
        f"Use application URL: [{app_url('127.0.0.1')}]",
        f"Final URL to load app from: [{app_url('127.0.0.1')}]")]
    assert order == sorted(order)
