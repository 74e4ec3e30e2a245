#include "platform/host_platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/file.h"
#include "base/text.h"

extern char** environ;

namespace vm {

namespace {

class SpawnActions {
 public:
  SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

// Bytes waiting in the pipe right now.
int bytesReadable(int fd) {
  int n = 0;
  if (ioctl(fd, FIONREAD, &n) != 0) return 0;
  return n;
}

}  // namespace

std::string linuxPackageType(const std::string& lowerOsRelease) {
  for (const char* family : {"suse", "redhat", "rhel", "fedora"}) {
    if (lowerOsRelease.find(family) != std::string::npos) return "linux rpm";
  }
  return "linux deb";
}

std::string localAddressToward(const std::string& host) {
  const std::string fallback = "127.0.0.1";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  // The port only completes the address; connecting a UDP socket sends nothing.
  if (host.empty() || getaddrinfo(host.c_str(), "80", &hints, &found) != 0) return fallback;
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
  FileDescriptor sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!sock.isOpen() || ::connect(sock.get(), found->ai_addr, found->ai_addrlen) != 0)
    return fallback;
  sockaddr_in local{};
  socklen_t length = sizeof local;
  char text[INET_ADDRSTRLEN] = {};
  if (::getsockname(sock.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
      !inet_ntop(AF_INET, &local.sin_addr, text, sizeof text))
    return fallback;
  return text;
}

std::string operatingSystem(bool withPackageType) {
  if (!withPackageType) return "linux";
  // Stays empty until a read brings text, so a failed read is tried again.
  static std::string osRelease;
  if (osRelease.empty())
    osRelease = lowerAscii(runAndCapture("cat", "/etc/os-release", "", "\n", false));
  return linuxPackageType(osRelease);
}

std::string buildBitness() { return std::to_string(sizeof(void*) * 8); }

std::string architectureSuffix() {
#if defined(__x86_64__)
  return ".x64";
#elif defined(__aarch64__)
  return ".arm64";
#elif defined(__i386__)
  return ".x86";
#else
  return ".other";
#endif
}

std::vector<std::string> splitParameters(const std::string& parameters) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (char c : parameters) {
    if (c == '"') {
      quoted = !quoted;
      inArgument = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inArgument) args.push_back(current);
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) args.push_back(current);
  return args;
}

std::string runAndCapture(const std::string& program, const std::string& parameters,
                          const std::string& workingFolder, const std::string& separator,
                          bool /*hidden*/) {
  if (program.empty()) return {};
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return {};
  FileDescriptor readEnd(pipeFds[0]);
  FileDescriptor writeEnd(pipeFds[1]);

  SpawnActions actions;
  if (!actions.ok()) return {};
  // The child's stdout is the pipe (dup2 clears close-on-exec on the copy);
  // stdin is empty so that the child never competes for ours.
  if (posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO) != 0 ||
      posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0) !=
          0) {
    return {};
  }
  if (!workingFolder.empty() &&
      posix_spawn_file_actions_addchdir_np(actions.get(), workingFolder.c_str()) != 0) {
    return {};
  }

  std::vector<std::string> args = splitParameters(parameters);
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  // posix_spawnp reports a missing program or a failed chdir as an error
  // (glibc runs the child with vfork semantics and passes exec's errno back).
  const int rc =
      program.find('/') == std::string::npos
          ? posix_spawnp(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ)
          : posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
  if (rc != 0) return {};
  writeEnd.reset();

  std::string out;
  bool exited = false;
  bool eof = false;
  while (!exited || bytesReadable(readEnd.get()) > 0) {
    if (!eof) {
      pollfd pfd{readEnd.get(), POLLIN, 0};
      // The timeout lets the loop notice a program that has ended while a
      // process it started still holds the pipe open.
      int ready = poll(&pfd, 1, 50);
      if (ready < 0 && errno != EINTR) break;
      if (ready > 0) {
        const int avail = bytesReadable(readEnd.get());
        if (avail > 0) {
          std::string block(static_cast<std::size_t>(avail), '\0');
          Result<std::size_t> n = readSome(readEnd.get(), block.data(), block.size());
          if (n && *n > 0) {
            block.resize(*n);
            out += block;
            out += separator;
          }
          continue;
        }
        if (pfd.revents & (POLLHUP | POLLERR)) eof = true;
      }
    }
    if (!exited) {
      int status = 0;
      // After end of file nothing more can arrive: wait for the end itself.
      pid_t w = waitpid(pid, &status, eof ? 0 : WNOHANG);
      if (w == pid || (w < 0 && errno != EINTR)) exited = true;
    } else if (eof) {
      break;
    }
  }
  return out;
}

}  // namespace vm
