"""The real client binary end to end: application page from a loopback
server, bridge calls from that page, and what the client does with them."""

import json

from harness.real_client import application_servers, app_routes, loopback_application_port, page, real_client


def test_page_reads_host_info_and_round_trips_settings(display, tmp_path):
    script = """
      await report('host', await window.getHostInfo());
      await window.setSetting('q', 'a"b/c');
      await window.setSetting('n', 2.50);
      await report('q', await window.getSetting('q', ''));
      await report('n', await window.getSetting('n', ''));
      await report('wrong', await outcome(() => window.getSetting('k')));
      await report('all', await window.getAllSettings());
      await window.closeApp();
    """
    with application_servers({"127.0.0.1": app_routes(page(script))}) as servers:
        server = servers["127.0.0.1"]
        run = real_client(display, tmp_path, args=["-l", str(tmp_path / "log.txt")])
        with run:
            host = server.wait_result("host")
            assert server.wait_result("q") == 'a"b/c'
            assert server.wait_result("n") == "2.5"
            assert server.wait_result("wrong") == {"undefined": True}
            assert server.wait_result("all") == {"debug": "true", "q": 'a"b/c', "n": "2.5"}
            assert run.wait_exit(30) == 0
    assert host["mode"] == "release" and host["channel"] == "release"
    assert set(host) >= {"version", "deviceID", "developerMode"}
    assert host["version"] == " 5.0.0-140"
    log = (tmp_path / "log.txt").read_bytes().decode()
    assert "getSetting had wrong parameter count!\r\n" in log
    port = loopback_application_port()
    assert f"Use application URL: [https://127.0.0.1:{port}/pc/velomark.html]" in log


COMMAND_TABLE = ["getHostInfo", "setSetting", "deleteSetting", "getSetting", "getAllSettings", "openFile",
                 "closeApp", "reload", "askProxy", "sendLogEntry", "enableLog", "attachFiles", "requestData",
                 "openURL", "sendMail", "getAddresses", "sendLog"]


def test_the_page_gets_its_bridge_functions_in_the_command_tables_order(display, tmp_path):
    script = f"""
      const table = {json.dumps(COMMAND_TABLE)};
      await report('order', Object.getOwnPropertyNames(window).filter((n) => table.includes(n)));
      await window.closeApp();
    """
    with application_servers({"127.0.0.1": app_routes(page(script))}) as servers:
        with real_client(display, tmp_path) as run:
            order = servers["127.0.0.1"].wait_result("order")
            assert run.wait_exit(30) == 0
    assert order == COMMAND_TABLE
