// The one HTTP client of the program (probes, update manifest and installer,
// token requests, PAC downloads), on libcurl's easy interface. The SMTP
// transfer has its own handle but shares the trust set-up (trustExtraCa).
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <functional>
#include <string>

namespace vm {

inline constexpr const char* kHttpUserAgent = "Mozilla/5.0 Gecko/41.0 Firefox/41.0";

// Bodies kept in memory (probe answers, manifests, token answers, PAC files)
// are small; anything larger is a broken or hostile server.
inline constexpr std::size_t kMaxHttpBodyBytes = 8u * 1024u * 1024u;
// Installers go to a file; the cap only stops an endless stream filling the disk.
inline constexpr long long kMaxHttpDownloadBytes = 1024LL * 1024 * 1024;
inline constexpr long kMaxHttpRedirects = 10;

// The proxy that every request uses. proxy empty means "no proxy at all",
// which also overrides http_proxy / https_proxy / all_proxy of the environment.
struct HttpProxy {
  std::string proxy;  // "scheme://host:port"
  std::string user;
  std::string password;
};

// The connect limit that the first reachability probe sets for the client;
// the SMTP transfer uses it as well.
inline constexpr long kHttpConnectTimeoutMs = 8000;

// 0 leaves libcurl's own default (no total limit).
struct HttpTimeouts {
  long connectMs = 0;
  long totalMs = 0;
};

// The limits the first reachability probe sets for the rest of the run.
inline constexpr HttpTimeouts kReachabilityTimeouts{8000, 15000};

enum class HttpMethod { Get, PostForm };

struct HttpRequest {
  std::string url;
  HttpMethod method = HttpMethod::Get;
  std::string body;  // PostForm: application/x-www-form-urlencoded content
  bool verifyCertificates = true;
  bool followRedirects = true;
  std::size_t maxBodyBytes = kMaxHttpBodyBytes;
  // Non-empty: the body goes into this file instead of memory. It is created
  // anew as a private file and removed again when the transfer fails.
  std::string downloadPath;
  long long maxDownloadBytes = kMaxHttpDownloadBytes;
  // Downloads: called with the bytes received so far; false aborts.
  std::function<bool(long long received)> progress;
};

struct HttpResult {
  bool ok = false;   // the transfer completed, whatever the status
  long status = 0;   // 0 when no response arrived
  std::string body;  // empty for downloads
  long long bytesReceived = 0;
  CURLcode curlCode = CURLE_OK;
  std::string error;  // libcurl's text for a failed transfer, else empty
};

class HttpClient {
 public:
  // extraCaFile: PEM file of a CA trusted in addition to the system store;
  // empty for none.
  explicit HttpClient(std::string extraCaFile);
  // Uses the build's configured extra CA file.
  HttpClient();

  // Process-wide limits: once set they hold for every later request.
  void setTimeouts(HttpTimeouts timeouts) { timeouts_ = timeouts; }
  const HttpTimeouts& timeouts() const { return timeouts_; }

  void setProxy(HttpProxy proxy) { proxy_ = std::move(proxy); }
  const HttpProxy& proxy() const { return proxy_; }

  const std::string& extraCaFile() const { return extraCaFile_; }

  HttpResult perform(const HttpRequest& request) const;
  HttpResult get(const std::string& url) const;
  HttpResult postForm(const std::string& url, const std::string& formBody) const;

 private:
  std::string extraCaFile_;
  HttpTimeouts timeouts_;
  HttpProxy proxy_;
};

// Makes handle trust the CA in caFile in addition to the system store
// (CURLOPT_CAINFO would replace the store). No-op for an empty path.
// caFile must stay alive until the handle's last transfer has ended.
void trustExtraCa(CURL* handle, const std::string& caFile);

}  // namespace vm
