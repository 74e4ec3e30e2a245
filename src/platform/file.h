// Files and file descriptors: one owning descriptor type and every read,
// write, copy and replace of a whole file the client does. A failure carries
// the operating system's reason ("open /x: Permission denied", the errno as
// its code) for the caller's log line.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

#include "base/result.h"

namespace vm {

// An open file descriptor (a file, a pipe end or a socket), closed when its
// owner goes. Moving hands the descriptor over.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release();
  // Closes the descriptor held (a failure of close is not looked at) and takes fd.
  void reset(int fd = -1);
  // Closes now. For a file written to, a failure means data may not have
  // reached it. Closing what is not open succeeds.
  Status close();

 private:
  int fd_ = -1;
};

// ::open with close-on-exec added.
Result<FileDescriptor> openFile(const std::string& path, int flags, mode_t mode = 0600);

// One read of at most size bytes, retried when a signal interrupts it; 0 at
// the end of the file.
Result<std::size_t> readSome(int fd, char* buffer, std::size_t size);
constexpr std::size_t kNoSizeLimit = std::numeric_limits<std::size_t>::max();
// Everything up to the end of the file; fails (EFBIG) past maxBytes.
Result<std::string> readAll(int fd, std::size_t maxBytes = kNoSizeLimit);
// All of data, retried after short writes and signals. *written (when given)
// is the count that went out, also on failure.
Status writeAll(int fd, std::string_view data, std::size_t* written = nullptr);

struct ReadOptions {
  // A larger file fails (EFBIG) without being read into memory.
  std::size_t maxBytes = kNoSizeLimit;
  // Anything but a regular file fails (EINVAL). The file is opened without
  // blocking, so a FIFO put in its place cannot hang the caller.
  bool regularFileOnly = false;
};
Result<std::string> readFile(const std::string& path, const ReadOptions& options = {});

// Whether this process may change the file at path: a failure (with the
// reason of access(2), or EACCES) when it may not. A file without its owner's
// write bit counts as read-only also for root, who could write it anyway.
Status mayChangeFile(const std::string& path);

// Takes an exclusive advisory lock (flock) on the lock file at path, made
// like a private file (mode 0600, no symbolic link, the user's own) when it
// is missing. The lock holds until the descriptor is closed. Waits at most
// timeoutMs for another holder, then fails with EWOULDBLOCK.
Result<FileDescriptor> lockFile(const std::string& path, int timeoutMs);

// A file named by a UNC path ("\\server\share\dir\f.pac", read through
// GIO as smb://server/share/dir/f.pac where the desktop has an SMB backend)
// or by a "file://" URI. Fails past maxBytes (EFBIG) and for anything that
// cannot be opened or read; the message names GIO's reason.
Result<std::string> readSharedFile(const std::string& location, std::size_t maxBytes);
// The URI that readSharedFile opens for location: a UNC path becomes an
// smb:// URI (each part escaped), a "file://" URI stays as it is.
std::string sharedFileUri(const std::string& location);

// Writes data to a file beside path, brings it to the disk and renames it
// over path: a crash or a failure at any moment leaves either the old or the
// new content, never a part. The file beside it is removed on failure.
Status replaceFileAtomically(const std::string& path, std::string_view data);

// Copies from to to, creating to with mode (less the umask) or emptying it first.
Status copyFile(const std::string& from, const std::string& to, mode_t mode);

// A folder private to the user at path: made with mode 0700 when missing;
// an existing folder of the user's (not reached through a symbolic link) is
// kept and narrowed to 0700. Fails for anything else there: a symbolic link
// (ELOOP), another user's folder (EACCES), something that is no folder (ENOTDIR).
Status makePrivateFolder(const std::string& path);
// A fresh folder named prefix + six random characters, made like mkdtemp
// (mode 0700, the name not taken before); its path.
Result<std::string> makeUniquePrivateFolder(const std::string& prefix);

// Files the client creates in a shared temporary folder: private to the user
// (mode 0600), never reached through a symbolic link, never another user's.
enum class PrivateOpen {
  Append,     // open or create, keep the content (the log file)
  Truncate,   // open or create, drop the content
  Exclusive,  // create a new file; fails (EEXIST) when the name exists
};

// What holds a name in a shared folder, seen without following a link.
enum class NameHolder {
  Nothing,
  OwnFileOrLink,  // a regular file or a symbolic link of ours
  Folder,         // anyone's
  Foreign,        // another user's file or link, or a FIFO, device or socket
};
NameHolder nameHolder(const std::string& path);

// Creates a new private file (mode 0600) beside path, named like it with a
// hyphen and six random letters or digits before its extension
// ("report.pdf" gives "report-a1B2c3.pdf"); answers the new file's path.
Result<std::string> createPrivateFileBeside(const std::string& path);

// Opened for reading and writing. Fails for a symbolic link (ELOOP), a
// folder (EISDIR), anything else but a regular file and another user's file
// (EACCES).
Result<FileDescriptor> openPrivateFile(const std::string& path, PrivateOpen mode);
// All of data into a private file opened with mode; a file this call could
// not write completely is removed again.
Status writePrivateFile(const std::string& path, std::string_view data, PrivateOpen mode);

}  // namespace vm
