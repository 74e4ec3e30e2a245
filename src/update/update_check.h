// The update check at the end of a run: at most once in seven days, fetch the
// manifest from the package server and answer whether it offers a newer build.
#pragma once

#include <string>

namespace vm {

class HttpClient;

inline constexpr long long kUpdateCheckInterval = 604800;  // seconds, seven days

// The answer when the check was not due and nothing was fetched.
inline constexpr const char* kUpdateNotDue = "no";

struct UpdateCheckContext {
  const HttpClient& http;
  std::string manifestUrl;    // "https://" + package host + "/update.json"
  std::string entryPath;      // manifestEntryPath(platform, bitness)
  std::string clientVersion;  // the version text, leading blank included
  long long now = 0;          // localSecondsNow()
};

// "https://" + packageHost + "/update.json".
std::string manifestUrlFor(const std::string& packageHost);

// The context of this build and host: the configured package host, the
// platform with its package type, the build's bitness, the local clock.
UpdateCheckContext updateCheckContextOfThisHost(const HttpClient& http,
                                                const std::string& clientVersion);

// True unless checkTime is set (not 0) and less than seven days lie between
// it and now, which includes a checkTime in the future; logs when not due.
bool updateDue(long long checkTime, long long now);

// "no" when not due; empty text when no update is needed or the manifest
// could not be fetched or used; version + "|" + url for a newer build.
std::string checkForUpdate(long long checkTime, const UpdateCheckContext& context);

}  // namespace vm
