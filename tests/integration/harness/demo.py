"""The programs and modules of demo/ as the tests use them."""

import importlib
import subprocess
import sys

from harness.paths import source_path
from harness.processes import end_process


def demo_module(name):
    """A module of demo/ (code the demo servers share), from the source tree
    under test."""
    folder = str(source_path("demo"))
    if folder not in sys.path:
        sys.path.insert(0, folder)
    return importlib.import_module(name)


class DemoProgram:
    """demo/NAME run with the system python3, whose first line of output,
    first_line, says that it listens: it has to start with ready. Leaving
    the block ends the program; output then holds what it printed after
    that line, and returncode how it ended."""

    def __init__(self, name, *args, ready, stderr=subprocess.DEVNULL):
        self.argv = ["/usr/bin/python3", str(source_path("demo", name)), *map(str, args)]
        self.ready = ready
        self.stderr = stderr
        self.proc = None
        self.output = None

    def __enter__(self):
        self.proc = subprocess.Popen(self.argv, stdout=subprocess.PIPE, stderr=self.stderr,
                                     text=True)
        self.first_line = self.proc.stdout.readline()
        if not self.first_line.startswith(self.ready):
            self.output = end_process(self.proc)
            raise AssertionError(f"{self.argv[1]} did not start: {self.first_line}{self.output}")
        return self

    def __exit__(self, *exc):
        self.output = end_process(self.proc)

    @property
    def returncode(self):
        return self.proc.returncode
