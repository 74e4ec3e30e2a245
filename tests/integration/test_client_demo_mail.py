"""The demo page with the demo SMTP server and the real client: account
form, compose, send, "Sent." and the address completion, driven from a
small script added to the page as a user would click through it."""

import base64
import email
import email.policy
import hashlib
import subprocess

from harness.app_server import BRIDGE_PAGE_HELPERS
from harness.demo import DemoProgram
from harness.ini import ini_value
from harness.paths import source_path
from harness.ports import free_port
from harness.real_client import application_servers, app_routes, build_ca, real_client

DRIVER = """
<script>
(async () => {
  const until = async (condition) => {
    while (!condition()) await new Promise((r) => setTimeout(r, 50));
  };
  try {
    await window.demoReady;
    $('smtpServer').value = SMTP;
    $('smtpLogin').value = 'me';
    $('smtpSender').value = 'Me@Example.org';
    $('smtpAuth').value = 'tls';
    $('smtpPassword').value = 'pass "word"';
    $('saveAccount').click();
    await until(() => $('accountStatus').textContent === 'Account saved.');
    $('to').value = 'Ann@Example.org, bob@example.org';
    $('subject').value = 'Demo message';
    $('send').click();
    await until(() => $('sendStatus').textContent !== 'Sending…');
    await report('status', $('sendStatus').textContent);
    await until(() => $('addresses').options.length > 0);
    await report('options', [...$('addresses').options].map((o) => o.value));
  } catch (e) {
    await report('driver-error', String(e));
  }
  await window.closeApp();
})();
</script>
"""


def demo_page(smtp_url):
    html = source_path("demo", "www", "velomark.html").read_text()
    driver = DRIVER.replace("SMTP", repr(smtp_url))
    return html.replace("</head>", BRIDGE_PAGE_HELPERS + "</head>").replace("</body>", driver + "</body>")


def test_demo_page_sends_through_the_demo_smtp_server(display, tmp_path):
    ca = build_ca()
    port = free_port()
    store = tmp_path / "mail"
    with DemoProgram("smtp_server.py", "--port", port, "--store", store,
                     "--ca-dir", ca.ca_file.parent, ready=f"smtp server on 127.0.0.1 port {port}",
                     stderr=subprocess.STDOUT) as server:
        assert "STARTTLS offered" in server.first_line
        routes = app_routes(demo_page(f"smtp://127.0.0.1:{port}"))
        with application_servers({"127.0.0.1": routes}) as servers:
            app = servers["127.0.0.1"]
            with real_client(display, tmp_path) as run:
                assert app.wait_result("status", timeout=60) == "Sent."
                assert app.wait_result("options") == ["ann@example.org", "bob@example.org"]
                assert run.wait_exit(30) == 0
                ini = run.ini_text()
            assert "driver-error" not in app.results
    output = server.output
    assert server.returncode == 0, output

    stored = sorted(store.glob("*.eml"))
    assert [p.name for p in stored] == ["0001.eml"]
    message = email.message_from_bytes(stored[0].read_bytes(), policy=email.policy.default)
    assert str(message["Subject"]) == "Demo message"
    assert str(message["From"]) == "Me@Example.org"
    # The page stored the password in the protected form the client reads.
    device_id = ini_value(ini, "", "deviceId")
    stored_password = base64.b64decode(ini_value(ini, "WebApp", "smtp_passwd"))
    key = hashlib.sha256(device_id.encode()).hexdigest()
    clear = subprocess.run(["openssl", "enc", "-d", "-aes-256-cbc", "-K", key,
                            "-iv", stored_password[:16].hex()],
                           input=stored_password[16:], capture_output=True, check=True).stdout
    assert clear == b'pass "word"'
    assert "=== message 0001.eml from 127.0.0.1 (login 'me') over TLS" in output
    assert "MAIL FROM: Me@Example.org" in output
    assert "RCPT TO: Ann@Example.org" in output and "RCPT TO: bob@example.org" in output
    assert "  Subject: " in output and "Parts:" in output and "  text/html " in output
