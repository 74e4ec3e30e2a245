"""The update check and the update download against HTTPS servers on
loopback: a manifest server with the test CA, packages signed by a
throw-away update authority, and an xdg-open stand-in that records what the
system's installer would have been given."""

import json
import os
import stat
import threading
import time

import pytest

from harness.https_server import HttpsServer, Response
from harness.sandbox import private_env
from harness.update_authority import make_package, make_update_authority, sign
from harness.update_probe import Installer, run_update_probe
from harness.xvfb import wait_until

CLIENT_VERSION = " 5.0.0-140"
ENTRY_PATH = "velomark\\linux deb\\64\\[0]\\"
NOW = 1700000000
WEEK = 604800
REFUSED = "Error: Downloaded file signature is not tessel! I do not let you run this executable!"


def manifest(entry, platform="linux deb", bitness="64", more=()):
    return json.dumps({"velomark": {platform: {bitness: [entry, *more]}}}).encode()


def offer(version, url="https://127.0.0.1/velomark_5.1.0-1_all.deb"):
    return {"version": version, "requires": "libwebkit2gtk-4.1-0", "url": url}


def check_lines(body_text, version, url, outcome):
    """The log of a check that found an entry."""
    return ["Downloaded update JSON file content:\n" + body_text,
            f"Available update from [{ENTRY_PATH}] is version: [{version}] requires: "
            f"[libwebkit2gtk-4.1-0] url: [{url}]", outcome]


NEEDED = "An update is available and needed"
UP_TO_DATE = "No update needed, version is up to date"
NO_ENTRY = f"Warning: No update information (url, version) found in JSON file for path [{ENTRY_PATH})"
URL = "https://127.0.0.1/velomark_5.1.0-1_all.deb"


# --- the check ----------------------------------------------------------------

@pytest.fixture(scope="module")
def package_server(ca):
    with HttpsServer("127.0.0.1", 0, ca) as s:
        yield s


def check(tmp_path, server, body, ca, *args):
    server.routes = {"/update.json": body if isinstance(body, Response) else Response(200, body)}
    server.requests.clear()
    return run_update_probe(["check", "--manifest-url", server.url("/update.json"), "--ca", ca.ca_file,
                             "--now", NOW, *args], private_env(tmp_path))


def entry_case(version_json, answer, outcome, version_text=None):
    body = manifest({"version": version_json, "requires": "libwebkit2gtk-4.1-0", "url": URL})
    shown = version_text if version_text is not None else version_json
    return body, answer, check_lines(body.decode(), shown, URL, outcome)


CHECK_CASES = {
    # The version rule, each against the client's " 5.0.0-140".
    "newer third field": entry_case("5.0.1-150", "5.0.1-150|" + URL, NEEDED),
    "v and underscore": entry_case("V5.0.0_140", "", UP_TO_DATE),
    "shorter version": entry_case("5.0.0", "", UP_TO_DATE),
    "letters after digits": entry_case("5.1beta", "5.1beta|" + URL, NEEDED),
    "number six": entry_case(6, "6|" + URL, NEEDED, version_text="6"),
    "same version": entry_case(CLIENT_VERSION, "", UP_TO_DATE),
    "first of two elements": (
        manifest(offer("5.0.0-139", URL), more=[offer("9.9.9", URL)]), "",
        check_lines(manifest(offer("5.0.0-139", URL), more=[offer("9.9.9", URL)]).decode(),
                    "5.0.0-139", URL, UP_TO_DATE)),
    "blanks around the body": (
        b"  \r\n" + manifest(offer("5.0.1", URL)) + b"\n  ", "5.0.1|" + URL,
        check_lines(manifest(offer("5.0.1", URL)).decode(), "5.0.1", URL, NEEDED)),
    # Entries that are not there or not usable.
    "other bitness only": (
        manifest(offer("6.0", URL), bitness="32"), "",
        ["Downloaded update JSON file content:\n" + manifest(offer("6.0", URL), bitness="32").decode(),
         NO_ENTRY]),
    "url null": (
        manifest({"version": "6.0", "url": None}), "",
        ["Downloaded update JSON file content:\n" + manifest({"version": "6.0", "url": None}).decode(),
         NO_ENTRY]),
    "plain http url": (
        manifest(offer("6.0", "http://127.0.0.1/p.deb")), "",
        ["Downloaded update JSON file content:\n" + manifest(offer("6.0", "http://127.0.0.1/p.deb")).decode(),
         NO_ENTRY]),
    # The answer is version "|" url: a bar in the version would move the url.
    "bar in the version": (
        manifest(offer("6|http://127.0.0.1/x.deb", URL)), "",
        ["Downloaded update JSON file content:\n" + manifest(offer("6|http://127.0.0.1/x.deb", URL)).decode(),
         NO_ENTRY]),
    "no version": (
        manifest({"url": URL}), "",
        ["Downloaded update JSON file content:\n" + manifest({"url": URL}).decode(), NO_ENTRY]),
}


@pytest.mark.parametrize("name", CHECK_CASES)
def test_the_check_reads_the_entry_of_this_platform(tmp_path, package_server, ca, name):
    body, answer, lines = CHECK_CASES[name]
    res = check(tmp_path, package_server, body, ca)
    assert res == {"answer": answer, "log": lines}
    [request] = package_server.requests
    assert (request.method, request.path) == ("GET", "/update.json")
    assert request.headers["User-Agent"] == "Mozilla/5.0 Gecko/41.0 Firefox/41.0"


def test_bodies_that_are_not_a_manifest(tmp_path, package_server, ca):
    url = package_server.url("/update.json")
    res = check(tmp_path, package_server, b" \t\r\n  ", ca)
    assert res == {"answer": "", "log": [f"Error: Downloaded update file [{url}] was empty"]}

    res = check(tmp_path, package_server, b'{\n  "velomark": {\n    "linux deb": oops\n}', ca)
    assert res["answer"] == ""
    assert res["log"][0].startswith("Downloaded update JSON file content:\n{")
    assert res["log"][1] == (
        f"Error: Unable to parse JSON from file [{url}]: [json.exception.parse_error.101] parse error "
        "at line 3, column 18: syntax error while parsing value - invalid literal; last read: "
        "'\"linux deb\": o' (line 3)")

    # An error page arrives as a body and fails as JSON.
    res = check(tmp_path, package_server, Response(404, b"not found"), ca)
    assert res["log"] == [
        "Downloaded update JSON file content:\nnot found",
        f"Error: Unable to parse JSON from file [{url}]: [json.exception.parse_error.101] parse error "
        "at line 1, column 2: syntax error while parsing value - invalid literal; last read: 'no' "
        "(line 1)"]


def test_redirects_are_followed_and_the_certificate_is_checked(tmp_path, package_server, ca, other_ca):
    package_server.routes = {
        "/update.json": Response(301, b"", {"Location": "/v2/update.json"}),
        "/v2/update.json": Response(200, manifest(offer("5.0.1", URL)))}
    package_server.requests.clear()
    res = run_update_probe(["check", "--manifest-url", package_server.url("/update.json"), "--ca",
                            ca.ca_file], private_env(tmp_path))
    assert res["answer"] == "5.0.1|" + URL
    assert package_server.paths() == ["/update.json", "/v2/update.json"]

    for manifest_url, trusted in ((package_server.url("/update.json"), other_ca.ca_file),
                                  ("https://127.0.0.1:9/update.json", ca.ca_file)):
        res = run_update_probe(["check", "--manifest-url", manifest_url, "--ca", trusted],
                               private_env(tmp_path))
        assert res == {"answer": "", "log": [f"Error: Failed to download [{manifest_url}]"]}


@pytest.mark.parametrize("check_time, due", [
    (0, True),
    (NOW - WEEK + 1, False),
    (NOW - WEEK, True),
    (NOW + 3600, False),
])
def test_the_check_runs_once_seven_days_have_passed(tmp_path, package_server, ca, check_time, due):
    res = check(tmp_path, package_server, manifest(offer("5.0.1", URL)), ca, "--check-time", check_time)
    if due:
        assert res["answer"] == "5.0.1|" + URL
        assert package_server.paths() == ["/update.json"]
    else:
        assert res == {"answer": "no", "log": ["No update check because the time is not due."]}
        assert package_server.requests == []


# --- the download -------------------------------------------------------------

PACKAGE_NAME = "velomark_5.1.0-1_all.deb"


@pytest.fixture(scope="module")
def authority(tmp_path_factory):
    return make_update_authority(tmp_path_factory.mktemp("update-ca"))


@pytest.fixture(scope="module")
def foreign_authority(tmp_path_factory):
    """An authority the client does not trust, with a CN=tessel code signer."""
    return make_update_authority(tmp_path_factory.mktemp("foreign-update-ca"))


@pytest.fixture(scope="module")
def package(tmp_path_factory):
    return make_package(tmp_path_factory.mktemp("package"))


def download(installer, server, ca, authority, path, *args):
    return run_update_probe(["download", server.url(path), "--ca", ca.ca_file, "--update-ca",
                             authority.ca_file, *args], installer.env)


def signature_cases(package, authority, foreign_authority):
    other = authority.issue("other", "/CN=other/O=tessel")
    upper = authority.issue("upper", "/CN=TESSEL/O=Tessel Systems")
    server_only = authority.issue("tls", "/CN=tessel/O=tessel", usage="serverAuth")
    tampered = bytearray(package)
    tampered[-20] ^= 0x01
    signed = sign(package, authority.signer)
    moved = Response(302, b"moved", {"Location": "/elsewhere/" + PACKAGE_NAME})
    # name: (what is served as the package, its signature or None for 404,
    #        handed over, the check's log lines after "Download finished")
    return {
        "valid": (package, signed, True, []),
        "signer in other letter case": (package, sign(package, upper), True, []),
        "tampered package": (bytes(tampered), signed, False, ["invalid"]),
        "signer CN=other": (package, sign(package, other), False, ["signer"]),
        "signer not for code signing": (package, sign(package, server_only), False, ["invalid"]),
        "untrusted authority": (package, sign(package, foreign_authority.signer), False, ["invalid"]),
        "no signature": (package, None, False, ["invalid"]),
        "redirect instead of the package": (moved, signed, False, ["invalid"]),
    }


@pytest.mark.parametrize("name", ["valid", "signer in other letter case", "tampered package",
                                  "signer CN=other", "signer not for code signing",
                                  "untrusted authority", "no signature",
                                  "redirect instead of the package"])
def test_only_a_package_signed_by_the_update_authority_for_tessel_is_handed_over(
        tmp_path, ca, authority, foreign_authority, package, name):
    served, signature, handed_over, refusal = signature_cases(package, authority, foreign_authority)[name]
    routes = {"/pkg/" + PACKAGE_NAME: served if isinstance(served, Response) else Response(200, served),
              "/elsewhere/" + PACKAGE_NAME: Response(200, package)}
    if signature is not None:
        routes["/pkg/" + PACKAGE_NAME + ".p7s"] = Response(200, signature)
    installer = Installer(tmp_path)
    target = installer.tmp + PACKAGE_NAME
    with HttpsServer("127.0.0.1", 0, ca, routes) as server:
        res = download(installer, server, ca, authority, "/pkg/" + PACKAGE_NAME)
        requested = server.paths()
    assert requested == ["/pkg/" + PACKAGE_NAME, "/pkg/" + PACKAGE_NAME + ".p7s"], "no redirect followed"
    assert res["result"] is handed_over
    expected = [f"Download to [{target}]", "Download finished"]
    if handed_over:
        expected.append(f"Executing [{target}]")
        wait_until(installer.opened, 10, "xdg-open was not called")
        assert installer.opened() == [[target]]
    else:
        why = {"invalid": f"File signature invalid of file not signed! [{target}]",
               "signer": f"File signature not containing correct signer! [{target}]"}[refusal[0]]
        expected += [why, REFUSED]
        time.sleep(0.5)
        assert installer.opened() == []
    assert res["log"] == expected
    # The download stays in the temporary folder either way, private to the user.
    written = os.lstat(target)
    assert stat.S_ISREG(written.st_mode) and stat.S_IMODE(written.st_mode) == 0o600
    with open(target, "rb") as f:
        assert f.read() == (served.body if isinstance(served, Response) else served)


def test_a_validly_signed_file_that_is_no_debian_package_is_not_handed_over(tmp_path, ca, authority):
    script = b"#!/bin/sh\necho installed\n"
    routes = {"/tool.deb": Response(200, script), "/tool.deb.p7s": Response(200, sign(script, authority.signer))}
    installer = Installer(tmp_path)
    with HttpsServer("127.0.0.1", 0, ca, routes) as server:
        res = download(installer, server, ca, authority, "/tool.deb")
    target = installer.tmp + "tool.deb"
    assert res == {"result": False, "log": [
        f"Download to [{target}]", "Download finished",
        f"Error: Downloaded file is not a package for this system [{target}]"]}
    time.sleep(0.5)
    assert installer.opened() == []


def test_an_earlier_file_or_link_under_the_name_is_replaced_and_a_query_is_not_part_of_it(
        tmp_path, ca, authority, package):
    routes = {"/pkg/" + PACKAGE_NAME: Response(200, package),
              "/pkg/" + PACKAGE_NAME + ".p7s": Response(200, sign(package, authority.signer))}
    installer = Installer(tmp_path)
    target = installer.tmp + PACKAGE_NAME
    elsewhere = tmp_path / "not-the-download.txt"
    elsewhere.write_text("keep me")
    os.symlink(elsewhere, target)
    with HttpsServer("127.0.0.1", 0, ca, routes) as server:
        res = download(installer, server, ca, authority, f"/pkg/{PACKAGE_NAME}?channel=beta&n=1/2")
        requests = [(r.path, r.query) for r in server.requests]
    assert res["result"] is True
    assert res["log"][0] == f"Download to [{target}]"
    assert requests == [("/pkg/" + PACKAGE_NAME, "channel=beta&n=1/2"),
                        ("/pkg/" + PACKAGE_NAME + ".p7s", "channel=beta&n=1/2")]
    assert elsewhere.read_text() == "keep me"
    assert not os.path.islink(target)
    with open(target, "rb") as f:
        assert f.read() == package
    wait_until(installer.opened, 10, "xdg-open was not called")
    assert installer.opened() == [[target]]


def test_an_address_that_names_no_file_downloads_nothing(tmp_path, ca, authority):
    installer = Installer(tmp_path)
    with HttpsServer("127.0.0.1", 0, ca, {"/pkg/": Response(200, b"a listing")}) as server:
        res = download(installer, server, ca, authority, "/pkg/")
    assert res == {"result": False, "log": [
        f"Download to [{installer.tmp}]", "Error: Download failed",
        f"Error: Downloaded update file not found [{installer.tmp}]"]}


def test_a_download_slower_than_fifteen_seconds_is_not_started(tmp_path, ca, authority, package):
    body = package + b"\0" * (64 * 1024 - len(package) % 4096)
    slow = Response(200, body, pace=lambda offset: time.sleep(1.2 if offset else 0))
    routes = {"/" + PACKAGE_NAME: slow,
              "/" + PACKAGE_NAME + ".p7s": Response(200, sign(body, authority.signer))}
    installer = Installer(tmp_path)
    target = installer.tmp + PACKAGE_NAME
    with HttpsServer("127.0.0.1", 0, ca, routes) as server:
        started = time.monotonic()
        res = download(installer, server, ca, authority, "/" + PACKAGE_NAME)
        took = time.monotonic() - started
    assert res["log"] == [f"Download to [{target}]", "Error: Download failed",
                          f"Error: Downloaded update file not found [{target}]"]
    assert res["result"] is False
    assert 14 < took < 30, "the whole-transfer limit ended it"
    assert not os.path.exists(target), "the partial file is gone"
    assert installer.opened() == []


def test_the_indicator_turns_in_its_own_window_while_the_transfer_runs(display, tmp_path, ca, authority,
                                                                        package):
    released = threading.Event()
    held = Response(200, package, pace=lambda offset: released.wait(60) if offset else None,
                    piece_size=128)
    routes = {"/" + PACKAGE_NAME: held,
              "/" + PACKAGE_NAME + ".p7s": Response(200, sign(package, authority.signer))}
    installer = Installer(tmp_path)
    env = display.environment(tmp_path / "gui")
    env.update(TMPDIR=installer.tmp, PATH=installer.env["PATH"])
    frames_file = tmp_path / "frames.txt"

    def frames():
        return frames_file.read_text().split("\n")[:-1] if frames_file.exists() else []

    with HttpsServer("127.0.0.1", 0, ca, routes) as server:
        result = {}
        probe = threading.Thread(target=lambda: result.update(run_update_probe(
            ["download", server.url("/" + PACKAGE_NAME), "--ca", ca.ca_file, "--update-ca",
             authority.ca_file, "--indicator", frames_file], env)))
        probe.start()
        try:
            window = wait_until(lambda: display.window_sized(100, 100), 30, "no indicator window")
            left, top, width, height = display.window_geometry(window)
            assert (width, height) == (100, 100)
            assert (left, top) == ((display.width - 100) // 2, (display.height - 100) // 2)
            assert display.window_name(window) == ""
            assert display.focused_window() != window
            # Twice through the four frames while the package is held back.
            wait_until(lambda: len(frames()) >= 8, 30, "the indicator did not turn")
            assert display.window_sized(100, 100) == window
        finally:
            released.set()
            probe.join(60)
    assert result["result"] is True
    assert frames()[:8] == [" ", "\u25cb", "\u25ef", "\u25cb"] * 2
    wait_until(lambda: display.window_sized(100, 100) is None, 10, "the indicator stayed open")
