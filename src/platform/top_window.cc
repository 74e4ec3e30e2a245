#include "platform/top_window.h"

#include <gtk/gtk.h>

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

struct TopWindow::Signals {
  static gboolean configure(GtkWidget*, GdkEventConfigure*, gpointer self) {
    static_cast<TopWindow*>(self)->reportChanges();
    return FALSE;
  }
  static gboolean deleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
    auto* w = static_cast<TopWindow*>(self);
    if (w->events_.closeRequest) w->events_.closeRequest();
    return TRUE;  // the window is neither closed nor hidden here
  }
  static void realize(GtkWidget* widget, gpointer) {
    // X11 window managers honour these hints: everything but maximise.
    gdk_window_set_functions(gtk_widget_get_window(widget),
                             static_cast<GdkWMFunction>(GDK_FUNC_RESIZE | GDK_FUNC_MOVE |
                                                        GDK_FUNC_MINIMIZE | GDK_FUNC_CLOSE));
  }
};

void TopWindow::reportChanges() {
  WindowGeometry now = geometry();
  if (now.width != last_.width || now.height != last_.height) {
    last_.width = now.width;
    last_.height = now.height;
    if (events_.size) events_.size(now.width, now.height);
  }
  if (now.left != last_.left || now.top != last_.top) {
    last_.left = now.left;
    last_.top = now.top;
    if (events_.move) events_.move(now.left, now.top);
  }
}

std::unique_ptr<TopWindow> TopWindow::create(const std::string& title, const WindowGeometry& geometry,
                                             int minWidth, int minHeight, Events events) {
  if (!guiReady()) return nullptr;
  std::unique_ptr<TopWindow> w(new TopWindow());
  w->events_ = std::move(events);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  w->window_ = window;
  gtk_window_set_title(GTK_WINDOW(window), title.c_str());
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_NONE);
  gtk_window_set_gravity(GTK_WINDOW(window), GDK_GRAVITY_NORTH_WEST);
  gtk_window_set_default_size(GTK_WINDOW(window), geometry.width, geometry.height);
  GdkGeometry hints{};
  hints.min_width = minWidth;
  hints.min_height = minHeight;
  gtk_window_set_geometry_hints(GTK_WINDOW(window), nullptr, &hints, GDK_HINT_MIN_SIZE);
  gtk_window_move(GTK_WINDOW(window), geometry.left, geometry.top);
  g_signal_connect(window, "configure-event", G_CALLBACK(Signals::configure), w.get());
  g_signal_connect(window, "delete-event", G_CALLBACK(Signals::deleteEvent), w.get());
  g_signal_connect(window, "realize", G_CALLBACK(Signals::realize), nullptr);
  gtk_widget_show(window);
  return w;
}

TopWindow::~TopWindow() {
  if (window_) {
    g_signal_handlers_disconnect_by_data(window_, this);
    gtk_widget_destroy(window_);
  }
}

WindowGeometry TopWindow::geometry() const {
  WindowGeometry g;
  gtk_window_get_position(GTK_WINDOW(window_), &g.left, &g.top);
  gtk_window_get_size(GTK_WINDOW(window_), &g.width, &g.height);
  return g;
}

}  // namespace vm
