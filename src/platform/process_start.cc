#include "platform/process_start.h"

#include <glib.h>
#include <sys/wait.h>

#include <cerrno>
#include <memory>
#include <thread>

namespace vm {

namespace {
struct ErrorDeleter {
  void operator()(GError* e) const { g_error_free(e); }
};
using ErrorHandle = std::unique_ptr<GError, ErrorDeleter>;

struct GFreeDeleter {
  void operator()(gchar* p) const { g_free(p); }
};

// How often runAndWait looks whether the program has ended.
constexpr auto kWaitStep = std::chrono::milliseconds(10);

std::vector<gchar*> argumentVector(const std::string& program,
                                   const std::vector<std::string>& args) {
  std::vector<gchar*> argv;
  argv.push_back(const_cast<gchar*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<gchar*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

int exitStatusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}
}  // namespace

bool startDetached(const std::string& program, const std::vector<std::string>& args) {
  std::vector<gchar*> argv = argumentVector(program, args);
  GError* raw = nullptr;
  // Without G_SPAWN_DO_NOT_REAP_CHILD GLib starts the program through an
  // intermediate child, so it is never our zombie.
  gboolean ok = g_spawn_async(nullptr, argv.data(), nullptr,
                              static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH), nullptr, nullptr,
                              nullptr, &raw);
  ErrorHandle error(raw);
  return ok == TRUE;
}

bool programOnPath(const std::string& program) {
  std::unique_ptr<gchar, GFreeDeleter> found(g_find_program_in_path(program.c_str()));
  return found != nullptr;
}

Result<std::optional<int>> runAndWait(const std::string& program,
                                      const std::vector<std::string>& args,
                                      std::chrono::milliseconds limit) {
  std::vector<gchar*> argv = argumentVector(program, args);
  GError* raw = nullptr;
  GPid pid = 0;
  gboolean ok =
      g_spawn_async(nullptr, argv.data(), nullptr,
                    static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                             G_SPAWN_STDIN_FROM_DEV_NULL),
                    nullptr, nullptr, &pid, &raw);
  ErrorHandle error(raw);
  if (!ok) return fail(error ? error->message : "cannot start " + program);

  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid) return std::optional<int>(exitStatusOf(status));
    if (ended < 0 && errno != EINTR) return failFromErrno("waitpid " + program);
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kWaitStep);
  }
  // Still running (a mail program that xdg-email runs in the foreground, for
  // one): the main loop reaps it whenever it ends.
  g_child_watch_add(
      pid, [](GPid child, gint, gpointer) { g_spawn_close_pid(child); }, nullptr);
  return std::optional<int>();
}

}  // namespace vm
