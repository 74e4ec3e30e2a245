"""The demo's update: a small Debian package, signed with the demo's own
update authority the way the maker signs its packages (a detached CMS
signature in DER beside it, NAME.p7s), and the update.json that offers it.
demo/server.py serves the three files; the tests make their packages with
the same functions.

Needs dpkg-deb and openssl; otherwise only Debian's python3 standard library.
"""

import json
import subprocess
from pathlib import Path

DEMO_DIR = Path(__file__).resolve().parent
SOURCE_DIR = DEMO_DIR.parent
DEMO_PACKAGE = "velomark-demo-update"
DEMO_VERSION = "5.0.1-150"


def make_package(folder, name=DEMO_PACKAGE, version=DEMO_VERSION):
    """Builds NAME_VERSION_all.deb in folder, a package that installs nothing
    but a short README, and returns its path."""
    folder = Path(folder)
    root = folder / f"{name}_{version}"
    (root / "DEBIAN").mkdir(parents=True, exist_ok=True)
    (root / "DEBIAN" / "control").write_text(
        f"Package: {name}\nVersion: {version}\nArchitecture: all\n"
        "Maintainer: velomark demo <demo@velomark.example>\n"
        "Description: update package of the velomark demo\n"
        " It installs a README and nothing else.\n")
    doc = root / "usr" / "share" / "doc" / name
    doc.mkdir(parents=True, exist_ok=True)
    (doc / "README").write_text("The update package of the velomark demo.\n")
    out = folder / f"{name}_{version}_all.deb"
    subprocess.run(["dpkg-deb", "--root-owner-group", "--build", str(root), str(out)], check=True,
                   capture_output=True)
    return out


def sign(data, cert_file, key_file):
    """The detached CMS signature of data (bytes) in DER."""
    return subprocess.run(
        ["openssl", "cms", "-sign", "-binary", "-outform", "DER", "-signer", str(cert_file),
         "-inkey", str(key_file)], input=data, capture_output=True, check=True).stdout


def make_update_authority(folder):
    """The demo's update authority (scripts/make-update-ca.sh): folder/ca.pem
    is what the demo build trusts, signer.pem and signer.key sign."""
    subprocess.run(["bash", str(SOURCE_DIR / "scripts" / "make-update-ca.sh"), str(folder)], check=True)
    return Path(folder)


def make_demo_update(update_dir, authority_dir, base_url):
    """The signed demo package and the update.json that offers it at
    base_url + "/" + its file name, all in update_dir."""
    update_dir = Path(update_dir)
    update_dir.mkdir(parents=True, exist_ok=True)
    authority = make_update_authority(authority_dir)
    package = make_package(update_dir)
    signature = sign(package.read_bytes(), authority / "signer.pem", authority / "signer.key")
    package.with_name(package.name + ".p7s").write_bytes(signature)
    entry = {"version": DEMO_VERSION, "requires": "Debian 12 or later", "url": f"{base_url}/{package.name}"}
    manifest = {"velomark": {"linux deb": {"64": [entry]}, "linux rpm": {"64": [entry]}}}
    (update_dir / "update.json").write_text(json.dumps(manifest, indent=2) + "\n")
    return package
