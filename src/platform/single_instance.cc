#include "platform/single_instance.h"

#include <gio/gio.h>

namespace vm {

namespace {

struct ApplicationUnref {
  void operator()(GApplication* app) const { g_object_unref(app); }
};

constexpr const char* kEndingNote =
    "velomark_client: the running client is ending; start it again once it has closed\n";

ForwardedStart forwardedStartOf(GApplicationCommandLine* line) {
  ForwardedStart start;
  int argc = 0;
  g_auto(GStrv) argv = g_application_command_line_get_arguments(line, &argc);
  for (int i = 1; i < argc; ++i) start.arguments.emplace_back(argv[i]);
  if (const gchar* cwd = g_application_command_line_get_cwd(line)) start.workingFolder = cwd;
  for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
    const gchar* token = g_application_command_line_getenv(line, name);
    if (token && *token) {
      start.activationToken = token;
      break;
    }
  }
  return start;
}

}  // namespace

struct SingleInstance::Impl {
  std::unique_ptr<GApplication, ApplicationUnref> app;
  Receiver receiver;

  // The later start waits for this handler's return value, so the work is
  // left to the receiver's owner (the event loop) and the answer goes at once.
  static int onCommandLine(GApplication*, GApplicationCommandLine* line, gpointer impl) {
    auto* self = static_cast<Impl*>(impl);
    if (self->receiver)
      self->receiver(forwardedStartOf(line));
    else
      g_application_command_line_printerr(line, "%s", kEndingNote);
    return 0;
  }
};

SingleInstance::SingleInstance(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SingleInstance::~SingleInstance() = default;

std::unique_ptr<SingleInstance> SingleInstance::claim(const std::string& appId) {
  auto impl = std::make_unique<Impl>();
  if (g_application_id_is_valid(appId.c_str())) {
    // The later start's environment carries its activation token.
    impl->app.reset(g_application_new(
        appId.c_str(), static_cast<GApplicationFlags>(G_APPLICATION_HANDLES_COMMAND_LINE |
                                                      G_APPLICATION_SEND_ENVIRONMENT)));
    g_signal_connect(impl->app.get(), "command-line", G_CALLBACK(Impl::onCommandLine), impl.get());
    // GApplication itself falls back to an instance of its own when there is
    // no session bus; a failure here (the bus refused the name, or the owner
    // vanished while we asked) leaves this process on its own as well.
    g_autoptr(GError) error = nullptr;
    if (!g_application_register(impl->app.get(), nullptr, &error)) impl->app.reset();
  }
  return std::unique_ptr<SingleInstance>(new SingleInstance(std::move(impl)));
}

bool SingleInstance::isLaterStart() const {
  return impl_->app && g_application_get_is_remote(impl_->app.get());
}

void SingleInstance::handOver(int argc, char** argv) {
  if (!isLaterStart()) return;
  // GApplication parses nothing of ours (it ignores unknown options and has
  // no help of its own with command-line handling) and sends the parameters,
  // the working folder and the environment to the running client. Its exit
  // status is not ours: every way out of the client gives 0.
  g_application_run(impl_->app.get(), argc, argv);
}

void SingleInstance::setReceiver(Receiver receiver) { impl_->receiver = std::move(receiver); }

}  // namespace vm
