"""Measures the client's main window against the floor program (floor.c)
and the peer (peer.py, pywebview) in one run, under a private Xvfb, on two
pages from one loopback HTTPS server: the small test page and a page of the
size of a hosted mail application (mail_page.py).

  start   process start until the page's first bridge call has answered
          (seen by the server when the page reports it)
  trips   1000 sequential bridge round trips, timed inside the page (client
          and floor; pywebview polls for every answer every 100 ms)
  memory  RSS and PSS of the whole process tree (the engine's web and
          network processes included), 2 s after the page has finished,
          each program alone
  idle    CPU time (user + system, kernel ticks) of the whole process tree
          over 30 s with the window shown and nothing happening, the
          programs side by side

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
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 5
PEER = Path(__file__).resolve().parent / "peer.py"
os.environ["VELOMARK_BUILD_DIR"] = str(BUILD_DIR)
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests" / "integration"))
sys.path.insert(0, str(Path(__file__).resolve().parent))

from harness.app_server import BRIDGE_PAGE_HELPERS  # noqa: E402
from harness.client_run import ClientRun, client_binary  # noqa: E402
from harness.real_client import app_routes, application_servers, page  # noqa: E402
from harness.xvfb import Xvfb  # noqa: E402
from mail_page import mail_routes  # noqa: E402

TRIPS = 1000
IDLE_SECONDS = 30
SETTLE_SECONDS = 2
TICK = os.sysconf("SC_CLK_TCK")
PAGE_SIZE = os.sysconf("SC_PAGE_SIZE")
# BENCH_PROGRAMS=client,floor leaves the peer out and BENCH_PAGES=mail the
# small page (to compare client builds quickly); BENCH_CLIENT names another
# client binary of the same build.
PROGRAMS = tuple(os.environ.get("BENCH_PROGRAMS", "client,floor,peer").split(","))
CLIENT = Path(os.environ["BENCH_CLIENT"]) if os.environ.get("BENCH_CLIENT") else None

# The client's page calls requestData (no file to open: it answers "" without
# touching anything else); the floor's page posts to its echo handler; the
# peer's page calls its js_api once pywebview has put it in (after the load).
SCRIPT = f"""
  let kind = 'peer', call;
  if (typeof window.requestData === 'function') {{
    kind = 'client'; call = () => window.requestData();
  }} else if (window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.echo) {{
    kind = 'floor'; call = () => window.webkit.messageHandlers.echo.postMessage('""');
  }} else {{
    if (!(window.pywebview && window.pywebview.api && window.pywebview.api.echo))
      await new Promise((resolve) => window.addEventListener('pywebviewready', resolve, {{once: true}}));
    call = () => window.pywebview.api.echo('');
  }}
  await call();
  await report('first', kind);
  if (kind === 'peer') {{ await report('trips', null); return; }}
  const t0 = performance.now();
  for (let i = 0; i < {TRIPS}; i++) await call();
  await report('trips', performance.now() - t0);
"""

PAGES = {
    "small": app_routes(page(SCRIPT)),
    "mail": app_routes("", **mail_routes(BRIDGE_PAGE_HELPERS, SCRIPT)),
}


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


def thread_ticks(run):
    """(process, thread name) -> user + system ticks, for every thread."""
    total = {}
    for pid, comm in tree(run):
        try:
            tasks = list(Path(f"/proc/{pid}/task").iterdir())
        except OSError:
            continue
        for task in tasks:
            try:
                head, rest = task.joinpath("stat").read_text().rsplit(")", 1)
            except OSError:
                continue
            fields = rest.split()
            key = (pid, comm, int(task.name), head.split("(", 1)[1])
            total[key] = int(fields[11]) + int(fields[12])
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
    def __init__(self, name, display, folder, url):
        binary, args = {"client": (CLIENT or client_binary(), []), "floor": (FLOOR, [url]),
                        "peer": (Path("/usr/bin/python3"), [str(PEER), url])}[name]
        self.name = name
        self.run = ClientRun(display, folder, binary=binary, args=args)

    def start(self, server):
        count = len(server.results.get("first", []))
        began = time.monotonic()
        self.run.start()
        kind = server.wait_result("first", timeout=120, count=count + 1)
        self.start_ms = (time.monotonic() - began) * 1000
        assert kind == self.name, f"{self.name} started, but {kind} answered"
        self.trips_ms = server.wait_result("trips", timeout=120, count=count + 1)
        return self


def load_average():
    return os.getloadavg()[0]


def measure_page(name, routes, display, server, work):
    server.routes = dict(routes)
    url = server.url("/pc/velomark.html")
    samples = {p: {"start": [], "trips": [], "rss": [], "pss": []} for p in PROGRAMS}
    loads = [load_average()]
    # Cold starts one at a time, rotating which program goes first; the
    # memory is taken with the program alone, after its page has finished.
    for n in range(ROUNDS):
        order = PROGRAMS[n % len(PROGRAMS):] + PROGRAMS[:n % len(PROGRAMS)]
        for program_name in order:
            program = Program(program_name, display, work / f"{name}-{program_name}-{n}", url).start(server)
            time.sleep(SETTLE_SECONDS)
            rss, pss = memory_kib(program.run)
            program.run.stop()
            s = samples[program_name]
            s["start"].append(program.start_ms)
            if program.trips_ms is not None:
                s["trips"].append(program.trips_ms)
            s["rss"].append(rss / 1024)
            s["pss"].append(pss / 1024)
        loads.append(load_average())

    # All idle side by side: window shown, page finished, nothing happening.
    idle = [Program(p, display, work / f"{name}-{p}-idle", url).start(server) for p in PROGRAMS]
    time.sleep(SETTLE_SECONDS)
    before = [thread_ticks(p.run) for p in idle]
    time.sleep(IDLE_SECONDS)
    after = [thread_ticks(p.run) for p in idle]
    loads.append(load_average())
    for p, b, a in zip(idle, before, after):
        busy = {key: ticks - b.get(key, 0) for key, ticks in a.items() if ticks - b.get(key, 0)}
        samples[p.name]["idle_ticks"] = sum(busy.values())
        samples[p.name]["idle_threads"] = busy
        samples[p.name]["processes"] = sorted(comm for _, comm in tree(p.run))
    for p in idle:
        p.run.stop()
    return samples, loads


def report(name, samples, loads):
    median = statistics.median
    empty = {"start": [], "trips": [], "rss": [], "pss": [], "idle_ticks": 0}
    c, f, p = (samples.get(n, empty) for n in ("client", "floor", "peer"))
    print(f"\n== page: {name}; rounds: {ROUNDS}; {TRIPS} round trips; idle over {IDLE_SECONDS} s; "
          f"load average {min(loads):.1f} to {max(loads):.1f}")
    print(f"{'':30}{'client':>9}{'floor':>9}{'peer':>9}{'c/floor':>9}{'goal':>7}{'peer/fl':>9}")
    rows = [
        ("start, ms (median)", "start", median, 0.9),
        ("start, ms (best)", "start", min, None),
        (f"{TRIPS} round trips, ms (median)", "trips", median, 1.0),
        ("memory PSS, MiB (median)", "pss", median, 0.85),
        ("memory RSS, MiB (median)", "rss", median, None),
    ]
    for label, key, pick, goal in rows:
        cv, fv = pick(c[key]), pick(f[key])
        pv = pick(p[key]) if p[key] and key != "trips" else None
        peer = f"{pv:9.1f}" if pv is not None else f"{'-':>9}"
        peer_ratio = f"{pv / fv:9.2f}" if pv is not None else f"{'-':>9}"
        print(f"{label:30}{cv:9.1f}{fv:9.1f}{peer}{cv / fv:9.2f}{(f'{goal:.2f}' if goal else '-'):>7}{peer_ratio}")
    print(f"{f'idle CPU over {IDLE_SECONDS} s, ticks':30}{c['idle_ticks']:9d}{f['idle_ticks']:9d}"
          f"{p['idle_ticks']:9d}{'-':>9}{'0':>7}")
    for n in PROGRAMS:
        s = samples[n]
        print(f"{n} starts, ms: " + ", ".join(f"{v:.0f}" for v in s["start"]))
        if s["trips"]:
            print(f"{n} round trips, ms: " + ", ".join(f"{v:.0f}" for v in s["trips"]))
        print(f"{n} PSS, MiB: " + ", ".join(f"{v:.1f}" for v in s["pss"]))
        print(f"{n} processes: {', '.join(s['processes'])}")
        for (pid, comm, tid, thread), ticks in sorted(s["idle_threads"].items()):
            print(f"{n} idle: {ticks} ticks in {comm} [{pid}] thread {thread} [{tid}]")


def main():
    work = Path(tempfile.mkdtemp(prefix="velomark-bench-window-"))
    results = []
    with Xvfb(1600, 1200) as display, \
            application_servers({"127.0.0.1": PAGES["small"]}) as servers:
        server = servers["127.0.0.1"]
        for name in os.environ.get("BENCH_PAGES", ",".join(PAGES)).split(","):
            routes = PAGES[name]
            results.append((name, *measure_page(name, routes, display, server, work)))
    for name, samples, loads in results:
        report(name, samples, loads)


if __name__ == "__main__":
    main()
