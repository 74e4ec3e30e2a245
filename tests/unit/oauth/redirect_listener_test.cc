#include "oauth/redirect_listener.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "support/log_capture.h"
#include "platform/loopback_server.h"

namespace vm {
namespace {

using namespace std::chrono_literals;

// A socket closed at scope end.
struct Fd {
  int fd;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

sockaddr_in loopback(const char* ip, unsigned port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, ip, &a.sin_addr);
  return a;
}

unsigned freePort() {
  Fd s(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in a = loopback("127.0.0.1", 0);
  ::bind(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s.fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// Connects once the listener is up (it starts in the other thread); -1 after 5 s.
int connectWhenListening(const char* ip, unsigned port) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(ip, port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return s;
    ::close(s);
    std::this_thread::sleep_for(5ms);
  }
  return -1;
}

void sendAll(int s, const std::string& data) {
  std::size_t off = 0;
  while (off < data.size()) {
    const ssize_t n = ::send(s, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<std::size_t>(n);
  }
}

std::string readToEnd(int s) {
  std::string out;
  char buf[4096];
  while (true) {
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) break;
    const ssize_t n = ::recv(s, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

// Plays the browser: sends request once connected, returns the whole answer.
std::future<std::string> browser(unsigned port, std::string request) {
  return std::async(std::launch::async, [port, request] {
    Fd s(connectWhenListening("127.0.0.1", port));
    if (s.fd < 0) return std::string("no connection");
    sendAll(s.fd, request);
    return readToEnd(s.fd);
  });
}

const std::string kRequest =
    "GET /tessel?code=4%2F0A&state=xsf1 HTTP/1.1\r\nHost: localhost\r\n\r\n";

const std::string kPage =
    "HTTP/1.1 200 OK\nServer: tessel\nContent-Type: text/html; charset=UTF-8\n"
    "Connection: close\nX-Frame-Options: SAMEORIGIN\nX-XSS-Protection: 1; mode=block\n"
    "X-Content-Type-Options: nosniff\nX-Cache-Status: BYPASS\n\n<!DOCTYPE html>\n"
    "<html><body><style>html {background-color: white;}.box {background-color: #2064a8; "
    "color: white; border-radius: 40px; box-shadow: 10px 10px 20px #777; width: 80%; "
    "max-width: 800px; padding: 30px; margin: 30px auto 0 auto; text-align: center; "
    "font-size: 22px;}.check {color: white; font-size: 100px;}</style><div class=\"box\">"
    "<div class=\"check\">&#10004;</div><p>Thank you! You can now close this window.</p>"
    "<p>Vielen Dank! Sie k\xC3\xB6nnen dieses Fenster jetzt schliessen.</p>"
    "<p>Merci beaucoup ! Vous pouvez maintenant fermer cette fen\xC3\xAAtre.</p>"
    "</div></body></html>";

TEST(RedirectListener, AnswersTheFirstRequestWithTheFixedPageAndReturnsIt) {
  test::LogCapture log;
  const unsigned port = freePort();
  auto answer = browser(port, kRequest);
  EXPECT_EQ(listenForRedirect("localhost", port, 10), kRequest);
  EXPECT_EQ(answer.get(), kPage);
  const std::string where = "localhost:" + std::to_string(port);
  EXPECT_EQ(log.text(), "Established listening server on " + where + "\r\n" +
                            "Incomming auth client connection established\r\n" +
                            "Received from auth client: [" + kRequest + "]\r\n" +
                            "Sent success (200 OK) answer to calling auth client\r\n");
}

TEST(RedirectListener, AnyRequestGetsTheSamePageAndComesBackUnchanged) {
  for (const std::string& request :
       {std::string("POST /elsewhere HTTP/1.0\r\n\r\nbody"), std::string("x"),
        std::string("GET /tessel?a=\xFF HTTP/1.1\r\n\r\n")}) {
    const unsigned port = freePort();
    auto answer = browser(port, request);
    const std::string got = listenForRedirect("localhost", port, 10);
    // Bytes that are not UTF-8 come back as U+FFFD.
    EXPECT_EQ(got, request == "GET /tessel?a=\xFF HTTP/1.1\r\n\r\n"
                       ? "GET /tessel?a=\xEF\xBF\xBD HTTP/1.1\r\n\r\n"
                       : request);
    EXPECT_EQ(answer.get(), kPage);
  }
}

TEST(RedirectListener, TakesOneReceiveOfAtMostTheBufferAndStopsAtAZeroByte) {
  const unsigned port = freePort();
  const std::string huge = "GET /" + std::string(100000, 'a');
  auto answer = browser(port, huge);
  const std::string got = listenForRedirect("localhost", port, 10);
  EXPECT_LE(got.size(), kRedirectBufferBytes);
  EXPECT_EQ(got, huge.substr(0, got.size()));
  EXPECT_EQ(answer.get(), kPage);  // the rest was read and dropped, no reset

  const unsigned port2 = freePort();
  auto answer2 = browser(port2, std::string("GET /a\0b", 8));
  EXPECT_EQ(listenForRedirect("localhost", port2, 10), "GET /a");
  EXPECT_EQ(answer2.get(), kPage);
}

TEST(RedirectListener, ATricklingClientGetsOneAnswerAndIsCutOff) {
  const unsigned port = freePort();
  auto trickle = std::async(std::launch::async, [port] {
    Fd s(connectWhenListening("127.0.0.1", port));
    // One byte every 50 ms for 10 s unless the server closes first.
    for (int i = 0; i < 200; ++i) {
      if (::send(s.fd, i == 0 ? "G" : "x", 1, MSG_NOSIGNAL) != 1) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  });
  // Only the first receive counts: no waiting for a whole request.
  EXPECT_EQ(listenForRedirect("localhost", port, 30), "G");
  EXPECT_TRUE(trickle.get()) << "the server kept the connection open";
}

TEST(RedirectListener, ConnectionClosedWithoutDataEndsWithNothing) {
  test::LogCapture log;
  const unsigned port = freePort();
  auto closer = std::async(std::launch::async, [port] {
    Fd s(connectWhenListening("127.0.0.1", port));
    std::this_thread::sleep_for(50ms);  // let the connect be seen on its own
  });
  EXPECT_EQ(listenForRedirect("localhost", port, 10), "");
  closer.get();
  const auto lines = log.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Auth client connection closed");
}

TEST(RedirectListener, TimesOutWithTheSecondsInTheLogEvenWithASilentClient) {
  test::LogCapture log;
  const unsigned port = freePort();
  std::promise<void> done;
  auto silent = std::async(std::launch::async, [port, f = done.get_future()] {
    Fd s(connectWhenListening("127.0.0.1", port));
    f.wait();  // connected, never sends, never closes
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(listenForRedirect("localhost", port, 1), "");
  const auto took = std::chrono::steady_clock::now() - start;
  done.set_value();
  silent.get();
  EXPECT_GT(took, 1000ms);
  EXPECT_EQ(log.lines().back(), "ERROR: Connection to localhost:" + std::to_string(port) +
                                    " timed out. Nothing was received in 1 seconds.");
}

TEST(RedirectListener, PortAlreadyTakenFailsAtOnce) {
  test::LogCapture log;
  Fd taken(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in a = loopback("127.0.0.1", 0);
  ASSERT_EQ(::bind(taken.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(taken.fd, 1), 0);
  socklen_t len = sizeof a;
  ::getsockname(taken.fd, reinterpret_cast<sockaddr*>(&a), &len);
  const unsigned port = ntohs(a.sin_port);
  EXPECT_EQ(listenForRedirect("localhost", port, 5), "");
  EXPECT_EQ(log.lines(),
            std::vector<std::string>{"ERROR: Cannot create server on localhost:" +
                                     std::to_string(port) + " for receiving oauth result"});
}

TEST(RedirectListener, BindsOnlyToLoopbackAddresses) {
  for (const char* host : {"0.0.0.0", "example.test", "", "192.0.2.1", "::1", "127.1"}) {
    test::LogCapture log;
    const unsigned port = freePort();
    EXPECT_EQ(listenForRedirect(host, port, 5), "") << host;
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{"ERROR: Cannot create server on " + std::string(host) + ":" +
                                       std::to_string(port) + " for receiving oauth result"});
  }
  // "localhost" is 127.0.0.1 alone: another loopback address finds nobody.
  const unsigned port = freePort();
  auto other = std::async(std::launch::async, [port] {
    std::this_thread::sleep_for(200ms);
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in b = loopback("127.0.0.2", port);
    const int rc = ::connect(s, reinterpret_cast<sockaddr*>(&b), sizeof b);
    ::close(s);
    return rc;
  });
  EXPECT_EQ(listenForRedirect("localhost", port, 1), "");
  EXPECT_NE(other.get(), 0);
}

TEST(RedirectListener, ASecondSignInRightAfterTheFirstCanBindAgain) {
  const unsigned port = freePort();
  for (int round = 0; round < 2; ++round) {
    auto answer = browser(port, kRequest);
    EXPECT_EQ(listenForRedirect("localhost", port, 10), kRequest) << round;
    EXPECT_EQ(answer.get(), kPage);
  }
}

TEST(RedirectListener, AFloodOfIdleConnectionsStillEndsAtTheTimeOut) {
  test::LogCapture log;
  const unsigned port = freePort();
  std::promise<void> done;
  auto flood = std::async(std::launch::async, [port, f = done.get_future()] {
    std::vector<std::unique_ptr<Fd>> idle;
    for (int i = 0; i < 100; ++i) {
      idle.push_back(std::make_unique<Fd>(connectWhenListening("127.0.0.1", port)));
    }
    f.wait();
  });
  EXPECT_EQ(listenForRedirect("localhost", port, 1), "");
  done.set_value();
  flood.get();
  const auto lines = log.lines();
  EXPECT_EQ(lines.back(), "ERROR: Connection to localhost:" + std::to_string(port) +
                              " timed out. Nothing was received in 1 seconds.");
  // Connections past the cap are closed unseen, so the server holds a bounded
  // number of sockets whatever a local program opens.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Incomming auth client connection established"),
            static_cast<long>(LoopbackServer::kMaxClients));
}

TEST(WaitForRedirect, ListensWhereTheProvidersRedirectPoints) {
  test::LogCapture log;
  OAuthConfig config = OAuthConfig::fromBuild();
  config.redirectPort = freePort();
  const OAuthProviderTable providers = makeOAuthProviderTable(config);
  auto answer = browser(config.redirectPort, kRequest);
  EXPECT_EQ(waitForRedirect(providers, "GOOGLE", 10), kRequest);
  EXPECT_EQ(answer.get(), kPage);
  EXPECT_EQ(log.lines().front(),
            "Established listening server on localhost:" + std::to_string(config.redirectPort));
}

}  // namespace
}  // namespace vm
