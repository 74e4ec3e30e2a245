#!/usr/bin/python3
"""Sends one message with a 20 MB attachment to a local aiosmtpd server, once
through the smtp_send driver (our transfer) and once through the curl
command-line tool building the same MIME message, alternating, and prints
wall time and peak resident memory of each sender process.

Usage: /usr/bin/python3 bench/smtp/run_bench.py BUILD_DIR [ROUNDS]
"""

import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / "tests" / "integration"))

from aiosmtpd.controller import Controller  # noqa: E402
from smtp_loopback import free_port  # noqa: E402

ATTACHMENT_BYTES = 20 * 1024 * 1024
SENDER = "sender@example.com"
RECIPIENT = "to@example.org"
HTML = "<html><body><p>Quarterly figures attached.</p></body></html>"
TEXT = "Quarterly figures attached."


class Sink:
    """Keeps only the size of each message, so the server stays small."""

    def __init__(self):
        self.sizes = []

    async def handle_DATA(self, server, session, envelope):
        self.sizes.append(len(envelope.original_content or envelope.content))
        return "250 OK"


def run_measured(argv, scratch):
    """Wall time in seconds, peak RSS in bytes and CPU seconds (user + system)
    of one sender process.

    The peak comes from GNU time: a child started straight from this Python
    process would report Python's own resident size, which Linux carries
    over into the child's maximum across fork and exec."""
    report = scratch / "rss.txt"
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", str(report), *argv],
                          capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        raise SystemExit(f"{argv[0]} failed ({done.returncode}): {done.stderr}")
    rss, user, system = report.read_text().split()[-3:]
    return elapsed, int(rss) * 1024, float(user) + float(system), done.stdout


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/rel")
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    smtp_send = build / "tests" / "smtp_send"
    if not smtp_send.exists():
        raise SystemExit(f"missing {smtp_send}: build the smtp_send target first")

    sink = Sink()
    port = free_port()
    controller = Controller(sink, hostname="127.0.0.1", port=port, data_size_limit=2**28)
    controller.start()
    try:
        with tempfile.TemporaryDirectory() as tmp:
            tmp = pathlib.Path(tmp)
            attachment = tmp / "figures.bin"
            attachment.write_bytes(os.urandom(ATTACHMENT_BYTES))
            request = tmp / "request.json"
            request.write_text(json.dumps({
                "serverUrl": f"smtp://127.0.0.1:{port}", "security": "none",
                "sender": SENDER, "replyTo": SENDER, "recipients": RECIPIENT,
                "subject": "Figures", "htmlBody": HTML, "textBody": TEXT,
                "attachments": [{"fileName": "figures.bin", "path": str(attachment)}],
            }))
            # A leading "<" makes curl read a form value from a file, so the
            # bodies go through files.
            (tmp / "body.html").write_text(HTML)
            (tmp / "body.txt").write_text(TEXT + "\r\n")
            ours = [str(smtp_send), str(request)]
            curl = [
                "curl", "-sS", f"smtp://127.0.0.1:{port}",
                "--mail-from", SENDER, "--mail-rcpt", RECIPIENT,
                "-H", "Date: Thu, 01 Jan 2026 00:00:00 +0000", "-H", f"To: {RECIPIENT}",
                "-H", f"From: {SENDER}", "-H", f"Reply-To: {SENDER}",
                "-H", "Message-ID: <00000000-0000-4000-8000-000000000000@example.com>",
                "-H", "Subject: =?UTF-8?B?RmlndXJlcw==?=",
                "-F", "=(;type=multipart/alternative",
                "-F", f"=<{tmp / 'body.html'};type=text/html",
                "-F", f"=<{tmp / 'body.txt'}",
                "-F", "=)",
                "-F", f"=@{attachment};type=application/octet-stream;encoder=base64",
            ]
            results = {"smtp_send": [], "curl": []}
            for _ in range(rounds):
                for name, argv in (("smtp_send", ours), ("curl", curl)):
                    elapsed, rss, cpu, out = run_measured(argv, tmp)
                    if name == "smtp_send" and not json.loads(out)["ok"]:
                        raise SystemExit(f"smtp_send reported failure: {out}")
                    results[name].append((elapsed, rss, cpu))
    finally:
        controller.stop()

    print(f"attachment {ATTACHMENT_BYTES} bytes, {rounds} rounds, "
          f"message sizes seen by the server: {sorted(set(sink.sizes))}")
    medians = {}
    for name, runs in results.items():
        t = statistics.median(r[0] for r in runs)
        m = max(r[1] for r in runs)
        cpu = statistics.median(r[2] for r in runs)
        medians[name] = (t, m)
        print(f"{name:10s} median {t:.3f} s (runs: {', '.join(f'{r[0]:.3f}' for r in runs)}); "
              f"sender CPU median {cpu:.2f} s; peak RSS {m / 2**20:.1f} MiB")
    ratio = medians["smtp_send"][0] / medians["curl"][0]
    mem_ratio = medians["smtp_send"][1] / ATTACHMENT_BYTES
    print(f"time ratio smtp_send/curl {ratio:.2f} (goal <= 1.2); "
          f"peak RSS / attachment {mem_ratio:.2f} (goal <= 4)")


if __name__ == "__main__":
    main()
