#include "platform/gui.h"

#include <gtk/gtk.h>

#include "platform/gtk_dialogs.h"

namespace vm {

bool initGui(int* argc, char*** argv, const std::string& appId) {
  // Before GTK starts: it derives the X11 class and the Wayland id from it.
  g_set_prgname(appId.c_str());
  if (!gtk_init_check(argc, argv)) return false;
  // GTK capitalises the class it derives; the desktop entry names the id as it is.
  gdk_set_program_class(appId.c_str());
  gtk_window_set_default_icon_name(appId.c_str());
  return true;
}

std::unique_ptr<Dialogs> makeDialogs() { return std::make_unique<GtkDialogs>(); }

}  // namespace vm
