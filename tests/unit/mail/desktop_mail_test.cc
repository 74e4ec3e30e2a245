#include "mail/desktop_mail.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "base/text.h"
#include "diag/log_writer.h"
#include "mail/html_to_text.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

namespace fs = std::filesystem;

const char* kSubject = "Say \"hi\" to C:\\temp\tnow";
const char* kHtml = "<p>Line \"one\" with C:\\path\\</p>second line<br>third";

std::string expectedScript() {
  return test::readFile(std::string(VELOMARK_TEST_DATA) + "/desktop_mail/script_expected.txt");
}

// A sandbox: its own TMPDIR, a PATH holding only the stand-in tools and the
// few commands they use (not the system's xdg-email), and the log switched
// on.
class DesktopMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp_ = dir_.path() + "tmp/";
    bin_ = dir_.path() + "bin/";
    tools_ = dir_.path() + "tools/";
    copies_ = dir_.path() + "copies/";
    for (const std::string& folder : {tmp_, bin_, tools_, copies_}) fs::create_directories(folder);
    for (const char* tool : {"cp", "stat", "touch"}) {
      fs::create_symlink(std::string("/bin/") + tool, tools_ + tool);
    }
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    oldTmp_ = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", tmp_.c_str(), 1);
    setenv("PATH", (bin_ + ":" + tools_).c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    if (oldTmp_.empty()) unsetenv("TMPDIR"); else setenv("TMPDIR", oldTmp_.c_str(), 1);
  }
  // A stand-in "osascript" that keeps a copy of the script, its name and
  // its mode before the hand-off deletes it.
  void installStandIn() {
    std::string path = bin_ + "osascript";
    test::writeFile(path, "#!/bin/sh\ncp \"$1\" '" + copies_ + "script'\n"
                          "stat -c %a \"$1\" > '" + copies_ + "mode'\n"
                          "printf '%s' \"$1\" > '" + copies_ + "name'\n"
                          "touch '" + copies_ + "done'\n");
    chmod(path.c_str(), 0755);
  }
  // A stand-in "xdg-email" that keeps its arguments (each ended by a NUL
  // byte) and a copy of the file it is to attach, then ends with status.
  void installXdgEmail(int status) {
    const std::string path = bin_ + "xdg-email";
    const std::string script =
        "#!/bin/sh\n"
        "printf '%s\\0' \"$@\" > 'COPIES/args'\n"
        "while [ $# -gt 0 ]; do\n"
        "  [ \"$1\" = --attach ] && cp \"$2\" 'COPIES/attached'\n"
        "  shift\n"
        "done\n"
        "exit STATUS\n";
    test::writeFile(path, replaceAll(replaceAll(script, "COPIES/", copies_), "STATUS",
                                     std::to_string(status)));
    chmod(path.c_str(), 0755);
  }
  std::vector<std::string> xdgEmailCall() const {
    std::vector<std::string> args;
    const std::string recorded = test::readFile(copies_ + "args");
    for (std::size_t pos = 0, end; (end = recorded.find('\0', pos)) != std::string::npos;
         pos = end + 1)
      args.push_back(recorded.substr(pos, end - pos));
    return args;
  }
  bool waitForCopy() {
    for (int i = 0; i < 500 && !fs::exists(copies_ + "done"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return fs::exists(copies_ + "done");
  }
  std::string log() const { return logCapture_.text(); }

  test::TempDir dir_;
  test::LogCapture logCapture_;
  std::string tmp_, bin_, tools_, copies_, oldPath_, oldTmp_;
};

TEST(DesktopMailScript, EscapingTable) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain ü", "plain ü"},
      {"\a\b\t\n\v\f\r", "\\a\\b\\t\\n\\v\\f\\r"},
      {"\"quoted\"", "\\\"quoted\\\""},
      {"C:\\dir\\", "C:\\\\dir\\\\"},
      {"'single' & <tag>", "'single' & <tag>"},
  };
  for (const auto& c : cases) EXPECT_EQ(escapeForScript(c.in), c.out) << c.in;
}

TEST(DesktopMailScript, FilledTemplateMatchesTheExpectedFileByteForByte) {
  EXPECT_EQ(desktopMailScript("a@b.example, c@d.example", "", kSubject, kHtml, ""), expectedScript());
}

TEST(DesktopMailScript, AttachmentPlaceholderStaysWithoutAFileOfAtLeastOneByte) {
  test::TempDir dir;
  const std::string empty = dir.path() + "empty.bin";
  const std::string full = dir.path() + "my \"file\".pdf";
  test::writeFile(empty, "");
  test::writeFile(full, "x");
  const std::string placeholderLine = "with properties {file name:\"<ATTACHMENT>\"} \xC2\xAC\n";
  for (const std::string& path : {std::string(), empty, dir.path() + "missing.pdf", dir.path()}) {
    EXPECT_NE(desktopMailScript("a@b", "", "s", "", path).find(placeholderLine), std::string::npos)
        << path;
  }
  std::string withFile = desktopMailScript("a@b", "", "s", "", full);
  EXPECT_EQ(withFile.find("<ATTACHMENT>"), std::string::npos);
  EXPECT_NE(withFile.find("{file name:\"" + dir.path() + "my \\\"file\\\".pdf\"}"), std::string::npos);
}

TEST(DesktopMailScript, ValuesHoldingPlaceholderTextAreNotFilledAgain) {
  std::string script = desktopMailScript("<CC>", "", "<BODY>", "<p>&lt;SUBJECT&gt;</p>", "");
  EXPECT_NE(script.find("{address:\"<CC>\"}"), std::string::npos);
  EXPECT_NE(script.find("{address:\"\"}"), std::string::npos);
  EXPECT_NE(script.find("set the subject to \"<BODY>\""), std::string::npos);
  EXPECT_NE(script.find("set content to \"<SUBJECT>\\r\\n\\n\\n\\n\""), std::string::npos);
}

TEST(DesktopMailNames, RandomAlnumGivesFreshLettersAndDigits) {
  const std::regex shape("[A-Za-z0-9]{4}");
  std::string first = randomAlnum(4);
  bool differs = false;
  for (int i = 0; i < 50; ++i) {
    std::string s = randomAlnum(4);
    EXPECT_TRUE(std::regex_match(s, shape)) << s;
    differs = differs || s != first;
  }
  EXPECT_TRUE(differs);
  EXPECT_EQ(randomAlnum(0), "");
}

TEST_F(DesktopMailTest, WriteScriptFileCreatesAPrivateFileWithBom) {
  const std::string path = tmp_ + "s.scpt";
  ASSERT_TRUE(writeScriptFile(path, "tell\n"));
  EXPECT_EQ(test::readFile(path), "\xEF\xBB\xBFtell\n");
  struct stat st{};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(DesktopMailTest, WriteScriptFileNeverWritesThroughAnExistingFileOrLink) {
  const std::string existing = tmp_ + "planted.scpt";
  test::writeFile(existing, "do shell script \"evil\"");
  const std::string target = tmp_ + "target";
  test::writeFile(target, "keep");
  const std::string link = tmp_ + "link.scpt";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);

  EXPECT_FALSE(writeScriptFile(existing, "tell"));
  EXPECT_FALSE(writeScriptFile(link, "tell"));
  EXPECT_EQ(test::readFile(existing), "do shell script \"evil\"");
  EXPECT_EQ(test::readFile(target), "keep");
  EXPECT_EQ(log(), "Unable To open file [" + existing + "] for read/write access!\r\n"
                   "Unable To open file [" + link + "] for read/write access!\r\n");
}

TEST_F(DesktopMailTest, WithoutOsascriptTheScriptHandOffFailsAndLeavesNoScript) {
  Status handedOff = sendWithDesktopMail("a@b.example", "", "s", "<p>x</p>", "");
  ASSERT_FALSE(handedOff);
  EXPECT_EQ(log(), "");
  std::smatch m;
  const std::string message = handedOff.message();
  ASSERT_TRUE(std::regex_match(message, m,
                               std::regex("Execution of 'osascript' failed\\. Params: ' "
                                          "\"(.*sendMacMail_[A-Za-z0-9]{4}\\.scpt)\"'")))
      << message;
  EXPECT_EQ(m[1].str().rfind(tmp_, 0), 0u);
  // Nothing would ever read the script, and it holds the message.
  EXPECT_FALSE(fs::exists(m[1].str()));
}

TEST(XdgEmailArguments, EachRecipientIsAToValue) {
  const struct {
    std::string recipients, subject, body, attachment;
    std::vector<std::string> args;
  } cases[] = {
      {"a@x.org; b@y.org",
       "Hi",
       "Body\r\n",
       "/tmp/r.pdf",
       {"--utf8", "--subject", "Hi", "--body", "Body\r\n", "--attach", "/tmp/r.pdf", "--to",
        "a@x.org", "--to", "b@y.org"}},
      // No option with an empty value, which xdg-email refuses.
      {"a@x.org", "", "", "", {"--utf8", "--to", "a@x.org"}},
      // Recipient texts that xdg-email would read as an option or as a whole
      // mailto: address with fields of its own stay values of --to.
      {"--help, mailto:a@x.org?attach=/etc/shadow",
       "s",
       "",
       "",
       {"--utf8", "--subject", "s", "--to", "--help", "--to", "mailto:a@x.org?attach=/etc/shadow"}},
      {";,", "s", "", "", {"--utf8", "--subject", "s"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(xdgEmailArguments(c.recipients, c.subject, c.body, c.attachment), c.args)
        << c.recipients;
}

TEST_F(DesktopMailTest, WithoutOsascriptTheMailProgramGetsTheMessageThroughXdgEmail) {
  installXdgEmail(0);
  std::vector<std::string> tempFiles;
  Status handedOff = sendMailToDesktop("a@b.example; c@d.example", "Report", kHtml, "report.pdf",
                                       std::string("%PDF\0bytes", 10), tempFiles);
  EXPECT_TRUE(handedOff) << handedOff.message();
  const std::string path = tmp_ + "report.pdf";
  EXPECT_EQ(tempFiles, std::vector<std::string>{path});
  EXPECT_EQ(xdgEmailCall(), (std::vector<std::string>{"--utf8", "--subject", "Report", "--body",
                                                      htmlToText(kHtml), "--attach", path, "--to",
                                                      "a@b.example", "--to", "c@d.example"}));
  // The attachment was in place, private, while the mail program took it.
  EXPECT_EQ(test::readFile(copies_ + "attached"), std::string("%PDF\0bytes", 10));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(log(), "");
}

TEST_F(DesktopMailTest, AMailProgramThatCannotBeOpenedIsAFailure) {
  std::vector<std::string> tempFiles;
  Status missing = sendMailToDesktop("a@b.example", "s", "<p>x</p>", "", std::nullopt, tempFiles);
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.message().starts_with("xdg-email could not be started: "))
      << missing.message();

  installXdgEmail(3);
  Status failed = sendMailToDesktop("a@b.example", "s", "<p>x</p>", "", std::nullopt, tempFiles);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.message(), "xdg-email ended with exit status 3");
  EXPECT_EQ(log(),
            "ERROR: Failed to open the mail program: " + missing.message() +
                "\r\n"
                "ERROR: Failed to open the mail program: xdg-email ended with exit status 3\r\n");
}

TEST_F(DesktopMailTest, StandInOsascriptRunsTheScriptWhichIsDeletedAfterTheWait) {
  installStandIn();
  EXPECT_TRUE(sendWithDesktopMail("a@b.example, c@d.example", "", kSubject, kHtml, ""));
  ASSERT_TRUE(waitForCopy());
  EXPECT_EQ(test::readFile(copies_ + "script"), "\xEF\xBB\xBF" + expectedScript());
  EXPECT_EQ(test::readFile(copies_ + "mode"), "600\n");
  std::string name = test::readFile(copies_ + "name");
  EXPECT_TRUE(std::regex_match(name, std::regex(tmp_ + "sendMacMail_[A-Za-z0-9]{4}\\.scpt"))) << name;
  EXPECT_FALSE(fs::exists(name));
  EXPECT_EQ(log(), "");
}

TEST_F(DesktopMailTest, SendMailDesktopPathWritesAndRegistersTheAttachment) {
  installStandIn();
  // Where osascript is found, the script hand-off runs, not xdg-email.
  installXdgEmail(0);
  std::vector<std::string> tempFiles{"/earlier/file"};
  EXPECT_TRUE(sendMailToDesktop("a@b.example", "Report", "<p>See attached</p>", "report.pdf",
                                std::string("%PDF\0bytes", 10), tempFiles));
  EXPECT_FALSE(fs::exists(copies_ + "args"));
  const std::string path = tmp_ + "report.pdf";
  ASSERT_EQ(tempFiles, (std::vector<std::string>{"/earlier/file", path}));
  EXPECT_EQ(test::readFile(path), std::string("%PDF\0bytes", 10));
  ASSERT_TRUE(waitForCopy());
  EXPECT_NE(test::readFile(copies_ + "script").find("{file name:\"" + path + "\"}"),
            std::string::npos);
}

TEST_F(DesktopMailTest, SendMailDesktopPathWithoutUsableAttachment) {
  // Neither osascript nor xdg-email here: only what is written and
  // registered matters.
  std::vector<std::string> tempFiles;
  EXPECT_FALSE(sendMailToDesktop("a@b.example", "s", "<p>x</p>", "", std::nullopt, tempFiles));
  EXPECT_TRUE(tempFiles.empty());
  // An empty name would make the temporary folder itself the "file".
  EXPECT_FALSE(
      sendMailToDesktop("a@b.example", "s", "<p>x</p>", "", std::string("data"), tempFiles));
  EXPECT_TRUE(tempFiles.empty());
  // An empty attachment is written and registered, but not attached.
  EXPECT_FALSE(
      sendMailToDesktop("a@b.example", "s", "<p>x</p>", "empty.txt", std::string(), tempFiles));
  EXPECT_EQ(tempFiles, std::vector<std::string>{tmp_ + "empty.txt"});
  EXPECT_EQ(fs::file_size(tmp_ + "empty.txt"), 0u);
}

}  // namespace
}  // namespace vm
