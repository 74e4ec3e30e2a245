"""Free TCP ports on loopback for the servers a test starts."""

import socket

# The numbered application servers of the client's URL choice.
LOOPBACK_HOSTS = ("127.0.0.1", "127.0.0.2", "127.0.0.3")


def free_port(*hosts):
    """A TCP port free on every one of hosts (127.0.0.1 when none is
    named), so that servers on several hosts can share it."""
    hosts = hosts or ("127.0.0.1",)
    for _ in range(50):
        with socket.socket() as s:
            s.bind((hosts[0], 0))
            port = s.getsockname()[1]
        try:
            for h in hosts[1:]:
                with socket.socket() as s:
                    s.bind((h, port))
            return port
        except OSError:
            continue
    raise RuntimeError("no common free port on " + ", ".join(hosts))
