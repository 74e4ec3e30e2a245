"""A loopback HTTP forward proxy that records every request it saw: the
demo's proxy (demo/proxy_server.py: plain HTTP forwarded, CONNECT
tunnelled). With a user name it demands Basic proxy credentials and answers
407 without them; without one it lets everything through."""

import threading

from harness.demo import demo_module

proxy_server = demo_module("proxy_server")
pipe = proxy_server.pipe


class HttpProxy:
    def __init__(self, user=None, password=None, host="127.0.0.1"):
        self.host = host
        self.user = user
        self.password = password
        self.seen = []  # (method, absolute URL or host:port of a CONNECT, authorised)
        self.user_agents = []  # the User-Agent of each entry of seen
        self._lock = threading.Lock()
        self._server = None

    @property
    def port(self):
        return self._server.port

    @property
    def address(self):
        return f"{self.host}:{self.port}"

    def _record(self, method, target, authorised, user_agent):
        with self._lock:
            self.seen.append((method, target, authorised))
            self.user_agents.append(user_agent)

    def tunnels(self, target, authorised=True):
        """The user agents of the CONNECTs to target (host:port) with that outcome."""
        with self._lock:
            return [agent for seen, agent in zip(self.seen, self.user_agents)
                    if seen == ("CONNECT", target, authorised)]

    def __enter__(self):
        self._server = proxy_server.ProxyServer(self.host, 0, self.user, self.password,
                                                self._record).start()
        return self

    def __exit__(self, *exc):
        self._server.stop()
