#include "files/file_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "base/base64.h"
#include "diag/log_writer.h"
#include "files/file_io.h"
#include "support/log_capture.h"
#include "support/recording_dialogs.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

using test::readFile;
using test::writeFile;

class FilesTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string logPath = dir.path() + "log.txt";
  test::RecordingDialogs dialogs;
  std::vector<std::string> scripts, opened, tempFiles;
  ScriptRunner runScript = [this](const std::string& s) { scripts.push_back(s); };
  SystemOpener open = [this](const std::string& t) { opened.push_back(t); };

  test::LogCapture logCapture{logPath};
  std::string logged() { return readFile(logPath); }
  std::string makeFile(const std::string& name, std::size_t size, char fill = 'x') {
    std::string path = dir.path() + name;
    writeFile(path, std::string(size, fill));
    return path;
  }
};

TEST_F(FilesTest, AttachDeliversFilesAroundOneAboveTheLimit) {
  std::string first = makeFile("first.txt", 3, 'a');
  std::string huge = makeFile("huge.bin", kAttachLimitBytes + 1);
  std::string exact = makeFile("exact.bin", kAttachLimitBytes);
  std::string empty = makeFile("empty.txt", 0);
  dialogs.openAnswers.push_back({first, huge, exact, empty});
  EXPECT_EQ(attachFilesCommand(dialogs, runScript, R"(["Attach"])"), std::nullopt);
  ASSERT_EQ(scripts.size(), 2u);
  EXPECT_EQ(scripts[0], R"(attachFileResolve("first.txt", "YWFh");)");
  EXPECT_EQ(scripts[1].size(), std::string("attachFileResolve(\"exact.bin\", \"\");").size() +
                                   base64Encode(std::string(kAttachLimitBytes, 'x')).size());
  EXPECT_EQ(dialogs.errors, std::vector<std::string>{"You are not allowed to attach files bigger than 20MB!"});
  EXPECT_EQ(logged(), "Skippinmg file because it is > 20MB [huge.bin]\r\n"
                      "ERROR: Unable to read data from file [" + empty + "] - 0 Bytes read\r\n"
                      "ERROR: Failed to read/attach file [empty.txt]\r\n");
}

TEST_F(FilesTest, AttachedNameWithQuotesAndBackslashesStaysInsideItsLiteral) {
  std::string path = makeFile("say \"hi\" 'x'.txt", 1, 'z');
  dialogs.openAnswers.push_back({path});
  attachFilesCommand(dialogs, runScript, R"(["t"])");
  ASSERT_EQ(scripts.size(), 1u);
  EXPECT_EQ(scripts[0], R"(attachFileResolve("say \"hi\" 'x'.txt", "eg==");)");
}

TEST_F(FilesTest, AttachCancelledOrWrongCount) {
  attachFilesCommand(dialogs, runScript, R"(["t"])");
  attachFilesCommand(dialogs, runScript, R"([])");
  EXPECT_TRUE(scripts.empty());
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(logged(), "ERROR: attachFiles had wrong parameter count!\r\n");
}

TEST_F(FilesTest, OpenFileWritesOnlyTheNamePartPrivatelyAndOpensIt) {
  std::string tmp = dir.path();
  openFileCommand(dialogs, open, tempFiles, tmp, R"(["../../etc\\evil/report.pdf", "YWJj"])");
  std::string path = tmp + "report.pdf";
  EXPECT_EQ(readFile(path), "abc");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(tempFiles, std::vector<std::string>{path});
  EXPECT_EQ(opened, std::vector<std::string>{path});
  EXPECT_EQ(logged(), "openB64File attachment size 3 bytes\r\nopenB64File running [" + path + "]\r\n");

  openFileCommand(dialogs, open, tempFiles, tmp, R"(["report.pdf", "eA=="])");
  EXPECT_EQ(readFile(path), "x");
}

TEST_F(FilesTest, OpenFileNeverFollowsASymbolicLink) {
  std::string target = makeFile("precious", 8, 'p');
  std::string tmp = dir.path() + "t/";
  mkdir(tmp.c_str(), 0700);
  ASSERT_EQ(symlink(target.c_str(), (tmp + "a.txt").c_str()), 0);
  openFileCommand(dialogs, open, tempFiles, tmp, R"(["a.txt", "YWJj"])");
  EXPECT_EQ(readFile(target), "pppppppp");
  EXPECT_EQ(readFile(tmp + "a.txt"), "abc");
}

TEST_F(FilesTest, OpenFileRefusesBadArguments) {
  // A NUL byte would cut the name short (and reach the log raw); a line
  // break, also one in a folder part, is no part of a name to open.
  const char* cases[] = {R"(["a"])",
                         R"(["", "YWJj"])",
                         R"(["a", ""])",
                         R"(["dir/", "YWJj"])",
                         R"(["..", "YWJj"])",
                         R"(["a\u0000b.txt", "YWJj"])",
                         R"(["a.txt\n", "YWJj"])",
                         R"(["x\r\ny/a.txt", "YWJj"])"};
  for (const char* args : cases) openFileCommand(dialogs, open, tempFiles, dir.path(), args);
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(tempFiles.empty());
  std::string refused;
  for (int i = 1; i < 8; ++i) refused += "ERROR: openB64File had invalid/empty parameters!\r\n";
  EXPECT_EQ(logged(), "ERROR: openB64File had wrong parameter count!\r\n" + refused);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "a"));
}

// What another user or program left under a name in the shared folder is
// neither deleted nor written through: the file goes beside it.
TEST_F(FilesTest, OpenFileGoesBesideAFifoOrAnotherUsersFile) {
  std::string tmp = dir.path() + "t/";
  mkdir(tmp.c_str(), 01777);
  ASSERT_EQ(mkfifo((tmp + "pipe.txt").c_str(), 0666), 0);
  std::vector<std::pair<std::string, std::string>> names{{"pipe.txt", "pipe-"}};
  if (geteuid() == 0) {
    writeFile(tmp + "theirs.pdf", "their content");
    ASSERT_EQ(chown((tmp + "theirs.pdf").c_str(), 65534, 65534), 0);
    ASSERT_EQ(symlink("/etc/passwd", (tmp + "link.cfg").c_str()), 0);
    ASSERT_EQ(lchown((tmp + "link.cfg").c_str(), 65534, 65534), 0);
    names.insert(names.end(), {{"theirs.pdf", "theirs-"}, {"link.cfg", "link-"}});
  } else {
    ADD_FAILURE() << "making another user's file needs root; only the FIFO was tried";
  }
  for (const auto& [name, stem] : names) {
    opened.clear();
    openFileCommand(dialogs, open, tempFiles, tmp, "[\"" + name + "\", \"YWJj\"]");
    ASSERT_EQ(opened.size(), 1u) << name;
    const std::string path = opened[0];
    const std::string extension = name.substr(name.rfind('.'));
    EXPECT_TRUE(std::regex_match(path, std::regex(tmp + stem + "[A-Za-z0-9]{6}\\" + extension)))
        << path;
    EXPECT_EQ(readFile(path), "abc");
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(tempFiles.back(), path);
  }
  struct stat st;
  ASSERT_EQ(lstat((tmp + "pipe.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  if (geteuid() == 0) {
    EXPECT_EQ(readFile(tmp + "theirs.pdf"), "their content");
    ASSERT_EQ(lstat((tmp + "link.cfg").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
  }
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(FilesTest, OpenFileThatCannotReplaceWhatIsThereShowsBox) {
  std::string tmp = dir.path();
  mkdir((tmp + "b.txt").c_str(), 0700);
  writeFile(tmp + "b.txt/inner", "x");
  openFileCommand(dialogs, open, tempFiles, tmp, R"(["b.txt", "YWJj"])");
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], "Failed to delete existing temporary file " + tmp + "b.txt. Cannot save!");
  EXPECT_EQ(readFile(tmp + "b.txt/inner"), "x");
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(tempFiles.empty());
}

TEST_F(FilesTest, WriteWholeFileReplacesLongerContent) {
  std::string path = makeFile("w.txt", 100);
  ASSERT_TRUE(writeWholeFile(path, "short", 5));
  EXPECT_EQ(readFile(path), "short");
  EXPECT_FALSE(writeWholeFile(dir.path() + "missing/x", "a", 1));
  EXPECT_EQ(logged(), "Unable to open new file [" + dir.path() + "missing/x]\r\n");
}

TEST_F(FilesTest, RequestDataHandsTheFileOverOnce) {
  std::string file = makeFile("m.tsf", 3, 'a');
  std::string toOpen = file;
  EXPECT_EQ(requestDataCommand(toOpen), "\"YWFh\"");
  EXPECT_EQ(requestDataCommand(toOpen), "\"\"");
  std::string none;
  EXPECT_EQ(requestDataCommand(none), "\"\"");

  std::string gone = dir.path() + "gone.tsf";
  EXPECT_EQ(requestDataCommand(gone), "\"\"");
  EXPECT_EQ(requestDataCommand(gone), "\"\"");
  EXPECT_EQ(logged(), "ERROR: Unable to open/access file [" + dir.path() + "gone.tsf]\r\n"
                      "ERROR: Failed to read file [" + dir.path() + "gone.tsf]\r\n");
}

TEST_F(FilesTest, RequestDataEscapesBase64Slashes) {
  std::string file = dir.path() + "s.tsf";
  writeFile(file, "\xff\xfe?");
  EXPECT_EQ(requestDataCommand(file), R"("\/\/4\/")");
}

}  // namespace
}  // namespace vm
