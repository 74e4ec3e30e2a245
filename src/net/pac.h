// Proxy auto-configuration: a "pac:" setting resolved to a proxy in the
// manual form, by loading the PAC file and asking its FindProxyForURL for
// the application URL.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "base/result.h"

namespace vm {

class Dialogs;
class HttpClient;

inline constexpr const char* kPacReferencePattern =
    R"(^pac:((?:http:\/\/|https:\/\/|file:\/\/|\\\\)\S*)(.*)$)";

// FindProxyForURL's answer for url and host; empty after a time-out, a
// script error or a non-text answer. Fails only when the hidden view that
// runs the script cannot be made.
using PacEvaluator = std::function<Result<std::string>(
    const std::string& pacText, const std::string& url, const std::string& host)>;

struct PacContext {
  Dialogs& dialogs;
  HttpClient& http;  // loads PAC files named by URL, through its proxy of the moment
  PacEvaluator evaluate;
  // The hidden view could not be made: the run ends early.
  std::function<void()> endRunEarly;
};

// The text of a PAC file: by URL through the HTTP client (the status is not
// looked at; the reachability limits apply when no limits are set yet),
// else as a file (a UNC path or a "file://" URI). Empty text, after its log
// line, when it cannot be read.
std::string loadText(HttpClient& http, const std::string& location);

// What a PAC result asks for, from its first usable entry.
struct PacChoice {
  enum class Kind { Direct, Proxy, Nothing } kind = Kind::Nothing;
  std::string address;  // for Proxy: the text after "PROXY", trimmed
};
PacChoice scanPacResult(const std::string& result);

// The manual form of a PAC "PROXY" address: "http://" in front unless it
// names one of the proxy schemes already, then a blank and the credentials.
std::string manualProxyForPac(const std::string& address, const std::string& credentials);

// The host part of url: no scheme, user information or port.
std::string hostOfUrl(const std::string& url);

// setting is "pac:" + location + optional credentials, prefix and scheme in
// lower case. The manual form of the proxy that the PAC file names for
// appUrl, or nullopt for no proxy (after a box when something went wrong;
// none for a DIRECT answer).
std::optional<std::string> resolvePacReference(PacContext& context, const std::string& setting,
                                               const std::string& appUrl);

}  // namespace vm
