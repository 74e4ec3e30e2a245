"""Ending the helper processes that a test starts."""

import subprocess


def end_process(proc, grace=10):
    """Asks proc to end, kills it when it has not after grace seconds, and
    returns the rest of its output (None where it was not piped)."""
    if proc.poll() is None:
        proc.terminate()
    try:
        return proc.communicate(timeout=grace)[0]
    except subprocess.TimeoutExpired:
        proc.kill()
        return proc.communicate()[0]
