"""Plays the compositor's liveness check: _NET_WM_PING client messages sent
to a window, the replies timed.

A desktop's compositor sends a toplevel window _NET_WM_PING and expects the
program to send it back to the root window at once; a window that has not
answered within about five seconds is greyed out and the user is offered to
end the program. GTK answers from its main loop, so the reply's delay is how
long that loop was held.

    with PingWatch(display, window) as watch:   # pings every second
        ...
    assert watch.delays and max(watch.delays) <= 0.5
"""

import select
import threading
import time

from Xlib import X, display as xdisplay
from Xlib.protocol import event


class PingWatch:
    def __init__(self, xvfb, window_id, interval=1.0, patience=10.0):
        self.interval = interval
        self.patience = patience  # a reply later than this counts as none
        self.delays = []          # seconds, in the order sent; None: no reply
        self._display = xdisplay.Display(xvfb.display)
        self._root = self._display.screen().root
        # GTK sends the reply to the root window with the substructure masks.
        self._root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self._window = self._display.create_resource_object("window", int(window_id))
        self._protocols = self._display.intern_atom("WM_PROTOCOLS")
        self._ping = self._display.intern_atom("_NET_WM_PING")
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()
        self._display.close()

    def _send(self, stamp):
        message = event.ClientMessage(window=self._window, client_type=self._protocols,
                                      data=(32, [self._ping, stamp, self._window.id, 0, 0]))
        self._window.send_event(message, event_mask=X.NoEventMask)
        self._display.flush()

    def _reply_to(self, stamp, deadline):
        """True once the reply to stamp has come, False at the deadline."""
        while True:
            while self._display.pending_events():
                e = self._display.next_event()
                if (e.type == X.ClientMessage and e.client_type == self._protocols
                        and e.data[1][0] == self._ping and e.data[1][1] == stamp):
                    return True
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            select.select([self._display.fileno()], [], [], left)

    def _run(self):
        stamp = 1000
        while not self._stop.is_set():
            stamp += 1
            sent = time.monotonic()
            self._send(stamp)
            answered = self._reply_to(stamp, sent + self.patience)
            self.delays.append(time.monotonic() - sent if answered else None)
            self._stop.wait(max(0.0, sent + self.interval - time.monotonic()))

    def summary(self):
        return ", ".join("none" if d is None else f"{d * 1000:.0f} ms" for d in self.delays)

