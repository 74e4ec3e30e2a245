"""The bundled demo server answers the client's probe and serves the page."""

import subprocess

import pytest

from harness.https_server import SOURCE_DIR, free_port_on
from harness.net_probe import private_env, run_net_probe

HOSTS = ["127.0.0.1", "127.0.0.2", "127.0.0.3"]


@pytest.fixture
def demo(tmp_path):
    port = free_port_on(HOSTS)
    ca_dir = tmp_path / "ca"
    proc = subprocess.Popen(["/usr/bin/python3", str(SOURCE_DIR / "demo" / "server.py"),
                             "--port", str(port), "--ca-dir", str(ca_dir)],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        # The first line is printed once all three servers listen.
        line = proc.stdout.readline()
        assert line.startswith("demo servers on"), line
        yield port, ca_dir / "ca.pem"
    finally:
        proc.terminate()
        proc.wait(timeout=10)


def test_demo_server_is_chosen_and_serves_the_page(tmp_path, demo):
    port, ca = demo
    env = private_env(tmp_path)
    res = run_net_probe(["appurl", "--host-template", f"127.0.0.%id%:{port}",
                         "--domain", "localhost", "--ca", ca], env)
    url = f"https://127.0.0.1:{port}/pc/velomark.html"
    assert res["runs"] == [{"url": url, "channel": "release", "mode": "release"}]

    page = run_net_probe(["fetch", url, "--ca", ca], env)
    assert page["status"] == 200 and "velomark demo" in page["body"]

    for n in (2, 3):
        probe = run_net_probe(["fetch", f"https://127.0.0.{n}:{port}/pc-qa/check.html?t=123456",
                               "--ca", ca], env)
        assert (probe["status"], probe["body"]) == (200, "OK")
    outside = run_net_probe(["fetch", f"https://127.0.0.1:{port}/pc/..%2fserver.py", "--ca", ca], env)
    assert outside["status"] == 404
