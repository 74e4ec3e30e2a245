"""Start-up paths of the real client binary that need no window."""
import os
import subprocess

import pytest

from harness.client_run import client_binary
from harness.sandbox import private_folders

USAGE = (
    "velomark_client usage:\n"
    "  velomark_client {-h} {-?} {-l {logfile}} {-i fileToOpen.tsf} {fileToOpen.tsf}\n"
    "  -l logfile    will acivate logging and log to given logfile\n"
    "  -l            will activate logging and logs to %temp%/velomark_log.txt by default\n"
    "  -i file.tsf   will open given tsf file for display\n"
    "  file.tsf      will open given tsf file for display (only without any other switch)\n"
    "  -h or -?      display usage\n"
)


@pytest.fixture
def sandbox(tmp_path):
    # No DISPLAY: these paths must not need one.
    return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), **private_folders(tmp_path),
            "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "")}


@pytest.mark.parametrize("args", [["-h"], ["-?"], ["-l", "-h"], ["x.tsf", "-?"]])
def test_usage_is_printed_byte_for_byte_and_nothing_else_happens(sandbox, args):
    run = subprocess.run([client_binary(), *args], env=sandbox, capture_output=True, timeout=30)
    assert run.returncode == 0
    assert run.stdout.decode() == USAGE
    # No migration, no preferences file, no log.
    assert os.listdir(sandbox["XDG_CONFIG_HOME"]) == []
    assert os.listdir(sandbox["TMPDIR"]) == []


def test_without_display_the_client_says_how_to_run_it(sandbox):
    run = subprocess.run([client_binary()], env=sandbox, capture_output=True, timeout=30)
    assert run.returncode == 0
    assert b"xvfb-run" in run.stderr
