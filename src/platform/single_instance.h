// One client per desktop session: the first start owns the application id as
// its name on the D-Bus session bus (GApplication); a later start hands its
// command line to that client and ends.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vm {

// The command line of a later start, as the running client receives it.
struct ForwardedStart {
  std::vector<std::string> arguments;  // without the program name
  std::string workingFolder;           // the later start's, for relative paths
  // The later start's DESKTOP_STARTUP_ID or XDG_ACTIVATION_TOKEN: the launcher's
  // permission to bring the running window to the front.
  std::string activationToken;
};

class SingleInstance {
 public:
  using Receiver = std::function<void(ForwardedStart)>;

  // Claims appId on the session bus. Without a session bus (or with an id
  // the bus cannot carry) this process is on its own and counts as the first.
  static std::unique_ptr<SingleInstance> claim(const std::string& appId);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Another client of this session owns the id.
  bool isLaterStart() const;
  // Later start: hands the program's parameters and working folder to the
  // running client and returns once that client has taken them.
  void handOver(int argc, char** argv);
  // First start: receiver of the later starts, called on the main context.
  // Without one (an empty function), a later start is told on its standard
  // error that the running client is ending.
  void setReceiver(Receiver receiver);

 private:
  struct Impl;
  explicit SingleInstance(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace vm
