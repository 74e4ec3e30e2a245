#include "net/pac.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/http_client.h"
#include "net/pac_page.h"
#include "platform/file.h"
#include "support/log_capture.h"
#include "support/recording_dialogs.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

constexpr const char* kNoUsableEntry =
    "PAC file returned no usable DIRECT or PROXY entry. Unfortunatelly we support only DIRECT or "
    "PROXY results!";

TEST(Pac, ResultScanTakesTheFirstDirectOrProxyEntry) {
  using Kind = PacChoice::Kind;
  struct Case {
    const char* result;
    Kind kind;
    const char* address;
  };
  const Case cases[] = {
      {"PROXY 10.0.0.8:3128; DIRECT", Kind::Proxy, "10.0.0.8:3128"},
      {"SOCKS 10.0.0.9:1080; PROXY 10.0.0.8:3128", Kind::Proxy, "10.0.0.8:3128"},
      {"  PROXY   http://10.0.0.8:3128  ", Kind::Proxy, "http://10.0.0.8:3128"},
      {"DIRECT", Kind::Direct, ""},
      {"DIRECT; PROXY 10.0.0.8:3128", Kind::Direct, ""},
      {"SOCKS 10.0.0.9:1080", Kind::Nothing, ""},
      {"", Kind::Nothing, ""},
      {"; PROXY 10.0.0.8:3128", Kind::Nothing, ""},  // an empty entry ends the scan
      {"SOCKS a:1;; PROXY b:2", Kind::Nothing, ""},
      {"PROXY", Kind::Nothing, ""},
      {"proxy 10.0.0.8:3128", Kind::Nothing, ""},  // exact letter case
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    PacChoice choice = scanPacResult(c.result);
    EXPECT_EQ(choice.kind, c.kind);
    EXPECT_EQ(choice.address, c.address);
  }
}

TEST(Pac, ProxyAddressGetsHttpUnlessItNamesAScheme) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"10.0.0.8:3128", "u:p", "http://10.0.0.8:3128 u:p"},
      {"http://10.0.0.8:3128", "", "http://10.0.0.8:3128 "},
      {"socks5://10.0.0.1:1080", "", "socks5://10.0.0.1:1080 "},
      {"https://p:443", "U:P", "https://p:443 U:P"},
  };
  for (const auto& [address, credentials, manual] : cases)
    EXPECT_EQ(manualProxyForPac(address, credentials), manual);
}

TEST(Pac, HostOfUrl) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://app1.example/pc/", "app1.example"},
      {"https://127.0.0.1:18443/pc/velomark.html", "127.0.0.1"},
      {"https://user:pw@host.example:1/x?y#z", "host.example"},
      {"https://[::1]:8443/", "::1"},
      {"http://h", "h"},
  };
  for (const auto& [url, host] : cases) EXPECT_EQ(hostOfUrl(url), host);
}

TEST(Pac, TriggerScriptWritesBothValuesAsStringLiterals) {
  EXPECT_EQ(pacTriggerScript("https://app1.example/pc/", "app1.example"),
            R"(runPAC("https://app1.example/pc/", "app1.example");)");
  // A quotation mark or a backslash cannot end the literal early.
  EXPECT_EQ(pacTriggerScript(R"(https://h/"); alert(1); (")", R"(h\")"),
            R"(runPAC("https://h/\"); alert(1); (\"", "h\\\"");)");
}

TEST(Pac, PageHoldsLibraryThenPacTextThenGlueInThatOrder) {
  const std::string pac = "function FindProxyForURL(url, host) { return 'DIRECT'; }";
  const std::string page = pacPage(pac, {"dns.example:8443", "10.1.2.3"});
  ASSERT_TRUE(page.starts_with("<!DOCTYPE html>\n<html><body><script>\n"));
  ASSERT_TRUE(page.ends_with("</script></body></html>"));
  const auto library = page.find("function shExpMatch(");
  const auto userMark = page.find("\n\n// ----------- user PAC function ------------\n" + pac + "\n\n//");
  const auto runPac = page.find("function runPAC(url, host)");
  const auto listener = page.find("addEventListener('DOMContentLoaded'");
  EXPECT_NE(library, std::string::npos);
  EXPECT_LT(library, userMark);
  EXPECT_LT(userMark, runPac);
  EXPECT_LT(runPac, listener);
  EXPECT_NE(page.find(R"(var pacDohHost = "dns.example:8443";)"), std::string::npos);
  EXPECT_NE(page.find(R"(var pacLocalAddress = "10.1.2.3";)"), std::string::npos);
}

// Local PAC files, a fake evaluator that records what it was asked, and the log.
class ResolvePac : public ::testing::Test {
 protected:
  std::optional<std::string> resolve(const std::string& setting,
                                     const std::string& url = "https://app1.example/pc/") {
    PacContext context{dialogs, http,
                       [this](const std::string& text, const std::string& u,
                              const std::string& host) -> Result<std::string> {
                         asked.push_back(text + "|" + u + "|" + host);
                         if (!viewMade) return fail("no view");
                         return answer;
                       },
                       [this] { endedEarly = true; }};
    return resolvePacReference(context, setting, url);
  }
  std::string pacFile(const std::string& content) {
    test::writeFile(dir.path() + "proxy.pac", content);
    return "file://" + dir.path() + "proxy.pac";
  }
  std::vector<std::string> boxes() const {
    std::vector<std::string> texts;
    for (const auto& [title, text] : dialogs.titledErrors) texts.push_back(title + ": " + text);
    return texts;
  }

  test::TempDir dir;
  test::LogCapture log;
  test::RecordingDialogs dialogs;
  HttpClient http{""};
  std::string answer;
  bool viewMade = true;
  bool endedEarly = false;
  std::vector<std::string> asked;
};

TEST_F(ResolvePac, ProxyEntryBecomesTheManualFormWithTheCredentials) {
  const std::string pac = "function FindProxyForURL(url, host) { return 'x'; }";
  const std::string location = pacFile(pac);
  answer = "PROXY 10.0.0.8:3128; DIRECT";
  EXPECT_EQ(resolve("pac:" + location + "  User:PassWord "), "http://10.0.0.8:3128 User:PassWord");
  EXPECT_EQ(asked, std::vector<std::string>{pac + "|https://app1.example/pc/|app1.example"});
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "Loading PAC file [" + location + "]", "PAC file content [" + pac + "]",
                             "PAC parsing result [PROXY 10.0.0.8:3128; DIRECT]"}));
  EXPECT_TRUE(dialogs.titledErrors.empty());
}

TEST_F(ResolvePac, DirectMeansNoProxyWithoutABox) {
  answer = "DIRECT";
  EXPECT_EQ(resolve("pac:" + pacFile("function FindProxyForURL(u, h) {}")), std::nullopt);
  EXPECT_TRUE(dialogs.titledErrors.empty());
}

TEST_F(ResolvePac, AnswersWithoutAUsableEntryGiveTheirBox) {
  const std::string location = pacFile("function FindProxyForURL(u, h) {}");
  for (const char* result : {"", "SOCKS 10.0.0.9:1080", "; PROXY a:1"}) {
    answer = result;
    EXPECT_EQ(resolve("pac:" + location), std::nullopt) << result;
  }
  EXPECT_EQ(boxes(), std::vector<std::string>(3, std::string("PAC error: ") + kNoUsableEntry));
}

TEST_F(ResolvePac, MissingOrInvalidFilesAndReferencesGiveTheirBoxes) {
  const std::string missing = "file://" + dir.path() + "missing.pac";
  const std::string unreachable = R"(\\nosuchserver.invalid\share\proxy.pac)";
  const std::string withoutFunction = pacFile("function findproxyforurl(u, h) {}");
  EXPECT_EQ(resolve("pac:" + missing), std::nullopt);
  EXPECT_EQ(resolve("pac:" + unreachable), std::nullopt);
  EXPECT_EQ(resolve("pac:" + withoutFunction), std::nullopt);
  EXPECT_EQ(resolve("pac:ftp://pac.example/p.pac"), std::nullopt);
  EXPECT_EQ(boxes(), (std::vector<std::string>{
                         "PAC error: PAC file [" + missing + "] not found or invalid! Using no proxy.",
                         "PAC error: PAC file [" + unreachable +
                             "] not found or invalid! Using no proxy.",
                         "PAC error: PAC file [" + withoutFunction +
                             "] not found or invalid! Using no proxy.",
                         "PAC error: Invalid PAC reference. Cannot parse. Check format!"}));
  const std::string text = log.text();
  EXPECT_NE(text.find("ERROR: Unable to open/access file [" + missing + "]\r\n"), std::string::npos);
  EXPECT_NE(text.find("ERROR: Unable to open/access file [" + unreachable + "]\r\n"),
            std::string::npos);
  EXPECT_TRUE(asked.empty());
}

TEST_F(ResolvePac, UnreachableUrlIsLoggedAndGivesTheNotFoundBox) {
  // Port 9 on loopback: nothing listens there, the connection is refused.
  const std::string location = "http://127.0.0.1:9/proxy.pac";
  EXPECT_EQ(resolve("pac:" + location), std::nullopt);
  EXPECT_NE(log.text().find("ERROR: Unable to open/access URL [" + location + "]\r\n"),
            std::string::npos);
  EXPECT_EQ(boxes(), std::vector<std::string>{"PAC error: PAC file [" + location +
                                              "] not found or invalid! Using no proxy."});
}

TEST_F(ResolvePac, HiddenViewThatCannotBeMadeEndsTheRunWithoutABox) {
  viewMade = false;
  EXPECT_EQ(resolve("pac:" + pacFile("function FindProxyForURL(u, h) {}")), std::nullopt);
  EXPECT_TRUE(endedEarly);
  EXPECT_TRUE(dialogs.titledErrors.empty());
}

TEST(SharedFile, UncPathsBecomeSmbUris) {
  const std::pair<const char*, const char*> cases[] = {
      {R"(\\server\share\proxy.pac)", "smb://server/share/proxy.pac"},
      {R"(\\server\my share\dir\p ä.pac)", "smb://server/my%20share/dir/p%20%C3%A4.pac"},
      {"file:///etc/proxy.pac", "file:///etc/proxy.pac"},
  };
  for (const auto& [location, uri] : cases) EXPECT_EQ(sharedFileUri(location), uri);
}

}  // namespace
}  // namespace vm
