"""The real velomark_client against loopback application servers.

The test build (scripts/test-config.sh) points the application host template
at https://127.0.0.{1,2,3}:18443 and trusts a CA made in BUILD/ca; this
module reads those values from the build's CMake cache, so a build that was
configured otherwise fails loudly instead of testing nothing.

    with application_servers(routes) as servers:          # 127.0.0.1..3
        with real_client(display, tmp_path) as run: ...
"""

import contextlib
import re
from pathlib import Path
from types import SimpleNamespace

from harness.app_server import AppServer, page
from harness.client_run import ClientRun, client_binary
from harness.paths import build_path
from harness.update_authority import UpdateAuthority


def build_setting(name):
    cache = build_path("CMakeCache.txt").read_text()
    match = re.search(rf"^{name}:[A-Z]+=(.*)$", cache, re.M)
    return match.group(1) if match else ""


def loopback_application_port():
    template = build_setting("VELOMARK_APP_HOST_TEMPLATE")
    match = re.fullmatch(r"127\.0\.0\.%id%:(\d+)", template)
    assert match, (f"this build's application host template is {template!r}; configure it with "
                   "scripts/test-config.sh so the end-to-end tests can serve the application")
    return int(match.group(1))


def package_server_port():
    """The port of the package server that the test build checks for updates."""
    host = build_setting("VELOMARK_PACKAGE_HOST")
    match = re.fullmatch(r"127\.0\.0\.1:(\d+)", host)
    assert match, (f"this build's package host is {host!r}; configure it with scripts/test-config.sh "
                   "so the end-to-end tests can serve the update")
    return int(match.group(1))


def build_ca():
    """The CA that the build trusts, with the server certificate made beside it."""
    ca_file = Path(build_setting("VELOMARK_EXTRA_CA_FILE"))
    assert ca_file.is_file(), "the build trusts no test CA; configure it with scripts/test-config.sh"
    folder = ca_file.parent
    return SimpleNamespace(ca_file=ca_file, cert_file=folder / "server.pem", key_file=folder / "server.key")


def build_update_authority():
    """The update authority that the build trusts, with its CN=tessel signer."""
    ca_file = Path(build_setting("VELOMARK_UPDATE_CA_FILE"))
    assert ca_file.is_file(), "the build trusts no update authority; configure it with scripts/test-config.sh"
    return UpdateAuthority(ca_file.parent)


def app_routes(page_html, **extra):
    """Routes of one application server: the probe answer and the page."""
    routes = {"/pc/check.html": ("text/plain", b"OK"), "/pc/velomark.html": page_html}
    routes.update(extra)
    return routes


@contextlib.contextmanager
def application_servers(routes_by_host):
    """routes_by_host maps "127.0.0.N" to the routes of that server; hosts
    left out are not started (their probes fail)."""
    port = loopback_application_port()
    ca = build_ca()
    with contextlib.ExitStack() as stack:
        servers = {host: stack.enter_context(AppServer(host, routes, ca=ca, port=port))
                   for host, routes in routes_by_host.items()}
        yield servers


def real_client(display, folder, args=(), env=None, bus_address=None):
    return ClientRun(display, folder, binary=client_binary(), args=args, env=env, bus_address=bus_address)


__all__ = ["application_servers", "app_routes", "page", "real_client", "loopback_application_port",
           "build_ca", "build_setting", "package_server_port", "build_update_authority"]
