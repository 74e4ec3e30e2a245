"""Signed update packages for the update tests: a throw-away update
authority (scripts/make-update-ca.sh), further signer certificates issued
by it, small Debian packages and their detached CMS signatures, made as the
demo makes its update (demo/update_package.py)."""

import subprocess
from dataclasses import dataclass
from pathlib import Path

from harness.demo import demo_module
from harness.paths import source_path

_demo = demo_module("update_package")


@dataclass
class Signer:
    cert_file: Path
    key_file: Path


@dataclass
class UpdateAuthority:
    """The CA (ca.pem, ca.key) and its CN=tessel code signer in folder."""

    folder: Path

    @property
    def ca_file(self):
        return self.folder / "ca.pem"

    @property
    def signer(self):
        return Signer(self.folder / "signer.pem", self.folder / "signer.key")

    def issue(self, name, subject, usage="codeSigning"):
        """A further signer certificate of this authority, with the extended
        key usage named (made as scripts/ca-common.sh makes the others)."""
        extensions = ("basicConstraints=critical,CA:FALSE\n"
                      "keyUsage=critical,digitalSignature\n"
                      f"extendedKeyUsage={usage}")
        subprocess.run(["bash", "-c", 'source "$0" && new_leaf "$@"',
                        str(source_path("scripts", "ca-common.sh")), str(self.folder), name, subject,
                        extensions], check=True)
        return Signer(self.folder / f"{name}.pem", self.folder / f"{name}.key")


def make_update_authority(folder):
    """Makes the authority in folder (scripts/make-update-ca.sh)."""
    return UpdateAuthority(_demo.make_update_authority(folder))


def sign(data, signer):
    """The detached CMS signature of data by signer, in DER."""
    return _demo.sign(data, signer.cert_file, signer.key_file)


def make_package(folder, name="velomark", version="5.1.0-1"):
    """The bytes of a small Debian package that installs one text file."""
    return _demo.make_package(folder, name, version).read_bytes()
