"""Throw-away certificate authorities for the loopback test servers."""

import subprocess
from dataclasses import dataclass
from pathlib import Path

from harness.paths import source_path


@dataclass
class TestCa:
    """A CA and one server certificate for 127.0.0.1, 127.0.0.2, 127.0.0.3
    and localhost, as scripts/make-test-ca.sh leaves them in folder."""

    __test__ = False  # not a pytest test class despite its name

    folder: Path

    @property
    def ca_file(self):
        return self.folder / "ca.pem"

    @property
    def cert_file(self):
        return self.folder / "server.pem"

    @property
    def key_file(self):
        return self.folder / "server.key"


def make_test_ca(folder):
    """Runs scripts/make-test-ca.sh into folder; a failure fails the set-up."""
    subprocess.run(["bash", str(source_path("scripts", "make-test-ca.sh")), str(folder)],
                   check=True)
    return TestCa(Path(folder))
