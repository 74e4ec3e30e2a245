#include "diag/log_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diag/log_writer.h"
#include "support/recording_dialogs.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

using test::readFile;

const char* kBanner = "------------------ Start local logging ------------------\r\n";

class LogTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string path = dir.path() + "velomark_log.txt";
  LogWriter log;
  test::RecordingDialogs dialogs;

  void SetUp() override { log.setPath(path); }
  std::string enabledLine() { return "Enabled local debug writing to [" + path + "]\r\n"; }
};

TEST_F(LogTest, OffWritesNothingAndCreatesNoFile) {
  log.write("lost");
  EXPECT_EQ(access(path.c_str(), F_OK), -1);
}

TEST_F(LogTest, EnableTwiceOpensOnceAndLinesAreExact) {
  enableLogCommand(log, dialogs, "[ true ]");
  enableLogCommand(log, dialogs, "[true]");
  sendLogEntryCommand(log, R"(["line\nwith break"])");
  sendLogEntryCommand(log, "[42]");
  sendLogEntryCommand(log, "[]");
  enableLogCommand(log, dialogs, R"(["true"])");
  enableLogCommand(log, dialogs, "[false]");
  EXPECT_EQ(readFile(path), std::string(kBanner) + enabledLine() + enabledLine() +
                                "WV-line\nwith break\r\n"
                                "WV-\r\n"
                                "ERROR: sendLog had wrong parameter count!\r\n"
                                "Disabled local debug writing\r\n");
  EXPECT_FALSE(log.isOn());
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LogTest, ContinuesExistingFileWithoutBom) {
  test::writeFile(path, "old line\r\n");
  enableLogCommand(log, dialogs, "[true]");
  EXPECT_EQ(readFile(path), "old line\r\n" + std::string(kBanner) + enabledLine());
}

TEST_F(LogTest, AppendsAtTheCurrentEndAfterAnotherWriterShortenedTheFile) {
  enableLogCommand(log, dialogs, "[true]");
  truncate(path.c_str(), 0);
  log.write("after");
  EXPECT_EQ(readFile(path), "after\r\n");
}

TEST_F(LogTest, UnopenableFileShowsBoxAndStaysOff) {
  log.setPath(dir.path() + "missing-folder/log.txt");
  enableLogCommand(log, dialogs, "[true]");
  EXPECT_FALSE(log.isOn());
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], "Unable to write logfile to [" + dir.path() + "missing-folder/log.txt]!");
}

TEST_F(LogTest, RefusesSymbolicLinkAndOtherUsersFile) {
  std::string target = dir.path() + "target";
  test::writeFile(target, "precious");
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
  enableLogCommand(log, dialogs, "[true]");
  EXPECT_FALSE(log.isOn());
  EXPECT_EQ(readFile(target), "precious");
  EXPECT_EQ(dialogs.errors.size(), 1u);
  if (geteuid() == 0) {
    unlink(path.c_str());
    test::writeFile(path, "theirs");
    ASSERT_EQ(chown(path.c_str(), 12345, 12345), 0);
    enableLogCommand(log, dialogs, "[true]");
    EXPECT_FALSE(log.isOn());
    EXPECT_EQ(readFile(path), "theirs");
  }
}

TEST_F(LogTest, EnableWithWrongCountIsLoggedWhenOn) {
  enableLogCommand(log, dialogs, "[true]");
  enableLogCommand(log, dialogs, "[true, false]");
  EXPECT_TRUE(log.isOn());
  EXPECT_EQ(readFile(path), std::string(kBanner) + enabledLine() +
                                "ERROR: enableLog had wrong parameter count!\r\n");
}

TEST_F(LogTest, SendLogWithoutFileShowsBox) {
  sendLogCommand(log, dialogs, "[]");
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0],
            "No logfile available.\r\n\r\nActivate logging, reproduce the problem and then try to "
            "send it.");
}

TEST_F(LogTest, SendLogWhileOnAndCancelled) {
  enableLogCommand(log, dialogs, "[true]");
  sendLogCommand(log, dialogs, "[]");
  EXPECT_TRUE(log.isOn());
  EXPECT_EQ(readFile(path), std::string(kBanner) + enabledLine() +
                                "Disable logging in order to send it\r\n"
                                "Disabled local debug writing\r\n" +
                                kBanner + enabledLine() + "Re-enabled logging after saving\r\n");
}

TEST_F(LogTest, SendLogWhileOnSavesAndStartsAnewReplacingReadOnlyTarget) {
  std::string saved = dir.path() + "saved.txt";
  test::writeFile(saved, "old");
  chmod(saved.c_str(), 0444);
  // A second name of the old file: a replaced file keeps its content there,
  // while a file written over in place (which root could do despite the
  // missing write bit) would not.
  std::string secondName = dir.path() + "second-name.txt";
  ASSERT_EQ(link(saved.c_str(), secondName.c_str()), 0);
  enableLogCommand(log, dialogs, "[true]");
  dialogs.saveAnswers.push_back(saved);
  sendLogCommand(log, dialogs, "[]");
  EXPECT_EQ(readFile(saved), std::string(kBanner) + enabledLine() +
                                 "Disable logging in order to send it\r\n"
                                 "Disabled local debug writing\r\n");
  EXPECT_EQ(readFile(path), std::string(kBanner) + enabledLine() + "Re-enabled logging after saving\r\n");
  EXPECT_EQ(readFile(secondName), "old");
  struct stat st;
  ASSERT_EQ(stat(saved.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(LogTest, SendLogOffersTheSaveDialogWithItsTitleNameAndFilters) {
  test::writeFile(path, "x\r\n");
  sendLogCommand(log, dialogs, "[]");
  ASSERT_EQ(dialogs.saveCalls.size(), 1u);
  const auto& call = dialogs.saveCalls[0];
  EXPECT_EQ(call.title, "velomark");
  EXPECT_EQ(call.proposedName, "velomark_logfile.txt");
  ASSERT_EQ(call.filters.size(), 2u);
  EXPECT_EQ(call.filters[0].description, "Text (*.txt,*.log)");
  EXPECT_EQ(call.filters[0].patterns, "*.txt;*.log");
  EXPECT_EQ(call.filters[1].description, "All files (*.*)");
  EXPECT_EQ(call.filters[1].patterns, "*.*");
  // Cancelled: the log stays.
  EXPECT_EQ(readFile(path), "x\r\n");
}

TEST_F(LogTest, SendLogWhileOffSavesAndDeletes) {
  test::writeFile(path, "earlier run\r\n");
  std::string saved = dir.path() + "saved.txt";
  dialogs.saveAnswers.push_back(saved);
  sendLogCommand(log, dialogs, "[]");
  EXPECT_EQ(readFile(saved), "earlier run\r\n");
  EXPECT_EQ(access(path.c_str(), F_OK), -1);
  EXPECT_FALSE(log.isOn());
}

TEST_F(LogTest, SendLogCopyFailureKeepsTheLog) {
  // Both fail for root as well: no folder, and a parent that is a file.
  test::writeFile(dir.path() + "plain-file", "");
  for (const std::string& bad : {dir.path() + "no-folder/saved.txt", dir.path() + "plain-file/saved.txt"}) {
    SCOPED_TRACE(bad);
    test::writeFile(path, "keep\r\n");
    dialogs.errors.clear();
    dialogs.saveAnswers.push_back(bad);
    sendLogCommand(log, dialogs, "[]");
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_EQ(dialogs.errors[0], "Saving file [" + bad + "] failed!");
    EXPECT_EQ(readFile(path), "keep\r\n");
  }
}

}  // namespace
}  // namespace vm
