#include "platform/gui.h"

#include <gtk/gtk.h>

#include "platform/gtk_dialogs.h"

namespace vm {

namespace {

// The engine asks the session for its accessibility bus, and waits for the
// answer, before it starts a web process; in a session where that bus is not
// running yet, the bus launcher is started by that question. Asked at once,
// without waiting, it starts while the window and the engine are made.
// The engine asks even where GTK's own bridge is turned off (NO_AT_BRIDGE);
// only a bus given in the environment spares the question.
void askForAccessibilityBusEarly() {
  if (!g_getenv("DBUS_SESSION_BUS_ADDRESS") || g_getenv("AT_SPI_BUS_ADDRESS")) return;
  // The program's session connection is made by now (the single-instance
  // claim), so this takes no time; the call goes out at once and its answer
  // is the engine's to use. A session without the service answers with an
  // error, which changes nothing.
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return;
  g_dbus_connection_call(bus, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                         nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                         nullptr, nullptr);
  g_object_unref(bus);
}

}  // namespace

bool initGui(int* argc, char*** argv, const std::string& appId) {
  // Before GTK starts: it derives the X11 class and the Wayland id from it.
  g_set_prgname(appId.c_str());
  if (!gtk_init_check(argc, argv)) return false;
  // GTK capitalises the class it derives; the desktop entry names the id as it is.
  gdk_set_program_class(appId.c_str());
  gtk_window_set_default_icon_name(appId.c_str());
  askForAccessibilityBusEarly();
  return true;
}

std::unique_ptr<Dialogs> makeDialogs() { return std::make_unique<GtkDialogs>(); }

}  // namespace vm
