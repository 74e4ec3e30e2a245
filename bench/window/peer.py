"""The peer: what people pick instead of a native shell, a Python program on
pywebview (Debian's python3-webview, its GTK back end on WebKitGTK) that
shows the same page in a 1200x800 window at (100, 100) and answers the
page's call through pywebview's js_api.

The page comes from a loopback HTTPS server whose CA the system does not
trust; pywebview offers no hook for that, so the engine is told to ignore
certificate errors before the window exists (the floor allows the refused
certificate for its host and loads again; the client checks it against its
CA).

Usage: peer.py URL (bench/window/bench.py starts it)."""

import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("WebKit2", "4.0")
from gi.repository import WebKit2  # noqa: E402

import webview  # noqa: E402


class Api:
    def echo(self, value):
        return value


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: peer.py URL")
    WebKit2.WebContext.get_default().set_tls_errors_policy(WebKit2.TLSErrorsPolicy.IGNORE)
    webview.create_window("peer", sys.argv[1], js_api=Api(), width=1200, height=800, x=100, y=100)
    webview.start(gui="gtk")


if __name__ == "__main__":
    main()
