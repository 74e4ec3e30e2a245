"""PAC files run in the hidden web view, driven by tools/net_probe on a
private display: the PAC function library, the scan of FindProxyForURL's
answer, the time-out, and the resolution of a "pac:" setting with what it
hands to the web view, the HTTP client and getHostInfo."""

import datetime
import socket
import json

import pytest

from harness.doh_server import DohResolver
from harness.https_server import HttpsServer, Response
from harness.net_probe import run_net_probe
from harness.real_client import build_ca

NO_USABLE_ENTRY = ("PAC error: PAC file returned no usable DIRECT or PROXY entry. "
                   "Unfortunatelly we support only DIRECT or PROXY results!")
APP_URL = "https://127.0.0.1:18443/pc/"


def probe_env(display, tmp_path):
    return display.environment(tmp_path)


def evaluate(display, tmp_path, pac_text, url=APP_URL, doh=None, times=1):
    pac_file = tmp_path / "proxy.pac"
    pac_file.write_text(pac_text)
    args = ["pac", "--pac", pac_file, "--url", url, "--times", times]
    if doh:
        args += ["--doh", doh]
    return run_net_probe(args, probe_env(display, tmp_path))["results"]


def store_proxy_setting(tmp_path, setting):
    folder = tmp_path / "config" / "tessel"
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "velomark_client.ini").write_bytes(
        b"\xef\xbb\xbf" + f"proxy = {setting}\r\n".encode())


def apply_proxy(display, tmp_path, setting, url=APP_URL, times=1):
    store_proxy_setting(tmp_path, setting)
    log = tmp_path / "log.txt"
    res = run_net_probe(["proxy", "--url", url, "--ca", build_ca().ca_file, "--log", log,
                         "--times", times], probe_env(display, tmp_path))
    res["log"] = log.read_bytes().decode().split("\r\n")[:-1] if log.exists() else []
    return res


# --- the library ---------------------------------------------------------------

DAYS = ["SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"]


def clock_cases():
    """Calls of the date and time functions with the answer they must give
    now, relative to the local clock and the UTC clock of this moment."""
    now = datetime.datetime.now()
    utc = datetime.datetime.now(datetime.timezone.utc)
    today = (now.weekday() + 1) % 7  # SUN 0 ... SAT 6

    def day(offset):
        return DAYS[(today + offset) % 7]

    def hm(moment, minutes):
        total = (moment.hour * 60 + moment.minute + minutes) % 1440
        return f"{total // 60}:{total % 60:02d}"

    def date(days):
        return (now + datetime.timedelta(days=days)).strftime("%Y-%m-%dT%H:%M:%S")

    cases = [
        (f"weekdayRange('{day(0)}')", True),
        (f"weekdayRange('{day(0).lower()}')", True),
        (f"weekdayRange('{day(1)}')", False),
        (f"weekdayRange('{day(-1)}', '{day(1)}')", True),
        # wrapping past SAT: everything but today
        (f"weekdayRange('{day(1)}', '{day(-1)}')", False),
        ("weekdayRange('MON', 'FRI')", 1 <= today <= 5),
        ("weekdayRange('XYZ')", False),
        (f"timeRange('{hm(now, -3)}', '{hm(now, 3)}')", True),
        (f"timeRange('{hm(now, 5)}', '{hm(now, 10)}')", False),
        # wrapping past midnight
        (f"timeRange('{hm(now, 5)}', '{hm(now, -5)}')", False),
        (f"timeRange('{hm(now, -5)}', '{hm(now, -10)}')", True),
        (f"timeRange('{hm(utc, -3)}', '{hm(utc, 3)}', true)", True),
        (f"dateRange('{date(-1)}', '{date(1)}')", True),
        (f"dateRange('{date(1)}', '{date(2)}')", False),
    ]
    return cases, now.strftime("%Y-%m-%d %H:%M")


FIXED_CASES = [
    ("shExpMatch('www.example.com', '*.example.com')", True),
    ("shExpMatch('example.com', '*.example.com')", False),
    ("shExpMatch('a.b', 'a?b')", True),
    ("shExpMatch('axb', 'a.b')", False),
    ("shExpMatch('a+b(1)', 'a+b(?)')", True),
    ("shExpMatch('ABC', 'abc')", False),
    ("shExpMatch('anything at all', '*')", True),
    ("dnsDomainIs('www.example.com', 'example.com')", True),
    ("dnsDomainIs('WWW.Example.COM', '.example.com')", True),
    ("dnsDomainIs('example.com', 'example.com')", False),
    ("dnsDomainIs('www.example.org', '.example.com')", False),
    ("isPlainHostName('intranet')", True),
    ("isPlainHostName('intranet.corp')", False),
    ("localHostOrDomainIs('www', 'www.example.com')", True),
    ("localHostOrDomainIs('www.example.com', 'www.example.com')", True),
    ("localHostOrDomainIs('www.other.com', 'www.example.com')", False),
    ("dnsDomainLevels('a.b.c')", 2),
    ("isInNet('10.1.2.3', '10.0.0.0', '255.0.0.0')", True),
    ("isInNet('11.1.2.3', '10.0.0.0', '255.0.0.0')", False),
    ("isInNet('192.168.7.9', '192.168.7.0', '255.255.255.0')", True),
    ("isInNet('intranet.corp', '10.0.0.0', '255.0.0.0')", True),
    ("isInNet('unknown.corp', '10.0.0.0', '255.0.0.0')", False),
    ("dnsResolve('intranet.corp')", "10.1.2.3"),
    ("dnsResolve('intranet.corp')", "10.1.2.3"),
    ("dnsResolve('unknown.corp')", ""),
    ("isResolvable('intranet.corp')", True),
    ("isResolvable('unknown.corp')", False),
    ("/^\\d+\\.\\d+\\.\\d+\\.\\d+$/.test(myIpAddress())", True),
    ("alert('no dialog')", None),
]


def run_library(display, tmp_path, cases, doh):
    calls = ",\n    ".join(f"[{json.dumps(call)}, (function () {{ return {call}; }})()]" for call, _ in cases)
    pac = f"""function FindProxyForURL(url, host) {{
  return JSON.stringify([
    {calls}
  ].map(function (c) {{ return [c[0], c[1] === undefined ? null : c[1]]; }}));
}}"""
    [result] = evaluate(display, tmp_path, pac, doh=doh)
    return [tuple(pair) for pair in json.loads(result)]


def test_the_pac_function_library(display, tmp_path):
    with DohResolver(build_ca(), {"intranet.corp": "10.1.2.3"}) as doh:
        for _ in range(3):  # the clock cases are only valid within one minute
            clock, minute = clock_cases()
            cases = FIXED_CASES + clock
            got = run_library(display, tmp_path, cases, doh.host)
            if clock_cases()[1] == minute:
                break
        assert got == [(call, expected) for call, expected in cases]
        # dnsResolve asks once per name and page; isInNet answers from the
        # same cache; the page's request is an ordinary cross-origin one.
        assert sorted(set(doh.names())) == ["intranet.corp", "unknown.corp"]
        assert doh.names().count("intranet.corp") == 1
        assert {origin for _, origin in doh.asked} == {"null"}


# --- answers of FindProxyForURL ---------------------------------------------------

@pytest.fixture
def pac_server(tmp_path):
    """Serves /proxy.pac over HTTPS with the build's CA; set .body first."""
    holder = {"body": b""}
    server = HttpsServer("127.0.0.1", 0, build_ca(), {
        "/proxy.pac": lambda req: Response(200, holder["body"],
                                           {"Content-Type": "application/x-ns-proxy-autoconfig"})})
    with server:
        server.holder = holder
        yield server


def pac_returning(expression):
    return f"function FindProxyForURL(url, host) {{ return {expression}; }}"


@pytest.mark.parametrize("pac, handed, boxes", [
    (pac_returning('"PROXY 10.0.0.8:3128; DIRECT"'),
     {"webView": ["http://10.0.0.8", 3128, "Pac", "PacWord"],
      "http": ["http://10.0.0.8:3128", "Pac", "PacWord"], "hostInfo": "http://10.0.0.8:3128 Pac:PacWord"},
     []),
    (pac_returning('"SOCKS 10.0.0.9:1080; PROXY 10.0.0.8:3128"'),
     {"webView": ["http://10.0.0.8", 3128, "Pac", "PacWord"],
      "http": ["http://10.0.0.8:3128", "Pac", "PacWord"], "hostInfo": "http://10.0.0.8:3128 Pac:PacWord"},
     []),
    (pac_returning('"PROXY http://10.0.0.8:3128"'),
     {"webView": ["http://10.0.0.8", 3128, "Pac", "PacWord"],
      "http": ["http://10.0.0.8:3128", "Pac", "PacWord"], "hostInfo": "http://10.0.0.8:3128 Pac:PacWord"},
     []),
    (pac_returning('"DIRECT"'), None, []),
    (pac_returning('"SOCKS 10.0.0.9:1080"'), None, [NO_USABLE_ENTRY]),
    ("function FindProxyForURL(url, host) { throw new Error('broken'); }", None, [NO_USABLE_ENTRY]),
    ("function FindProxyForURL(url, host) { while (true) {} }", None, [NO_USABLE_ENTRY]),
    (pac_returning("42"), None, [NO_USABLE_ENTRY]),
], ids=["proxy-then-direct", "socks-then-proxy", "proxy-with-scheme", "direct", "socks-only",
        "throws", "never-returns", "not-text"])
def test_the_answer_decides_the_proxy(display, tmp_path, pac_server, pac, handed, boxes):
    pac_server.holder["body"] = pac.encode()
    location = pac_server.url("/proxy.pac")
    res = apply_proxy(display, tmp_path, f"pac:{location} Pac:PacWord")
    none = {"webView": ["", 8080, "", ""], "http": ["", "", ""], "hostInfo": ""}
    assert res["runs"] == [handed or none]
    assert res["boxes"] == boxes
    assert res["log"][:2] == [f"Loading PAC file [{location}]", f"PAC file content [{pac}]"]
    assert res["log"][2].startswith("PAC parsing result [")
    assert res["log"][-1] == ("Setting proxy credentials [Pac] / [***]" if handed else "Don't use proxy server")
    assert pac_server.paths() == ["/proxy.pac"]


def test_the_trigger_carries_any_address_as_a_string(display, tmp_path):
    # The URL holds quotation marks and a backslash; it reaches the script
    # as it is, and nothing of it runs.
    url = 'https://127.0.0.1:18443/pc/?q=");window.pacCallback("PROXY evil:1");("\\'
    [result] = evaluate(display, tmp_path, pac_returning('"PROXY " + host + ":1 " + url'), url=url)
    assert result == "PROXY 127.0.0.1:1 " + url


def test_a_pac_setting_is_read_again_only_while_it_gives_no_proxy(display, tmp_path, pac_server):
    for answer, fetches in (('"PROXY 10.0.0.8:3128"', 1), ('"DIRECT"', 3)):
        pac_server.requests.clear()
        pac_server.holder["body"] = pac_returning(answer).encode()
        res = apply_proxy(display, tmp_path, "pac:" + pac_server.url("/proxy.pac"), times=3)
        assert pac_server.paths() == ["/proxy.pac"] * fetches, answer
        assert len(res["runs"]) == 3


def test_unreadable_pac_locations_give_the_not_found_box(display, tmp_path, pac_server):
    for location in (pac_server.url("/missing.pac"), "\\\\nosuchserver.invalid\\share\\proxy.pac",
                     (tmp_path / "absent.pac").as_uri()):
        res = apply_proxy(display, tmp_path, "pac:" + location)
        assert res["boxes"] == [f"PAC error: PAC file [{location}] not found or invalid! Using no proxy."]
        assert res["runs"][0]["hostInfo"] == ""


def test_a_local_pac_file_by_file_uri(display, tmp_path):
    pac_file = tmp_path / "local.pac"
    pac_file.write_text(pac_returning('"PROXY 10.9.9.9:8080"'))
    res = apply_proxy(display, tmp_path, f"pac:{pac_file.as_uri()}")
    assert res["runs"][0]["hostInfo"] == "http://10.9.9.9:8080"
    assert res["boxes"] == []


def test_a_pac_server_that_never_answers_is_given_up_after_the_probes_limit(display, tmp_path):
    # At start-up the download comes before any probe has set time limits;
    # it takes the probe's 15 seconds instead of hanging for good.
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen(1)
        location = f"http://127.0.0.1:{silent.getsockname()[1]}/proxy.pac"
        res = apply_proxy(display, tmp_path, "pac:" + location)
    assert res["boxes"] == [f"PAC error: PAC file [{location}] not found or invalid! Using no proxy."]
    assert f"ERROR: Unable to open/access URL [{location}]" in res["log"]
