"""The shared HTTP client against HTTPS servers on loopback with a test CA."""

import os

import pytest

from harness.https_server import HttpsServer, Request, Response
from harness.net_probe import run_net_probe
from harness.ports import free_port
from harness.sandbox import private_env

CURLE_PEER_FAILED_VERIFICATION = 60
BIG = b"x" * 2000


def echo(req: Request):
    text = f"{req.method} {req.headers.get('Content-Type', '')} {req.body.decode()}"
    return Response(200, text.encode())


ROUTES = {
    "/hello": Response(200, b"hello"),
    "/redirect": Response(302, b"moved", {"Location": "/hello"}),
    "/to-file": Response(302, b"", {"Location": "file:///etc/hostname"}),
    "/big": Response(200, BIG),
    "/missing-page": Response(404, b"gone"),
    "/echo": echo,
}


@pytest.fixture
def server(ca):
    with HttpsServer("127.0.0.1", 0, ca, ROUTES) as s:
        yield s


def fetch(tmp_path, *args, **env):
    return run_net_probe(["fetch", *args], private_env(tmp_path, **env))


def test_trusts_the_extra_ca_and_sends_the_user_agent(tmp_path, server, ca):
    res = fetch(tmp_path, server.url("/hello"), "--ca", ca.ca_file)
    assert (res["ok"], res["status"], res["body"], res["error"]) == (True, 200, "hello", "")
    ua = server.requests[0].headers["User-Agent"]
    assert ua == "Mozilla/5.0 Gecko/41.0 Firefox/41.0"


def test_refuses_a_server_without_the_extra_ca(tmp_path, server, other_ca):
    for args in ([], ["--ca", other_ca.ca_file]):
        res = fetch(tmp_path, server.url("/hello"), *args)
        assert not res["ok"]
        assert res["curlCode"] == CURLE_PEER_FAILED_VERIFICATION
        assert "certificate" in res["error"]
        assert res["status"] == 0
    assert server.requests == []


def test_skipping_certificate_checks_accepts_an_unknown_issuer(tmp_path, server):
    res = fetch(tmp_path, server.url("/hello"), "--no-verify")
    assert (res["ok"], res["body"]) == (True, "hello")


def test_extra_ca_adds_to_the_store_instead_of_replacing_it(tmp_path, ca, other_ca):
    # The "trust" driver loads one CA as the base store (standing in for the
    # system store, which a test cannot change) and adds the other one the way
    # the client adds its extra CA: servers of both must be accepted.
    with HttpsServer("127.0.0.1", 0, ca, ROUTES) as a, \
            HttpsServer("127.0.0.1", 0, other_ca, ROUTES) as b:
        env = private_env(tmp_path)
        for url in (a.url("/hello"), b.url("/hello")):
            res = run_net_probe(["trust", url, "--store", ca.ca_file, "--extra", other_ca.ca_file], env)
            assert res["ok"], res
        res = run_net_probe(["trust", b.url("/hello"), "--store", ca.ca_file], env)
        assert res["curlCode"] == CURLE_PEER_FAILED_VERIFICATION


def test_redirects(tmp_path, server, ca):
    res = fetch(tmp_path, server.url("/redirect"), "--ca", ca.ca_file)
    assert (res["ok"], res["status"], res["body"]) == (True, 200, "hello")
    assert server.paths() == ["/redirect", "/hello"]

    res = fetch(tmp_path, server.url("/redirect"), "--ca", ca.ca_file, "--no-redirect")
    assert (res["ok"], res["status"], res["body"]) == (True, 302, "moved")

    # Only HTTP(S) may be reached through a redirect.
    res = fetch(tmp_path, server.url("/to-file"), "--ca", ca.ca_file)
    assert not res["ok"] and res["body"] == ""


def test_status_is_reported_not_judged(tmp_path, server, ca):
    res = fetch(tmp_path, server.url("/missing-page"), "--ca", ca.ca_file)
    assert (res["ok"], res["status"], res["body"]) == (True, 404, "gone")


def test_body_size_cap(tmp_path, server, ca):
    res = fetch(tmp_path, server.url("/big"), "--ca", ca.ca_file, "--max", len(BIG))
    assert res["ok"] and res["body"] == BIG.decode()
    res = fetch(tmp_path, server.url("/big"), "--ca", ca.ca_file, "--max", len(BIG) - 1)
    assert not res["ok"]
    assert res["body"] == ""
    assert res["error"] == f"Response larger than the limit of {len(BIG) - 1} bytes"


def test_post_form(tmp_path, server, ca):
    res = fetch(tmp_path, server.url("/echo"), "--ca", ca.ca_file, "--post", "a=1&b=%20")
    assert res["body"] == "POST application/x-www-form-urlencoded a=1&b=%20"


def test_environment_proxy_is_ignored_but_the_proxy_slot_is_used(tmp_path, server, ca):
    dead_port = free_port()
    dead = f"http://127.0.0.1:{dead_port}"
    env = {name: dead for name in ("https_proxy", "HTTPS_PROXY", "http_proxy", "ALL_PROXY", "all_proxy")}
    res = fetch(tmp_path, server.url("/hello"), "--ca", ca.ca_file, **env)
    assert (res["ok"], res["body"]) == (True, "hello")
    # The same dead proxy set in the client's slot is used, so the request
    # fails; the environment's exception list does not exempt the host either.
    res = fetch(tmp_path, server.url("/hello"), "--ca", ca.ca_file, "--proxy", dead,
                no_proxy="127.0.0.1", NO_PROXY="127.0.0.1")
    assert not res["ok"] and res["status"] == 0


def test_download_to_private_file_and_removal_on_failure(tmp_path, server, ca):
    target = tmp_path / "download.bin"
    res = fetch(tmp_path, server.url("/big"), "--ca", ca.ca_file, "--download", target)
    assert res["ok"] and res["bytes"] == len(BIG) and res["body"] == ""
    assert target.read_bytes() == BIG
    assert oct(target.stat().st_mode & 0o777) == "0o600"

    res = fetch(tmp_path, server.url("/hello"), "--download", target)  # untrusted: fails
    assert not res["ok"]
    assert not target.exists()

    link = tmp_path / "link.bin"
    victim = tmp_path / "victim"
    victim.write_text("keep")
    os.symlink(victim, link)
    res = fetch(tmp_path, server.url("/big"), "--ca", ca.ca_file, "--download", link)
    assert not res["ok"]
    assert victim.read_text() == "keep"
