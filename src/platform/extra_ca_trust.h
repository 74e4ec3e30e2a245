// Trust in one certificate authority besides the system store, for the web
// view's https loads. Private to the platform layer: the web view hands it
// the engine's certificates and lets the engine accept what it vouches for.
#pragma once

#include <functional>
#include <optional>
#include <memory>
#include <set>
#include <string>

typedef struct _GTlsCertificate GTlsCertificate;
typedef struct _GTlsDatabase GTlsDatabase;

namespace vm {

class ExtraCaTrust {
 public:
  // Tells the engine to accept certificate for host.
  using Allow = std::function<void(GTlsCertificate* certificate, const std::string& host)>;

  // caFile empty: no extra CA. A file that cannot be loaded is logged and
  // trusts nothing.
  ExtraCaTrust(const std::string& caFile, Allow allow);
  ~ExtraCaTrust();
  ExtraCaTrust(const ExtraCaTrust&) = delete;
  ExtraCaTrust& operator=(const ExtraCaTrust&) = delete;

  // Before a load of url: allows its https host when the extra CA vouches
  // for the chain that a handshake of our own fetches; each host:port once.
  // The handshake runs on a worker while the main loop turns; one that
  // checkHostOfInBackground() started is waited for instead.
  void allowHostOf(const std::string& url);
  // Starts that handshake for url's host on a worker and returns at once, so
  // that it runs beside other work (the probe of the same server); the host
  // is allowed when it ends.
  void checkHostOfInBackground(const std::string& url);
  // The engine refused certificate at uri: true when the extra CA vouches
  // for it (the host is allowed now and the load can be retried); false,
  // logged as refused, otherwise.
  bool allowRefused(const char* uri, GTlsCertificate* certificate);

 private:
  struct DatabaseUnref {
    void operator()(GTlsDatabase* database) const;
  };
  bool allowIfVouches(GTlsCertificate* certificate, const std::string& host, int port);
  // Starts the handshake for url's https host unless one runs already; the
  // host:port key of the check to wait for, nullopt when there is none (no
  // extra CA, not https, or allowed already).
  std::optional<std::string> startCheck(const std::string& url);
  // Ends a handshake of host:port (key) with the certificate it fetched (or
  // nullptr), on the main thread.
  void takeFetched(const std::string& key, GTlsCertificate* certificate, const std::string& host,
                   int port);

  std::unique_ptr<GTlsDatabase, DatabaseUnref> database_;
  Allow allow_;
  std::set<std::string> allowedHosts_;  // host:port whose certificate is allowed already
  std::set<std::string> checking_;      // host:port whose handshake runs on a worker
  // Cleared when this goes; a handshake that ends later finds it cleared.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vm
