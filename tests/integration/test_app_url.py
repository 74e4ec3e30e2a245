"""Choice of the application URL: developer server, QA and release channels,
probed on three HTTPS servers at 127.0.0.1, 127.0.0.2 and 127.0.0.3."""

import re
from contextlib import ExitStack

import pytest

from harness.https_server import HttpsServer, Response
from harness.net_probe import run_net_probe
from harness.ports import LOOPBACK_HOSTS, free_port
from harness.sandbox import private_env

OK = Response(200, b"OK")
INVALID_BOX = "error: Developer setting is no valid subdomain to localhost! (must be subdomain:port)"
NOT_REACHED_BOX = "error: Developer subdomain not reached!"


class Servers:
    """The numbered servers on one common port; None in answers = not running."""

    def __init__(self, ca, answers, path="/pc/check.html"):
        self.port = free_port(*LOOPBACK_HOSTS)
        self.template = f"127.0.0.%id%:{self.port}"
        self._stack = ExitStack()
        self.servers = {}
        for n, answer in enumerate(answers, start=1):
            if answer is not None:
                s = HttpsServer(LOOPBACK_HOSTS[n - 1], self.port, ca, {path: answer})
                self.servers[n] = self._stack.enter_context(s)

    def base(self, n, path="/pc/"):
        return f"https://127.0.0.{n}:{self.port}{path}"

    def contacted(self):
        return [n for n, s in sorted(self.servers.items()) if s.requests]

    def close(self):
        self._stack.close()


@pytest.fixture
def servers(ca):
    made = []

    def start(answers, path="/pc/check.html"):
        s = Servers(ca, answers, path)
        made.append(s)
        return s

    yield start
    for s in made:
        s.close()


def app_url(tmp_path, ca, template, settings=(), times=1):
    log = tmp_path / "log.txt"
    args = ["appurl", "--host-template", template, "--domain", "localhost",
            "--ca", ca.ca_file, "--log", log, "--times", times]
    for key, value in settings:
        args += ["--set", f"{key}={value}"]
    res = run_net_probe(args, private_env(tmp_path))
    res["log"] = log.read_bytes().decode().split("\r\n")[:-1] if log.exists() else []
    return res


@pytest.mark.parametrize("answers, chosen", [
    ([OK, OK, OK], 1),
    ([Response(200, b"OK\n"), Response(200, b"ok"), OK], 3),
    ([Response(404, b"OK"), OK, OK], 2),
    ([Response(200, b" OK"), Response(500, b"OK"), OK], 3),
    ([None, OK, OK], 2),
])
def test_first_server_answering_exactly_ok_wins(tmp_path, ca, servers, answers, chosen):
    s = servers(answers)
    res = app_url(tmp_path, ca, s.template)
    assert res["runs"] == [{"url": s.base(chosen) + "velomark.html", "channel": "release", "mode": "release"}]
    assert s.contacted() == [n for n in range(1, chosen + 1) if answers[n - 1] is not None]
    assert res["boxes"] == []
    assert (res["connectMs"], res["totalMs"]) == (8000, 15000)


def test_log_lines_and_one_token_per_determination(tmp_path, ca, servers):
    s = servers([None, Response(404, b"no"), OK])
    res = app_url(tmp_path, ca, s.template, times=2)
    log = res["log"]
    tokens = [re.fullmatch(r"Checking \[.*check\.html\?t=(\d+)\]", line) for line in log]
    tokens = [m.group(1) for m in tokens if m]
    assert len(tokens) == 6 and all(100000 <= int(t) <= 999999 for t in tokens)
    assert len(set(tokens[:3])) == 1 and len(set(tokens[3:])) == 1
    t = tokens[0]
    probe = [f"{s.base(n)}check.html?t={t}" for n in (1, 2, 3)]
    # libcurl's wording of a refused connection is its own; its form is ours.
    assert re.fullmatch(r"ERROR: .*Couldn't connect to server \[0\]", log[2])
    assert log[:9] == [
        f"Checking [{probe[0]}]",
        f"iCheckURLExists: [{probe[0]}]",
        log[2],
        f"Checking [{probe[1]}]",
        f"iCheckURLExists: [{probe[1]}]",
        "ERROR:  [404]",
        f"Checking [{probe[2]}]",
        f"iCheckURLExists: [{probe[2]}]",
        f"Use application URL: [{s.base(3)}velomark.html]",
    ]
    assert s.servers[3].requests[0].query == f"t={t}"


def test_no_server_answers(tmp_path, ca, servers):
    s = servers([Response(404, b""), None, Response(200, b"")], path="/pc-qa/check.html")
    res = app_url(tmp_path, ca, s.template, settings=[("beta", "0")])
    assert res["runs"] == [{"url": "", "channel": "pc-qa", "mode": "qa"}]
    checked = [line for line in res["log"] if line.startswith("Checking")]
    assert [c.split("check.html")[0] for c in checked] == [
        "Checking [" + s.base(n, "/pc-qa/") for n in (1, 2, 3)]
    errors = [line for line in res["log"] if line.startswith("ERROR: ")]
    assert errors[0] == "ERROR:  [404]" and errors[2] == "ERROR:  [200]" and len(errors) == 3
    assert res["serversAhead"] == [s.base(n, "/pc-qa/") for n in (1, 2, 3)]


def test_untrusted_numbered_server_is_refused(tmp_path, ca, other_ca, servers):
    s = Servers(other_ca, [OK, None, None])
    try:
        res = app_url(tmp_path, ca, s.template)
        assert res["runs"][0]["url"] == ""
        assert s.contacted() == []
    finally:
        s.close()


@pytest.mark.parametrize("beta", ["false", "0", "yes"])
def test_beta_selects_the_qa_channel(tmp_path, ca, servers, beta):
    s = servers([OK, OK, OK], path="/pc-qa/check.html")
    res = app_url(tmp_path, ca, s.template, settings=[("beta", beta)])
    assert res["runs"] == [{"url": s.base(1, "/pc-qa/") + "velomark.html", "channel": "pc-qa", "mode": "qa"}]
    assert res["log"][0] == "We're in Beta mode"
    assert res["proxyCalls"] == [s.base(1, "/pc-qa/")]


def test_developer_server_with_untrusted_certificate_wins_even_with_beta(
        tmp_path, ca, other_ca, servers):
    s = servers([OK, OK, OK])
    with HttpsServer("127.0.0.1", 0, other_ca, {"/check.html": OK}) as dev:
        res = app_url(tmp_path, ca, s.template,
                      settings=[("developer", f"dev1:{dev.port}"), ("beta", "1")])
        base = f"https://dev1.localhost:{dev.port}/"
        assert res["runs"] == [{"url": base + "velomark.html",
                                "channel": "(no channel in developer mode)", "mode": "developer"}]
        assert res["boxes"] == []
        assert res["proxyCalls"] == [base]
        assert re.fullmatch(r"t=\d{6}", dev.requests[0].query)
        assert res["log"][0] == f"Test Developer URL: [{base}]"
    assert s.contacted() == []


def test_developer_server_not_reached_falls_back(tmp_path, ca, servers):
    s = servers([OK, OK, OK])
    dead = free_port()
    res = app_url(tmp_path, ca, s.template, settings=[("developer", f"dev1:{dead}")])
    assert res["boxes"] == [NOT_REACHED_BOX]
    assert res["runs"] == [{"url": s.base(1) + "velomark.html", "channel": "release", "mode": "release"}]
    assert res["proxyCalls"] == [f"https://dev1.localhost:{dead}/", s.base(1)]


@pytest.mark.parametrize("developer", ["Dev1:8443", "dev1", "dev1:8", "dev1:123456",
                                       "dev_1:8443", "dev1:84a3", ":8443", "dev1:8443/x"])
def test_invalid_developer_setting_gives_its_box_then_the_channel(tmp_path, ca, servers, developer):
    s = servers([OK, OK, OK])
    res = app_url(tmp_path, ca, s.template, settings=[("developer", developer)])
    assert res["boxes"] == [INVALID_BOX]
    assert res["runs"][0]["mode"] == "release"
    assert res["proxyCalls"] == [s.base(1)]
