#include "platform/file.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace vm {

namespace {

Failure tooLarge(const std::string& what, std::size_t maxBytes) {
  return fail(what + ": larger than " + std::to_string(maxBytes) + " bytes", EFBIG);
}

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int FileDescriptor::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

Status FileDescriptor::close() {
  if (fd_ < 0) return {};
  // Linux frees the descriptor even when close fails, also on EINTR: trying
  // again could close a descriptor another thread has opened meanwhile.
  const int rc = ::close(release());
  if (rc != 0) return failFromErrno("close");
  return {};
}

Result<FileDescriptor> openFile(const std::string& path, int flags, mode_t mode) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) return failFromErrno("open " + path);
  return FileDescriptor(fd);
}

Result<std::size_t> readSome(int fd, char* buffer, std::size_t size) {
  while (true) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return failFromErrno("read");
  }
}

Result<std::string> readAll(int fd, std::size_t maxBytes) {
  std::string data;
  char buffer[65536];
  while (true) {
    Result<std::size_t> n = readSome(fd, buffer, sizeof buffer);
    if (!n) return n.failure();
    if (*n == 0) return data;
    if (*n > maxBytes - data.size()) return tooLarge("read", maxBytes);
    data.append(buffer, *n);
  }
}

Status writeAll(int fd, std::string_view data, std::size_t* written) {
  std::size_t done = 0;
  Status status;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      status = failFromErrno("write");
      break;
    }
    if (n == 0) {
      status = fail("write: no byte taken", EIO);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (written) *written = done;
  return status;
}

Result<std::string> readFile(const std::string& path, const ReadOptions& options) {
  Result<FileDescriptor> file =
      openFile(path, O_RDONLY | (options.regularFileOnly ? O_NONBLOCK : 0));
  if (!file) return file.failure();
  struct stat st;
  if (::fstat(file->get(), &st) != 0) return failFromErrno("fstat " + path);
  if (options.regularFileOnly && !S_ISREG(st.st_mode))
    return fail(path + ": not a regular file", EINVAL);
  if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) > options.maxBytes)
    return tooLarge(path, options.maxBytes);
  return readAll(file->get(), options.maxBytes);
}

Status mayChangeFile(const std::string& path) {
  if (::access(path.c_str(), W_OK) != 0) return failFromErrno("access " + path);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return failFromErrno("stat " + path);
  if (!(st.st_mode & S_IWUSR)) return fail(path + ": no write permission", EACCES);
  return {};
}

Result<FileDescriptor> lockFile(const std::string& path, int timeoutMs) {
  Result<FileDescriptor> file = openPrivateFile(path, PrivateOpen::Append);
  if (!file) return file;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (::flock(file->get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return failFromErrno("flock " + path);
    if (std::chrono::steady_clock::now() >= deadline)
      return fail("flock " + path + ": still held by another process", EWOULDBLOCK);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return file;
}

Status replaceFileAtomically(const std::string& path, std::string_view data) {
  std::string tmp = path + ".XXXXXX";
  const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return failFromErrno("mkostemp " + tmp);
  FileDescriptor file(fd);
  Status status = writeAll(file.get(), data);
  if (status && ::fsync(file.get()) != 0) status = failFromErrno("fsync " + tmp);
  Status closed = file.close();
  if (status) status = closed;
  if (status && std::rename(tmp.c_str(), path.c_str()) != 0)
    status = failFromErrno("rename " + tmp + " to " + path);
  if (!status) ::unlink(tmp.c_str());
  return status;
}

Status copyFile(const std::string& from, const std::string& to, mode_t mode) {
  Result<FileDescriptor> in = openFile(from, O_RDONLY);
  if (!in) return in.failure();
  Result<FileDescriptor> out = openFile(to, O_WRONLY | O_CREAT | O_TRUNC, mode);
  if (!out) return out.failure();
  char buffer[65536];
  while (true) {
    Result<std::size_t> n = readSome(in->get(), buffer, sizeof buffer);
    if (!n) return n.failure();
    if (*n == 0) break;
    if (Status written = writeAll(out->get(), {buffer, *n}); !written) return written;
  }
  return out->close();
}

Status makePrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return failFromErrno("mkdir " + path);
  // Checked and narrowed through a descriptor of the folder itself, so that
  // nothing swapped in after the check is what gets changed.
  // O_NONBLOCK: a FIFO in its place must not hold the caller.
  Result<FileDescriptor> folder = openFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
  if (!folder) return folder.failure();
  struct stat st;
  if (::fstat(folder->get(), &st) != 0) return failFromErrno("fstat " + path);
  if (!S_ISDIR(st.st_mode)) return fail(path + ": not a folder", ENOTDIR);
  if (st.st_uid != ::geteuid()) return fail(path + ": owned by another user", EACCES);
  if ((st.st_mode & 07777) != 0700 && ::fchmod(folder->get(), 0700) != 0)
    return failFromErrno("fchmod " + path);
  return {};
}

Result<std::string> makeUniquePrivateFolder(const std::string& prefix) {
  std::string path = prefix + "XXXXXX";
  if (!::mkdtemp(path.data())) return failFromErrno("mkdtemp " + path);
  return path;
}

Result<FileDescriptor> openPrivateFile(const std::string& path, PrivateOpen mode) {
  int flags = O_RDWR | O_CREAT | O_NOFOLLOW;
  if (mode == PrivateOpen::Exclusive) flags |= O_EXCL;
  Result<FileDescriptor> file = openFile(path, flags, 0600);
  if (!file) return file;
  struct stat st;
  if (::fstat(file->get(), &st) != 0) return failFromErrno("fstat " + path);
  // A file planted by someone else (or a FIFO or device) must not receive our data.
  if (!S_ISREG(st.st_mode)) return fail(path + ": not a regular file", EACCES);
  if (st.st_uid != ::geteuid()) return fail(path + ": owned by another user", EACCES);
  if (mode == PrivateOpen::Truncate && ::ftruncate(file->get(), 0) != 0)
    return failFromErrno("ftruncate " + path);
  return file;
}

NameHolder nameHolder(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return NameHolder::Nothing;
  if (S_ISDIR(st.st_mode)) return NameHolder::Folder;
  const bool ours = st.st_uid == ::geteuid();
  if (ours && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) return NameHolder::OwnFileOrLink;
  return NameHolder::Foreign;
}

Result<std::string> createPrivateFileBeside(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = path.rfind('.');
  // A leading dot marks a hidden file, not an extension.
  if (dot == std::string::npos || dot <= nameStart) dot = path.size();
  std::string name = path.substr(0, dot) + "-XXXXXX" + path.substr(dot);
  const int suffixLength = static_cast<int>(path.size() - dot);
  // mkostemps creates the file exclusively with mode 0600, so nothing that
  // appears under the drawn name can be written through.
  const int fd = ::mkostemps(name.data(), suffixLength, O_CLOEXEC);
  if (fd < 0) return failFromErrno("mkostemps " + name);
  FileDescriptor file(fd);
  if (Status closed = file.close(); !closed) {
    ::unlink(name.c_str());
    return closed.failure();
  }
  return name;
}

Status writePrivateFile(const std::string& path, std::string_view data, PrivateOpen mode) {
  Result<FileDescriptor> file = openPrivateFile(path, mode);
  if (!file) return file.failure();
  Status status = writeAll(file->get(), data);
  Status closed = file->close();
  if (status) status = closed;
  if (!status) ::unlink(path.c_str());
  return status;
}

std::string sharedFileUri(const std::string& location) {
  if (!location.starts_with("\\\\")) return location;
  std::string uri = "smb:/";
  std::string::size_type start = 2;
  while (start <= location.size()) {
    auto slash = location.find('\\', start);
    std::string part = location.substr(start, slash == std::string::npos ? slash : slash - start);
    g_autofree char* escaped = g_uri_escape_string(part.c_str(), nullptr, FALSE);
    uri += "/";
    uri += escaped;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return uri;
}

Result<std::string> readSharedFile(const std::string& location, std::size_t maxBytes) {
  g_autoptr(GFile) file = g_file_new_for_uri(sharedFileUri(location).c_str());
  GError* raw = nullptr;
  g_autoptr(GFileInputStream) stream = g_file_read(file, nullptr, &raw);
  g_autoptr(GError) error = raw;
  if (!stream) return fail(error ? error->message : "cannot open");
  std::string content;
  char buffer[16384];
  while (true) {
    GError* rawReadError = nullptr;
    gssize n = g_input_stream_read(G_INPUT_STREAM(stream), buffer, sizeof buffer, nullptr,
                                   &rawReadError);
    if (n < 0) {
      g_autoptr(GError) readError = rawReadError;
      return fail(readError ? readError->message : "cannot read");
    }
    if (n == 0) return content;
    if (content.size() + static_cast<std::size_t>(n) > maxBytes)
      return fail("larger than " + std::to_string(maxBytes) + " bytes", EFBIG);
    content.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace vm
