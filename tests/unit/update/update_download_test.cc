#include "update/update_download.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/log_capture.h"
#include "update/update_signature.h"

namespace vm {
namespace {

TEST(DownloadTargetPath, TheLastPartOfThePathInTheTemporaryFolder) {
  struct Case {
    const char* url;
    const char* target;
  };
  const Case cases[] = {
      {"https://h/velomark_5.1.0_amd64.deb", "/tmp/u/velomark_5.1.0_amd64.deb"},
      {"https://h:8443/a/b/p.deb?token=1/2&x=y", "/tmp/u/p.deb"},  // query cut
      {"https://h/a/p.deb#part/2", "/tmp/u/p.deb"},                // fragment cut
      {"https://h/a\\b\\p.deb", "/tmp/u/p.deb"},                   // either separator
      {"https://h/p.deb", "/tmp/u/p.deb"},
      // No file named: the folder itself.
      {"https://h/dir/", "/tmp/u/"},
      {"https://h/", "/tmp/u/"},
      {"https://h", "/tmp/u/"},
      {"https://h?x=/p.deb", "/tmp/u/"},
  };
  for (const auto& [url, target] : cases)
    EXPECT_EQ(downloadTargetPath("/tmp/u/", url), target) << url;
}

TEST(SignatureUrl, P7sAfterThePathBeforeQueryAndFragment) {
  struct Case {
    const char* url;
    const char* signature;
  };
  const Case cases[] = {
      {"https://h/u/p.deb", "https://h/u/p.deb.p7s"},
      {"https://h/u/p.deb?x=1", "https://h/u/p.deb.p7s?x=1"},
      {"https://h/u/p.deb#f?g", "https://h/u/p.deb.p7s#f?g"},
      {"https://h/dir/", "https://h/dir/.p7s"},
  };
  for (const auto& [url, signature] : cases) EXPECT_EQ(signatureUrl(url), signature) << url;
}

TEST(LooksLikePackage, TheFormatOfThePlatformsPackages) {
  const std::string deb = std::string("!<arch>\ndebian-binary   1712345678  0     0     100644  4");
  const std::string rpm = "\xED\xAB\xEE\xDB\x03\x00";
  EXPECT_TRUE(looksLikePackage(deb, "linux deb"));
  EXPECT_FALSE(looksLikePackage(deb, "linux rpm"));
  EXPECT_TRUE(looksLikePackage(rpm, "linux rpm"));
  EXPECT_FALSE(looksLikePackage(rpm, "linux deb"));
  for (const std::string other :
       {"", "!<arch>\n", "!<arch>\ndebian-binar", "#!/bin/sh\nrm -rf ~", "!<arch>\ncontrol.tar.gz"})
    EXPECT_FALSE(looksLikePackage(other, "linux deb")) << other;
}

TEST(IndicatorAnimation, FourFramesInTurnAboutEveryFiftyTurns) {
  IndicatorAnimation animation;
  std::vector<int> frames;
  std::vector<int> turns;
  for (int turn = 1; turn <= 420; ++turn) {
    if (std::optional<int> frame = animation.advance()) {
      frames.push_back(*frame);
      turns.push_back(turn);
    }
  }
  // The text starts empty and the frame number at 2, so the blank comes first.
  EXPECT_EQ(frames, (std::vector<int>{0, 1, 2, 3, 0, 1, 2, 3, 0}));
  ASSERT_EQ(turns.front(), 1);
  for (std::size_t i = 1; i < turns.size(); ++i) {
    EXPECT_GE(turns[i] - turns[i - 1], 49) << i;
    EXPECT_LE(turns[i] - turns[i - 1], 51) << i;
  }
  EXPECT_EQ(std::string(kIndicatorFrames[0]), " ");
  EXPECT_EQ(std::string(kIndicatorFrames[1]), "\u25CB");
  EXPECT_EQ(std::string(kIndicatorFrames[2]), "\u25EF");
  EXPECT_EQ(std::string(kIndicatorFrames[3]), "\u25CB");
}

TEST(ReportShowsValidSigner, TwoSearchesDecide) {
  struct Case {
    const char* report;
    const char* signer;
    bool accepted;
    const char* logLine;  // after the file's path in brackets
  };
  const Case cases[] = {
      {"Status : Valid\r\nSignerCertificate : /CN=tessel/O=tessel\r\n", "CN=tessel", true, ""},
      // Any letter case, any spacing, on any line.
      {"status:VALID\r\nSignerCertificate : /cn=TESSEL\r\n", "CN=tessel", true, ""},
      {"SignerCertificate : /CN=tessel\r\nStatus\r\n :\tValid", "CN=tessel", true, ""},
      // The signer text is a pattern that may match across lines.
      {"Status : Valid\r\nSignerCertificate : /CN=tess\r\nel", "CN=tess.*el", true, ""},
      {"Status : NotTrusted\r\nSignerCertificate : \r\n", "CN=tessel", false,
       "File signature invalid of file not signed! [/tmp/p.deb]"},
      {"Status : HashMismatch\r\nSignerCertificate : \r\n", "CN=tessel", false,
       "File signature invalid of file not signed! [/tmp/p.deb]"},
      {"Status : Valid\r\nSignerCertificate : /CN=other/O=tessel\r\n", "CN=tessel", false,
       "File signature not containing correct signer! [/tmp/p.deb]"},
      {"", "CN=tessel", false, "File signature invalid of file not signed! [/tmp/p.deb]"},
  };
  for (const auto& [report, signer, accepted, logLine] : cases) {
    test::LogCapture log;
    EXPECT_EQ(reportShowsValidSigner(report, "/tmp/p.deb", signer), accepted) << report;
    const std::vector<std::string> expected =
        *logLine ? std::vector<std::string>{logLine} : std::vector<std::string>{};
    EXPECT_EQ(log.lines(), expected) << report;
  }
}

}  // namespace
}  // namespace vm
