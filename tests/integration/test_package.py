"""The Debian package: its control fields and files, its maintainer scripts
installing into and removing from a throw-away root, the installed program,
lintian and the desktop validators, and the .tsf file type as a desktop sees
it (type, default application, and what a double-click starts).

The package under test is VELOMARK_PACKAGE_FILE when that is set (CI points
it at the release package of scripts/package.sh); otherwise CPack makes one
from the build under test, by the same install rules."""

import configparser
import os
import re
import shutil
import struct
import subprocess
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

from harness.client_run import wait_for
from harness.paths import build_path
from harness.real_client import build_setting

PACKAGE = "velomark-client"
VERSION = "5.0.0-140"
FILE_TYPE = "application/vnd.tessel"
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
USAGE_FIRST_LINE = b"velomark_client usage:\n"


def tool(name, package):
    path = shutil.which(name)
    assert path, f"{name} is not installed ({package}; scripts/install-deps.sh)"
    return path


def run(args, **kwargs):
    kwargs.setdefault("timeout", 300)
    return subprocess.run([str(a) for a in args], capture_output=True, **kwargs)


@pytest.fixture(scope="module")
def app_id():
    value = build_setting("VELOMARK_APP_ID")
    assert value, "the build names no application id (VELOMARK_APP_ID)"
    return value


@pytest.fixture(scope="module")
def package(tmp_path_factory):
    given = os.environ.get("VELOMARK_PACKAGE_FILE")
    if given:
        assert Path(given).is_file(), f"VELOMARK_PACKAGE_FILE names no file: {given}"
        return Path(given)
    out = tmp_path_factory.mktemp("package")
    made = run(["cpack", "-G", "DEB", "--config", build_path("CPackConfig.cmake"), "-B", out], timeout=900)
    assert made.returncode == 0, made.stdout.decode() + made.stderr.decode()
    debs = list(out.glob("*.deb"))
    assert len(debs) == 1, debs
    return debs[0]


@pytest.fixture(scope="module")
def unpacked(package, tmp_path_factory):
    folder = tmp_path_factory.mktemp("unpacked")
    assert run(["dpkg-deb", "-x", package, folder]).returncode == 0
    return folder


def control_fields(package):
    text = run(["dpkg-deb", "--field", package], check=True).stdout.decode()
    fields, key = {}, None
    for line in text.splitlines():
        if line.startswith(" ") and key:
            fields[key] += "\n" + line
        elif line:
            key, value = line.split(":", 1)
            fields[key] = value.strip()
    return fields


def package_files(app_id):
    """Every file the package holds, with its mode."""
    files = {
        "usr/bin/velomark_client": "-rwxr-xr-x",
        "usr/share/man/man1/velomark_client.1.gz": "-rw-r--r--",
        f"usr/share/doc/{PACKAGE}/copyright": "-rw-r--r--",
        f"usr/share/doc/{PACKAGE}/changelog.Debian.gz": "-rw-r--r--",
        f"usr/share/applications/{app_id}.desktop": "-rw-r--r--",
        f"usr/share/metainfo/{app_id}.metainfo.xml": "-rw-r--r--",
        f"usr/share/mime/packages/{app_id}.xml": "-rw-r--r--",
        f"usr/share/icons/hicolor/scalable/apps/{app_id}.svg": "-rw-r--r--",
    }
    for size in ICON_SIZES:
        files[f"usr/share/icons/hicolor/{size}x{size}/apps/{app_id}.png"] = "-rw-r--r--"
    return files


def test_control_fields_name_the_package_its_version_and_its_dependencies(package):
    fields = control_fields(package)
    architecture = run(["dpkg", "--print-architecture"], check=True).stdout.decode().strip()
    assert (fields["Package"], fields["Version"], fields["Architecture"]) == (PACKAGE, VERSION, architecture)
    assert (fields["Section"], fields["Priority"]) == ("mail", "optional")
    assert re.fullmatch(r"[^<>]+ <[^<>@\s]+@[^<>@\s]+>", fields["Maintainer"]), fields["Maintainer"]
    synopsis, *long_description = fields["Description"].splitlines()
    assert synopsis == "desktop client of the velomark e-mail service"
    assert long_description and all(line.startswith(" ") for line in long_description)
    # dpkg-shlibdeps' libraries with their minimum versions, and xdg-utils.
    depends = dict(re.fullmatch(r"(\S+)(?: \((.*)\))?", d.strip()).groups() for d in fields["Depends"].split(","))
    for library in ("libc6", "libgtk-3-0", "libwebkit2gtk-4.1-0", "libcurl4", "libsqlite3-0", "libssl3",
                    "libpcre2-8-0"):
        assert library in depends, fields["Depends"]
    assert depends["libc6"].startswith(">= ")
    assert "xdg-utils" in depends


def test_the_files_are_in_their_places_with_their_modes(package, unpacked, app_id):
    listing = run(["dpkg-deb", "--contents", package], check=True).stdout.decode().splitlines()
    entries = {}
    for line in listing:
        mode, owner, _size, _date, _time, path = line.split(maxsplit=5)
        assert owner == "root/root", line
        entries[path.removeprefix("./").rstrip("/")] = mode
    files = {path: mode for path, mode in entries.items() if not mode.startswith("d")}
    assert files == package_files(app_id)
    assert {mode for mode in entries.values() if mode.startswith("d")} == {"drwxr-xr-x"}
    # Each rendered icon has the size its folder names.
    for size in ICON_SIZES:
        png = (unpacked / f"usr/share/icons/hicolor/{size}x{size}/apps/{app_id}.png").read_bytes()
        assert png[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", png[16:24]) == (size, size)
    control = unpacked.parent / (unpacked.name + "-control")
    run(["dpkg-deb", "-e", package, control], check=True)
    for script in ("postinst", "postrm"):
        assert os.access(control / script, os.X_OK), script


def test_lintian_reports_no_error(package):
    checked = run([tool("lintian", "lintian"), "--fail-on", "error", "--display-info", package], timeout=600)
    assert checked.returncode == 0, checked.stdout.decode() + checked.stderr.decode()


def test_the_desktop_entry_and_metainfo_pass_their_validators_and_name_the_client(unpacked, app_id):
    entry_file = unpacked / f"usr/share/applications/{app_id}.desktop"
    validated = run([tool("desktop-file-validate", "desktop-file-utils"), entry_file])
    assert validated.returncode == 0 and validated.stdout == b"", validated.stdout.decode()
    metainfo = unpacked / f"usr/share/metainfo/{app_id}.metainfo.xml"
    validated = run([tool("appstreamcli", "appstream"), "validate", "--no-net", metainfo])
    assert validated.returncode == 0, validated.stdout.decode() + validated.stderr.decode()

    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    parser.read(entry_file, encoding="utf-8")
    entry = parser["Desktop Entry"]
    assert {k: entry.get(k) for k in ("Type", "Exec", "Icon", "Terminal", "Categories", "MimeType",
                                      "StartupWMClass")} == {
        "Type": "Application", "Exec": "velomark_client %f", "Icon": app_id, "Terminal": "false",
        "Categories": "Network;Email;", "MimeType": f"{FILE_TYPE};", "StartupWMClass": app_id}

    root = ET.parse(metainfo).getroot()
    assert root.get("type") == "desktop-application"
    assert root.findtext("id") == app_id
    assert root.findtext("launchable") == f"{app_id}.desktop"
    assert root.findtext("provides/mediatype") == FILE_TYPE
    assert root.findtext("provides/binary") == "velomark_client"
    assert root.find("releases/release").get("version") == VERSION


def test_the_manual_page_renders_without_warnings_and_covers_the_command_line(unpacked):
    page = unpacked / "usr/share/man/man1/velomark_client.1.gz"
    env = {**os.environ, "LC_ALL": "C.UTF-8", "MANWIDTH": "80"}
    checked = run([tool("man", "man-db"), "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page], env=env)
    assert checked.returncode == 0 and checked.stderr == b"", checked.stderr.decode()
    text = run(["man", "-l", page], env={**env, "MAN_KEEP_FORMATTING": ""}, check=True).stdout.decode()
    text = re.sub(r".\x08", "", text)
    for heading in ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES", "ENVIRONMENT", "EXIT STATUS"):
        assert re.search(rf"^{heading}$", text, re.M), heading
    for word in ("-h", "-?", "-l logfile", "-i file.tsf", "velomark_client.ini", "tessel_db.dat",
                 "velomark_log.txt", "TS_PLSKEYID", "TS_CLKEYID", "TS_IGNORESSL", "status 0"):
        assert word in text, word


def dpkg_root(root, *args):
    """dpkg on the throw-away root. The maintainer scripts run on this
    system (there is no shell inside the root to chroot to) with DPKG_ROOT
    set, which they honour."""
    return run(["dpkg", f"--root={root}", "--force-script-chrootless", "--force-depends", *args])


def test_installing_into_a_throwaway_root_refreshes_the_caches_and_removing_undoes_it(package, tmp_path, app_id):
    assert os.geteuid() == 0, "installing into a throw-away root needs root (dpkg sets file owners)"
    for needed, owner in (("update-mime-database", "shared-mime-info"),
                          ("update-desktop-database", "desktop-file-utils"),
                          ("gtk-update-icon-cache", "gtk-update-icon-cache")):
        tool(needed, owner)
    root = tmp_path / "root"
    for folder in ("var/lib/dpkg/info", "var/lib/dpkg/updates", "var/lib/dpkg/triggers", "usr/share/mime/packages"):
        (root / folder).mkdir(parents=True)
    (root / "var/lib/dpkg/status").write_text("")
    # Another package's file type, which must survive our removal.
    (root / "usr/share/mime/packages/other.xml").write_text(
        '<?xml version="1.0"?><mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">'
        '<mime-type type="application/x-other"><comment>other</comment><glob pattern="*.oth"/></mime-type>'
        "</mime-info>")
    share = root / "usr/share"

    installed = dpkg_root(root, "-i", package)
    assert installed.returncode == 0, installed.stderr.decode()
    for path in package_files(app_id):
        assert (root / path).is_file(), path
    type_file = share / "mime" / f"{FILE_TYPE}.xml"
    assert "tessel-Nachricht" in type_file.read_text()
    assert f"{FILE_TYPE}={app_id}.desktop;" in (share / "applications/mimeinfo.cache").read_text()
    assert (share / "icons/hicolor/icon-theme.cache").is_file()

    # The installed program, as a user would start it for its usage: no
    # display and no session bus needed.
    env = {"PATH": os.environ["PATH"], "HOME": str(tmp_path), "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "")}
    usage = run([root / "usr/bin/velomark_client", "-h"], env=env, timeout=60)
    assert usage.returncode == 0 and usage.stdout.startswith(USAGE_FIRST_LINE), usage.stderr.decode()

    removed = dpkg_root(root, "-r", PACKAGE)
    assert removed.returncode == 0, removed.stderr.decode()
    assert not [path for path in package_files(app_id) if (root / path).exists()]
    assert not type_file.exists()
    assert (share / "mime/application/x-other.xml").is_file()
    assert FILE_TYPE not in (share / "applications/mimeinfo.cache").read_text()


@pytest.fixture
def desktop_user(unpacked, app_id, tmp_path, display):
    """A user whose data folder holds the package's file type and desktop
    entry (as its maintainer scripts would register them system-wide), with
    a stand-in velomark_client on PATH that records its parameters."""
    data = tmp_path / "data"
    (data / "mime/packages").mkdir(parents=True)
    (data / "applications").mkdir(parents=True)
    shutil.copy(unpacked / f"usr/share/mime/packages/{app_id}.xml", data / "mime/packages")
    shutil.copy(unpacked / f"usr/share/applications/{app_id}.desktop", data / "applications")
    run(["update-mime-database", data / "mime"], check=True)
    run(["update-desktop-database", data / "applications"], check=True)
    bin_folder = tmp_path / "bin"
    bin_folder.mkdir()
    started = tmp_path / "started.txt"
    stand_in = bin_folder / "velomark_client"
    stand_in.write_text(f'#!/bin/sh\nfor a in "$@"; do printf "%s\\n" "$a" >> "{started}"; done\n')
    stand_in.chmod(0o755)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "DBUS_", "GIO_", "WAYLAND"))}
    env.update({"HOME": str(tmp_path), "XDG_DATA_HOME": str(data), "XDG_CONFIG_HOME": str(tmp_path / "config"),
                "PATH": f"{bin_folder}:{env.get('PATH', '/usr/bin:/bin')}", "DISPLAY": display.display,
                # No session bus: nothing is started on one, none is left behind.
                "DBUS_SESSION_BUS_ADDRESS": f"unix:path={tmp_path / 'no-bus'}"})
    return env, started


@pytest.mark.parametrize("desktop", ["generic", "GNOME"])
def test_a_tsf_file_has_the_type_and_a_double_click_starts_the_client_with_it(desktop_user, tmp_path, app_id,
                                                                               desktop):
    # xdg-utils asks the Perl MIME library on a generic desktop and GIO on GNOME.
    tool("mimetype", "libfile-mimeinfo-perl")
    tool("gio", "libglib2.0-bin")
    env, started = desktop_user
    if desktop != "generic":
        env = {**env, "XDG_CURRENT_DESKTOP": desktop}
    message = tmp_path / "Inbox" / "Message 1.TSF"
    message.parent.mkdir()
    message.write_bytes(b"\x00\x01tessel")
    xdg_mime = tool("xdg-mime", "xdg-utils")
    filetype = run([xdg_mime, "query", "filetype", message], env=env, timeout=60)
    assert filetype.stdout.decode().strip() == FILE_TYPE, filetype.stderr.decode()
    default = run([xdg_mime, "query", "default", FILE_TYPE], env=env, timeout=60)
    assert default.stdout.decode().strip() == f"{app_id}.desktop", default.stderr.decode()

    opened = run([tool("xdg-open", "xdg-utils"), message], env=env, timeout=60)
    assert opened.returncode == 0, opened.stderr.decode()
    # GIO starts the program without waiting for it.
    wait_for(lambda: started.exists() and started.read_text().endswith("\n"), what="the started client")
    assert started.read_text().splitlines() == [str(message)]
