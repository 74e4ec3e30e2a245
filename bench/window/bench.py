"""Measures the client's main window against the floor program (floor.c) in
one run, under a private Xvfb, on the same page from one loopback HTTPS
server:

  start   process start until the page's first bridge call has answered
          (seen by the server when the page reports it)
  trips   1000 sequential bridge round trips, timed inside the page
  idle    CPU time (user + system) of the whole process tree over 10 s after
          the page has finished its work
  memory  resident memory of the whole process tree (the engine's web and
          network processes included), RSS and PSS, at the end of the idle
          period

Usage: bench.py BUILD_DIR FLOOR_BINARY [rounds]
BUILD_DIR is a build configured by scripts/test-config.sh (its loopback
application host and test CA); run.sh prepares both."""

import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

BUILD_DIR = Path(sys.argv[1]).resolve()
FLOOR = Path(sys.argv[2]).resolve()
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
os.environ["VELOMARK_BUILD_DIR"] = str(BUILD_DIR)
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests" / "integration"))

from harness.client_run import ClientRun, client_binary  # noqa: E402
from harness.real_client import app_routes, application_servers, page  # noqa: E402
from harness.xvfb import Xvfb  # noqa: E402

TRIPS = 1000
IDLE_SECONDS = 10
TICK = os.sysconf("SC_CLK_TCK")
PAGE_SIZE = os.sysconf("SC_PAGE_SIZE")

# The client's page calls requestData (no file to open: it answers "" without
# touching anything else); the floor's page posts to its echo handler.
SCRIPT = f"""
  const client = typeof window.requestData === 'function';
  const call = client ? () => window.requestData()
                      : () => window.webkit.messageHandlers.echo.postMessage('""');
  await call();
  await report('first', client);
  const t0 = performance.now();
  for (let i = 0; i < {TRIPS}; i++) await call();
  await report('trips', performance.now() - t0);
"""


def tree(run):
    """The program and its descendants (the engine's helper processes); the
    D-Bus session around it and what the bus starts are not counted."""
    parents, names = {}, {}
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            head, rest = entry.joinpath("stat").read_text().rsplit(")", 1)
        except OSError:
            continue
        parents[int(entry.name)] = int(rest.split()[1])
        names[int(entry.name)] = head.split("(", 1)[1]
    roots = [pid for pid, parent in parents.items() if parent == run.proc.pid and names[pid] != "dbus-daemon"]
    found, todo = [], list(roots)
    while todo:
        pid = todo.pop()
        found.append((pid, names[pid]))
        todo.extend(child for child, parent in parents.items() if parent == pid)
    return found


def cpu_ticks(run):
    total = {}
    for pid, _ in tree(run):
        try:
            fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        total[pid] = int(fields[11]) + int(fields[12])
    return total


def memory_kib(run):
    rss = pss = 0
    for pid, _ in tree(run):
        try:
            rss += int(Path(f"/proc/{pid}/statm").read_text().split()[1]) * PAGE_SIZE // 1024
            for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines():
                if line.startswith("Pss:"):
                    pss += int(line.split()[1])
        except OSError:
            continue
    return rss, pss


class Program:
    def __init__(self, name, display, folder, binary, args):
        self.name = name
        self.run = ClientRun(display, folder, binary=binary, args=args)

    def start(self, server):
        count = len(server.results.get("first", []))
        began = time.monotonic()
        self.run.start()
        server.wait_result("first", timeout=90, count=count + 1)
        self.start_ms = (time.monotonic() - began) * 1000
        self.trips_ms = server.wait_result("trips", timeout=90, count=count + 1)
        return self


def main():
    samples = {"client": {"start": [], "trips": []}, "floor": {"start": [], "trips": []}}
    work = Path(tempfile.mkdtemp(prefix="velomark-bench-window-"))
    with Xvfb(1600, 1200) as display, \
            application_servers({"127.0.0.1": app_routes(page(SCRIPT))}) as servers:
        server = servers["127.0.0.1"]
        url = server.url("/pc/velomark.html")

        def make(name):
            binary, args = (client_binary(), []) if name == "client" else (FLOOR, [url])
            return Program(name, display, work / name, binary, args)

        # Cold starts one at a time, alternating which program goes first.
        for n in range(ROUNDS):
            order = ("client", "floor") if n % 2 == 0 else ("floor", "client")
            for name in order:
                program = make(name).start(server)
                program.run.stop()
                samples[name]["start"].append(program.start_ms)
                samples[name]["trips"].append(program.trips_ms)

        # Both idle side by side for the CPU and memory measurement.
        idle = [make("client").start(server), make("floor").start(server)]
        time.sleep(1)  # the last paint and the page's reports settle
        before = [cpu_ticks(p.run) for p in idle]
        time.sleep(IDLE_SECONDS)
        after = [cpu_ticks(p.run) for p in idle]
        for p, b, a in zip(idle, before, after):
            used = sum(a[pid] - b.get(pid, 0) for pid in a)
            samples[p.name]["idle_ms"] = used * 1000 / TICK
            samples[p.name]["rss"], samples[p.name]["pss"] = memory_kib(p.run)
            samples[p.name]["processes"] = sorted(comm for _, comm in tree(p.run))
        for p in idle:
            p.run.stop()

    def median(values):
        return statistics.median(values)

    print(f"rounds: {ROUNDS}; {TRIPS} round trips; idle over {IDLE_SECONDS} s")
    print(f"{'':32}{'client':>10}{'floor':>10}{'ratio':>8}{'goal':>8}")
    c, f = samples["client"], samples["floor"]
    rows = [
        ("start, ms (best)", min(c["start"]), min(f["start"]), 1.2),
        ("start, ms (median)", median(c["start"]), median(f["start"]), 1.2),
        (f"{TRIPS} round trips, ms (best)", min(c["trips"]), min(f["trips"]), 2.0),
        (f"{TRIPS} round trips, ms (median)", median(c["trips"]), median(f["trips"]), 2.0),
        (f"idle CPU over {IDLE_SECONDS} s, ms", c["idle_ms"], f["idle_ms"], None),
        ("memory RSS, MiB", c["rss"] / 1024, f["rss"] / 1024, 1.1),
        ("memory PSS, MiB", c["pss"] / 1024, f["pss"] / 1024, None),
    ]
    for label, cv, fv, goal in rows:
        ratio = f"{cv / fv:8.2f}" if fv else f"{'-':>8}"
        print(f"{label:32}{cv:10.1f}{fv:10.1f}{ratio}{(f'{goal:.1f}' if goal else '-'):>8}")
    for name in ("client", "floor"):
        print(f"{name} starts, ms: " + ", ".join(f"{v:.0f}" for v in samples[name]["start"]))
        print(f"{name} round trips, ms: " + ", ".join(f"{v:.0f}" for v in samples[name]["trips"]))
        print(f"{name} processes: {', '.join(samples[name]['processes'])}")


if __name__ == "__main__":
    main()
