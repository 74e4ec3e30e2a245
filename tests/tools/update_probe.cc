// Test-only tool: runs the update check or the update download once and
// prints the outcome with every log line as one JSON object. The integration
// tests drive it against HTTPS servers on loopback; the manifest address, the
// trusted CAs and the update authority are arguments here, which the client
// itself takes from its build configuration.
//
//   update_probe check --manifest-url URL [--ca FILE] [--check-time T] [--now N]
//                      [--platform P] [--bitness B] [--version V]
//   update_probe download URL --update-ca FILE [--ca FILE] [--package-type T]
//                         [--indicator FRAMES_FILE]
// Both use the time limits the client has in force after its first probe.
// download puts the package into $TMPDIR and hands it to the xdg-open found
// on PATH; --indicator shows the real indicator window (needs a display) and
// appends every text it shows to FRAMES_FILE, one a line, as it shows it.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "base/log.h"
#include "net/http_client.h"
#include "platform/gui.h"
#include "platform/progress_indicator.h"
#include "update/update_check.h"
#include "update/update_download.h"
#include "update/update_manifest.h"

namespace {

using nlohmann::ordered_json;

// Lines may come from the transfer's worker thread too.
class CollectingLog : public vm::LogSink {
 public:
  void write(std::string_view text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(text);
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

CollectingLog processLog;

// The real window, with the texts it was given written to a file at once, so
// that a test can follow them while the transfer runs.
class RecordingIndicator : public vm::ProgressIndicator {
 public:
  RecordingIndicator(std::unique_ptr<vm::ProgressIndicator> real, const std::string& framesFile)
      : real_(std::move(real)), frames_(std::fopen(framesFile.c_str(), "a")) {}
  ~RecordingIndicator() override {
    if (frames_) std::fclose(frames_);
  }
  RecordingIndicator(const RecordingIndicator&) = delete;
  RecordingIndicator& operator=(const RecordingIndicator&) = delete;
  void showText(const std::string& text) override {
    real_->showText(text);
    if (frames_) {
      std::fprintf(frames_, "%s\n", text.c_str());
      std::fflush(frames_);
    }
  }
  void handlePendingEvents() override { real_->handlePendingEvents(); }

 private:
  std::unique_ptr<vm::ProgressIndicator> real_;
  std::FILE* frames_;
};

int usage() {
  std::fputs(
      "usage: update_probe check --manifest-url URL [options] | "
      "update_probe download URL --update-ca FILE [options]\n",
      stderr);
  return 2;
}

void print(const ordered_json& j) {
  std::puts(j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

vm::HttpClient clientWithLimits(const std::string& ca) {
  vm::HttpClient http(ca);
  http.setTimeouts({8000, 15000});
  return http;
}

int check(const std::vector<std::string>& args) {
  std::string manifestUrl, ca, platform = "linux deb", bitness = "64", version = " 5.0.0-140";
  long long checkTime = 0;
  long long now = 1700000000;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    if (a == "--manifest-url")
      manifestUrl = next();
    else if (a == "--ca")
      ca = next();
    else if (a == "--check-time")
      checkTime = std::stoll(next());
    else if (a == "--now")
      now = std::stoll(next());
    else if (a == "--platform")
      platform = next();
    else if (a == "--bitness")
      bitness = next();
    else if (a == "--version")
      version = next();
    else
      return usage();
  }
  if (manifestUrl.empty()) return usage();
  const vm::HttpClient http = clientWithLimits(ca);
  const vm::UpdateCheckContext context{http, manifestUrl, vm::manifestEntryPath(platform, bitness),
                                       version, now};
  const std::string answer = vm::checkForUpdate(checkTime, context);
  print({{"answer", answer}, {"log", processLog.lines()}});
  return 0;
}

int download(const std::vector<std::string>& args, int* argc, char*** argv) {
  std::string url, ca, updateCa, packageType = "linux deb", framesFile;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    if (a == "--ca")
      ca = next();
    else if (a == "--update-ca")
      updateCa = next();
    else if (a == "--package-type")
      packageType = next();
    else if (a == "--indicator")
      framesFile = next();
    else if (url.empty())
      url = a;
    else
      return usage();
  }
  if (url.empty()) return usage();
  if (!framesFile.empty() && !vm::initGui(argc, argv, "update_probe")) {
    std::fputs("update_probe: --indicator needs a display\n", stderr);
    return 1;
  }
  const vm::HttpClient http = clientWithLimits(ca);
  vm::UpdateDownloadContext context = vm::updateDownloadContextOfThisHost(http);
  context.updateCaFile = updateCa;
  context.packageType = packageType;
  context.openIndicator = [&]() -> std::unique_ptr<vm::ProgressIndicator> {
    if (framesFile.empty()) return nullptr;
    return std::make_unique<RecordingIndicator>(vm::openProgressIndicator(), framesFile);
  };
  const bool started = vm::downloadAndRunUpdate(url, context);
  print({{"result", started}, {"log", processLog.lines()}});
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  vm::LogSinkScope logScope(processLog);
  if (argc < 2) return usage();
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "check") return check(args);
  if (command == "download") return download(args, &argc, &argv);
  return usage();
}
