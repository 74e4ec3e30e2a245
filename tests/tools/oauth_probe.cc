// Test-only tool: runs OAuth steps of the client in one process (so the
// in-memory refresh-token slot carries from step to step) and prints one
// JSON object. The provider hosts, client identifiers, secret, redirect port
// and time-out are arguments here, which the client itself never takes (it
// always uses the build configuration and port 8100); that lets the
// integration tests point both providers at HTTPS servers on loopback with
// the same build the client uses.
//
//   oauth_probe [options] STEP...
// options: --ms-client-id ID --ms-login-host H --ms-scope-host H
//          --google-client-id ID --google-secret S --google-auth-host H
//          --google-token-host H --google-scope-host H
//          --port N          redirect port (default 8100)
//          --timeout S       sign-in time-out in seconds (default 120)
//          --ca FILE         extra CA trusted by the HTTP client
//          --log FILE        diagnostic log
//          --opener PROGRAM  started with the URL as its one argument, found
//                            on PATH (default xdg-open); waited for at exit
// steps:   --refresh TOKEN           put TOKEN into the refresh-token slot
//          --send SECURITY LOGIN     bearerTokenFor
//          --acquire KEY HINT        acquireBearerToken with the slot's content
//          --token KEY CODE REFRESH  requestToken
//          --authorize KEY HINT      authorizeInteractively
//          --url KEY HINT            composeAuthorizationUrl
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/startup.h"
#include "diag/log_writer.h"
#include "net/http_client.h"
#include "oauth/authorization.h"
#include "oauth/oauth_context.h"
#include "oauth/oauth_provider.h"
#include "oauth/token_exchange.h"

namespace {
// The tool's own log file, the receiver of every writeLog of the code under test.
vm::LogWriter processLog;
}  // namespace

extern char** environ;

namespace {

using nlohmann::ordered_json;

// A step's outcome as the tests compare it: the value, or the failure with
// "ERROR: " in front, the form in which the mail transfer reports it.
std::string outcomeText(const vm::Result<std::string>& outcome) {
  return outcome ? *outcome : "ERROR: " + outcome.message();
}

int usage() {
  std::fputs("usage: oauth_probe [options] --send SECURITY LOGIN | --acquire KEY HINT | ...\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  vm::LogSinkScope logScope(processLog);
  std::vector<std::string> args(argv + 1, argv + argc);
  vm::OAuthConfig config;
  config.msClientId = "00000000-0000-0000-0000-000000000000";
  config.googleClientId = "000000000000-00000000000000000000000000000000.apps.test";
  std::string ca, logPath, opener = "xdg-open";
  int timeout = vm::kSignInTimeoutSeconds;
  std::vector<std::vector<std::string>> steps;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto take = [&](std::size_t n) -> std::vector<std::string> {
      std::vector<std::string> values{a};
      for (std::size_t k = 0; k < n; ++k) values.push_back(i + 1 < args.size() ? args[++i] : "");
      return values;
    };
    auto next = [&]() { return take(1)[1]; };
    if (a == "--ms-client-id")
      config.msClientId = next();
    else if (a == "--ms-login-host")
      config.msLoginHost = next();
    else if (a == "--ms-scope-host")
      config.msScopeHost = next();
    else if (a == "--google-client-id")
      config.googleClientId = next();
    else if (a == "--google-secret")
      config.googleClientSecret = next();
    else if (a == "--google-auth-host")
      config.googleAuthHost = next();
    else if (a == "--google-token-host")
      config.googleTokenHost = next();
    else if (a == "--google-scope-host")
      config.googleScopeHost = next();
    else if (a == "--port")
      config.redirectPort = static_cast<unsigned>(std::atoi(next().c_str()));
    else if (a == "--timeout")
      timeout = std::atoi(next().c_str());
    else if (a == "--ca")
      ca = next();
    else if (a == "--log")
      logPath = next();
    else if (a == "--opener")
      opener = next();
    else if (a == "--refresh")
      steps.push_back(take(1));
    else if (a == "--send" || a == "--acquire" || a == "--authorize" || a == "--url")
      steps.push_back(take(2));
    else if (a == "--token")
      steps.push_back(take(3));
    else
      return usage();
  }
  if (steps.empty()) return usage();
  if (!logPath.empty()) {
    processLog.setPath(logPath);
    processLog.open();
  }

  std::vector<pid_t> children;
  vm::UrlOpener open = [&](const std::string& url) {
    // Like xdg-open for the client: started, not waited for here.
    std::vector<char*> argvOpen{opener.data(), const_cast<char*>(url.c_str()), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, opener.c_str(), nullptr, nullptr, argvOpen.data(), environ) == 0) {
      children.push_back(pid);
    }
  };

  const vm::OAuthProviderTable providers = vm::makeOAuthProviderTable(config);
  const std::string state = vm::makeOAuthState();
  std::string refreshSlot;
  vm::HttpClient http(ca);
  vm::OAuthContext context{providers, state, refreshSlot, http, open, timeout};

  ordered_json results = ordered_json::array();
  for (const auto& s : steps) {
    std::string result;
    if (s[0] == "--refresh")
      refreshSlot = s[1];
    else if (s[0] == "--send")
      result = outcomeText(vm::bearerTokenFor(s[1], s[2], context));
    else if (s[0] == "--acquire")
      result = outcomeText(vm::acquireBearerToken(context, s[1], s[2], refreshSlot));
    else if (s[0] == "--token")
      result = outcomeText(vm::requestToken(context, s[1], s[2], s[3]));
    else if (s[0] == "--authorize")
      result = outcomeText(vm::authorizeInteractively(context, s[1], s[2]));
    else if (s[0] == "--url") {
      if (const vm::OAuthProvider* p = vm::findOAuthProvider(providers, s[1])) {
        result = vm::composeAuthorizationUrl(*p, state, s[2]);
      }
    }
    results.push_back({{"step", s}, {"result", result}, {"refresh", refreshSlot}});
  }
  processLog.close();
  // The stand-in browser is part of the test: it must not outlive the probe.
  for (pid_t pid : children) waitpid(pid, nullptr, 0);

  ordered_json out = {{"state", state}, {"opened", children.size()}, {"steps", results}};
  std::puts(out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  return 0;
}
