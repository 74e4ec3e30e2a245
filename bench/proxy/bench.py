"""Measures what a PAC file adds to the client's start, in one run under a
private Xvfb: the same client, the same page from one loopback HTTPS
server, the same loopback HTTP proxy, once named by the setting

  manual  http://127.0.0.1:PORT
  pac     pac:https://127.0.0.1:PACPORT/proxy.pac (a typical PAC file that
          names the same proxy; downloaded, run in the hidden web view)

Start is the time from process start until the page's first bridge call
has answered, as seen by the server receiving the page's report (the page
itself comes through the proxy in both cases). CPU is the processor time
(user + system) the client and its descendants (the engine's processes,
ended ones included) had used by then: on a busy machine the wall-clock
time stretches with the load, the work much less. Cold starts run one at a
time, alternating which setting goes first; each start has a fresh HOME.

Usage: bench.py BUILD_DIR [rounds]
BUILD_DIR is a build configured by scripts/test-config.sh (its loopback
application host and test CA); run.sh prepares it."""

import os
import shutil
import statistics
import sys
import tempfile
import time
from pathlib import Path

BUILD_DIR = Path(sys.argv[1]).resolve()
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 5
os.environ["VELOMARK_BUILD_DIR"] = str(BUILD_DIR)
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests" / "integration"))

from harness.client_run import ClientRun, client_binary  # noqa: E402
from harness.http_proxy import HttpProxy  # noqa: E402
from harness.https_server import HttpsServer, Response  # noqa: E402
from harness.real_client import app_routes, application_servers, build_ca, page  # noqa: E402
from harness.xvfb import Xvfb  # noqa: E402

SCRIPT = "await window.requestData(); await report('first', (await window.getHostInfo()).proxy);"

# What company PAC files typically do: plain and internal names and
# networks directly, the rest through the proxy.
PAC = """function FindProxyForURL(url, host) {
  if (isPlainHostName(host) || dnsDomainIs(host, ".intranet.example") ||
      shExpMatch(host, "*.local") || isInNet(host, "10.0.0.0", "255.0.0.0") ||
      isInNet(host, "192.168.0.0", "255.255.0.0")) {
    return "DIRECT";
  }
  return "PROXY %s; DIRECT";
}
"""


TICK_MS = 1000 / os.sysconf("SC_CLK_TCK")


def tree_cpu_ms(root_pid):
    """User + system time of root_pid's descendants (without the D-Bus
    session daemon), their reaped children included."""
    parents, names, ticks = {}, {}, {}
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            head, rest = entry.joinpath("stat").read_text().rsplit(")", 1)
        except OSError:
            continue
        fields = rest.split()
        pid = int(entry.name)
        parents[pid], names[pid] = int(fields[1]), head.split("(", 1)[1]
        ticks[pid] = sum(int(f) for f in fields[11:15])  # utime stime cutime cstime
    todo = [pid for pid, parent in parents.items() if parent == root_pid and names[pid] != "dbus-daemon"]
    total = 0
    while todo:
        pid = todo.pop()
        total += ticks[pid]
        todo.extend(child for child, parent in parents.items() if parent == pid)
    return total * TICK_MS


def start_once(display, folder, server, setting):
    shutil.rmtree(folder, ignore_errors=True)
    run = ClientRun(display, folder, binary=client_binary())
    ini = run.ini_file
    ini.parent.mkdir(parents=True, exist_ok=True)
    ini.write_bytes(b"\xef\xbb\xbf" + f"proxy = {setting}\r\n".encode())
    count = len(server.results.get("first", []))
    began = time.monotonic()
    run.start()
    try:
        proxy = server.wait_result("first", timeout=90, count=count + 1)
        return (time.monotonic() - began) * 1000, tree_cpu_ms(run.proc.pid), proxy
    finally:
        run.stop()


def main():
    samples = {"manual": [], "pac": []}
    cpu = {"manual": [], "pac": []}
    work = Path(tempfile.mkdtemp(prefix="velomark-bench-proxy-"))
    with Xvfb(1600, 1200) as display, HttpProxy() as proxy, \
            application_servers({"127.0.0.1": app_routes(page(SCRIPT))}) as servers:
        server = servers["127.0.0.1"]
        pac_text = (PAC % proxy.address).encode()
        with HttpsServer("127.0.0.1", 0, build_ca(), {"/proxy.pac": Response(200, pac_text)}) as pac:
            settings = {"manual": f"http://{proxy.address}", "pac": "pac:" + pac.url("/proxy.pac")}
            for n in range(ROUNDS):
                order = ("manual", "pac") if n % 2 == 0 else ("pac", "manual")
                for name in order:
                    ms, cpu_ms, used = start_once(display, work / name, server, settings[name])
                    assert used == f"http://{proxy.address}", (name, used)
                    samples[name].append(ms)
                    cpu[name].append(cpu_ms)
    shutil.rmtree(work, ignore_errors=True)

    best = {k: min(v) for k, v in samples.items()}
    median = {k: statistics.median(v) for k, v in samples.items()}
    print(f"rounds: {ROUNDS}")
    print(f"{'':24}{'manual':>10}{'pac':>10}{'added':>10}{'goal':>8}")
    print(f"{'start, ms (best)':24}{best['manual']:10.0f}{best['pac']:10.0f}"
          f"{best['pac'] - best['manual']:10.0f}{'300':>8}")
    print(f"{'start, ms (median)':24}{median['manual']:10.0f}{median['pac']:10.0f}"
          f"{median['pac'] - median['manual']:10.0f}{'300':>8}")
    cpu_median = {k: statistics.median(v) for k, v in cpu.items()}
    print(f"{'CPU, ms (median)':24}{cpu_median['manual']:10.0f}{cpu_median['pac']:10.0f}"
          f"{cpu_median['pac'] - cpu_median['manual']:10.0f}{'-':>8}")
    print(f"load average at the end: {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
    for name in ("manual", "pac"):
        print(f"{name} starts, ms: " + ", ".join(f"{v:.0f}" for v in samples[name]))
        print(f"{name} CPU, ms: " + ", ".join(f"{v:.0f}" for v in cpu[name]))


if __name__ == "__main__":
    main()
