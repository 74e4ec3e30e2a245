"""The proxy setting through the real client: a manual proxy and a PAC file
decide how the probes, the page and the token requests reach the servers;
getHostInfo tells the page; PAC evaluation keeps the window alive and holds
the page's calls back; the proxy dialog that askProxy opens."""

import re
import time

import pytest

from harness.client_run import wait_for
from harness.doh_server import DohResolver
from harness.http_proxy import HttpProxy
from harness.https_server import HttpsServer, Response
from harness.ini import ini_value
from harness.real_client import (app_routes, application_servers, build_ca, build_setting,
                                 loopback_application_port, page, real_client)
from harness.socks_proxy import Socks5Proxy
from test_client_oauth import MailServer, Session, SignInService, XOAuth2Recorder, provider_port

CURL_AGENT = "Mozilla/5.0 Gecko/41.0 Firefox/41.0"
HOST_INFO_PAGE = page("await report('host', await window.getHostInfo()); await window.closeApp();")
INVALID_CONFIGURATION = ("Invalid proxy configuration. Cannot parse the three needed values. "
                         "Check format!")


def app_origin():
    return f"127.0.0.1:{loopback_application_port()}"


def store_proxy(folder, setting):
    """The "proxy" setting in the preferences file the client will read."""
    ini = folder / "home" / ".config" / "tessel" / "velomark_client.ini"
    ini.parent.mkdir(parents=True, exist_ok=True)
    ini.write_bytes(b"\xef\xbb\xbf" + f"proxy = {setting}\r\n".encode())
    return ini


def add_proxy_setting(run, setting):
    """Puts setting in front of the preferences file of a running client,
    which reads it at its next use."""
    run.ini_file.write_bytes(b"\xef\xbb\xbf" + f"proxy = {setting}\r\n".encode() +
                             run.ini_text().encode())


def engine_agents(agents):
    return [a for a in agents if a != CURL_AGENT]


def answer_box(display, title):
    """Closes the message box titled title with Return, as a user would."""
    window = display.wait_for_window(f"^{re.escape(title)}$", timeout=60)
    display.wait_for_focus(window)
    display.key("Return")
    display.wait_until_gone(window)


def host_info_run(display, tmp_path, log, box=None):
    """Runs the client on HOST_INFO_PAGE; getHostInfo's answer."""
    with application_servers({"127.0.0.1": app_routes(HOST_INFO_PAGE)}) as servers:
        with real_client(display, tmp_path, args=["-l", str(log)]) as run:
            if box:
                answer_box(display, box)
            host = servers["127.0.0.1"].wait_result("host", timeout=60)
            assert run.wait_exit(30) == 0
    return host


# --- manual proxy ----------------------------------------------------------------

def test_probe_page_and_token_request_go_through_the_proxy_with_its_credentials(display, tmp_path):
    # Capitals in the scheme, the user name and the password: the scheme is
    # read in any case, the credentials reach the proxy as they are.
    with HttpProxy("ProxyUser", "S3cretPw") as proxy, SignInService() as service, \
            MailServer(XOAuth2Recorder(service.accepts), "smtp") as smtp:
        store_proxy(tmp_path, f"HTTP://{proxy.address}   ProxyUser:S3cretPw")
        session = Session(display, tmp_path)
        assert session.run("google", smtp.url, 1) == [{"ok": ""}]

    # The probe (the HTTP client) and the page (the engine) went to the
    # application server through the proxy, and so did the token request.
    assert CURL_AGENT in proxy.tunnels(app_origin())
    assert engine_agents(proxy.tunnels(app_origin()))
    assert proxy.tunnels(f"127.0.0.1:{provider_port()}") == [CURL_AGENT]
    assert [g["grant_type"] for _, g in service.grants] == ["authorization_code"]
    # The HTTP client never went without its credentials; the engine asks
    # for them at the proxy's 407 and does not offer wrong ones.
    assert CURL_AGENT not in proxy.tunnels(app_origin(), authorised=False)
    assert f"Setting proxy values [http://{proxy.host}] / [{proxy.port}]" in session.log
    assert "Setting proxy credentials [ProxyUser] / [***]" in session.log
    assert "S3cretPw" not in session.log


@pytest.mark.parametrize("case", ["port", "credentials", "socks5", "no port"])
def test_manual_settings_and_what_get_host_info_tells(display, tmp_path, case):
    log = tmp_path / "log.txt"
    with HttpProxy() as open_proxy, HttpProxy("ProxyUser", "S3cretPw") as locked, \
            Socks5Proxy() as socks:
        setting, expected, box = {
            "port": (f"http://{open_proxy.address}", f"http://{open_proxy.address}", None),
            "credentials": (f"http://{locked.address}  ProxyUser:S3cretPw",
                            f"http://{locked.address} ProxyUser:S3cretPw", None),
            # The dialog would refuse it; the setting works all the same.
            "socks5": (f"socks5://127.0.0.1:{socks.port}", f"socks5://127.0.0.1:{socks.port}", None),
            "no port": ("http://127.0.0.1", "", "PAC error"),
        }[case]
        store_proxy(tmp_path, setting)
        host = host_info_run(display, tmp_path, log, box=box)
    assert host["proxy"] == expected
    text = log.read_bytes().decode(errors="replace")
    if case == "socks5":
        assert socks.targets.count(app_origin()) >= 2  # the probe and the page
    elif case == "no port":
        assert "Don't use proxy server" in text
        assert open_proxy.seen == [] and locked.seen == [] and socks.targets == []
    else:
        used = open_proxy if case == "port" else locked
        assert CURL_AGENT in used.tunnels(app_origin())
        assert engine_agents(used.tunnels(app_origin()))


def test_an_empty_setting_overrides_the_environments_proxy(display, tmp_path):
    # Everything in the environment points at a proxy; the client uses none.
    with HttpProxy() as proxy:
        url = f"http://{proxy.address}"
        env = {name: url for name in ("http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY")}
        with application_servers({"127.0.0.1": app_routes(HOST_INFO_PAGE)}) as servers:
            with real_client(display, tmp_path, env=env) as run:
                assert servers["127.0.0.1"].wait_result("host", timeout=60)["proxy"] == ""
                assert run.wait_exit(30) == 0
        assert proxy.seen == []


# --- PAC -----------------------------------------------------------------------------

class PacServer:
    """Serves /proxy.pac over HTTPS with the build's CA and counts the fetches."""

    def __init__(self, text):
        self.text = text
        self.server = HttpsServer("127.0.0.1", 0, build_ca(), {
            "/proxy.pac": lambda req: Response(200, self.text.encode(),
                                               {"Content-Type": "application/x-ns-proxy-autoconfig"})})

    @property
    def url(self):
        return self.server.url("/proxy.pac")

    def fetches(self):
        return self.server.paths().count("/proxy.pac")

    def __enter__(self):
        self.server.start()
        return self

    def __exit__(self, *exc):
        self.server.stop()


def test_pac_file_over_https_sends_the_page_through_its_proxy(display, tmp_path):
    log = tmp_path / "log.txt"
    with HttpProxy("PacUser", "PacWord") as proxy, \
            PacServer(f'function FindProxyForURL(url, host) {{ return "PROXY {proxy.address}; DIRECT"; }}') as pac:
        store_proxy(tmp_path, f"pac:{pac.url} PacUser:PacWord")
        host = host_info_run(display, tmp_path, log)
    assert host["proxy"] == f"http://{proxy.address} PacUser:PacWord"
    assert CURL_AGENT in proxy.tunnels(app_origin())
    assert engine_agents(proxy.tunnels(app_origin()))
    text = log.read_bytes().decode(errors="replace")
    assert f"PAC parsing result [PROXY {proxy.address}; DIRECT]" in text
    assert pac.fetches() == 1


def test_pac_file_resolving_names_with_the_loopback_resolver(display, tmp_path):
    doh_host = build_setting("VELOMARK_DOH_HOST")
    match = re.fullmatch(r"127\.0\.0\.1:(\d+)", doh_host)
    assert match, f"this build's DNS-over-HTTPS host is {doh_host!r}; configure it with scripts/test-config.sh"
    log = tmp_path / "log.txt"
    with HttpProxy() as proxy, \
            DohResolver(build_ca(), {"proxy-zone.corp": "10.4.4.4", "direct-zone.corp": "192.168.1.1"},
                        port=int(match.group(1))) as doh, \
            PacServer(f"""function FindProxyForURL(url, host) {{
                if (isInNet(dnsResolve('direct-zone.corp'), '10.0.0.0', '255.0.0.0')) return 'DIRECT';
                if (isInNet('proxy-zone.corp', '10.0.0.0', '255.0.0.0')) return 'PROXY {proxy.address}';
                return 'DIRECT';
            }}""") as pac:
        store_proxy(tmp_path, f"pac:{pac.url}")
        host = host_info_run(display, tmp_path, log)
    assert host["proxy"] == f"http://{proxy.address}"
    assert engine_agents(proxy.tunnels(app_origin()))
    assert doh.names() == ["direct-zone.corp", "proxy-zone.corp"]


@pytest.mark.parametrize("body", ["while (true) {}", "throw new Error('broken');"],
                         ids=["never-returns", "throws"])
def test_a_pac_file_without_an_answer_at_start_up_leaves_the_page_working(display, tmp_path, body):
    # At start-up the PAC page runs in the web process started for the main
    # view; a script that never returns must not keep the page from it.
    log = tmp_path / "log.txt"
    with PacServer(f"function FindProxyForURL(url, host) {{ {body} }}") as pac:
        store_proxy(tmp_path, f"pac:{pac.url}")
        host = host_info_run(display, tmp_path, log, box="PAC error")
    assert host["proxy"] == ""
    text = log.read_bytes().decode(errors="replace")
    assert "Don't use proxy server" in text
    assert "Web process ended" not in text


def wait_log(log, text, timeout=60):
    wait_for(lambda: log.exists() and text in log.read_bytes().decode(errors="replace"),
             timeout, f"log line {text!r}")


THINKING_PAC = """function FindProxyForURL(url, host) {
    var start = Date.now();
    while (Date.now() - start < 2000) {}
    return 'DIRECT';
}"""


def reload_run(display, tmp_path, pac, after_reload, during=lambda window, log: None,
               close_after=True):
    """Runs the client on a page that, once the test has stored a "pac:"
    setting for pac, calls reload and then after_reload (script); the
    reloaded page closes the client when close_after says so. during is
    called once the evaluation has begun. The log lines of the run."""
    log = tmp_path / "log.txt"
    script = f"""
      if (await window.getSetting('reloaded', '') !== '') {{
        {"window.closeApp();" if close_after else "await report('reloaded', true);"}
        return;
      }}
      await window.setSetting('reloaded', 'yes');
      await report('ready', true);
      while ((await (await fetch('/go')).text()) !== 'go') await new Promise(r => setTimeout(r, 50));
      window.reload();
      {after_reload}
    """
    go = {"answer": b"wait"}
    routes = app_routes(page(script), **{"/go": lambda req: ("text/plain", go["answer"])})
    with application_servers({"127.0.0.1": routes}) as servers:
        with real_client(display, tmp_path, args=["-l", str(log)]) as run:
            servers["127.0.0.1"].wait_result("ready", timeout=60)
            window = display.wait_for_window("velomark client")
            add_proxy_setting(run, f"pac:{pac.url}")
            go["answer"] = b"go"
            wait_log(log, "PAC file content [")
            during(window, log)
            assert run.wait_exit(60) == 0
    return log.read_bytes().decode(errors="replace").split("\r\n")


def test_bridge_calls_made_during_a_pac_evaluation_wait_for_its_end_in_order(display, tmp_path):
    with PacServer(THINKING_PAC) as pac:
        lines = reload_run(display, tmp_path, pac, """
          for (let i = 0; i < 10; i++) {
            await new Promise(r => setTimeout(r, 100));
            window.sendLogEntry('call ' + i);
          }""")
    result = lines.index("PAC parsing result [DIRECT]")
    calls = [i for i, line in enumerate(lines) if line.startswith("WV-call ")]
    assert calls and all(i > result for i in calls), lines
    assert [lines[i] for i in calls] == [f"WV-call {n}" for n in range(len(calls))]
    assert pac.fetches() == 1


def test_a_close_request_during_a_pac_evaluation_ends_the_run_after_it(display, tmp_path):
    # The evaluation runs the main loop: the request is seen, not dropped,
    # and the loop ends once the reload is done.
    seen = {}

    def close(window, log):
        display.request_close(window)
        seen["during"] = "PAC parsing result [" not in log.read_bytes().decode(errors="replace")

    with PacServer(THINKING_PAC) as pac:
        lines = reload_run(display, tmp_path, pac, "", during=close, close_after=False)
    assert seen["during"], "the close request came after the evaluation"
    assert "PAC parsing result [DIRECT]" in lines


# --- the proxy dialog --------------------------------------------------------------

ASK_PROXY_PAGE = page("""
  await report('ready', true);
  while (true) {
    const next = await (await fetch('/next')).text();
    if (next === 'ask') { await window.askProxy(); await report('asked', true); }
    if (next === 'close') { await window.closeApp(); break; }
    await new Promise(r => setTimeout(r, 100));
  }
""")


class Steps:
    """What the page's /next answers: each step once, then 'wait'."""

    def __init__(self):
        self.queue = []

    def route(self, req):
        return ("text/plain", (self.queue.pop(0) if self.queue else "wait").encode())


def input_dialog(display, before=()):
    found = wait_for(lambda: [w for w in display.windows("^velomark$") if w not in before], 60,
                     "the input dialog")
    display.wait_for_focus(found[0])
    return found[0]


def stored_proxy(run):
    return ini_value(run.ini_text(), "", "proxy")


def test_the_proxy_dialog_refuses_stores_cancels_and_yields_to_a_close_request(display, tmp_path):
    log = tmp_path / "log.txt"
    steps = Steps()
    routes = app_routes(ASK_PROXY_PAGE, **{"/next": steps.route})
    with application_servers({"127.0.0.1": routes}) as servers:
        server = servers["127.0.0.1"]
        with real_client(display, tmp_path, args=["-l", str(log)]) as run:
            server.wait_result("ready", timeout=60)
            main = display.wait_for_window("velomark client")

            # A capital "PAC:" goes to the proxy check and is refused; the
            # dialog comes back, and the trimmed entry is stored.
            steps.queue.append("ask")
            dialog = input_dialog(display)
            display.key("ctrl+a")
            display.type_text("PAC:http://pac.example/p.pac")
            display.key("Return")
            box = input_dialog(display, before=[dialog])
            display.key("Return")
            display.wait_until_gone(box)
            dialog = input_dialog(display)
            display.key("ctrl+a")
            display.type_text("  http://10.0.0.8:80  ")
            display.key("Return")
            wait_for(lambda: stored_proxy(run) == "http://10.0.0.8:80", what="the stored entry")
            assert server.wait_result("asked") is True

            # The main window's close request ends the dialog as a cancel,
            # which stores an empty setting; the client goes on.
            steps.queue.append("ask")
            dialog = input_dialog(display)
            display.type_text("typed")
            display.request_close(main)
            display.wait_until_gone(dialog)
            wait_for(lambda: stored_proxy(run) == "", what="the cancel by the close request")
            assert run.proc.poll() is None

            # Escape cancels as well.
            steps.queue.append("ask")
            input_dialog(display)
            display.key("ctrl+a")
            display.type_text("http://10.0.0.7:81")
            display.key("Return")
            wait_for(lambda: stored_proxy(run) == "http://10.0.0.7:81", what="the second entry")
            steps.queue.append("ask")
            input_dialog(display)
            display.key("Escape")
            wait_for(lambda: stored_proxy(run) == "", what="the cancelled entry")

            steps.queue.append("close")
            assert run.wait_exit(30) == 0
    text = log.read_bytes().decode(errors="replace")
    assert [line for line in text.split("\r\n") if line.startswith("Save proxy")] == [
        "Save proxy to be [http://10.0.0.8:80]", "Save proxy to be []",
        "Save proxy to be [http://10.0.0.7:81]", "Save proxy to be []"]


def test_the_offline_pages_proxy_button_opens_the_dialog(display, tmp_path):
    # No application server: the offline page. A click on its empty part
    # takes the focus off its buttons; two Tabs reach "Enter proxy server".
    log = tmp_path / "log.txt"
    with real_client(display, tmp_path, args=["-l", str(log)]) as run:
        main = display.wait_for_window("velomark client", timeout=90)
        wait_log(log, "Final URL to load app from: []")
        for _ in range(10):
            display.click(main, 600, 700)
            display.key("Tab", "Tab", "Return")
            if wait_for_dialog(display, 5):
                break
        else:
            raise AssertionError("the proxy button opened no dialog")
        input_dialog(display)
        display.type_text("http://10.0.0.9:3128")
        display.key("Return")
        wait_for(lambda: stored_proxy(run) == "http://10.0.0.9:3128", what="the stored entry")
        display.request_close(main)
        assert run.wait_exit(30) == 0


def wait_for_dialog(display, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if display.windows("^velomark$"):
            return True
        time.sleep(0.1)
    return False
