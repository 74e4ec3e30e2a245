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

// Files the client creates in a shared temporary folder: private to the user
// (mode 0600), never reached through a symbolic link, never another user's.
enum class PrivateOpen {
  Append,     // open or create, keep the content (the log file)
  Truncate,   // open or create, drop the content
  Exclusive,  // create a new file; fails (EEXIST) when the name exists
};

// Opened for reading and writing. Fails for a symbolic link (ELOOP), a
// folder (EISDIR), anything else but a regular file and another user's file
// (EACCES).
Result<FileDescriptor> openPrivateFile(const std::string& path, PrivateOpen mode);
// All of data into a private file opened with mode; a file this call could
// not write completely is removed again.
Status writePrivateFile(const std::string& path, std::string_view data, PrivateOpen mode);

}  // namespace vm
