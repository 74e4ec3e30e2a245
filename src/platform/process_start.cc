#include "platform/process_start.h"

#include <glib.h>

#include <memory>

namespace vm {

namespace {
struct ErrorDeleter {
  void operator()(GError* e) const { g_error_free(e); }
};
}  // namespace

bool startDetached(const std::string& program, const std::vector<std::string>& args) {
  std::vector<gchar*> argv;
  argv.push_back(const_cast<gchar*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<gchar*>(a.c_str()));
  argv.push_back(nullptr);
  GError* raw = nullptr;
  // Without G_SPAWN_DO_NOT_REAP_CHILD GLib starts the program through an
  // intermediate child, so it is never our zombie.
  gboolean ok = g_spawn_async(nullptr, argv.data(), nullptr,
                              static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH), nullptr, nullptr,
                              nullptr, &raw);
  std::unique_ptr<GError, ErrorDeleter> error(raw);
  return ok == TRUE;
}

}  // namespace vm
