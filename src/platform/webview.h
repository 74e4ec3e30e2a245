// A thin web view over WebKitGTK with named script bindings: each bound name
// is a global function of the top-level page that returns a promise and is
// answered by a native handler.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitUserContentManager WebKitUserContentManager;
typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _GTlsDatabase GTlsDatabase;

namespace vm {

class TopWindow;

// The proxy that the view sends all its traffic through; none when host is
// empty or port is 0. host may carry a scheme ("socks5://h"); plain hosts
// are HTTP proxies.
struct WebViewProxy {
  std::string host;
  int port = 0;
  std::string user;
  std::string password;
};

struct WebViewOptions {
  bool developerTools = false;
  std::string cacheFolder;  // empty: the engine's default
  WebViewProxy proxy;
  // PEM file of a certificate authority trusted besides the system store;
  // empty means none.
  std::string extraCaFile;
};

class WebView {
 public:
  // Receives the call's JSON argument array text; answers JSON text or nothing.
  using Handler = std::function<std::optional<std::string>(const std::string& argsJson)>;
  using UrlHandler = std::function<void(const std::string& url)>;

  // Creates the view as the only child of window (it fills the window).
  // nullptr when the engine cannot be set up.
  static std::unique_ptr<WebView> create(TopWindow& window, const WebViewOptions& options);
  ~WebView();
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  // Loads url; its origin becomes the one origin whose top-level pages get
  // the bindings.
  void navigate(const std::string& url);
  // Shows html as the page (the offline page); that page gets the bindings.
  void setHtml(const std::string& html);
  // Binding a name again replaces its handler in its place. Bindings hold
  // for every later page of this view.
  void bind(const std::string& name, Handler handler);
  void unbind(const std::string& name);
  // Runs script in the current top-level page; nothing comes back.
  void eval(const std::string& script);
  // The view always fills its window; this only asks GTK to lay it out again.
  void resize(int width, int height);

  // Pages that ask for a new window (target=_blank, window.open) go here
  // instead; without a handler they are dropped.
  void setNewWindowHandler(UrlHandler handler) { onNewWindow_ = std::move(handler); }

  // The address of the current top-level page (empty before the first load).
  std::string currentUri() const;

  // Internal entry points of the GLib signal handlers.
  struct Signals;

 private:
  explicit WebView(const WebViewOptions& options);
  void rebuildUserScript();
  void handleMessage(const std::string& text, void* reply, void* jsContext);
  void onCommitted();
  void onWebProcessEnded(const char* reason);
  bool onTlsError(const char* uri, void* certificate);
  void allowExtraCaHost(const std::string& url);
  bool allowIfExtraCaVouches(void* certificate, const std::string& host, int port);
  bool pageMayUseBridge() const;
  std::vector<std::pair<std::string, Handler>>::iterator findBinding(const std::string& name);

  WebViewOptions options_;
  WebKitWebView* view_ = nullptr;  // owned by its window
  WebKitUserContentManager* content_ = nullptr;
  WebKitWebContext* context_ = nullptr;
  GTlsDatabase* extraCa_ = nullptr;
  // In the order bound: the page's functions are defined in this order.
  std::vector<std::pair<std::string, Handler>> bindings_;
  UrlHandler onNewWindow_;

  std::string appOrigin_;       // origin of the last navigate()
  bool htmlPending_ = false;    // setHtml() issued, not yet committed
  bool showingOwnHtml_ = false; // the current page came from setHtml()
  std::string lastHtml_;
  std::string pageSecret_;      // fresh for every committed top-level page
  bool secretIssued_ = false;
  std::deque<long long> restarts_;  // monotonic seconds of crash reloads
  std::string tlsRetryUri_;          // load to retry once the failed one has ended
  unsigned tlsRetrySource_ = 0;      // GLib idle source of that retry, 0 when none
  std::set<std::string> extraCaHosts_;  // host:port whose certificate is allowed already
};

// The scheme://host[:port] part of url, lower-cased scheme and host; empty
// when url has no host.
std::string originOf(const std::string& url);

}  // namespace vm
