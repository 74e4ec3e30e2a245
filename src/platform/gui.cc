#include "platform/gui.h"

#include <gtk/gtk.h>

#include "platform/gtk_dialogs.h"

namespace vm {

bool initGui(int* argc, char*** argv) { return gtk_init_check(argc, argv); }

std::unique_ptr<Dialogs> makeDialogs() { return std::make_unique<GtkDialogs>(); }

}  // namespace vm
