#include "platform/open_with_system.h"

#include <glib.h>

namespace vm {

void openWithSystem(const std::string& target) {
  if (target.empty()) return;
  const gchar* argv[] = {"xdg-open", target.c_str(), nullptr};
  // Without G_SPAWN_DO_NOT_REAP_CHILD GLib forks twice, so the opener is
  // re-parented and leaves no zombie behind in this long-running process.
  GError* error = nullptr;
  g_spawn_async(nullptr, const_cast<gchar**>(argv), nullptr,
                static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDIN_FROM_DEV_NULL), nullptr,
                nullptr, nullptr, &error);
  if (error) g_error_free(error);
}

}  // namespace vm
