#include "platform/webview.h"

#include <gtk/gtk.h>
#include <sys/random.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <utility>
#include <nlohmann/json.hpp>

#include "base/log.h"
#include "base/text.h"
#include "platform/top_window.h"

namespace vm {
namespace {

constexpr const char* kHandlerName = "velomarkBridge";
constexpr const char* kRefused = "Bridge call refused";
// A crashing web process is reloaded at most this often per minute, so a
// page that kills the engine every time cannot spin the machine.
constexpr std::size_t kMaxRestartsPerMinute = 3;

struct GErrorFree {
  void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
struct GCharFree {
  void operator()(gchar* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GCharFree>;

// Runs at document start in the top frame only. The secret that every call
// carries is handed out once per committed page, to the first asker; this
// script asks before any of the page's own script (and so before any of its
// frames) exists. Library functions are captured early so that the page
// cannot swap them to read the secret in transit.
constexpr const char* kBridgeCore = R"JS((function () {
  if (window.top !== window || window.__velomarkBridge) return;
  const handlers = window.webkit && window.webkit.messageHandlers;
  const channel = handlers && handlers.velomarkBridge;
  if (!channel) return;
  const post = channel.postMessage.bind(channel);
  const stringify = JSON.stringify, parse = JSON.parse;
  const define = Object.defineProperty;
  let nextId = 1;
  const secret = post(stringify({kind: 'hello'})).then(
      (s) => (typeof s === 'string' ? s : ''), () => '');
  const bind = function (name) {
    const fn = function (...args) {
      const id = nextId++;
      return secret.then((s) => post(stringify({kind: 'call', name: name, id: id, secret: s,
                                                args: stringify(args)})))
          .then((answer) => {
            if (answer === undefined || answer === null) return undefined;
            try { return parse(answer); } catch (e) {
              throw new Error('Failed to parse binding result as JSON');
            }
          });
    };
    define(window, name, {value: fn, writable: true, configurable: true, enumerable: false});
  };
  const unbind = function (name) { delete window[name]; };
  define(window, '__velomarkBridge', {value: Object.freeze({bind: bind, unbind: unbind})});
})();
)JS";

std::string randomSecret() {
  unsigned char bytes[24];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n <= 0) return {};  // no secret: every call is refused
    got += static_cast<std::size_t>(n);
  }
  static const char* hex = "0123456789abcdef";
  std::string s;
  for (unsigned char b : bytes) {
    s += hex[b >> 4];
    s += hex[b & 15];
  }
  return s;
}

long long monotonicSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec;
}

std::string jsString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Host and port (443 when none is given) of an https URI; nullopt otherwise.
std::optional<std::pair<std::string, int>> httpsHostAndPort(const char* uri) {
  g_autoptr(GUri) parsed = uri ? g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr) : nullptr;
  if (!parsed || !g_uri_get_host(parsed) || g_ascii_strcasecmp(g_uri_get_scheme(parsed), "https") != 0)
    return std::nullopt;
  return std::make_pair(std::string(g_uri_get_host(parsed)),
                        g_uri_get_port(parsed) > 0 ? g_uri_get_port(parsed) : 443);
}

}  // namespace

std::string originOf(const std::string& url) {
  auto colon = url.find("://");
  if (colon == std::string::npos || colon == 0) return {};
  std::string scheme = url.substr(0, colon);
  auto hostStart = colon + 3;
  auto hostEnd = url.find_first_of("/?#", hostStart);
  std::string host = url.substr(hostStart, hostEnd == std::string::npos ? std::string::npos
                                                                        : hostEnd - hostStart);
  // Credentials in the authority do not make another origin.
  if (auto at = host.rfind('@'); at != std::string::npos) host = host.substr(at + 1);
  if (host.empty()) return {};
  std::string origin = scheme + "://" + host;
  origin = lowerAscii(origin);
  // A default port names the same origin as no port.
  for (const char* suffix : {"http://|:80", "https://|:443"}) {
    std::string s(suffix);
    auto bar = s.find('|');
    std::string prefix = s.substr(0, bar), port = s.substr(bar + 1);
    if (origin.starts_with(prefix) && origin.size() > port.size() && origin.ends_with(port))
      origin.resize(origin.size() - port.size());
  }
  return origin;
}

struct WebView::Signals {
  static gboolean message(WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                          gpointer self) {
    GCharPtr text(jsc_value_is_string(value) ? jsc_value_to_string(value) : nullptr);
    static_cast<WebView*>(self)->handleMessage(text ? text.get() : "", reply, jsc_value_get_context(value));
    return TRUE;
  }
  static void loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    if (event == WEBKIT_LOAD_COMMITTED) static_cast<WebView*>(self)->onCommitted();
  }
  static void terminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self) {
    const char* text = reason == WEBKIT_WEB_PROCESS_CRASHED              ? "crashed"
                       : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "memory limit"
                                                                          : "terminated";
    static_cast<WebView*>(self)->onWebProcessEnded(text);
  }
  static gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                               WebKitPolicyDecisionType type, gpointer self) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) return FALSE;
    auto* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    handOver(static_cast<WebView*>(self), action);
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }
  static GtkWidget* create(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
    handOver(static_cast<WebView*>(self), action);
    return nullptr;  // no second view: the page's new window opens outside
  }
  static void handOver(WebView* view, WebKitNavigationAction* action) {
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    if (uri && *uri && view->onNewWindow_) view->onNewWindow_(uri);
  }
  static gboolean authenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer self) {
    auto* view = static_cast<WebView*>(self);
    if (!webkit_authentication_request_is_for_proxy(request)) return FALSE;
    const WebViewProxy& proxy = view->options_.proxy;
    // Wrong stored credentials would otherwise be offered again forever.
    if (webkit_authentication_request_is_retry(request) || proxy.user.empty()) {
      writeLog("ERROR: Proxy authentication failed");
      webkit_authentication_request_cancel(request);
      return TRUE;
    }
    WebKitCredential* credential = webkit_credential_new(
        proxy.user.c_str(), proxy.password.c_str(), WEBKIT_CREDENTIAL_PERSISTENCE_FOR_SESSION);
    webkit_authentication_request_authenticate(request, credential);
    webkit_credential_free(credential);
    return TRUE;
  }
  static gboolean tlsError(WebKitWebView*, const char* uri, GTlsCertificate* certificate,
                           GTlsCertificateFlags, gpointer self) {
    return static_cast<WebView*>(self)->onTlsError(uri, certificate) ? TRUE : FALSE;
  }
};

WebView::WebView(const WebViewOptions& options) : options_(options) {}

std::unique_ptr<WebView> WebView::create(TopWindow& window, const WebViewOptions& options) {
  std::unique_ptr<WebView> self(new WebView(options));

  g_autoptr(WebKitWebsiteDataManager) data =
      options.cacheFolder.empty()
          ? webkit_website_data_manager_new(nullptr)
          : webkit_website_data_manager_new("base-cache-directory", options.cacheFolder.c_str(),
                                            nullptr);
  if (!options.proxy.host.empty() && options.proxy.port > 0) {
    std::string uri = options.proxy.host;
    if (uri.find("://") == std::string::npos) uri = "http://" + uri;
    uri += ":" + std::to_string(options.proxy.port);
    WebKitNetworkProxySettings* proxy = webkit_network_proxy_settings_new(uri.c_str(), nullptr);
    webkit_website_data_manager_set_network_proxy_settings(data, WEBKIT_NETWORK_PROXY_MODE_CUSTOM,
                                                           proxy);
    webkit_network_proxy_settings_free(proxy);
  }
  self->context_ = webkit_web_context_new_with_website_data_manager(data);

  if (!options.extraCaFile.empty()) {
    GError* raw = nullptr;
    self->extraCa_ = g_tls_file_database_new(options.extraCaFile.c_str(), &raw);
    ErrorPtr error(raw);
    if (!self->extraCa_)
      writeLog("ERROR: Extra CA file [" + options.extraCaFile + "] unusable: " +
               (error ? error->message : ""));
  }

  self->content_ = webkit_user_content_manager_new();
  webkit_user_content_manager_register_script_message_handler_with_reply(self->content_, kHandlerName,
                                                                         nullptr);
  g_signal_connect(self->content_, "script-message-with-reply-received::velomarkBridge",
                   G_CALLBACK(Signals::message), self.get());

  g_autoptr(WebKitSettings) settings = webkit_settings_new();
  webkit_settings_set_enable_developer_extras(settings, options.developerTools);
  // A page restored from the back-forward cache would keep a secret that is
  // no longer valid; every top-level page must start afresh.
  webkit_settings_set_enable_page_cache(settings, FALSE);

  self->view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", self->context_,
                                             "user-content-manager", self->content_, "settings",
                                             settings, nullptr));
  g_signal_connect(self->view_, "load-changed", G_CALLBACK(Signals::loadChanged), self.get());
  g_signal_connect(self->view_, "web-process-terminated", G_CALLBACK(Signals::terminated), self.get());
  g_signal_connect(self->view_, "decide-policy", G_CALLBACK(Signals::decidePolicy), self.get());
  g_signal_connect(self->view_, "create", G_CALLBACK(Signals::create), self.get());
  g_signal_connect(self->view_, "authenticate", G_CALLBACK(Signals::authenticate), self.get());
  g_signal_connect(self->view_, "load-failed-with-tls-errors", G_CALLBACK(Signals::tlsError),
                   self.get());

  self->rebuildUserScript();
  gtk_container_add(GTK_CONTAINER(window.widget()), GTK_WIDGET(self->view_));
  gtk_widget_show(GTK_WIDGET(self->view_));
  gtk_widget_grab_focus(GTK_WIDGET(self->view_));
  return self;
}

WebView::~WebView() {
  if (tlsRetrySource_) g_source_remove(tlsRetrySource_);
  if (view_) g_signal_handlers_disconnect_by_data(view_, this);
  if (content_) {
    g_signal_handlers_disconnect_by_data(content_, this);
    g_object_unref(content_);
  }
  if (context_) g_object_unref(context_);
  if (extraCa_) g_object_unref(extraCa_);
}

void WebView::navigate(const std::string& url) {
  appOrigin_ = originOf(url);
  htmlPending_ = false;
  allowExtraCaHost(url);
  webkit_web_view_load_uri(view_, url.c_str());
}

void WebView::setHtml(const std::string& html) {
  lastHtml_ = html;
  htmlPending_ = true;
  webkit_web_view_load_html(view_, html.c_str(), nullptr);
}

void WebView::rebuildUserScript() {
  std::string source = kBridgeCore;
  for (const auto& [name, handler] : bindings_)
    source += "window.__velomarkBridge && window.__velomarkBridge.bind(" + jsString(name) + ");\n";
  webkit_user_content_manager_remove_all_scripts(content_);
  WebKitUserScript* script =
      webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content_, script);
  webkit_user_script_unref(script);
}

void WebView::bind(const std::string& name, Handler handler) {
  bindings_[name] = std::move(handler);
  rebuildUserScript();
  // The page already shown gets the name too, not only the next one.
  eval("window.__velomarkBridge && window.__velomarkBridge.bind(" + jsString(name) + ");");
}

void WebView::unbind(const std::string& name) {
  if (bindings_.erase(name) == 0) return;
  rebuildUserScript();
  eval("window.__velomarkBridge && window.__velomarkBridge.unbind(" + jsString(name) + ");");
}

void WebView::eval(const std::string& script) {
  webkit_web_view_evaluate_javascript(view_, script.c_str(), static_cast<gssize>(script.size()),
                                      nullptr, nullptr, nullptr, nullptr, nullptr);
}

void WebView::resize(int, int) { gtk_widget_queue_resize(GTK_WIDGET(view_)); }

std::string WebView::currentUri() const {
  const char* uri = webkit_web_view_get_uri(view_);
  return uri ? uri : "";
}

bool WebView::pageMayUseBridge() const {
  std::string uri = currentUri();
  if (showingOwnHtml_) return uri == "about:blank";
  return !appOrigin_.empty() && originOf(uri) == appOrigin_;
}

void WebView::onCommitted() {
  showingOwnHtml_ = htmlPending_ && currentUri() == "about:blank";
  htmlPending_ = false;
  pageSecret_ = randomSecret();
  secretIssued_ = false;
}

void WebView::handleMessage(const std::string& text, void* replyPtr, void* contextPtr) {
  auto* reply = static_cast<WebKitScriptMessageReply*>(replyPtr);
  auto message = nlohmann::json::parse(text, nullptr, false);
  std::string kind;
  if (message.is_object() && message.contains("kind") && message["kind"].is_string())
    kind = message["kind"].get<std::string>();

  auto* js = static_cast<JSCContext*>(contextPtr);
  auto answer = [&](const std::optional<std::string>& value) {
    JSCValue* v = value ? jsc_value_new_string(js, value->c_str()) : jsc_value_new_undefined(js);
    webkit_script_message_reply_return_value(reply, v);
    g_object_unref(v);
  };

  if (kind == "hello") {
    if (!secretIssued_ && pageMayUseBridge() && !pageSecret_.empty()) {
      secretIssued_ = true;
      answer(pageSecret_);
    } else {
      answer(std::nullopt);
    }
    return;
  }

  std::string name, secret, args;
  if (kind == "call" && message.contains("name") && message["name"].is_string() &&
      message.contains("secret") && message["secret"].is_string() && message.contains("args") &&
      message["args"].is_string()) {
    name = message["name"].get<std::string>();
    secret = message["secret"].get<std::string>();
    args = message["args"].get<std::string>();
  }
  if (name.empty() || secret.empty() || secret != pageSecret_ || !pageMayUseBridge()) {
    writeLog("ERROR: Refused bridge call [" + name + "] from [" + currentUri() + "]");
    webkit_script_message_reply_return_error_message(reply, kRefused);
    return;
  }
  auto found = bindings_.find(name);
  if (found == bindings_.end()) {
    answer(std::nullopt);
    return;
  }
  // A handler may bind or unbind names (or run a nested loop that does);
  // the copy keeps the running one alive.
  Handler handler = found->second;
  answer(handler(args));
}

void WebView::onWebProcessEnded(const char* reason) {
  long long now = monotonicSeconds();
  while (!restarts_.empty() && now - restarts_.front() >= 60) restarts_.pop_front();
  if (restarts_.size() >= kMaxRestartsPerMinute) {
    writeLog(std::string("ERROR: Web process ended (") + reason + "); not reloaded, too many restarts");
    return;
  }
  restarts_.push_back(now);
  writeLog(std::string("ERROR: Web process ended (") + reason + "); reloading");
  if (showingOwnHtml_ || currentUri().empty()) {
    setHtml(lastHtml_);
  } else {
    webkit_web_view_reload(view_);
  }
}

// WebKitGTK 4.1 offers no way to give the network process a trust store of
// its own, so a certificate that fails the system store is checked here
// against the extra CA, host name and validity included; only a chain that
// passes is allowed for its host and the load retried.
bool WebView::onTlsError(const char* uri, void* certificatePtr) {
  auto* certificate = static_cast<GTlsCertificate*>(certificatePtr);
  if (!extraCa_ || !uri) {
    writeLog(std::string("ERROR: TLS certificate of [") + (uri ? uri : "") + "] refused");
    return false;
  }
  auto hostAndPort = httpsHostAndPort(uri);
  if (!hostAndPort) return false;
  const auto& [host, port] = *hostAndPort;
  if (!allowIfExtraCaVouches(certificate, host, port)) {
    writeLog(std::string("ERROR: TLS certificate of [") + uri + "] refused");
    return false;
  }
  // A load started inside this signal can be cancelled by the engine as it
  // finishes the failed one; retry once the main loop is back.
  tlsRetryUri_ = uri;
  if (!tlsRetrySource_) {
    tlsRetrySource_ = g_idle_add(
        [](gpointer self) -> gboolean {
          auto* view = static_cast<WebView*>(self);
          view->tlsRetrySource_ = 0;
          webkit_web_view_load_uri(view->view_, view->tlsRetryUri_.c_str());
          return G_SOURCE_REMOVE;
        },
        this);
  }
  return true;
}

// The engine does not always report a certificate it refuses: when a
// navigation moves to a new web process, the failure can surface as a plain
// cancellation and the view ends on an empty page. So a host whose chain the
// extra CA vouches for is checked here, with a handshake of our own, and
// allowed before the engine first connects to it.
void WebView::allowExtraCaHost(const std::string& url) {
  if (!extraCa_) return;
  auto hostAndPort = httpsHostAndPort(url.c_str());
  if (!hostAndPort) return;
  const auto& [host, port] = *hostAndPort;
  std::string key = host + ":" + std::to_string(port);
  if (extraCaHosts_.count(key)) return;

  g_autoptr(GSocketClient) client = g_socket_client_new();
  g_socket_client_set_timeout(client, 10);
  g_autoptr(GSocketConnection) tcp =
      g_socket_client_connect_to_host(client, host.c_str(), port, nullptr, nullptr);
  if (!tcp) return;
  g_autoptr(GSocketConnectable) identity = g_network_address_new(host.c_str(), port);
  g_autoptr(GIOStream) tls = g_tls_client_connection_new(G_IO_STREAM(tcp), identity, nullptr);
  if (!tls) return;
  // The handshake only fetches the chain; the extra CA judges it below.
  g_signal_connect(tls, "accept-certificate", G_CALLBACK(+[](GTlsConnection*, GTlsCertificate*,
                                                             GTlsCertificateFlags, gpointer) {
                     return TRUE;
                   }),
                   nullptr);
  if (!g_tls_connection_handshake(G_TLS_CONNECTION(tls), nullptr, nullptr)) return;
  GTlsCertificate* peer = g_tls_connection_get_peer_certificate(G_TLS_CONNECTION(tls));
  if (peer && allowIfExtraCaVouches(peer, host, port)) extraCaHosts_.insert(key);
  g_io_stream_close(tls, nullptr, nullptr);
}

// Allows certificate for host when its chain leads to the extra CA and names
// host:port, validity included.
bool WebView::allowIfExtraCaVouches(void* certificatePtr, const std::string& host, int port) {
  auto* certificate = static_cast<GTlsCertificate*>(certificatePtr);
  g_autoptr(GSocketConnectable) identity = g_network_address_new(host.c_str(), port);
  GError* raw = nullptr;
  GTlsCertificateFlags flags = g_tls_database_verify_chain(
      extraCa_, certificate, G_TLS_DATABASE_PURPOSE_AUTHENTICATE_SERVER, identity, nullptr,
      G_TLS_DATABASE_VERIFY_NONE, nullptr, &raw);
  ErrorPtr error(raw);
  if (error || flags != 0) return false;
  webkit_web_context_allow_tls_certificate_for_host(context_, certificate, host.c_str());
  return true;
}

}  // namespace vm
