#include "platform/file.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

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
