"""The GTK dialogs on a real X display: a test-only driver shows one dialog,
xdotool answers it like a user, and the driver prints what the program got."""

import json
import os
import queue
import subprocess
import threading

import pytest

from harness.paths import program

ASK_PROXY = ("Enter the proxy server. Examples:\n"
             "- http://domainOrIP:port {username:password}\n"
             "- pac:\\\\server\\path\\proxy.pac {username:password}\n"
             "- pac:http://proxy.example.com/proxy.pac {username:password}")
LOG_FILTERS = "Text (*.txt,*.log)|*.txt;*.log|All files (*.*)|*.*"
TITLE = "^velomark$"


class Probe:
    """One run of tests/tools/dialog_probe; its JSON lines arrive in a queue."""

    def __init__(self, args, env, cwd):
        self.proc = subprocess.Popen([program("tests", "dialog_probe"), *args], env=env, cwd=cwd,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                     start_new_session=True)
        self.lines = queue.Queue()
        self._peeked = []
        self.stderr = []
        threading.Thread(target=self._read, daemon=True).start()
        threading.Thread(target=lambda: self.stderr.extend(self.proc.stderr), daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(json.loads(line))
        self.lines.put(None)

    def _take(self, timeout):
        if self._peeked:
            return self._peeked.pop(0)
        return self.lines.get(timeout=timeout)

    def next(self, key, timeout=30):
        """The value of the next printed object that carries key."""
        while True:
            try:
                item = self._take(timeout)
            except queue.Empty:
                raise AssertionError(f"probe printed no {key!r}; stderr: {''.join(self.stderr)}")
            assert item is not None, f"probe ended before {key!r}; stderr: {''.join(self.stderr)}"
            if key in item:
                return item[key]

    def has_result(self, timeout):
        """Whether a result arrives within timeout; it stays for result()."""
        try:
            item = self._take(timeout)
        except queue.Empty:
            return False
        self._peeked.insert(0, item)
        return item is None or "result" in item

    def result(self, timeout=30):
        value = self.next("result", timeout)
        assert self.proc.wait(timeout) == 0
        return value

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


@pytest.fixture
def probe(display, tmp_path):
    started = []

    def start(*args):
        p = Probe(args, display.environment(tmp_path), cwd=tmp_path)
        started.append(p)
        return p

    yield start
    for p in started:
        p.stop()


def focused_dialog(display):
    window = display.wait_for_window(TITLE)
    display.wait_for_focus(window)
    return window


def enter_typed_path(display, p):
    """Return after typing a path into a file chooser. The chooser pops up
    its completion list a moment after the typing stops and the popup takes
    the first Return, so Return is repeated until the dialog answers."""
    for _ in range(3):
        display.key("Return")
        if p.has_result(timeout=3):
            return
    raise AssertionError("the file chooser did not accept the typed path")


def centre(box):
    x, y, width, height = box
    return x + width // 2, y + height // 2


# --- input dialog -------------------------------------------------------------

@pytest.mark.parametrize("in_main_loop", [False, True])
def test_input_dialog_layout_and_return_answers_typed_text(display, probe, in_main_loop):
    p = probe("--inspect", *(["--in-main-loop"] if in_main_loop else []),
              "text", ASK_PROXY, "old value")
    shown = p.next("shown")
    assert shown["title"] == "velomark"
    assert shown["size"] == [350, 180]
    assert (shown["modal"], shown["utility"], shown["skipTaskbar"]) == (True, True, True)
    assert (shown["resizable"], shown["deletable"]) == (False, False)
    [label] = shown["labels"]
    assert label["text"] == ASK_PROXY
    assert label["lines"] >= 4
    x, y, width, height = label["box"]
    assert (x, y, width) == (10, 10, 330) and height <= 100, "the four lines fit the prompt box"
    assert shown["entries"] == [{"text": "old value", "focus": True, "box": [10, 120, 330, 25]}]
    assert shown["buttons"] == [{"label": "  OK  ", "box": [155, 150, 40, 25]}]

    window = focused_dialog(display)
    assert display.window_name(window) == "velomark"
    left, top, width, height = display.window_geometry(window)
    assert (width, height) == (350, 180)
    assert (left, top) == ((display.width - 350) // 2, (display.height - 180) // 2)

    # The default is selected, so typing replaces it; no trimming.
    display.type_text(" http://10.0.0.1:3128 ")
    display.key("Return")
    assert p.result() == {"text": " http://10.0.0.1:3128 ", "confirmed": True}
    display.wait_until_gone(window)


@pytest.mark.parametrize("keys, answer", [
    (["Escape"], {"text": "", "confirmed": False}),
    # Focus moved to the OK button: the keys still act on the dialog.
    (["Tab", "Escape"], {"text": "", "confirmed": False}),
    (["Tab", "Return"], {"text": "typed", "confirmed": True}),
    (["BackSpace", "Return"], {"text": "", "confirmed": True}),
])
def test_input_dialog_keys_work_wherever_the_focus_is(display, probe, keys, answer):
    p = probe("text", "Prompt", "default")
    focused_dialog(display)
    if keys[0] != "BackSpace":
        display.type_text("typed")
    display.key(*keys)
    assert p.result() == answer


def test_input_dialog_ok_button_on_cleared_field_is_confirmed_empty(display, probe):
    p = probe("--inspect", "text", "Prompt", "default")
    [button] = p.next("shown")["buttons"]
    window = focused_dialog(display)
    display.key("ctrl+a", "BackSpace")
    display.click(window, *centre(button["box"]))
    assert p.result() == {"text": "", "confirmed": True}


def test_input_dialog_close_request_cancels(display, probe):
    p = probe("text", "Prompt", "default")
    window = focused_dialog(display)
    display.type_text("typed")
    display.request_close(window)
    assert p.result() == {"text": "", "confirmed": False}


def test_input_dialog_ends_as_a_cancel_on_the_main_windows_close_request(display, probe):
    # The dialog's modal grab shuts the main window out; its close request
    # must still reach the dialog instead of being lost.
    p = probe("--main-window", "text", "Prompt", "default")
    focused_dialog(display)
    display.type_text("typed")
    display.request_close(display.wait_for_window("^probe main$"))
    assert p.result() == {"text": "", "confirmed": False}


def test_only_one_input_dialog_at_a_time(display, probe):
    p = probe("text-nested", "Prompt", "first")
    # The second request, made while the first dialog waits, is refused at
    # once and the first dialog stays usable.
    assert p.next("nested") == {"text": "", "confirmed": False}
    window = focused_dialog(display)
    assert display.windows(TITLE) == [window]
    display.key("Return")
    assert p.result() == {"text": "first", "confirmed": True}


def test_dialog_is_owned_by_the_active_program_window(display, probe):
    p = probe("--inspect", "--main-window", "text", "Prompt", "")
    shown = p.next("shown")
    assert shown["owner"] == "probe main"
    assert shown["modal"] is True
    focused_dialog(display)
    display.key("Escape")
    assert p.result() == {"text": "", "confirmed": False}


# --- message boxes ------------------------------------------------------------

@pytest.mark.parametrize("kind, icon", [("error", "dialog-error"), ("info", "dialog-information")])
def test_message_box_shows_text_with_icon_and_closes_on_ok(display, probe, kind, icon):
    text = "First line\nsecond line"
    p = probe("--inspect", kind, text)
    shown = p.next("shown")
    assert shown["title"] == "velomark"
    assert shown["modal"] is True
    assert shown["icons"] == [icon]
    assert [label["text"] for label in shown["labels"] if label["text"]] == [text]
    assert [b["label"] for b in shown["buttons"]] == ["_OK"]
    window = focused_dialog(display)
    display.click(window, *centre(shown["buttons"][0]["box"]))
    assert p.result() == "closed"
    display.wait_until_gone(window)


def test_titled_error_box_has_its_own_title_and_the_error_icon(display, probe):
    p = probe("--inspect", "titled-error", "PAC error", "Invalid PAC reference. Cannot parse. Check format!")
    shown = p.next("shown")
    assert shown["title"] == "PAC error"
    assert shown["icons"] == ["dialog-error"]
    assert [label["text"] for label in shown["labels"] if label["text"]] == [
        "Invalid PAC reference. Cannot parse. Check format!"]
    window = display.wait_for_window("^PAC error$")
    display.wait_for_focus(window)
    display.key("Return")
    assert p.result() == "closed"


def test_error_box_closes_with_return_and_may_be_empty(display, probe):
    p = probe("--inspect", "error", "")
    shown = p.next("shown")
    assert shown["title"] == "velomark"
    assert all(label["text"] == "" for label in shown["labels"])
    focused_dialog(display)
    display.key("Return")
    assert p.result() == "closed"


@pytest.mark.parametrize("length, shown_length", [(65535, 65535), (70000, 65534)])
def test_long_message_is_cut(display, probe, length, shown_length):
    p = probe("--inspect", "--repeat-text", str(length), "info", "unused")
    shown = p.next("shown", timeout=60)
    assert [len(label["text"]) for label in shown["labels"] if label["text"]] == [shown_length]
    focused_dialog(display)
    display.key("Escape")
    assert p.result(timeout=60) == "closed"


@pytest.mark.parametrize("button, answer", [("_Yes", True), ("_No", False)])
def test_yes_no_question(display, probe, button, answer):
    p = probe("--inspect", "yesno", "There is an update available for version 5.1.0.\r\rInstall?")
    shown = p.next("shown")
    assert shown["title"] == "velomark"
    assert shown["icons"] == ["dialog-information"]
    boxes = {b["label"]: b["box"] for b in shown["buttons"]}
    assert set(boxes) == {"_Yes", "_No"}
    [label] = [label for label in shown["labels"] if label["text"]]
    assert label["lines"] == 3, "carriage returns break lines"
    window = focused_dialog(display)
    display.click(window, *centre(boxes[button]))
    assert p.result() is answer


def test_yes_no_question_escape_means_no(display, probe):
    p = probe("yesno", "Question?")
    focused_dialog(display)
    display.key("Escape")
    assert p.result() is False


# --- file choosers ------------------------------------------------------------

def test_save_dialog_takes_typed_path_without_asking_to_overwrite(display, probe, tmp_path):
    target = tmp_path / "existing.log"
    target.write_text("keep me")
    p = probe("--inspect", "save", "velomark", "velomark_logfile.txt", LOG_FILTERS)
    shown = p.next("shown")
    assert shown["title"] == "velomark"
    assert shown["modal"] is True
    assert shown["filters"] == ["Text (*.txt,*.log)", "All files (*.*)"]
    assert shown["currentFilter"] == "Text (*.txt,*.log)"
    assert shown["currentName"] == "velomark_logfile.txt"
    assert shown["confirmOverwrite"] is False
    focused_dialog(display)
    display.key("ctrl+a")
    display.type_text(str(target))
    enter_typed_path(display, p)
    assert p.result() == str(target)
    assert display.windows(TITLE) == []
    assert target.read_text() == "keep me"


def test_save_dialog_proposes_the_name(display, probe):
    p = probe("save", "velomark", "velomark_logfile.txt", LOG_FILTERS)
    focused_dialog(display)
    display.key("Return")
    assert os.path.basename(p.result()) == "velomark_logfile.txt"


def test_save_dialog_cancel_gives_empty_path(display, probe):
    p = probe("save", "velomark", "velomark_logfile.txt", LOG_FILTERS)
    focused_dialog(display)
    display.key("Escape")
    assert p.result() == ""


def test_open_dialog_offers_multiple_selection_and_gives_chosen_path(display, probe, tmp_path):
    chosen = tmp_path / "attachment one.pdf"
    chosen.write_bytes(b"%PDF")
    p = probe("--inspect", "open", "Attach files", "All files (*.*)|*.*")
    shown = p.next("shown")
    assert shown["title"] == "Attach files"
    assert shown["selectMultiple"] is True
    assert shown["filters"] == ["All files (*.*)"]
    assert shown["currentFilter"] == "All files (*.*)"
    window = display.wait_for_window("^Attach files$")
    display.wait_for_focus(window)
    display.key("ctrl+l")
    display.type_text(str(chosen))
    enter_typed_path(display, p)
    assert p.result() == [str(chosen)]


def test_open_dialog_cancel_gives_no_paths(display, probe):
    p = probe("open", "Attach files", "All files (*.*)|*.*")
    window = display.wait_for_window("^Attach files$")
    display.wait_for_focus(window)
    display.key("Escape")
    assert p.result() == []
