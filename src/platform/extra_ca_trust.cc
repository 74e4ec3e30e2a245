#include "platform/extra_ca_trust.h"

#include <gio/gio.h>

#include <optional>
#include <utility>

#include "base/log.h"
#include "platform/top_window.h"
#include "platform/worker.h"

namespace vm {
namespace {

// See allowHostOf().
constexpr int kHandshakeWaitMs = 30000;

struct GErrorFree {
  void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

// Host and port (443 when none is given) of an https URI; nullopt otherwise.
std::optional<std::pair<std::string, int>> httpsHostAndPort(const char* uri) {
  g_autoptr(GUri) parsed = uri ? g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr) : nullptr;
  if (!parsed || !g_uri_get_host(parsed) || g_ascii_strcasecmp(g_uri_get_scheme(parsed), "https") != 0)
    return std::nullopt;
  return std::make_pair(std::string(g_uri_get_host(parsed)),
                        g_uri_get_port(parsed) > 0 ? g_uri_get_port(parsed) : 443);
}

}  // namespace

void ExtraCaTrust::DatabaseUnref::operator()(GTlsDatabase* database) const { g_object_unref(database); }

ExtraCaTrust::ExtraCaTrust(const std::string& caFile, Allow allow) : allow_(std::move(allow)) {
  if (caFile.empty()) return;
  GError* raw = nullptr;
  database_.reset(g_tls_file_database_new(caFile.c_str(), &raw));
  ErrorPtr error(raw);
  if (!database_)
    writeLog("ERROR: Extra CA file [" + caFile + "] unusable: " + (error ? error->message : ""));
}

ExtraCaTrust::~ExtraCaTrust() { *alive_ = false; }

// WebKitGTK 4.1 offers no way to give the network process a trust store of
// its own, so a certificate that fails the system store is checked here
// against the extra CA, host name and validity included.
bool ExtraCaTrust::allowRefused(const char* uri, GTlsCertificate* certificate) {
  if (!database_ || !uri) {
    writeLog(std::string("ERROR: TLS certificate of [") + (uri ? uri : "") + "] refused");
    return false;
  }
  auto hostAndPort = httpsHostAndPort(uri);
  if (!hostAndPort) return false;
  const auto& [host, port] = *hostAndPort;
  if (!allowIfVouches(certificate, host, port)) {
    writeLog(std::string("ERROR: TLS certificate of [") + uri + "] refused");
    return false;
  }
  return true;
}

// The chain a TLS server at host:port presents (a new reference), nullptr
// when it cannot be fetched. A check of our own, straight to the host: the
// environment's proxy variables have no say in the client's traffic. Blocks;
// safe on any thread.
static GTlsCertificate* fetchPeerChain(const std::string& host, int port) {
  g_autoptr(GSocketClient) client = g_socket_client_new();
  g_socket_client_set_timeout(client, 10);
  g_socket_client_set_enable_proxy(client, FALSE);
  g_autoptr(GSocketConnection) tcp =
      g_socket_client_connect_to_host(client, host.c_str(), port, nullptr, nullptr);
  if (!tcp) return nullptr;
  g_autoptr(GSocketConnectable) identity = g_network_address_new(host.c_str(), port);
  g_autoptr(GIOStream) tls = g_tls_client_connection_new(G_IO_STREAM(tcp), identity, nullptr);
  if (!tls) return nullptr;
  // The handshake only fetches the chain; the extra CA judges it later.
  g_signal_connect(tls, "accept-certificate", G_CALLBACK(+[](GTlsConnection*, GTlsCertificate*,
                                                             GTlsCertificateFlags, gpointer) {
                     return TRUE;
                   }),
                   nullptr);
  if (!g_tls_connection_handshake(G_TLS_CONNECTION(tls), nullptr, nullptr)) return nullptr;
  GTlsCertificate* peer = g_tls_connection_get_peer_certificate(G_TLS_CONNECTION(tls));
  if (peer) g_object_ref(peer);
  g_io_stream_close(tls, nullptr, nullptr);
  return peer;
}

// The engine does not always report a certificate it refuses: when a
// navigation moves to a new web process, the failure can surface as a plain
// cancellation and the view ends on an empty page. So a host whose chain the
// extra CA vouches for is checked here, with a handshake of our own, and
// allowed before the engine first connects to it.
void ExtraCaTrust::allowHostOf(const std::string& url) {
  const std::optional<std::string> key = startCheck(url);
  if (!key) return;
  // Bounded by the handshake's own time limits (10 s to connect, then the
  // server's answer); the bound here only keeps a stuck one from holding on.
  runEventLoopUntil([this, &key] { return !checking_.count(*key); }, kHandshakeWaitMs);
}

void ExtraCaTrust::checkHostOfInBackground(const std::string& url) { startCheck(url); }

std::optional<std::string> ExtraCaTrust::startCheck(const std::string& url) {
  if (!database_) return std::nullopt;
  auto hostAndPort = httpsHostAndPort(url.c_str());
  if (!hostAndPort) return std::nullopt;
  // Plain names, not a structured binding: the lambdas below capture them.
  const std::string host = hostAndPort->first;
  const int port = hostAndPort->second;
  std::string key = host + ":" + std::to_string(port);
  if (allowedHosts_.count(key)) return std::nullopt;
  if (checking_.count(key)) return key;
  checking_.insert(key);
  auto fetched = std::make_shared<GTlsCertificate*>(nullptr);
  runOnWorkerThen([fetched, host, port] { *fetched = fetchPeerChain(host, port); },
                  [this, alive = alive_, fetched, key, host, port] {
                    if (*alive) {
                      takeFetched(key, *fetched, host, port);
                    } else if (*fetched) {
                      g_object_unref(*fetched);
                    }
                  });
  return key;
}

void ExtraCaTrust::takeFetched(const std::string& key, GTlsCertificate* certificate,
                               const std::string& host, int port) {
  checking_.erase(key);
  if (!certificate) return;
  if (allowIfVouches(certificate, host, port)) allowedHosts_.insert(key);
  g_object_unref(certificate);
}

// Allows certificate for host when its chain leads to the extra CA and names
// host:port, validity included.
bool ExtraCaTrust::allowIfVouches(GTlsCertificate* certificate, const std::string& host, int port) {
  g_autoptr(GSocketConnectable) identity = g_network_address_new(host.c_str(), port);
  GError* raw = nullptr;
  GTlsCertificateFlags flags = g_tls_database_verify_chain(
      database_.get(), certificate, G_TLS_DATABASE_PURPOSE_AUTHENTICATE_SERVER, identity, nullptr,
      G_TLS_DATABASE_VERIFY_NONE, nullptr, &raw);
  ErrorPtr error(raw);
  if (error || flags != 0) return false;
  allow_(certificate, host);
  return true;
}

}  // namespace vm
