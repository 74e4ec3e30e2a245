// A thin web view over WebKitGTK with named script bindings: each bound name
// is a global function of the top-level page that returns a promise and is
// answered by a native handler.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace vm {

class TopWindow;

// The proxy that the view sends all its traffic through; none when host is
// empty or port is 0, and then no proxy at all, whatever the environment or
// the desktop's settings name. host may carry a scheme ("socks5://h"); plain
// hosts are HTTP proxies.
struct WebViewProxy {
  std::string host;
  int port = 0;
  std::string user;
  std::string password;
};

struct WebViewOptions {
  bool developerTools = false;
  // Empty: the engine's default. Views with the same folder share one
  // engine session (network process, cache, allowed certificates).
  std::string cacheFolder;
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

  // The answer to one call of the page, given after its handler has
  // returned (the work behind it goes on off the main thread). Until it is
  // given, this view's later calls wait and then run in their order. Give it
  // on the main thread, once; an answer dropped ungiven resolves the page's
  // promise with undefined. Once the view is gone, giving does nothing.
  class LaterAnswer {
   public:
    struct Slot;
    explicit LaterAnswer(std::shared_ptr<Slot> slot) : slot_(std::move(slot)) {}
    LaterAnswer(LaterAnswer&&) noexcept = default;
    LaterAnswer& operator=(LaterAnswer&&) = delete;
    LaterAnswer(const LaterAnswer&) = delete;
    ~LaterAnswer();

    // Resolves the promise with answer (JSON text), or undefined for none.
    void give(const std::optional<std::string>& answer);
    // Rejects the promise with an Error of that message.
    void reject(const std::string& message);

   private:
    std::shared_ptr<Slot> slot_;
  };
  // Receives the call's JSON argument array text and its answer to give.
  using LaterHandler = std::function<void(std::string argsJson, LaterAnswer answer)>;

  // While a hold lives, the bridge calls from the pages of every other view
  // wait; they run in arrival order once no hold is left.
  class CallHold {
   public:
    CallHold(CallHold&& other) noexcept : holder_(std::exchange(other.holder_, nullptr)) {}
    CallHold& operator=(CallHold&&) = delete;
    ~CallHold();

   private:
    friend class WebView;
    explicit CallHold(const void* holder) : holder_(holder) {}
    const void* holder_;
  };

  // Creates the view as the only child of window (it fills the window).
  // nullptr when the engine cannot be set up.
  static std::unique_ptr<WebView> create(TopWindow& window, const WebViewOptions& options);
  // A view in a window of its own that is never shown (0 by 0 at 0, 0); its
  // pages load, run and call their bindings as in a shown view. Both go
  // when the view does, and with them the page's web process unless
  // finishPage() found it answering. Made while a view of the same session is on
  // its startEngine() page, it shares that view's web process. nullptr when
  // the window or the view cannot be made.
  static std::unique_ptr<WebView> createHidden(const WebViewOptions& options);
  ~WebView();
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  [[nodiscard]] CallHold holdCallsOfOtherViews();
  // Before requests of the page's own script to url's host (navigate()
  // covers the page itself): allows that host's certificate when the extra
  // CA vouches for it.
  void trustHostOf(const std::string& url);
  // Starts that check for url's host and returns at once; a later load of
  // the host waits for it.
  void trustHostOfInBackground(const std::string& url);

  // Starts the engine's web process on an empty page, so that it is up by
  // the time the first real page is loaded; nothing goes to the network.
  void startEngine();
  // For a hidden view whose page has done its job: waits up to waitMs for
  // the page's web process to answer. A shared process that answers goes
  // on serving its owner when the view goes; one that does not (a script
  // that never returns) is ended with the view.
  void finishPage(int waitMs);
  // The proxy of the view's engine session from now on (and its login). A
  // view made before its proxy was known gets it here, before it loads
  // anything from the network.
  void setProxy(const WebViewProxy& proxy);

  // Loads url; its origin becomes the one origin whose top-level pages get
  // the bindings.
  void navigate(const std::string& url);
  // Shows html as the page (the offline page); that page gets the bindings.
  void setHtml(const std::string& html);
  // Binding a name again replaces its handler in its place. Bindings hold
  // for every later page of this view, whose functions are defined in the
  // order bound.
  void bind(const std::string& name, Handler handler);
  // As bind, for a handler that answers later.
  void bindLater(const std::string& name, LaterHandler handler);
  void unbind(const std::string& name);
  // True while a call of this view waits for its later answer.
  bool answersOpen() const;
  // Runs script in the current top-level page; nothing comes back.
  void eval(const std::string& script);
  // The view always fills its window; this only asks GTK to lay it out again.
  void resize(int width, int height);

  // Pages that ask for a new window (target=_blank, window.open) go here
  // instead; without a handler they are dropped.
  void setNewWindowHandler(UrlHandler handler);

  // The address of the current top-level page (empty before the first load).
  std::string currentUri() const;

 private:
  struct Impl;
  explicit WebView(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The client's engine cache: the temporary folder + "WebView2_Cache".
std::string webViewCacheFolder();

// The scheme://host[:port] part of url, lower-cased scheme and host; empty
// when url has no host.
std::string originOf(const std::string& url);

}  // namespace vm
