"""A private Xvfb display for one test, and the few xdotool helpers the
window tests need. Xvfb picks a free display number itself (-displayfd), so
parallel tests never collide."""

import os
import shutil
import subprocess
import time


class VirtualDisplay:
    def __init__(self, width=1600, height=1200):
        self.width = width
        self.height = height
        self.proc = None
        self.display = None

    def __enter__(self):
        xvfb = shutil.which("Xvfb")
        assert xvfb, "Xvfb is not installed (scripts/install-deps.sh)"
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            [xvfb, "-displayfd", str(write_fd), "-screen", "0",
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
        assert number.strip(), "Xvfb did not report a display"
        self.display = ":" + number.decode().strip()
        return self

    def __exit__(self, *exc):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def xdotool(self, *args, check=True):
        result = subprocess.run(["xdotool", *map(str, args)], env={**os.environ, "DISPLAY": self.display},
                                capture_output=True, text=True, timeout=30)
        if check:
            assert result.returncode == 0, f"xdotool {args}: {result.stderr}"
        return result.stdout.strip()

    def find_window(self, name, timeout=30):
        """The id of the first visible window whose title matches name."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            out = self.xdotool("search", "--onlyvisible", "--name", name, check=False)
            if out:
                return out.split()[0]
            time.sleep(0.1)
        raise AssertionError(f"no window named {name!r} appeared")

    def wait_no_window(self, name, timeout=30):
        """Waits until no window whose title matches name is left, so that a
        later search cannot find the window of a run that has just ended."""
        deadline = time.monotonic() + timeout
        while self.xdotool("search", "--name", name, check=False):
            if time.monotonic() > deadline:
                raise AssertionError(f"a window named {name!r} is still there")
            time.sleep(0.1)

    def window_geometry(self, window):
        """(left, top, width, height) as the X server reports them."""
        out = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def send_close_request(display_name, window_id):
    """Sends WM_DELETE_WINDOW to a window, as a window manager's close
    button does (Xvfb has no window manager to do it)."""
    import ctypes

    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                    ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                    ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]

    dpy = x11.XOpenDisplay(display_name.encode())
    assert dpy, f"cannot open display {display_name}"
    try:
        event = ClientMessage()
        event.type = 33  # ClientMessage
        event.window = int(window_id)
        event.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        event.format = 32
        event.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        event.data[1] = 0  # CurrentTime
        assert x11.XSendEvent(dpy, int(window_id), 0, 0, ctypes.byref(event))
        x11.XFlush(dpy)
    finally:
        x11.XCloseDisplay(dpy)
