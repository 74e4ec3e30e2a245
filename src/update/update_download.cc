#include "update/update_download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string_view>
#include <thread>

#include "base/log.h"
#include "build_config.h"
#include "net/background_transfer.h"
#include "net/http_client.h"
#include "platform/file.h"
#include "platform/host_platform.h"
#include "platform/open_with_system.h"
#include "platform/paths.h"
#include "platform/progress_indicator.h"
#include "update/update_signature.h"

namespace vm {

namespace {

constexpr std::string_view kDebianPackageStart = "!<arch>\ndebian-binary";
constexpr std::string_view kRpmPackageStart = "\xED\xAB\xEE\xDB";
constexpr std::size_t kPackageStartBytes = kDebianPackageStart.size();

// A leftover of an earlier download goes first; a folder stays. A name that
// cannot be removed (another user's file in a shared folder) makes the
// private open of the download fail, so it is never taken for ours.
void removeEarlierFile(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return;
  ::unlink(path.c_str());
}

// Polls the transfer, keeping the indicator painted and turning, until it
// has ended; true when it completed.
bool waitForTransfer(const BackgroundTransfer& transfer, ProgressIndicator* indicator) {
  IndicatorAnimation animation;
  while (true) {
    switch (transfer.state()) {
      case BackgroundTransfer::State::Finished:
        writeLog("Download finished");
        return true;
      case BackgroundTransfer::State::Failed:
        writeLog("Error: Download failed");
        return false;
      case BackgroundTransfer::State::Running:
        break;
    }
    if (indicator) indicator->handlePendingEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::optional<int> frame = animation.advance();
    if (frame && indicator) indicator->showText(kIndicatorFrames[static_cast<std::size_t>(*frame)]);
  }
}

// The signature at the package's address with ".p7s" appended, through the
// same client and, like the package, without following a redirect.
std::string fetchSignature(const HttpClient& http, const std::string& url) {
  HttpRequest request;
  request.url = signatureUrl(url);
  request.followRedirects = false;
  const HttpResult fetched = http.perform(request);
  return fetched.ok && fetched.status == 200 ? fetched.body : std::string();
}

std::string startOfFile(const std::string& path) {
  Result<FileDescriptor> file = openFile(path, O_RDONLY | O_NOFOLLOW);
  if (!file) return {};
  std::string bytes(kPackageStartBytes, '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    Result<std::size_t> n = readSome(file->get(), bytes.data() + filled, bytes.size() - filled);
    if (!n || *n == 0) break;
    filled += *n;
  }
  bytes.resize(filled);
  return bytes;
}

}  // namespace

std::optional<int> IndicatorAnimation::advance() {
  counter_ += 0.02;
  if (static_cast<int>(counter_) > 3) counter_ = 0.0;
  const int frame = static_cast<int>(counter_);
  if (frame == shown_) return std::nullopt;
  shown_ = frame;
  return frame;
}

UpdateDownloadContext updateDownloadContextOfThisHost(const HttpClient& http) {
  return {http, tempFolder(), config::kUpdateCaFile, operatingSystem(true), openProgressIndicator};
}

std::string downloadTargetPath(const std::string& tempFolder, const std::string& url) {
  const std::string_view address = std::string_view(url).substr(0, url.find_first_of("?#"));
  const std::size_t scheme = address.find("://");
  const std::size_t hostStart = scheme == std::string_view::npos ? 0 : scheme + 3;
  const std::size_t pathStart = address.find('/', hostStart);
  if (pathStart == std::string_view::npos) return tempFolder;
  const std::string_view path = address.substr(pathStart + 1);
  const std::size_t lastSeparator = path.find_last_of("/\\");
  return tempFolder + std::string(lastSeparator == std::string_view::npos
                                      ? path
                                      : path.substr(lastSeparator + 1));
}

bool looksLikePackage(const std::string& firstBytes, const std::string& packageType) {
  const std::string_view start =
      packageType == "linux rpm" ? kRpmPackageStart : kDebianPackageStart;
  return std::string_view(firstBytes).substr(0, start.size()) == start;
}

bool downloadAndRunUpdate(const std::string& url, const UpdateDownloadContext& context) {
  const std::string target = downloadTargetPath(context.tempFolder, url);
  writeLog("Download to [" + target + "]");
  removeEarlierFile(target);

  std::unique_ptr<ProgressIndicator> indicator =
      context.openIndicator ? context.openIndicator() : nullptr;
  HttpRequest request;
  request.url = url;
  request.followRedirects = false;
  request.downloadPath = target;
  Result<std::unique_ptr<BackgroundTransfer>> transfer =
      BackgroundTransfer::start(context.http, std::move(request));
  if (!transfer) {
    writeLog("Error: Failed initializing download");
    return false;
  }
  const bool completed = waitForTransfer(**transfer, indicator.get());
  transfer->reset();
  indicator.reset();

  // A failed transfer has removed its partial file; whatever else may be
  // found under the name now is not what was downloaded.
  if (!completed || !isRegularFile(target)) {
    writeLog("Error: Downloaded update file not found [" + target + "]");
    return false;
  }
  if (!verifySignature(target, kUpdateSigner, fetchSignature(context.http, url),
                       context.updateCaFile)) {
    writeLog(
        "Error: Downloaded file signature is not tessel! I do not let you run this executable!");
    return false;
  }
  if (!looksLikePackage(startOfFile(target), context.packageType)) {
    writeLog("Error: Downloaded file is not a package for this system [" + target + "]");
    return false;
  }
  writeLog("Executing [" + target + "]");
  openWithSystem(target);
  return true;
}

}  // namespace vm
