// The demo's proxy auto-configuration: the demo servers on 127.0.0.x are
// reached through the demo proxy (demo/proxy_server.py on port 3128),
// everything else directly. Use it with the proxy setting
//   pac:https://127.0.0.1:8443/proxy.pac
function FindProxyForURL(url, host) {
  if (shExpMatch(host, "127.0.0.*") || dnsDomainIs(host, "localhost")) {
    return "PROXY 127.0.0.1:3128; DIRECT";
  }
  return "DIRECT";
}
