"""The longest main-loop stall of the real client during a 20 MB sendMail.

The client runs under a private Xvfb with VELOMARK_LOOP_LATENESS_FILE set,
so its main loop carries a 5 ms GLib timeout that notes how late each firing
came (src/platform/loop_lateness.h). The page builds a 20 MB attachment,
reports that it starts, calls sendMail to an aiosmtpd server on loopback,
reports the answer and closes the client. The stalls between the two reports
are those of the send: the bridge call's arrival, the checks, the transfer
on its worker and the answer. Printed per round: the longest stall, the
99th percentile of the firings' lateness and the send's duration."""

import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "integration"))

from harness.real_client import app_routes, application_servers, page, real_client  # noqa: E402
from harness.xvfb import Xvfb  # noqa: E402
from smtp_loopback import SmtpServer  # noqa: E402

MEGABYTES = 20

SCRIPT = """
  const settings = {smtp_server: @SERVER@, smtp_sender: 'me@example.org', smtp_auth: 'none'};
  for (const [k, v] of Object.entries(settings)) await window.setSetting(k, v);
  const bytes = new Uint8Array(@MB@ * 1024 * 1024);
  for (let i = 0; i < bytes.length; i += 65536) crypto.getRandomValues(bytes.subarray(i, i + 65536));
  let binary = '';
  for (let i = 0; i < bytes.length; i += 32768)
    binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 32768));
  const attachment = btoa(binary);
  await report('start', true);
  const answer = await window.sendMail('to@example.org', 'Big', 't', '<p>big</p>', 'big.bin',
                                       attachment);
  await report('done', answer);
  await window.closeApp();
"""


def one_round(folder):
    with Xvfb(1600, 1200) as display, SmtpServer() as smtp:
        script = (SCRIPT.replace("@SERVER@", f"'smtp://127.0.0.1:{smtp.port}'")
                  .replace("@MB@", str(MEGABYTES)))
        lateness = folder / "lateness.txt"
        with application_servers({"127.0.0.1": app_routes(page(script))}) as servers:
            server = servers["127.0.0.1"]
            with real_client(display, folder,
                             env={"VELOMARK_LOOP_LATENESS_FILE": str(lateness)}) as run:
                server.wait_result("start", timeout=120)
                start = time.monotonic()
                answer = server.wait_result("done", timeout=300)
                end = time.monotonic()
                assert run.wait_exit(60) == 0
        assert answer == "", answer
        assert len(smtp.recorder.messages) == 1
    notes = [tuple(map(int, line.split())) for line in lateness.read_text().splitlines()]
    # The report of "start" reaches the bench a little after the page sent it.
    window = [late for at, late in notes if start - 0.2 <= at / 1e6 <= end]
    window.sort()
    return window[-1] / 1000, window[int(len(window) * 0.99)] / 1000, end - start


def main():
    import tempfile
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    print(f"{MEGABYTES} MB sendMail to loopback aiosmtpd: longest main-loop stall")
    for n in range(rounds):
        with tempfile.TemporaryDirectory() as folder:
            longest, p99, seconds = one_round(Path(folder))
        print(f"round {n + 1}: longest stall {longest:.1f} ms, 99th percentile {p99:.1f} ms, "
              f"send {seconds:.2f} s")


if __name__ == "__main__":
    main()
