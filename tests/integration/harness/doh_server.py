"""A DNS-over-HTTPS resolver stand-in with the JSON interface the PAC
library asks: GET /resolve?name=NAME. Known names get an A record, others
NXDOMAIN (no "Answer"). Every answer carries Access-Control-Allow-Origin,
as public resolvers do, so that a page may read it."""

import json
from urllib.parse import parse_qs

from harness.https_server import HttpsServer, Response


class DohResolver:
    def __init__(self, ca, addresses, host="127.0.0.1", port=0):
        self.addresses = dict(addresses)  # name -> dotted address
        self.asked = []  # (name, Origin header) in arrival order
        self.server = HttpsServer(host, port, ca, {"/resolve": self._resolve})

    @property
    def host(self):
        """host:port, the form of the build's DNS-over-HTTPS host setting."""
        return f"{self.server.host}:{self.server.port}"

    def _resolve(self, req):
        name = parse_qs(req.query).get("name", [""])[0]
        self.asked.append((name, req.headers.get("Origin")))
        if name in self.addresses:
            answer = {"Status": 0, "Answer": [{"name": name + ".", "type": 1, "TTL": 60,
                                               "data": self.addresses[name]}]}
        else:
            answer = {"Status": 3}
        return Response(200, json.dumps(answer).encode(),
                        {"Content-Type": "application/dns-json", "Access-Control-Allow-Origin": "*"})

    def names(self):
        return [name for name, _ in self.asked]

    def __enter__(self):
        self.server.start()
        return self

    def __exit__(self, *exc):
        self.server.stop()
