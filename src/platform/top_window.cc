#include "platform/top_window.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "platform/top_window_native.h"

namespace vm {

namespace {
// Start-up normally initialises GTK with the program's arguments; this covers
// callers that open the window without it (test hosts).
bool guiReady() {
  static bool ok = gtk_init_check(nullptr, nullptr);
  return ok;
}
}  // namespace

void runEventLoopPass(bool mayBlock) { g_main_context_iteration(nullptr, mayBlock ? TRUE : FALSE); }

void wakeEventLoop() { g_main_context_wakeup(nullptr); }

bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs) {
  bool timedOut = false;
  // The timer only wakes the poll at the deadline; the clock below decides.
  guint timer = g_timeout_add(
      static_cast<guint>(std::max(timeoutMs, 0)),
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &timedOut);
  const gint64 deadline = g_get_monotonic_time() + gint64{timeoutMs} * 1000;
  bool finished = done();
  while (!finished && !timedOut && g_get_monotonic_time() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
    finished = done();
  }
  if (!timedOut) g_source_remove(timer);
  return finished;
}

struct TopWindow::Impl {
  ~Impl();
  WindowGeometry geometry() const;
  void reportChanges();

  // The GLib signal handlers; their user data is the Impl.
  static gboolean onConfigure(GtkWidget*, GdkEventConfigure*, gpointer impl);
  static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer impl);
  static void onRealize(GtkWidget* widget, gpointer);

  GtkWidget* window = nullptr;
  Events events;
  WindowGeometry last{-1, -1, -1, -1};
};

gboolean TopWindow::Impl::onConfigure(GtkWidget*, GdkEventConfigure*, gpointer impl) {
  static_cast<Impl*>(impl)->reportChanges();
  return FALSE;
}

gboolean TopWindow::Impl::onDelete(GtkWidget*, GdkEvent*, gpointer impl) {
  auto* w = static_cast<Impl*>(impl);
  if (w->events.closeRequest) w->events.closeRequest();
  return TRUE;  // the window is neither closed nor hidden here
}

void TopWindow::Impl::onRealize(GtkWidget* widget, gpointer) {
  // X11 window managers honour these hints: everything but maximise.
  gdk_window_set_functions(gtk_widget_get_window(widget),
                           static_cast<GdkWMFunction>(GDK_FUNC_RESIZE | GDK_FUNC_MOVE |
                                                      GDK_FUNC_MINIMIZE | GDK_FUNC_CLOSE));
}

void TopWindow::Impl::reportChanges() {
  WindowGeometry now = geometry();
  if (now.width != last.width || now.height != last.height) {
    last.width = now.width;
    last.height = now.height;
    if (events.size) events.size(now.width, now.height);
  }
  if (now.left != last.left || now.top != last.top) {
    last.left = now.left;
    last.top = now.top;
    if (events.move) events.move(now.left, now.top);
  }
}

WindowGeometry TopWindow::Impl::geometry() const {
  WindowGeometry g;
  gtk_window_get_position(GTK_WINDOW(window), &g.left, &g.top);
  gtk_window_get_size(GTK_WINDOW(window), &g.width, &g.height);
  return g;
}

TopWindow::Impl::~Impl() {
  if (window) {
    g_signal_handlers_disconnect_by_data(window, this);
    gtk_widget_destroy(window);
  }
}

TopWindow::TopWindow(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TopWindow::~TopWindow() = default;

std::unique_ptr<TopWindow> TopWindow::create(const std::string& title, const WindowGeometry& geometry,
                                             int minWidth, int minHeight, Events events) {
  if (!guiReady()) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->events = std::move(events);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  impl->window = window;
  gtk_window_set_title(GTK_WINDOW(window), title.c_str());
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_NONE);
  gtk_window_set_gravity(GTK_WINDOW(window), GDK_GRAVITY_NORTH_WEST);
  gtk_window_set_default_size(GTK_WINDOW(window), geometry.width, geometry.height);
  GdkGeometry hints{};
  hints.min_width = minWidth;
  hints.min_height = minHeight;
  gtk_window_set_geometry_hints(GTK_WINDOW(window), nullptr, &hints, GDK_HINT_MIN_SIZE);
  gtk_window_move(GTK_WINDOW(window), geometry.left, geometry.top);
  g_signal_connect(window, "configure-event", G_CALLBACK(Impl::onConfigure), impl.get());
  g_signal_connect(window, "delete-event", G_CALLBACK(Impl::onDelete), impl.get());
  g_signal_connect(window, "realize", G_CALLBACK(Impl::onRealize), nullptr);
  gtk_widget_show(window);
  return std::unique_ptr<TopWindow>(new TopWindow(std::move(impl)));
}

WindowGeometry TopWindow::geometry() const { return impl_->geometry(); }

void TopWindow::present(const std::string& activationToken) {
  GtkWindow* window = GTK_WINDOW(impl_->window);
  // The token's time stamp lets the window manager's focus-stealing
  // prevention accept the raise, and the launcher's busy cursor ends.
  if (!activationToken.empty()) gtk_window_set_startup_id(window, activationToken.c_str());
  gtk_window_present(window);
}

GtkWidget* TopWindowNative::widget(const TopWindow& window) { return window.impl_->window; }

}  // namespace vm
