// Downloading an offered update: the package from the manifest's address
// into the temporary folder on a worker thread while a small indicator turns,
// its publisher check, and the hand-off to the system's package installer.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vm {

class HttpClient;
class ProgressIndicator;

// The indicator's frames, shown in turn: a blank, a small and a large circle,
// the small one again.
inline constexpr std::array<const char*, 4> kIndicatorFrames = {" ", "\u25CB", "\u25EF", "\u25CB"};

// The frame timing of the download's wait loop: a counter that grows by 0.02
// a turn and starts over past 3, so a new frame comes about every fifty turns
// and the four repeat after two hundred.
class IndicatorAnimation {
 public:
  // One turn: the number of the frame to show now, or nullopt while the
  // frame shown last stays.
  std::optional<int> advance();

 private:
  double counter_ = 0.0;
  int shown_ = 2;
};

struct UpdateDownloadContext {
  const HttpClient& http;
  std::string tempFolder;    // ends with "/"
  std::string updateCaFile;  // the only trust anchor of the signature check
  std::string packageType;   // "linux deb" or "linux rpm": the format handed over
  // Opens the indicator; empty, or answering nullptr, means none is shown.
  std::function<std::unique_ptr<ProgressIndicator>()> openIndicator;
};

// The configuration of this build and host: the temporary folder, the
// configured update authority, the platform's package type and the
// toolkit's indicator window.
UpdateDownloadContext updateDownloadContextOfThisHost(const HttpClient& http);

// The temporary folder followed by the file name of url: the last part (after
// the last "/" or "\") of the path that follows the host, query and fragment
// cut. A path that ends in "/" names no file and gives the folder itself.
std::string downloadTargetPath(const std::string& tempFolder, const std::string& url);

// True for data that begins as a package of packageType does.
bool looksLikePackage(const std::string& firstBytes, const std::string& packageType);

// Downloads url (redirects not followed) into the target path, replacing what
// was there, checks its signature and its package format, and hands it to
// the system's opener. True when it was handed over.
bool downloadAndRunUpdate(const std::string& url, const UpdateDownloadContext& context);

}  // namespace vm
