// The toolkit window behind a TopWindow. Private to the platform layer: the
// web view puts itself into it; nothing above the platform sees GTK.
#pragma once

#include <gtk/gtk.h>

#include "platform/top_window.h"

namespace vm {

struct TopWindowNative {
  static GtkWidget* widget(const TopWindow& window);
};

}  // namespace vm
