"""Signed update packages for the update tests: a throw-away update
authority (scripts/make-update-ca.sh), further signer certificates issued
by it, small Debian packages made with dpkg-deb, and detached CMS signatures
made with openssl, as the maker signs its packages."""

import subprocess
from dataclasses import dataclass
from pathlib import Path

from harness.paths import source_path


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
    """Runs scripts/make-update-ca.sh into folder; a failure fails the set-up."""
    subprocess.run(["bash", str(source_path("scripts", "make-update-ca.sh")), str(folder)], check=True)
    return UpdateAuthority(Path(folder))


def sign(data, signer):
    """The detached CMS signature of data by signer, in DER."""
    return subprocess.run(
        ["openssl", "cms", "-sign", "-binary", "-outform", "DER", "-signer", str(signer.cert_file),
         "-inkey", str(signer.key_file)], input=data, capture_output=True, check=True).stdout


def make_package(folder, name="velomark", version="5.1.0-1"):
    """The bytes of a small Debian package that installs one text file."""
    root = Path(folder) / f"{name}_{version}"
    (root / "DEBIAN").mkdir(parents=True, exist_ok=True)
    (root / "DEBIAN" / "control").write_text(
        f"Package: {name}\nVersion: {version}\nArchitecture: all\n"
        "Maintainer: velomark tests <tests@velomark.example>\n"
        "Description: update package of the velomark tests\n")
    doc = root / "usr" / "share" / "doc" / name
    doc.mkdir(parents=True, exist_ok=True)
    (doc / "README").write_text("A package of the velomark update tests.\n")
    out = Path(folder) / f"{name}_{version}_all.deb"
    subprocess.run(["dpkg-deb", "--root-owner-group", "--build", str(root), str(out)], check=True,
                   capture_output=True)
    return out.read_bytes()
