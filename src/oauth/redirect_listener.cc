#include "oauth/redirect_listener.h"

#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/utf8.h"
#include "platform/loopback_server.h"

namespace vm {

const char* const kRedirectAnswer =
    "HTTP/1.1 200 OK\n"
    "Server: tessel\n"
    "Content-Type: text/html; charset=UTF-8\n"
    "Connection: close\n"
    "X-Frame-Options: SAMEORIGIN\n"
    "X-XSS-Protection: 1; mode=block\n"
    "X-Content-Type-Options: nosniff\n"
    "X-Cache-Status: BYPASS\n\n"
    "<!DOCTYPE html>\n"
    "<html><body>"
    "<style>"
    "html {background-color: white;}"
    ".box {background-color: #2064a8; color: white; border-radius: 40px; box-shadow: 10px 10px "
    "20px #777; width: 80%; max-width: 800px; padding: 30px; margin: 30px auto 0 auto; "
    "text-align: center; font-size: 22px;}"
    ".check {color: white; font-size: 100px;}"
    "</style>"
    "<div class=\"box\">"
    "<div class=\"check\">&#10004;</div>"
    "<p>Thank you! You can now close this window.</p>"
    "<p>Vielen Dank! Sie k\xC3\xB6nnen dieses Fenster jetzt schliessen.</p>"
    "<p>Merci beaucoup ! Vous pouvez maintenant fermer cette fen\xC3\xAAtre.</p>"
    "</div>"
    "</body></html>";

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPollInterval = std::chrono::milliseconds(10);
// Time for the browser to read the page before the connection goes.
constexpr auto kAnswerGrace = std::chrono::milliseconds(500);

struct HostPort {
  std::string host;
  std::string port;
};

// "http://localhost:8100/tessel" -> {"localhost", "8100"}.
HostPort hostPortOf(const std::string& uri) {
  HostPort hp;
  std::string_view rest(uri);
  const std::size_t scheme = rest.find("://");
  if (scheme != std::string_view::npos) rest.remove_prefix(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const std::size_t colon = rest.rfind(':');
  if (colon == std::string_view::npos) {
    hp.host = std::string(rest);
  } else {
    hp.host = std::string(rest.substr(0, colon));
    hp.port = std::string(rest.substr(colon + 1));
  }
  return hp;
}

bool parsePort(const std::string& text, unsigned* port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  *port = value;
  return true;
}

std::string listenOn(const std::string& host, const std::string& portText, int timeoutSeconds) {
  const std::string where = host + ":" + portText;
  unsigned port = 0;
  // The bind address is fixed by the rule for "localhost"; other host texts
  // are taken as the address itself, which the server only accepts inside
  // 127.0.0.0/8, so the listener is never reachable from the network.
  const std::string bindAddress = host == "localhost" ? "127.0.0.1" : host;
  LoopbackServer server;
  if (!parsePort(portText, &port) || !server.listen(bindAddress, port)) {
    writeLog("ERROR: Cannot create server on " + where + " for receiving oauth result");
    return {};
  }
  writeLog("Established listening server on " + where);

  std::vector<char> buffer(kRedirectBufferBytes, 0);
  const auto start = Clock::now();
  const long long limitMs = static_cast<long long>(timeoutSeconds) * 1000;
  std::string request;
  while (true) {
    std::this_thread::sleep_for(kPollInterval);
    const LoopbackServer::Event event = server.poll();
    if (event.kind == LoopbackServer::EventKind::Connected) {
      writeLog("Incomming auth client connection established");
    } else if (event.kind == LoopbackServer::EventKind::Data) {
      const std::size_t received = server.receive(event.client, buffer.data(), buffer.size());
      const std::size_t length = strnlen(buffer.data(), received);
      request = validUtf8(std::string_view(buffer.data(), length));
      writeLog("Received from auth client: [" + request + "]");
      server.sendAndFinish(event.client, kRedirectAnswer, kAnswerGrace);
      writeLog("Sent success (200 OK) answer to calling auth client");
      server.drainFor(event.client, kAnswerGrace);
      break;
    } else if (event.kind == LoopbackServer::EventKind::Disconnected) {
      writeLog("Auth client connection closed");
      break;
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (elapsed > limitMs) {
      writeLog("ERROR: Connection to " + where + " timed out. Nothing was received in " +
               std::to_string(timeoutSeconds) + " seconds.");
      break;
    }
  }
  server.close();
  return request;
}

}  // namespace

std::string listenForRedirect(const std::string& host, unsigned port, int timeoutSeconds) {
  return listenOn(host, std::to_string(port), timeoutSeconds);
}

std::string waitForRedirect(const OAuthProviderTable& providers, const std::string& providerKey,
                            int timeoutSeconds) {
  const OAuthProvider* provider = findOAuthProvider(providers, providerKey);
  const HostPort hp = provider ? hostPortOf(provider->redirectUri) : HostPort{};
  return listenOn(hp.host, hp.port, timeoutSeconds);
}

}  // namespace vm
