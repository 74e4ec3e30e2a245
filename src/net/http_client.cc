#include "net/http_client.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <memory>

#include "build_config.h"
#include "base/log.h"
#include "platform/file.h"

namespace vm {

namespace {

struct CurlEasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlSlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

void ensureCurlGlobalInit() {
  // curl_easy_init would do this implicitly, but only the explicit call
  // reports a failure; the program has one thread, so a static suffices.
  static const CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)rc;
}

struct Sink {
  const HttpRequest* request = nullptr;
  std::string body;
  int fd = -1;
  long long received = 0;
  bool overLimit = false;
  bool writeFailed = false;
  bool aborted = false;
};

size_t onBody(char* data, size_t size, size_t count, void* userp) {
  auto* sink = static_cast<Sink*>(userp);
  const size_t n = size * count;
  const HttpRequest& req = *sink->request;
  if (sink->fd >= 0) {
    if (sink->received + static_cast<long long>(n) > req.maxDownloadBytes) {
      sink->overLimit = true;
      return 0;
    }
    if (!writeAll(sink->fd, {data, n})) {
      sink->writeFailed = true;
      return 0;
    }
  } else {
    if (sink->body.size() + n > req.maxBodyBytes) {
      sink->overLimit = true;
      return 0;
    }
    sink->body.append(data, n);
  }
  sink->received += static_cast<long long>(n);
  if (req.progress && !req.progress(sink->received)) {
    sink->aborted = true;
    return 0;
  }
  return n;
}

CURLcode addExtraCaToContext(CURL*, void* sslContext, void* userp) {
  const auto* caFile = static_cast<const std::string*>(userp);
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
  // The context already holds the system store that libcurl loaded; this
  // adds to it, so both the system roots and the extra CA are trusted.
  if (store == nullptr || X509_STORE_load_file(store, caFile->c_str()) != 1) {
    ERR_clear_error();
    writeLog("WARN: Extra CA file not loaded [" + *caFile + "]");
  }
  return CURLE_OK;
}

}  // namespace

void trustExtraCa(CURL* handle, const std::string& caFile) {
  if (caFile.empty()) return;
#if LIBCURL_VERSION_NUM >= 0x075700
  // A cached store is shared between transfers; the extra CA is added per
  // context, so the cache must not carry one transfer's additions around.
  curl_easy_setopt(handle, CURLOPT_CA_CACHE_TIMEOUT, 0L);
#endif
  CURLcode rc = curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, addExtraCaToContext);
  if (rc == CURLE_OK) rc = curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, &caFile);
  if (rc != CURLE_OK) {
    writeLog(std::string("WARN: Extra CA cannot be added: ") + curl_easy_strerror(rc));
  }
}

HttpClient::HttpClient(std::string extraCaFile) : extraCaFile_(std::move(extraCaFile)) {}

HttpClient::HttpClient() : HttpClient(config::kExtraCaFile) {}

HttpResult HttpClient::get(const std::string& url) const {
  HttpRequest req;
  req.url = url;
  return perform(req);
}

HttpResult HttpClient::postForm(const std::string& url, const std::string& formBody) const {
  HttpRequest req;
  req.url = url;
  req.method = HttpMethod::PostForm;
  req.body = formBody;
  return perform(req);
}

HttpResult HttpClient::perform(const HttpRequest& request) const {
  HttpResult result;
  ensureCurlGlobalInit();
  CurlEasy handle(curl_easy_init());
  if (!handle) {
    result.curlCode = CURLE_FAILED_INIT;
    result.error = curl_easy_strerror(CURLE_FAILED_INIT);
    return result;
  }
  CURL* h = handle.get();

  Sink sink;
  sink.request = &request;
  FileDescriptor file;
  if (!request.downloadPath.empty()) {
    Result<FileDescriptor> opened = openPrivateFile(request.downloadPath, PrivateOpen::Truncate);
    if (!opened) {
      result.curlCode = CURLE_WRITE_ERROR;
      result.error = "Cannot create file [" + request.downloadPath + "]";
      return result;
    }
    file = std::move(*opened);
    sink.fd = file.get();
  }

  char errorBuffer[CURL_ERROR_SIZE] = {};
  CurlSlist headers;
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, kHttpUserAgent);
  // URLs come from settings, manifests and PAC answers: nothing but HTTP(S)
  // may be reached through them, neither directly nor by a redirect.
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxHttpRedirects);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  if (timeouts_.connectMs > 0) curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeouts_.connectMs);
  if (timeouts_.totalMs > 0) curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeouts_.totalMs);

  if (request.verifyCertificates) {
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    trustExtraCa(h, extraCaFile_);
  } else {
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
  }

  // The environment has no say: an empty proxy text makes libcurl ignore
  // http_proxy and friends, and an empty exception list ignores no_proxy.
  curl_easy_setopt(h, CURLOPT_PROXY, proxy_.proxy.c_str());
  curl_easy_setopt(h, CURLOPT_NOPROXY, "");
  if (!proxy_.proxy.empty()) {
    curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, proxy_.user.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, proxy_.password.c_str());
  }

  if (request.method == HttpMethod::PostForm) {
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    headers.reset(curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded"));
    if (!headers) {
      result.curlCode = CURLE_OUT_OF_MEMORY;
      result.error = curl_easy_strerror(CURLE_OUT_OF_MEMORY);
      return result;
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  } else {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  }

  result.curlCode = curl_easy_perform(h);
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
  result.bytesReceived = sink.received;
  result.ok = result.curlCode == CURLE_OK;
  if (!result.ok) {
    if (sink.overLimit) {
      result.error = "Response larger than the limit of " +
                     std::to_string(file.isOpen() ? request.maxDownloadBytes
                                                  : static_cast<long long>(request.maxBodyBytes)) +
                     " bytes";
    } else if (sink.writeFailed) {
      result.error = "Cannot write file [" + request.downloadPath + "]";
    } else if (sink.aborted) {
      result.error = "Transfer aborted";
    } else {
      result.error = errorBuffer[0] ? errorBuffer : curl_easy_strerror(result.curlCode);
    }
  }
  if (file.isOpen()) {
    if (!file.close() && result.ok) {
      result.ok = false;
      result.curlCode = CURLE_WRITE_ERROR;
      result.error = "Cannot write file [" + request.downloadPath + "]";
    }
    // A partial installer must never be mistaken for a downloaded one.
    if (!result.ok) ::unlink(request.downloadPath.c_str());
  } else {
    result.body = std::move(sink.body);
  }
  return result;
}

}  // namespace vm
