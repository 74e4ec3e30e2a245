#include "platform/file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "support/temp_dir.h"

namespace vm {
namespace {

using test::writeFile;

std::set<std::string> namesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

mode_t permissionsOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 0777;
}

// A disk that fills up after a few bytes: writes to regular files beyond the
// limit fail with EFBIG (the signal that would end the process is ignored).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, savedHandler_);
  }

 private:
  rlimit saved_{};
  void (*savedHandler_)(int) = nullptr;
};

class FileTest : public ::testing::Test {
 protected:
  test::TempDir dir;
};

TEST_F(FileTest, DescriptorIsClosedOnceByItsLastOwner) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  FileDescriptor writeEnd(ends[1]);
  {
    FileDescriptor first(ends[0]);
    FileDescriptor second(std::move(first));
    EXPECT_FALSE(first.isOpen());
    FileDescriptor third;
    third = std::move(second);
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(third.get(), ends[0]);
    EXPECT_NE(fcntl(ends[0], F_GETFD), -1);  // still open here
  }
  EXPECT_EQ(fcntl(ends[0], F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_TRUE(writeEnd.close().ok());
  EXPECT_FALSE(writeEnd.isOpen());
  EXPECT_TRUE(writeEnd.close().ok());  // nothing left to close
}

TEST_F(FileTest, CloseReportsWhyItFailed) {
  FileDescriptor notOpen(1 << 20);
  Status closed = notOpen.close();
  ASSERT_FALSE(closed.ok());
  EXPECT_EQ(closed.failure().code, EBADF);
  EXPECT_EQ(closed.message(), "close: Bad file descriptor");
  EXPECT_FALSE(notOpen.isOpen());
}

TEST_F(FileTest, PipeCarriesMoreThanItHoldsAtOnce) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  FileDescriptor readEnd(ends[0]);
  std::string data(1 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  Status written;
  std::thread writer([&] {
    FileDescriptor writeEnd(ends[1]);
    written = writeAll(writeEnd.get(), data);
  });
  Result<std::string> read = readAll(readEnd.get());
  writer.join();
  EXPECT_TRUE(written.ok());
  ASSERT_TRUE(read.ok()) << read.message();
  EXPECT_EQ(*read, data);
}

TEST_F(FileTest, WriteAllCountsWhatWentOutBeforeAFailure) {
  const std::string path = dir.path() + "full.bin";
  Result<FileDescriptor> file = openFile(path, O_WRONLY | O_CREAT, 0600);
  ASSERT_TRUE(file.ok());
  EXPECT_EQ(fcntl(file->get(), F_GETFD), FD_CLOEXEC);  // no started program inherits it
  std::size_t written = 0;
  Status status;
  {
    FileSizeLimit limit(10);
    status = writeAll(file->get(), std::string(100, 'x'), &written);
  }
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.failure().code, EFBIG);
  EXPECT_EQ(written, 10u);
  EXPECT_EQ(test::readFile(path), std::string(10, 'x'));
}

TEST_F(FileTest, ReadFileHonoursTheSizeCap) {
  const std::string path = dir.path() + "capped.txt";
  writeFile(path, std::string(1000, 'c'));
  Result<std::string> atCap = readFile(path, {.maxBytes = 1000});
  ASSERT_TRUE(atCap.ok());
  EXPECT_EQ(atCap->size(), 1000u);
  Result<std::string> overCap = readFile(path, {.maxBytes = 999});
  ASSERT_FALSE(overCap.ok());
  EXPECT_EQ(overCap.failure().code, EFBIG);

  // A pipe has no size up front: the cap stops the reading itself.
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  FileDescriptor readEnd(ends[0]);
  {
    FileDescriptor writeEnd(ends[1]);
    ASSERT_TRUE(writeAll(writeEnd.get(), "0123456789").ok());
  }
  Result<std::string> fromPipe = readAll(readEnd.get(), 9);
  ASSERT_FALSE(fromPipe.ok());
  EXPECT_EQ(fromPipe.failure().code, EFBIG);
}

TEST_F(FileTest, ReadFileOfRegularFilesOnlyRefusesOthersWithoutBlocking) {
  const std::string fifo = dir.path() + "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = dir.path() + "folder";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const std::string& path : {fifo, folder}) {
    SCOPED_TRACE(path);
    // No writer ever opens the FIFO: a blocking open would wait here for good.
    Result<std::string> read = readFile(path, {.regularFileOnly = true});
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.failure().code, EINVAL);
    EXPECT_EQ(read.message(), path + ": not a regular file");
  }
  Result<std::string> missing = readFile(dir.path() + "missing");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.failure().code, ENOENT);
  EXPECT_EQ(missing.message(), "open " + dir.path() + "missing: No such file or directory");
}

TEST_F(FileTest, ReplaceFileAtomicallyReplacesTheWholeContent) {
  const std::string path = dir.path() + "prefs.ini";
  writeFile(path, std::string(5000, 'o'));
  ASSERT_TRUE(replaceFileAtomically(path, "new").ok());
  EXPECT_EQ(test::readFile(path), "new");
  EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"prefs.ini"});
}

TEST_F(FileTest, FailedReplaceKeepsTheOldFileAndLeavesNothingBeside) {
  const std::string file = dir.path() + "prefs.ini";
  const std::string folder = dir.path() + "folder";
  struct Case {
    const char* name;
    std::string path;
    int code;
    rlim_t sizeLimit;
  };
  const Case cases[] = {
      // Fails at the first step, for root as well.
      {"parent is a regular file", file + "/child.ini", ENOTDIR, RLIM_INFINITY},
      {"disk full while writing", file, EFBIG, 100},
      {"a folder in the way of the rename", folder, EISDIR, RLIM_INFINITY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(file, "old content");
    std::filesystem::create_directories(folder + "/inside");
    const std::set<std::string> before = namesIn(dir.path());
    Status status;
    {
      FileSizeLimit limit(c.sizeLimit);
      status = replaceFileAtomically(c.path, std::string(1000, 'n'));
    }
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.failure().code, c.code) << status.message();
    EXPECT_EQ(test::readFile(file), "old content");
    EXPECT_EQ(namesIn(dir.path()), before);
    EXPECT_EQ(namesIn(folder), std::set<std::string>{"inside"});
  }
}

TEST_F(FileTest, LockFileWaitsForAnotherProcessAndRefusesPlantedNames) {
  const std::string lock = dir.path() + "prefs.ini.lock";
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    Result<FileDescriptor> held = lockFile(lock, 1000);
    char byte = held.ok() ? 'y' : 'n';
    (void)!::write(ready[1], &byte, 1);
    (void)!::read(release[0], &byte, 1);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  Result<FileDescriptor> busy = lockFile(lock, 50);
  ASSERT_FALSE(busy.ok());
  EXPECT_EQ(busy.failure().code, EWOULDBLOCK);
  // Released while this process waits: the wait ends with the lock.
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    (void)!::write(release[1], "x", 1);
  });
  Result<FileDescriptor> got = lockFile(lock, 5000);
  releaser.join();
  int status = 0;
  waitpid(holder, &status, 0);
  EXPECT_TRUE(got.ok()) << got.message();
  EXPECT_EQ(permissionsOf(lock), 0600u);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);

  const std::string planted = dir.path() + "planted.lock";
  ASSERT_EQ(symlink((dir.path() + "elsewhere").c_str(), planted.c_str()), 0);
  Result<FileDescriptor> refused = lockFile(planted, 50);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.failure().code, ELOOP);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "elsewhere"));
}

TEST_F(FileTest, MayChangeFileRefusesFilesWithoutTheOwnersWriteBitAlsoForRoot) {
  const std::string path = dir.path() + "prefs.ini";
  writeFile(path, "x");
  EXPECT_TRUE(mayChangeFile(path).ok());
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  Status readOnly = mayChangeFile(path);
  ASSERT_FALSE(readOnly.ok());
  EXPECT_EQ(readOnly.failure().code, EACCES) << readOnly.message();
  Status missing = mayChangeFile(dir.path() + "missing");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.failure().code, ENOENT);
}

TEST_F(FileTest, PrivateFolderIsTheUsersOwnAndNeverReachedThroughALink) {
  const std::string path = dir.path() + "WebView2_Cache";
  const std::string elsewhere = dir.path() + "elsewhere";
  struct Case {
    const char* name;
    std::function<void()> plant;
    int code;  // 0: usable
    bool needsRoot = false;
  };
  const Case cases[] = {
      {"nothing there", [] {}, 0},
      {"a folder of ours open to everyone",
       [&] {
         ASSERT_EQ(mkdir(path.c_str(), 0777), 0);
         ASSERT_EQ(chmod(path.c_str(), 0777), 0);
         writeFile(path + "/cached", "kept");
       },
       0},
      {"symbolic link to a folder",
       [&] { ASSERT_EQ(symlink(elsewhere.c_str(), path.c_str()), 0); }, ELOOP},
      {"symbolic link to nothing",
       [&] { ASSERT_EQ(symlink((dir.path() + "nothing").c_str(), path.c_str()), 0); }, ELOOP},
      {"a file", [&] { writeFile(path, "x"); }, ENOTDIR},
      {"another user's folder",
       [&] {
         ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
         ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
       },
       EACCES, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && geteuid() != 0) continue;
    std::filesystem::remove_all(path);
    std::filesystem::remove_all(elsewhere);
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
    c.plant();
    const mode_t plantedMode = [&] {
      struct stat st;
      return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
    }();
    Status made = makePrivateFolder(path);
    EXPECT_EQ(made.ok() ? 0 : made.failure().code, c.code) << (made.ok() ? "" : made.message());
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    if (c.code == 0) {
      EXPECT_TRUE(S_ISDIR(st.st_mode));
      EXPECT_EQ(st.st_mode & 07777, 0700u);
      EXPECT_EQ(st.st_uid, geteuid());
      if (plantedMode) {
        EXPECT_EQ(test::readFile(path + "/cached"), "kept");
      }
    } else {
      EXPECT_EQ(st.st_mode, plantedMode);  // left as it was
    }
    EXPECT_EQ(permissionsOf(elsewhere), 0755u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "nothing"));
  }

  Result<std::string> first = makeUniquePrivateFolder(path + ".");
  Result<std::string> second = makeUniquePrivateFolder(path + ".");
  ASSERT_TRUE(first.ok() && second.ok());
  EXPECT_NE(*first, *second);
  EXPECT_EQ(first->substr(0, path.size() + 1), path + ".");
  EXPECT_EQ(permissionsOf(*first), 0700u);
}

TEST_F(FileTest, PrivateFileModes) {
  const std::string path = dir.path() + "velomark_log.txt";
  Result<FileDescriptor> created = openPrivateFile(path, PrivateOpen::Exclusive);
  ASSERT_TRUE(created.ok()) << created.message();
  EXPECT_EQ(permissionsOf(path), 0600u);
  ASSERT_TRUE(writeAll(created->get(), "first\n").ok());
  created->reset();

  Result<FileDescriptor> again = openPrivateFile(path, PrivateOpen::Exclusive);
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.failure().code, EEXIST);

  Result<FileDescriptor> appended = openPrivateFile(path, PrivateOpen::Append);
  ASSERT_TRUE(appended.ok());
  ASSERT_GE(lseek(appended->get(), 0, SEEK_END), 0);
  ASSERT_TRUE(writeAll(appended->get(), "second\n").ok());
  EXPECT_EQ(test::readFile(path), "first\nsecond\n");

  ASSERT_TRUE(openPrivateFile(path, PrivateOpen::Truncate).ok());
  EXPECT_EQ(test::readFile(path), "");
}

// What someone else can place under the name of a file the client creates
// in a shared folder: every mode refuses it and nothing reaches it.
TEST_F(FileTest, PrivateFileRefusesWhatIsNotAFileOfOurs) {
  const std::string target = dir.path() + "precious";
  const std::string path = dir.path() + "planted";
  struct Case {
    const char* name;
    std::function<void()> plant;
    int code;                // for Append and Truncate; Exclusive always finds the name taken
    bool needsRoot = false;  // to give a file away
  };
  const Case cases[] = {
      {"symbolic link to a file", [&] { ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0); },
       ELOOP},
      {"symbolic link to nothing yet",
       [&] { ASSERT_EQ(symlink((dir.path() + "later").c_str(), path.c_str()), 0); }, ELOOP},
      {"FIFO", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0666), 0); }, EACCES},
      {"folder", [&] { ASSERT_EQ(mkdir(path.c_str(), 0777), 0); }, EISDIR},
      {"another user's file",
       [&] {
         writeFile(path, "theirs");
         ASSERT_EQ(chmod(path.c_str(), 0666), 0);
         ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);  // nobody
       },
       EACCES, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && geteuid() != 0) continue;
    std::filesystem::remove_all(path);
    writeFile(target, "precious");
    c.plant();
    for (PrivateOpen mode : {PrivateOpen::Append, PrivateOpen::Truncate, PrivateOpen::Exclusive}) {
      Result<FileDescriptor> opened = openPrivateFile(path, mode);
      ASSERT_FALSE(opened.ok());
      EXPECT_EQ(opened.failure().code, mode == PrivateOpen::Exclusive ? EEXIST : c.code)
          << opened.message();
      EXPECT_FALSE(writePrivateFile(path, "ours", mode).ok());
    }
    EXPECT_EQ(test::readFile(target), "precious");
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(path)));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "later"));
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path))) {
      EXPECT_EQ(test::readFile(path), "theirs");
    }
  }
}

TEST_F(FileTest, WritePrivateFileRemovesWhatItCouldNotWriteWhole) {
  const std::string path = dir.path() + "script.scpt";
  ASSERT_TRUE(writePrivateFile(path, "tell", PrivateOpen::Exclusive).ok());
  EXPECT_EQ(test::readFile(path), "tell");
  Status status;
  {
    FileSizeLimit limit(10);
    status = writePrivateFile(path, std::string(100, 'x'), PrivateOpen::Truncate);
  }
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.failure().code, EFBIG);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(FileTest, CopyFileCopiesEveryByteIntoAFreshOrEmptiedFile) {
  const std::string from = dir.path() + "log.txt";
  std::string data(200000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
  writeFile(from, data);

  const mode_t savedMask = umask(022);
  const std::string fresh = dir.path() + "fresh.txt";
  Status copied = copyFile(from, fresh, 0644);
  umask(savedMask);
  ASSERT_TRUE(copied.ok()) << copied.message();
  EXPECT_EQ(test::readFile(fresh), data);
  EXPECT_EQ(permissionsOf(fresh), 0644u);

  const std::string longer = dir.path() + "longer.txt";
  writeFile(longer, std::string(300000, 'z'));
  ASSERT_TRUE(copyFile(from, longer, 0644).ok());
  EXPECT_EQ(test::readFile(longer), data);
}

TEST_F(FileTest, CopyFileFailures) {
  const std::string from = dir.path() + "log.txt";
  writeFile(from, "keep");
  Status noSource = copyFile(dir.path() + "missing.txt", dir.path() + "to.txt", 0644);
  ASSERT_FALSE(noSource.ok());
  EXPECT_EQ(noSource.failure().code, ENOENT);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "to.txt"));

  Status noFolder = copyFile(from, dir.path() + "no-folder/to.txt", 0644);
  ASSERT_FALSE(noFolder.ok());
  EXPECT_EQ(noFolder.message(),
            "open " + dir.path() + "no-folder/to.txt: No such file or directory");
  EXPECT_EQ(test::readFile(from), "keep");
}

}  // namespace
}  // namespace vm
