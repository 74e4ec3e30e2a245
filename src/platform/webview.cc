#include "platform/webview.h"

#include <gtk/gtk.h>
#include <sys/random.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <deque>
#include <string_view>
#include <utility>
#include <vector>
#include <nlohmann/json.hpp>

#include "base/log.h"
#include "platform/extra_ca_trust.h"
#include "platform/paths.h"
#include "base/text.h"
#include "platform/top_window.h"
#include "platform/top_window_native.h"

namespace vm {
namespace {

constexpr const char* kHandlerName = "velomarkBridge";
constexpr const char* kRefused = "Bridge call refused";
// A crashing web process is reloaded at most this often per minute, so a
// page that kills the engine every time cannot spin the machine.
constexpr std::size_t kMaxRestartsPerMinute = 3;
// The empty page that starts the engine; not "about:blank", which is the
// address of the pages given by setHtml().
constexpr const char* kEngineStartUri = "about:blank#engine-start";
// How often the web process looks at its memory use; an idle window must not
// wake up for it more than now and then.
constexpr double kMemoryPollSeconds = 60;

struct GCharFree {
  void operator()(gchar* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GCharFree>;
struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// The bridge is two scripts, both run at document start in the top frame
// only. The channel to the native side lives in a script world of its own:
// no page script, of the top page or of any frame, can reach it. The script
// of that world asks for the page's secret before any page script exists and
// sends every call with it; the page's functions, in the page's world, hand
// calls and answers over to it as DOM events on the document, which frames
// from other origins cannot touch.
constexpr const char* kWorldName = "velomark";

// In the bridge's own world: the page cannot change anything this script uses.
constexpr const char* kChannelScript = R"JS((function () {
  'use strict';
  if (window.top !== window) return;
  const handlers = window.webkit && window.webkit.messageHandlers;
  const channel = handlers && handlers.velomarkBridge;
  if (!channel) return;
  let secret = null;  // a string once the native side has answered
  const waiting = [];
  const answer = (id, fields) => {
    fields.id = id;
    document.dispatchEvent(new CustomEvent('velomark-bridge-answer', {detail: JSON.stringify(fields)}));
  };
  const errorText = (error) =>
      error && error.message !== undefined ? String(error.message) : String(error);
  const post = (call, args) => {
    // One text, "<secret> <name> <arguments>": a single string reaches the
    // native side sooner than an object of fields, and the arguments (a
    // mail's attachment may be tens of megabytes) are neither escaped nor
    // parsed again on the way.
    channel.postMessage(secret + ' ' + call.name + ' ' + args)
        .then((text) => answer(call.id, {answer: typeof text === 'string' ? text : null}),
              (error) => answer(call.id, {error: errorText(error)}));
  };
  // Long arguments go over in parts, each taken before the next is sent:
  // the native side takes a message apart on its main thread, and one of
  // tens of megabytes would hold the window for a second or more. A part
  // never ends between the two halves of a surrogate pair. Answers the
  // rest, which goes with the call itself.
  const sendParts = (call) => {
    let at = 0;
    const next = () => {
      if (call.args.length - at <= 131072) return call.args.slice(at);
      let end = at + 131072;
      const unit = call.args.charCodeAt(end - 1);
      if (unit >= 0xD800 && unit <= 0xDBFF) end -= 1;
      const text = call.args.slice(at, end);
      at = end;
      return channel.postMessage({kind: 'part', secret: secret, text: text,
                                  total: call.args.length}).then(next);
    };
    return Promise.resolve().then(next);
  };
  // The parts of one call and the call itself go out before anything of a
  // later call, so calls still reach the native side in their order.
  let tail = Promise.resolve();
  const send = (call) => {
    tail = tail.then(() => sendParts(call))
        .then((rest) => post(call, rest), (error) => answer(call.id, {error: errorText(error)}));
  };
  // Calls made before the answer go out with it, in their order.
  const start = (s) => {
    secret = typeof s === 'string' ? s : '';
    for (const call of waiting.splice(0)) send(call);
  };
  channel.postMessage({kind: 'hello'}).then(start, () => start(''));
  document.addEventListener('velomark-bridge-call', (event) => {
    let call;
    try { call = JSON.parse(event.detail); } catch (e) { return; }
    if (!call || typeof call.id !== 'number' || typeof call.name !== 'string' ||
        typeof call.args !== 'string') return;
    if (secret === null) waiting.push(call); else send(call);
  });
})();
)JS";

// In the page's world. Every built-in it uses later is taken now, before any
// page script runs, so that a page that replaces them (Promise.prototype.then,
// JSON.parse, Function.prototype.call ...) changes nothing of what a call does.
constexpr const char* kPageScript = R"JS((function () {
  'use strict';
  if (window.top !== window || window.__velomarkBridge) return;
  const uncurry = Function.prototype.call.bind.bind(Function.prototype.call);
  const dispatch = uncurry(EventTarget.prototype.dispatchEvent);
  const listen = uncurry(EventTarget.prototype.addEventListener);
  const detailOf = uncurry(Object.getOwnPropertyDescriptor(CustomEvent.prototype, 'detail').get);
  const own = uncurry(Object.prototype.hasOwnProperty);
  const EventType = CustomEvent, PromiseType = Promise, ErrorType = Error;
  const stringify = JSON.stringify, parse = JSON.parse;
  const define = Object.defineProperty, freeze = Object.freeze;
  const doc = document;
  const pending = {__proto__: null};
  let nextId = 1;
  listen(doc, 'velomark-bridge-answer', function (event) {
    let answer;
    try { answer = parse(detailOf(event)); } catch (e) { return; }
    if (!answer || typeof answer !== 'object' || !own(answer, 'id')) return;
    const settle = pending[answer.id];
    if (settle === undefined) return;
    delete pending[answer.id];
    settle(answer);
  });
  const request = function (name, args) {
    const id = nextId++;
    return new PromiseType(function (resolve, reject) {
      const argsText = stringify(args);
      pending[id] = function (answer) {
        if (own(answer, 'error')) return reject(new ErrorType(answer.error));
        const text = own(answer, 'answer') ? answer.answer : null;
        if (typeof text !== 'string') return resolve(undefined);
        let value;
        try { value = parse(text); } catch (e) {
          return reject(new ErrorType('Failed to parse binding result as JSON'));
        }
        resolve(value);
      };
      dispatch(doc, new EventType('velomark-bridge-call', {__proto__: null,
          detail: stringify({__proto__: null, id: id, name: name, args: argsText})}));
    });
  };
  const bind = function (name) {
    const fn = function (...args) { return request(name, args); };
    define(window, name, {__proto__: null, value: fn, writable: true, configurable: true,
                          enumerable: false});
  };
  const unbind = function (name) { delete window[name]; };
  define(window, '__velomarkBridge', {__proto__: null,
      value: freeze({__proto__: null, bind: bind, unbind: unbind})});
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

// Resolves the page's promise with answer, or with undefined for none.
void replyWith(WebKitScriptMessageReply* reply, JSCContext* js,
               const std::optional<std::string>& answer) {
  JSCValue* value =
      answer ? jsc_value_new_string(js, answer->c_str()) : jsc_value_new_undefined(js);
  webkit_script_message_reply_return_value(reply, value);
  g_object_unref(value);
}

// The string member name of a message object; none for anything else.
std::optional<std::string> stringProperty(JSCValue* object, const char* name) {
  if (!object || !jsc_value_is_object(object)) return std::nullopt;
  GObjectPtr<JSCValue> member(jsc_value_object_get_property(object, name));
  if (!member || !jsc_value_is_string(member.get())) return std::nullopt;
  GCharPtr text(jsc_value_to_string(member.get()));
  if (!text) return std::nullopt;
  return std::string(text.get());
}

// The room to reserve for a call's arguments whose first part names their
// length in UTF-16 units (the UTF-8 text is at least as long); bounded, as
// the page names it.
std::size_t reservationFor(JSCValue* part) {
  constexpr double kMostReserved = 256.0 * 1024 * 1024;
  GObjectPtr<JSCValue> total(jsc_value_object_get_property(part, "total"));
  if (!total || !jsc_value_is_number(total.get())) return 0;
  const double units = jsc_value_to_double(total.get());
  if (!(units > 0)) return 0;
  return static_cast<std::size_t>(std::min(units, kMostReserved));
}

std::string jsString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The page's statement that defines (verb "bind") or removes ("unbind") the
// function of a name; it does nothing in a page without the bridge.
std::string bridgeStatement(const char* verb, const std::string& name) {
  return std::string("window.__velomarkBridge && window.__velomarkBridge.") + verb + "(" +
         jsString(name) + ");\n";
}

}  // namespace

std::string webViewCacheFolder() { return tempFolder() + "WebView2_Cache"; }

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

// A bridge name's handler: one that answers at once, or one that answers later.
struct Binding {
  WebView::Handler now;
  WebView::LaterHandler later;
};

// A bridge call that passed the checks and waits for its turn.
struct HeldCall {
  std::string name;
  std::string args;
  WebKitScriptMessageReply* reply;  // one reference, owned here
  JSCContext* js;                   // one reference, owned here
};

struct WebView::Impl {
  Impl(const WebViewOptions& options, bool hidden);
  Impl* engineStartView() const;
  ~Impl();

  void navigate(const std::string& url);
  void setHtml(const std::string& html);
  void bind(const std::string& name, Binding binding);
  void unbind(const std::string& name);
  void eval(const std::string& script);
  std::string currentUri() const;

  void connectSignals();
  void rebuildUserScript();
  void changeBindings(const std::string& pageStatement);
  void applyBindingChanges();
  std::vector<std::pair<std::string, Binding>>::iterator findBinding(const std::string& name);
  bool pageMayUseBridge() const;
  void handleMessage(JSCValue* message, WebKitScriptMessageReply* reply, JSCContext* js);
  void handleCall(JSCValue* message, WebKitScriptMessageReply* reply, JSCContext* js);
  void call(const std::string& name, std::string args, WebKitScriptMessageReply* reply,
            JSCContext* js);
  void runHandler(const std::string& name, std::string args, WebKitScriptMessageReply* reply,
                  JSCContext* js);
  bool callsHeld() const;
  bool mustWait() const;
  void closeAnswer(const LaterAnswer::Slot* slot);
  void runHeldCalls();
  void scheduleHeldCalls();
  void onCommitted();
  void onWebProcessEnded(const char* reason);
  bool onTlsError(const char* uri, GTlsCertificate* certificate);
  void handOver(WebKitNavigationAction* action);
  bool authenticate(WebKitAuthenticationRequest* request);

  // The GLib signal handlers; their user data is the Impl.
  static gboolean onMessage(WebKitUserContentManager*, JSCValue*, WebKitScriptMessageReply*,
                            gpointer);
  static void onLoadChanged(WebKitWebView*, WebKitLoadEvent, gpointer);
  static void onTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer);
  static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType,
                                 gpointer);
  static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction*, gpointer);
  static gboolean onAuthenticate(WebKitWebView*, WebKitAuthenticationRequest*, gpointer);
  static gboolean onTlsErrors(WebKitWebView*, const char*, GTlsCertificate*, GTlsCertificateFlags,
                              gpointer);

  WebViewOptions options;
  WebKitWebView* view = nullptr;  // owned by its window
  GObjectPtr<WebKitUserContentManager> content;
  GObjectPtr<WebKitWebContext> context;
  ExtraCaTrust extraCa;
  // In the order bound: the page's functions are defined in this order.
  std::vector<std::pair<std::string, Binding>> bindings;
  // Changes of the bindings not yet given to the engine: the page's
  // statements for them, and the GLib idle source that gives them, 0 when
  // none.
  std::string bindingStatements;
  unsigned bindingSource = 0;
  UrlHandler onNewWindow;

  std::string appOrigin;        // origin of the last navigate()
  bool htmlPending = false;     // setHtml() issued, not yet committed
  bool showingOwnHtml = false;  // the current page came from setHtml()
  std::string lastHtml;
  std::string pageSecret;       // fresh for every committed top-level page
  std::string argumentParts;    // the parts of the next call's arguments so far
  bool secretIssued = false;
  std::deque<long long> restarts;  // monotonic seconds of crash reloads
  std::string tlsRetryUri;         // load to retry once the failed one has ended
  unsigned tlsRetrySource = 0;     // GLib idle source of that retry, 0 when none
  GtkWidget* ownWindow = nullptr;  // the never-shown window of a hidden view
  // The view whose web process a hidden view shares (engineStartView()),
  // and whether its page's process answered after its job (finishPage()).
  WebKitWebView* processOwner = nullptr;
  bool pageDone = false;
  std::deque<HeldCall> heldCalls;  // in arrival order
  bool runningHeldCalls = false;
  unsigned heldCallsSource = 0;    // GLib idle source that runs them, 0 when none
  int handlersRunning = 0;         // a handler may run a nested main loop
  // Calls whose handlers have returned and whose answers are still to come.
  std::vector<std::shared_ptr<LaterAnswer::Slot>> openAnswers;

  // Every live view, so that the end of a hold reaches the calls it held;
  // and the views whose holds are in force (a view never holds its own).
  static inline std::vector<Impl*> liveViews;
  static inline std::vector<const void*> holders;
  static void releaseHold(const void* holder);
};

// One call's reply, kept referenced until its later answer is given.
struct WebView::LaterAnswer::Slot {
  WebView::Impl* view;  // nullptr once the view is gone
  WebKitScriptMessageReply* reply;
  JSCContext* js;
  bool given = false;

  Slot(WebView::Impl* v, WebKitScriptMessageReply* r, JSCContext* j)
      : view(v), reply(webkit_script_message_reply_ref(r)),
        js(static_cast<JSCContext*>(g_object_ref(j))) {}
  ~Slot() {
    webkit_script_message_reply_unref(reply);
    g_object_unref(js);
  }
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;
};

void WebView::Impl::releaseHold(const void* holder) {
  auto found = std::find(holders.begin(), holders.end(), holder);
  if (found != holders.end()) holders.erase(found);
  for (Impl* view : liveViews) view->scheduleHeldCalls();
}

namespace {

// The proxy of every view of the context. Not the engine's default when
// there is none, which would follow the environment's and the desktop's
// proxy settings: no proxy means none.
void setSessionProxy(WebKitWebContext* context, const WebViewProxy& proxy) {
  WebKitWebsiteDataManager* data = webkit_web_context_get_website_data_manager(context);
  if (proxy.host.empty() || proxy.port <= 0) {
    webkit_website_data_manager_set_network_proxy_settings(data, WEBKIT_NETWORK_PROXY_MODE_NO_PROXY,
                                                           nullptr);
    return;
  }
  std::string uri = proxy.host;
  if (uri.find("://") == std::string::npos) uri = "http://" + uri;
  uri += ":" + std::to_string(proxy.port);
  WebKitNetworkProxySettings* settings = webkit_network_proxy_settings_new(uri.c_str(), nullptr);
  webkit_website_data_manager_set_network_proxy_settings(data, WEBKIT_NETWORK_PROXY_MODE_CUSTOM,
                                                         settings);
  webkit_network_proxy_settings_free(settings);
}

WebKitWebContext* newWebContext(const WebViewOptions& options) {
  g_autoptr(WebKitWebsiteDataManager) data =
      options.cacheFolder.empty()
          ? webkit_website_data_manager_new(nullptr)
          : webkit_website_data_manager_new("base-cache-directory", options.cacheFolder.c_str(),
                                            nullptr);
  // The web process looks at its own memory now and then and frees its
  // caches when it has grown past the thresholds of the engine's limit.
  WebKitMemoryPressureSettings* pressure = webkit_memory_pressure_settings_new();
  webkit_memory_pressure_settings_set_poll_interval(pressure, kMemoryPollSeconds);
  auto* context = WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager",
                                                 data, "memory-pressure-settings", pressure,
                                                 nullptr));
  webkit_memory_pressure_settings_free(pressure);
  // One application in one window, not a browser: a small memory cache of
  // resources no page uses any more. The document viewer's model would drop
  // the disk cache too, and with it the application's scripts between runs.
  webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_BROWSER);
  setSessionProxy(context, {});
  return context;
}

// One engine session (network process, disk cache, allowed certificates)
// serves the views of the program that share a cache folder: the hidden
// view of a PAC evaluation at start-up leaves the network process running
// for the main view, which starts that much sooner. It lives as long as the
// process; a view with another cache folder starts a session of its own.
WebKitWebContext* sessionFor(const WebViewOptions& options) {
  static WebKitWebContext* session = nullptr;
  static std::string sessionCacheFolder;
  if (!session || sessionCacheFolder != options.cacheFolder) {
    if (session) g_object_unref(session);  // its views keep it while they live
    session = newWebContext(options);
    sessionCacheFolder = options.cacheFolder;
  }
  return WEBKIT_WEB_CONTEXT(g_object_ref(session));
}

}  // namespace

WebView::Impl::Impl(const WebViewOptions& options, bool hidden)
    : options(options),
      context(sessionFor(options)),
      extraCa(options.extraCaFile, [this](GTlsCertificate* certificate, const std::string& host) {
        webkit_web_context_allow_tls_certificate_for_host(context.get(), certificate, host.c_str());
      }) {
  // The main view fixes the session's proxy when it is made (and again with
  // setProxy() once it is known); a hidden view takes the session as it
  // finds it.
  if (!hidden) setSessionProxy(context.get(), options.proxy);
  content.reset(webkit_user_content_manager_new());
  webkit_user_content_manager_register_script_message_handler_with_reply(content.get(),
                                                                         kHandlerName, kWorldName);

  g_autoptr(WebKitSettings) settings = webkit_settings_new();
  webkit_settings_set_enable_developer_extras(settings, options.developerTools);
  // A page restored from the back-forward cache would keep a secret that is
  // no longer valid; every top-level page must start afresh.
  webkit_settings_set_enable_page_cache(settings, FALSE);
  // The application's pages are lists and text: painting them on the CPU
  // spares both processes the GL stack (Mesa, and LLVM under software GL),
  // which costs more memory and start-up time than it wins here.
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);

  // A hidden view made while the main view still waits on its engine-start
  // page runs in the web process started for it: starting a second process
  // would cost more than the hidden page's whole job.
  if (Impl* owner = hidden ? engineStartView() : nullptr) processOwner = owner->view;
  view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context.get(),
                                      "user-content-manager", content.get(), "settings", settings,
                                      processOwner ? "related-view" : nullptr, processOwner,
                                      nullptr));
  connectSignals();
  rebuildUserScript();
  liveViews.push_back(this);
}

WebView::Impl* WebView::Impl::engineStartView() const {
  for (Impl* other : liveViews)
    if (!other->ownWindow && other->context.get() == context.get() &&
        other->currentUri() == kEngineStartUri)
      return other;
  return nullptr;
}

WebView::Impl::~Impl() {
  liveViews.erase(std::find(liveViews.begin(), liveViews.end(), this));
  if (tlsRetrySource) g_source_remove(tlsRetrySource);
  if (bindingSource) g_source_remove(bindingSource);
  if (heldCallsSource) g_source_remove(heldCallsSource);
  // Answers still to come resolve with undefined now; giving them later
  // does nothing.
  for (const auto& slot : openAnswers) {
    replyWith(slot->reply, slot->js, std::nullopt);
    slot->given = true;
    slot->view = nullptr;
  }
  // Calls that never ran resolve their promises with undefined.
  for (HeldCall& held : heldCalls) {
    replyWith(held.reply, held.js, std::nullopt);
    webkit_script_message_reply_unref(held.reply);
    g_object_unref(held.js);
  }
  if (view) g_signal_handlers_disconnect_by_data(view, this);
  if (content) g_signal_handlers_disconnect_by_data(content.get(), this);
  if (ownWindow) {
    // A hidden view serves one job; unless its process answered after it,
    // a script may still be running (one that never returns would keep its
    // process busy for good), so the process ends with the view. A shared
    // process that answered goes on serving its owner.
    if (!processOwner || !pageDone) webkit_web_view_terminate_web_process(view);
    gtk_widget_destroy(GTK_WIDGET(view));
    gtk_widget_destroy(ownWindow);
  }
}

gboolean WebView::Impl::onMessage(WebKitUserContentManager*, JSCValue* value,
                                  WebKitScriptMessageReply* reply, gpointer impl) {
  static_cast<Impl*>(impl)->handleMessage(value, reply, jsc_value_get_context(value));
  return TRUE;
}

void WebView::Impl::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer impl) {
  if (event == WEBKIT_LOAD_COMMITTED) static_cast<Impl*>(impl)->onCommitted();
}

void WebView::Impl::onTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                 gpointer impl) {
  const char* text = reason == WEBKIT_WEB_PROCESS_CRASHED                 ? "crashed"
                     : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "memory limit"
                                                                          : "terminated";
  static_cast<Impl*>(impl)->onWebProcessEnded(text);
}

gboolean WebView::Impl::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                       WebKitPolicyDecisionType type, gpointer impl) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) return FALSE;
  auto* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  static_cast<Impl*>(impl)->handOver(action);
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

GtkWidget* WebView::Impl::onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer impl) {
  static_cast<Impl*>(impl)->handOver(action);
  return nullptr;  // no second view: the page's new window opens outside
}

gboolean WebView::Impl::onAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request,
                                       gpointer impl) {
  return static_cast<Impl*>(impl)->authenticate(request) ? TRUE : FALSE;
}

gboolean WebView::Impl::onTlsErrors(WebKitWebView*, const char* uri, GTlsCertificate* certificate,
                                    GTlsCertificateFlags, gpointer impl) {
  return static_cast<Impl*>(impl)->onTlsError(uri, certificate) ? TRUE : FALSE;
}

void WebView::Impl::connectSignals() {
  g_signal_connect(content.get(), "script-message-with-reply-received::velomarkBridge",
                   G_CALLBACK(onMessage), this);
  g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), this);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(onTerminated), this);
  g_signal_connect(view, "decide-policy", G_CALLBACK(onDecidePolicy), this);
  g_signal_connect(view, "create", G_CALLBACK(onCreate), this);
  g_signal_connect(view, "authenticate", G_CALLBACK(onAuthenticate), this);
  g_signal_connect(view, "load-failed-with-tls-errors", G_CALLBACK(onTlsErrors), this);
}

void WebView::Impl::navigate(const std::string& url) {
  applyBindingChanges();
  appOrigin = originOf(url);
  htmlPending = false;
  extraCa.allowHostOf(url);
  webkit_web_view_load_uri(view, url.c_str());
}

void WebView::Impl::setHtml(const std::string& html) {
  applyBindingChanges();
  lastHtml = html;
  htmlPending = true;
  webkit_web_view_load_html(view, html.c_str(), nullptr);
}

void WebView::Impl::rebuildUserScript() {
  std::string page = kPageScript;
  for (const auto& [name, handler] : bindings)
    page += bridgeStatement("bind", name);
  webkit_user_content_manager_remove_all_scripts(content.get());
  for (auto [source, world] : {std::pair<const char*, const char*>{kChannelScript, kWorldName},
                               {page.c_str(), nullptr}}) {
    constexpr auto frames = WEBKIT_USER_CONTENT_INJECT_TOP_FRAME;
    constexpr auto time = WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START;
    WebKitUserScript* script =
        world ? webkit_user_script_new_for_world(source, frames, time, world, nullptr, nullptr)
              : webkit_user_script_new(source, frames, time, nullptr, nullptr);
    webkit_user_content_manager_add_script(content.get(), script);
    webkit_user_script_unref(script);
  }
}

std::vector<std::pair<std::string, Binding>>::iterator WebView::Impl::findBinding(
    const std::string& name) {
  return std::find_if(bindings.begin(), bindings.end(),
                      [&name](const auto& binding) { return binding.first == name; });
}

void WebView::Impl::bind(const std::string& name, Binding binding) {
  if (auto found = findBinding(name); found != bindings.end())
    found->second = std::move(binding);
  else
    bindings.emplace_back(name, std::move(binding));
  changeBindings(bridgeStatement("bind", name));
}

void WebView::Impl::unbind(const std::string& name) {
  auto found = findBinding(name);
  if (found == bindings.end()) return;
  bindings.erase(found);
  changeBindings(bridgeStatement("unbind", name));
}

// A program binds its functions one after the other: the engine gets the
// new scripts, and the page shown its new names, once for all of them when
// the main loop is back, or before the next load, whichever comes first.
// Each change on its own would send both scripts to the web process again
// and run a script in the page, while that process may still be starting.
void WebView::Impl::changeBindings(const std::string& pageStatement) {
  bindingStatements += pageStatement;
  if (bindingSource) return;
  bindingSource = g_idle_add_full(
      G_PRIORITY_HIGH_IDLE,
      [](gpointer impl) {
        static_cast<Impl*>(impl)->bindingSource = 0;
        static_cast<Impl*>(impl)->applyBindingChanges();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
}

void WebView::Impl::applyBindingChanges() {
  if (bindingSource) g_source_remove(std::exchange(bindingSource, 0u));
  if (bindingStatements.empty()) return;
  rebuildUserScript();
  // The page already shown gets the names too, not only the next one.
  eval(std::exchange(bindingStatements, {}));
}

void WebView::Impl::eval(const std::string& script) {
  webkit_web_view_evaluate_javascript(view, script.c_str(), static_cast<gssize>(script.size()),
                                      nullptr, nullptr, nullptr, nullptr, nullptr);
}

std::string WebView::Impl::currentUri() const {
  const char* uri = webkit_web_view_get_uri(view);
  return uri ? uri : "";
}

bool WebView::Impl::pageMayUseBridge() const {
  std::string uri = currentUri();
  if (showingOwnHtml) return uri == "about:blank";
  return !appOrigin.empty() && originOf(uri) == appOrigin;
}

void WebView::Impl::onCommitted() {
  // The empty page of startEngine() is not a page of the view's own: a
  // setHtml() issued before it committed still waits for its page.
  if (currentUri() == kEngineStartUri) return;
  showingOwnHtml = htmlPending && currentUri() == "about:blank";
  htmlPending = false;
  pageSecret = randomSecret();
  secretIssued = false;
  argumentParts.clear();
}

void WebView::Impl::handleMessage(JSCValue* message, WebKitScriptMessageReply* reply,
                                  JSCContext* js) {
  if (jsc_value_is_string(message)) {
    handleCall(message, reply, js);
    return;
  }
  const std::optional<std::string> kind = stringProperty(message, "kind");
  auto answer = [&](const std::optional<std::string>& value) { replyWith(reply, js, value); };

  if (kind == "hello") {
    if (!secretIssued && pageMayUseBridge() && !pageSecret.empty()) {
      secretIssued = true;
      answer(pageSecret);
    } else {
      answer(std::nullopt);
    }
    return;
  }

  if (kind == "part") {
    const std::optional<std::string> secret = stringProperty(message, "secret");
    const bool allowed = secret && !secret->empty() && *secret == pageSecret && pageMayUseBridge();
    std::optional<std::string> text = allowed ? stringProperty(message, "text") : std::nullopt;
    if (!text) {
      argumentParts.clear();
      writeLog("ERROR: Refused bridge call part from [" + currentUri() + "]");
      webkit_script_message_reply_return_error_message(reply, kRefused);
      return;
    }
    // The first part names the length of the whole text, so that the
    // buffer grows once rather than copying itself at every doubling.
    if (argumentParts.empty()) argumentParts.reserve(reservationFor(message));
    argumentParts += *text;
    answer(std::nullopt);
    return;
  }

  argumentParts.clear();
  writeLog("ERROR: Refused bridge call [] from [" + currentUri() + "]");
  webkit_script_message_reply_return_error_message(reply, kRefused);
}

// A call is one text, "<secret> <name> <arguments>"; the parts sent before it
// are the start of its arguments.
void WebView::Impl::handleCall(JSCValue* message, WebKitScriptMessageReply* reply,
                               JSCContext* js) {
  GCharPtr text(jsc_value_to_string(message));
  const std::string_view all = text ? text.get() : "";
  std::string args = std::move(argumentParts);
  argumentParts.clear();
  const std::size_t nameAt = all.find(' ');
  const std::size_t argsAt = nameAt == all.npos ? all.npos : all.find(' ', nameAt + 1);
  const std::string name(argsAt == all.npos ? std::string_view()
                                            : all.substr(nameAt + 1, argsAt - nameAt - 1));
  const std::string_view secret = argsAt == all.npos ? std::string_view() : all.substr(0, nameAt);
  if (name.empty() || secret.empty() || secret != pageSecret || !pageMayUseBridge()) {
    writeLog("ERROR: Refused bridge call [" + name + "] from [" + currentUri() + "]");
    webkit_script_message_reply_return_error_message(reply, kRefused);
    return;
  }
  args.append(all.substr(argsAt + 1));
  call(name, std::move(args), reply, js);
}

bool WebView::Impl::callsHeld() const {
  return std::any_of(holders.begin(), holders.end(),
                     [this](const void* holder) { return holder != this; });
}

// A call must wait while another view holds the calls, while earlier calls
// wait or run (a handler may run a nested main loop, in which further
// calls arrive), and while an earlier call's answer is still to come.
bool WebView::Impl::mustWait() const {
  return callsHeld() || runningHeldCalls || handlersRunning > 0 || !heldCalls.empty() ||
         !openAnswers.empty();
}

// One call at a time, in arrival order: a call that arrives while it must
// wait queues behind the others.
void WebView::Impl::call(const std::string& name, std::string args,
                         WebKitScriptMessageReply* reply, JSCContext* js) {
  if (mustWait()) {
    heldCalls.push_back({name, std::move(args), webkit_script_message_reply_ref(reply),
                         static_cast<JSCContext*>(g_object_ref(js))});
    scheduleHeldCalls();
    return;
  }
  runHandler(name, std::move(args), reply, js);
}

// The arguments are moved on to a later handler: they may be tens of
// megabytes, and a copy of fresh memory that size holds the loop.
void WebView::Impl::runHandler(const std::string& name, std::string args,
                               WebKitScriptMessageReply* reply, JSCContext* js) {
  auto found = findBinding(name);
  if (found == bindings.end()) {
    replyWith(reply, js, std::nullopt);
    return;
  }
  // A handler may bind or unbind names (or run a nested loop that does);
  // the copy keeps the running one alive.
  Binding binding = found->second;
  ++handlersRunning;
  if (binding.later) {
    auto slot = std::make_shared<LaterAnswer::Slot>(this, reply, js);
    openAnswers.push_back(slot);
    binding.later(std::move(args), LaterAnswer(slot));
  } else {
    replyWith(reply, js, binding.now ? binding.now(args) : std::nullopt);
  }
  --handlersRunning;
  // Calls that arrived while it ran (in a nested loop) take their turn.
  scheduleHeldCalls();
}

void WebView::Impl::closeAnswer(const LaterAnswer::Slot* slot) {
  std::erase_if(openAnswers, [slot](const auto& open) { return open.get() == slot; });
  scheduleHeldCalls();
}

void WebView::Impl::scheduleHeldCalls() {
  if (heldCalls.empty() || heldCallsSource || runningHeldCalls || handlersRunning > 0 ||
      !openAnswers.empty() || callsHeld())
    return;
  heldCallsSource = g_idle_add(
      [](gpointer self) -> gboolean {
        auto* impl = static_cast<Impl*>(self);
        impl->heldCallsSource = 0;
        impl->runHeldCalls();
        return G_SOURCE_REMOVE;
      },
      this);
}

void WebView::Impl::runHeldCalls() {
  runningHeldCalls = true;
  while (!heldCalls.empty() && !callsHeld() && openAnswers.empty()) {
    HeldCall held = std::move(heldCalls.front());
    heldCalls.pop_front();
    runHandler(held.name, std::move(held.args), held.reply, held.js);
    webkit_script_message_reply_unref(held.reply);
    g_object_unref(held.js);
  }
  runningHeldCalls = false;
  // A hold taken by one of the calls, or an answer it gives later, leaves
  // the rest waiting for its end.
}

void WebView::Impl::onWebProcessEnded(const char* reason) {
  // The engine-start page holds nothing to restore (the process it shared
  // with a hidden view may have been ended with that view): the next
  // navigation starts a new process.
  if (currentUri() == kEngineStartUri) return;
  long long now = monotonicSeconds();
  while (!restarts.empty() && now - restarts.front() >= 60) restarts.pop_front();
  if (restarts.size() >= kMaxRestartsPerMinute) {
    writeLog(std::string("ERROR: Web process ended (") + reason + "); not reloaded, too many restarts");
    return;
  }
  restarts.push_back(now);
  writeLog(std::string("ERROR: Web process ended (") + reason + "); reloading");
  if (showingOwnHtml || currentUri().empty()) {
    setHtml(lastHtml);
  } else {
    applyBindingChanges();
    webkit_web_view_reload(view);
  }
}

// Only a certificate that the extra CA vouches for is allowed for its host,
// and the load retried.
bool WebView::Impl::onTlsError(const char* uri, GTlsCertificate* certificate) {
  if (!extraCa.allowRefused(uri, certificate)) return false;
  // A load started inside this signal can be cancelled by the engine as it
  // finishes the failed one; retry once the main loop is back.
  tlsRetryUri = uri;
  if (!tlsRetrySource) {
    tlsRetrySource = g_idle_add(
        [](gpointer self) -> gboolean {
          auto* impl = static_cast<Impl*>(self);
          impl->tlsRetrySource = 0;
          webkit_web_view_load_uri(impl->view, impl->tlsRetryUri.c_str());
          return G_SOURCE_REMOVE;
        },
        this);
  }
  return true;
}

void WebView::Impl::handOver(WebKitNavigationAction* action) {
  WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  if (uri && *uri && onNewWindow) onNewWindow(uri);
}

bool WebView::Impl::authenticate(WebKitAuthenticationRequest* request) {
  if (!webkit_authentication_request_is_for_proxy(request)) return false;
  const WebViewProxy& proxy = options.proxy;
  // Wrong stored credentials would otherwise be offered again forever.
  if (webkit_authentication_request_is_retry(request) || proxy.user.empty()) {
    writeLog("ERROR: Proxy authentication failed");
    webkit_authentication_request_cancel(request);
    return true;
  }
  WebKitCredential* credential = webkit_credential_new(
      proxy.user.c_str(), proxy.password.c_str(), WEBKIT_CREDENTIAL_PERSISTENCE_FOR_SESSION);
  webkit_authentication_request_authenticate(request, credential);
  webkit_credential_free(credential);
  return true;
}

WebView::WebView(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

WebView::~WebView() = default;

std::unique_ptr<WebView> WebView::create(TopWindow& window, const WebViewOptions& options) {
  std::unique_ptr<WebView> self(new WebView(std::make_unique<Impl>(options, false)));
  GtkWidget* widget = GTK_WIDGET(self->impl_->view);
  gtk_container_add(GTK_CONTAINER(TopWindowNative::widget(window)), widget);
  gtk_widget_show(widget);
  gtk_widget_grab_focus(widget);
  return self;
}

std::unique_ptr<WebView> WebView::createHidden(const WebViewOptions& options) {
  if (!gdk_display_get_default() && !gtk_init_check(nullptr, nullptr)) return nullptr;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  if (!window) return nullptr;
  gtk_window_move(GTK_WINDOW(window), 0, 0);
  gtk_window_set_default_size(GTK_WINDOW(window), 0, 0);
  auto impl = std::make_unique<Impl>(options, true);
  impl->ownWindow = window;
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(impl->view));
  gtk_widget_show(GTK_WIDGET(impl->view));  // the window itself is never shown
  return std::unique_ptr<WebView>(new WebView(std::move(impl)));
}

WebView::CallHold::~CallHold() {
  if (holder_) Impl::releaseHold(holder_);
}

WebView::CallHold WebView::holdCallsOfOtherViews() {
  Impl::holders.push_back(impl_.get());
  return CallHold(impl_.get());
}

void WebView::trustHostOf(const std::string& url) { impl_->extraCa.allowHostOf(url); }

void WebView::trustHostOfInBackground(const std::string& url) {
  impl_->extraCa.checkHostOfInBackground(url);
}

void WebView::finishPage(int waitMs) {
  if (!impl_->processOwner) return;  // an own process always ends with the view
  // The answer may come after the wait has given up: the flag is shared
  // with the callback, which frees its copy.
  auto answered = std::make_shared<bool>(false);
  webkit_web_view_evaluate_javascript(
      impl_->view, "0", 1, nullptr, nullptr, nullptr,
      [](GObject* view, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::shared_ptr<bool>> flag(static_cast<std::shared_ptr<bool>*>(data));
        g_autoptr(GError) error = nullptr;  // a script error is an answer too
        g_autoptr(JSCValue) value =
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
        **flag = true;
      },
      new std::shared_ptr<bool>(answered));
  runEventLoopUntil([&answered] { return *answered; }, waitMs);
  impl_->pageDone = *answered;
}

void WebView::startEngine() { webkit_web_view_load_uri(impl_->view, kEngineStartUri); }

void WebView::setProxy(const WebViewProxy& proxy) {
  impl_->options.proxy = proxy;
  setSessionProxy(impl_->context.get(), proxy);
}

void WebView::navigate(const std::string& url) { impl_->navigate(url); }

void WebView::setHtml(const std::string& html) { impl_->setHtml(html); }

void WebView::bind(const std::string& name, Handler handler) {
  impl_->bind(name, {std::move(handler), nullptr});
}

void WebView::bindLater(const std::string& name, LaterHandler handler) {
  impl_->bind(name, {nullptr, std::move(handler)});
}

bool WebView::answersOpen() const { return !impl_->openAnswers.empty(); }

WebView::LaterAnswer::~LaterAnswer() {
  if (slot_ && !slot_->given) give(std::nullopt);
}

void WebView::LaterAnswer::give(const std::optional<std::string>& answer) {
  if (!slot_ || slot_->given) return;
  slot_->given = true;
  replyWith(slot_->reply, slot_->js, answer);
  slot_->view->closeAnswer(slot_.get());
}

void WebView::LaterAnswer::reject(const std::string& message) {
  if (!slot_ || slot_->given) return;
  slot_->given = true;
  webkit_script_message_reply_return_error_message(slot_->reply, message.c_str());
  slot_->view->closeAnswer(slot_.get());
}

void WebView::unbind(const std::string& name) { impl_->unbind(name); }

void WebView::eval(const std::string& script) { impl_->eval(script); }

void WebView::resize(int, int) { gtk_widget_queue_resize(GTK_WIDGET(impl_->view)); }

void WebView::setNewWindowHandler(UrlHandler handler) { impl_->onNewWindow = std::move(handler); }

std::string WebView::currentUri() const { return impl_->currentUri(); }

}  // namespace vm
