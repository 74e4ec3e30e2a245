"""A private X display for one test, with the xdotool and Xlib helpers that
window and dialog tests need.

    with Xvfb() as x:
        env = x.environment(tmp_path)        # isolated HOME, XDG dirs, TMPDIR
        proc = subprocess.Popen([...], env=env)
        window = x.wait_for_window("^velomark$")
        x.wait_for_focus(window)
        x.type_text("hello")
        x.key("Return")

Xvfb chooses a free display number itself (-displayfd), so tests running
side by side never collide; leaving the block stops the server.
"""

import contextlib
import ctypes
import ctypes.util
import os
import shutil
import subprocess
import time

from harness.processes import end_process
from harness.sandbox import ALL_FOLDERS, private_folders


class Xvfb:
    def __init__(self, width=1280, height=1024):
        self.width = width
        self.height = height
        self.display = None
        self._proc = None

    def __enter__(self):
        binary = shutil.which("Xvfb")
        assert binary, "Xvfb is not installed (scripts/install-deps.sh)"
        assert shutil.which("xdotool"), "xdotool is not installed (scripts/install-deps.sh)"
        read_fd, write_fd = os.pipe()
        self._proc = subprocess.Popen(
            [binary, "-displayfd", str(write_fd), "-screen", "0",
             f"{self.width}x{self.height}x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self._stop()
            raise AssertionError("Xvfb did not report a display number")
        self.display = ":" + number.decode().strip()
        return self

    def __exit__(self, *exc):
        self._stop()

    def _stop(self):
        if self._proc:
            end_process(self._proc)

    def environment(self, root):
        """Environment for a GUI program on this display, with every per-user
        folder inside root (created here) and no session services, so nothing
        of the real user's desktop is read or written."""
        folders = private_folders(root, ALL_FOLDERS)
        env = {key: value for key, value in os.environ.items()
               if not key.startswith(("XDG_", "LC_", "GTK_", "GDK_", "DBUS_", "WAYLAND_"))}
        env.update(folders)
        env.update({
            "DISPLAY": self.display,
            "GDK_BACKEND": "x11",
            "LANG": "C.UTF-8",
            # No accessibility bus, no session bus (which dbus-launch would
            # otherwise start and leave behind), no settings daemon, no gvfs.
            "NO_AT_BRIDGE": "1",
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(folders["XDG_RUNTIME_DIR"], "no-bus"),
            "GSETTINGS_BACKEND": "memory",
            "GIO_USE_VFS": "local",
        })
        return env

    # --- xdotool ---------------------------------------------------------

    def xdotool(self, *args, check=True):
        result = subprocess.run(["xdotool", *map(str, args)],
                                env={**os.environ, "DISPLAY": self.display},
                                capture_output=True, text=True, timeout=30)
        if check:
            assert result.returncode == 0, f"xdotool {args}: {result.stderr}"
        return result.stdout.strip()

    def windows(self, name):
        """Ids of the visible windows whose title matches the regex name."""
        out = self.xdotool("search", "--onlyvisible", "--name", name, check=False)
        return out.split()

    def window_sized(self, width, height):
        """A visible window of exactly that size, also one without a title
        (found by its class), or None. A window may go while it is looked at."""
        for window in self.xdotool("search", "--onlyvisible", "--class", ".", check=False).split():
            out = self.xdotool("getwindowgeometry", "--shell", window, check=False)
            values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
            if (values.get("WIDTH"), values.get("HEIGHT")) == (str(width), str(height)):
                return window
        return None

    def wait_for_window(self, name, timeout=30):
        found = wait_until(lambda: self.windows(name), timeout,
                           f"no window named {name!r} appeared")
        return found[0]

    def wait_no_window(self, name, timeout=30):
        """Waits until no window whose title matches name is left, so that a
        later search cannot find the window of a run that has just ended."""
        wait_until(lambda: not self.xdotool("search", "--name", name, check=False), timeout,
                   f"a window named {name!r} is still there", interval=0.1)

    def wait_until_gone(self, window, timeout=30):
        wait_until(lambda: window not in self.windows("."), timeout,
                   f"window {window} is still shown")

    def focused_window(self):
        return self.xdotool("getwindowfocus", check=False)

    def wait_for_focus(self, window, timeout=30):
        """Waits until window holds the keyboard focus, so that keys sent
        afterwards reach it."""
        wait_until(lambda: self.focused_window() == str(window), timeout,
                   f"window {window} did not get the keyboard focus")

    def window_name(self, window):
        return self.xdotool("getwindowname", window)

    def window_geometry(self, window):
        """(left, top, width, height) as the X server reports them."""
        out = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def key(self, *keys):
        self.xdotool("key", "--delay", "30", *keys)

    def type_text(self, text):
        self.xdotool("type", "--delay", "20", text)

    def click(self, window, x, y):
        """A left click at x, y inside window."""
        self.xdotool("mousemove", "--sync", "--window", window, x, y)
        self.xdotool("click", "1")

    # --- Xlib ------------------------------------------------------------

    def request_close(self, window):
        """Sends WM_DELETE_WINDOW, the close request a window manager sends
        when the user clicks the close button (xdotool cannot)."""
        send_delete_window(self.display, int(window))

    def focus_nothing(self):
        """Takes the keyboard focus from every window, as when the user
        turns to another program."""
        with _open_display(self.display) as (x11, display):
            x11.XSetInputFocus(display, 0, 0, 0)  # None, RevertToNone, CurrentTime
            x11.XSync(display, 0)

    def has_property(self, window, name):
        """Whether window carries the X property name (e.g. _NET_WM_ICON)."""
        with _open_display(self.display) as (x11, display):
            count = ctypes.c_int(0)
            atoms = x11.XListProperties(display, int(window), ctypes.byref(count))
            try:
                names = [_atom_name(x11, display, atoms[i]) for i in range(count.value)]
            finally:
                if atoms:
                    x11.XFree(atoms)
        return name.encode() in names


def wait_until(condition, timeout, message, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(message)
        time.sleep(interval)


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _Event(ctypes.Union):
    _fields_ = [("client", _ClientMessage), ("pad", ctypes.c_long * 24)]


def _xlib():
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_Event)]
    x11.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_ulong]
    x11.XListProperties.restype = ctypes.POINTER(ctypes.c_ulong)
    x11.XListProperties.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_int)]
    x11.XGetAtomName.restype = ctypes.c_void_p
    x11.XGetAtomName.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XFree.argtypes = [ctypes.c_void_p]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    return x11


def _atom_name(x11, display, atom):
    name = x11.XGetAtomName(display, atom)
    try:
        return ctypes.string_at(name)
    finally:
        x11.XFree(name)


@contextlib.contextmanager
def _open_display(display_name):
    x11 = _xlib()
    display = x11.XOpenDisplay(display_name.encode())
    assert display, f"cannot open display {display_name}"
    try:
        yield x11, display
    finally:
        x11.XCloseDisplay(display)


def send_delete_window(display_name, window):
    with _open_display(display_name) as (x11, display):
        event = _Event()
        event.client.type = 33  # ClientMessage
        event.client.window = window
        event.client.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.client.format = 32
        event.client.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        event.client.data[1] = 0  # CurrentTime
        assert x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        x11.XFlush(display)
