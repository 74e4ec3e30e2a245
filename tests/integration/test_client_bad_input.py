"""The real client meeting what a careless user, another program or a hostile
page leaves for it: a preferences file that is no file, setting keys that
cannot come back, huge values, bytes that are not UTF-8 in the preferences
file and the address book, half a surrogate pair in a page string, a
read-only preferences file, and a shared temporary folder where someone else
has taken the web view's cache folder."""

import os
import sqlite3
import stat

import pytest

from harness.ini import ini_value
from harness.real_client import application_servers, app_routes, page, real_client

REPLACEMENT = "\ufffd"


def run_page(display, tmp_path, script, prepare=None, env=None):
    """Runs the real client on script's page until the page calls closeApp;
    the page's reports, the run and its log text."""
    log = tmp_path / "log.txt"
    with application_servers({"127.0.0.1": app_routes(page(script + "\nwindow.closeApp();"))}) as servers:
        run = real_client(display, tmp_path, args=["-l", str(log)], env=env)
        if prepare:
            prepare(run)
        with run:
            assert run.wait_exit(60) == 0
    return servers["127.0.0.1"].results, run, log.read_bytes().decode("utf-8", errors="replace")


def groups_of(text):
    """The non-empty lines of each group of the preferences text, by group
    name ("" for the lines before the first group line)."""
    groups, current = {"": []}, ""
    for line in text.split("\r\n"):
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
            groups[current] = []
        elif line:
            groups[current].append(line)
    return groups


def close_the_box_and_see_the_run_end(display, run):
    box = display.wait_for_window("^velomark$", timeout=60)
    assert run.proc.poll() is None
    display.xdotool("windowfocus", "--sync", box)
    display.xdotool("key", "--window", box, "Return")
    assert run.wait_exit(30) == 0


@pytest.mark.parametrize("plant", ["fifo", "device"])
def test_a_preferences_path_that_is_no_file_gives_the_box_and_ends_with_0(display, tmp_path, plant):
    # A FIFO would hold a plain open for good: nobody ever writes to it.
    with application_servers({"127.0.0.1": app_routes(page("report('shown', 1);"))}) as servers:
        run = real_client(display, tmp_path)
        run.ini_file.parent.mkdir(parents=True)
        if plant == "fifo":
            os.mkfifo(run.ini_file)
        else:
            run.ini_file.symlink_to("/dev/zero")
        with run:
            close_the_box_and_see_the_run_end(display, run)
        assert servers["127.0.0.1"].requests == []
    assert stat.S_ISFIFO(run.ini_file.stat().st_mode) if plant == "fifo" else run.ini_file.is_symlink()


REFUSED_KEYS = ["a=b", ";comment", "[group", "[main]", "line\nbreak", "cr\rkey", "", " padded", "tab\t"]


def test_keys_that_cannot_come_back_and_values_over_1_MiB_are_refused(display, tmp_path):
    script = f"""
      const refused = {REFUSED_KEYS!r};
      const answers = [];
      for (const key of refused) answers.push(await outcome(() => window.setSetting(key, ']')));
      answers.push(await outcome(() => window.setSetting(42, 'not a string key')));
      await report('refused', answers);
      await report('big', await outcome(() => window.setSetting('big', 'x'.repeat(1048577))));
      await report('limit', await outcome(() => window.setSetting('limit', 'y'.repeat(1048576))));
      await report('after', await outcome(() => window.getSetting('a', 'default')));
    """
    results, run, log = run_page(display, tmp_path, script)
    # Each refused key answers like a wrong argument: nothing.
    assert results["refused"] == [[{"undefined": True}] * (len(REFUSED_KEYS) + 1)]
    assert results["big"] == [{"undefined": True}]
    assert results["after"] == [{"ok": "default"}]
    for key in REFUSED_KEYS + [""]:
        assert f"ERROR: Refused setting key [{key}]\r\n" in log
    assert "ERROR: Refused setting value of [big]: 1048577 bytes, more than 1048576\r\n" in log
    groups = groups_of(run.ini_text())
    # No comment, no group and no other key came from the refused keys (the
    # top holds only the time of the update check at the end of the run).
    assert sorted(groups) == ["", "WebApp", "main"]
    assert [line.split(" = ")[0] for line in groups[""]] in ([], ["lastUpdateCheck"])
    assert groups["WebApp"] == ["debug = true", "limit = " + "y" * 1048576]
    assert run.ini_file.stat().st_size < 1048576 + 200


def test_bytes_that_are_not_utf8_reach_the_page_as_replacement_characters(display, tmp_path):
    def prepare(run):
        folder = run.ini_file.parent
        folder.mkdir(parents=True)
        run.ini_file.write_bytes(b"\xef\xbb\xbf\r\n[WebApp]\r\nname = Gr\xfc\xdfe\r\ncut = \xe2\x82\r\n"
                                 b"k\xe9y = v\r\n")
        db = sqlite3.connect(folder / "tessel_db.dat")
        db.execute("CREATE TABLE tblmailaddresses (address CHAR(255) PRIMARY KEY)")
        db.execute("INSERT INTO tblmailaddresses VALUES ('ok@example.org'), "
                   "(CAST(X'6dfc6c6c657240782e6465' AS TEXT))")  # "m\xfcller@x.de"
        db.commit()
        db.close()

    script = """
      await report('name', await outcome(() => window.getSetting('name', '')));
      await report('cut', await outcome(() => window.getSetting('cut', '')));
      await report('all', await outcome(() => window.getAllSettings()));
      await report('addresses', await outcome(() => window.getAddresses()));
    """
    results, _, _ = run_page(display, tmp_path, script, prepare)
    r = REPLACEMENT
    assert results["name"] == [{"ok": f"Gr{r}{r}e"}]
    assert results["cut"] == [{"ok": r + r}]
    assert results["all"] == [{"ok": {"name": f"Gr{r}{r}e", "cut": r + r, f"k{r}y": "v", "debug": "true"}}]
    assert results["addresses"] == [{"ok": f"m{r}ller@x.de,ok@example.org"}]


def test_half_a_surrogate_pair_from_the_page_reads_as_replacement_character(display, tmp_path):
    # A subject cut in the middle of an emoji; sendMail without an SMTP
    # account answers its missing-settings error, so the call did run.
    script = r"""
      const cut = 'Hi \ud83d';
      await report('set', await outcome(() => window.setSetting('subject', cut)));
      await report('get', await outcome(() => window.getSetting('subject', '')));
      await report('low', await outcome(() => window.getSetting('missing', '\ude00!')));
      await report('mail', await outcome(() => window.sendMail('a@example.org', cut, 't', 'h', '', '')));
    """
    results, run, log = run_page(display, tmp_path, script)
    assert results["set"] == [{"undefined": True}]
    assert results["get"] == [{"ok": "Hi " + REPLACEMENT}]
    assert results["low"] == [{"ok": REPLACEMENT + "!"}]
    assert results["mail"] == [{"ok": "Error: I can't send without SMTP parameters for server and sender"}]
    assert ini_value(run.ini_text(), "WebApp", "subject") == "Hi " + REPLACEMENT
    assert "wrong parameter count" not in log


def test_a_read_only_preferences_file_logs_why_the_change_was_dropped(display, tmp_path):
    def prepare(run):
        run.ini_file.parent.mkdir(parents=True)
        run.ini_file.write_bytes(b"\xef\xbb\xbf\r\n[WebApp]\r\ndebug = true\r\nk = old\r\n")
        run.ini_file.chmod(0o444)

    script = """
      await window.setSetting('k', 'new');
      await report('k', await window.getSetting('k', ''));
    """
    results, run, log = run_page(display, tmp_path, script, prepare)
    assert results["k"] == ["old"]
    assert f"ERROR: Failed to write preferences file [{run.ini_file}]: Permission denied\r\n" in log


def other_user_folder(path):
    path.mkdir()
    os.chown(path, 65534, 65534)


CACHE_PLANTS = {
    "nothing": (lambda path, elsewhere: None, False),
    "an own folder open to all": (lambda path, elsewhere: (path.mkdir(), path.chmod(0o755)), False),
    "a link to another folder": (lambda path, elsewhere: path.symlink_to(elsewhere), True),
    "a file": (lambda path, elsewhere: path.write_text("x"), True),
    "another user's folder": (lambda path, elsewhere: other_user_folder(path), True),
}


@pytest.mark.parametrize("plant", list(CACHE_PLANTS))
def test_the_web_view_cache_is_a_private_folder_in_the_shared_temporary_folder(display, tmp_path, plant):
    make, taken = CACHE_PLANTS[plant]
    if plant == "another user's folder" and os.geteuid() != 0:
        pytest.skip("only root can give a folder away")
    # The session's runtime folder lives elsewhere, as it does on a desktop.
    runtime = tmp_path / "runtime"
    runtime.mkdir(mode=0o700)
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    planted = {}

    def prepare(run):
        make(run.tmp / "WebView2_Cache", elsewhere)
        planted.update({p.name: p.lstat() for p in run.tmp.iterdir()})

    script = "await report('loaded', location.pathname);"
    results, run, log = run_page(display, tmp_path, script, prepare, env={"XDG_RUNTIME_DIR": str(runtime)})
    assert results["loaded"] == ["/pc/velomark.html"]
    wanted = run.tmp / "WebView2_Cache"
    fresh = sorted(run.tmp.glob("WebView2_Cache.*"))
    if taken:
        assert len(fresh) == 1
        assert (f"WARN: Web view cache folder [{wanted}] is not a private folder (") in log
        assert f"); using [{fresh[0]}]\r\n" in log
        # What was there stays as it was; nothing went through the link.
        assert wanted.lstat().st_mode == planted["WebView2_Cache"].st_mode
        assert list(elsewhere.iterdir()) == []
        cache = fresh[0]
    else:
        assert fresh == [] and "Web view cache folder" not in log
        cache = wanted
    assert stat.S_IMODE(cache.lstat().st_mode) == 0o700 and cache.lstat().st_uid == os.geteuid()
    assert any(cache.rglob("*")), "the engine kept nothing in its cache folder"
    # Nothing the client made in the shared folder is open to other users.
    for entry in run.tmp.iterdir():
        if entry.name in planted:
            continue
        assert stat.S_IMODE(entry.lstat().st_mode) & 0o077 == 0, entry
