#include "io/sibling/fifo.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "error/assert.h"
#include "error/exception.h"
#include "io/runtime_dir.h"

namespace io {

namespace {

// Holds an exclusive flock on `fd` (blocking when `wait`); false when another holds one.
bool lockExclusive(int fd, bool wait) {
  int r;
  do {
    r = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

// Removes the "vexlan.*" directories of `base` whose lock nobody holds. Only real directories
// of our own uid are looked at; whatever else is there is left alone.
size_t sweepAbandoned(const std::string& base) {
  size_t swept = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("vexlan.", 0) != 0) continue;
    struct stat st;
    const std::string path = entry.path().string();
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
      continue;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    if (lockExclusive(fd, false)) {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
      ++swept;
    }
    ::close(fd);
  }
  return swept;
}

// The kernel buffer of our own FIFO; larger buffers let writers batch more before they wait.
constexpr int kFifoKernelBytes = 1024 * 1024;

}  // namespace

FifoDirectory::FifoDirectory() : FifoDirectory(runtimeDirectory()) {}

FifoDirectory::FifoDirectory(const std::string& base) {
  const std::string guard_path = base + "/fifo.lock";
  int guard = ::open(guard_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (guard < 0) error::throwErrno("Cannot open " + guard_path);
  lockExclusive(guard, true);
  swept_ = sweepAbandoned(base);
  std::string tmpl = base + "/vexlan.XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  int err = 0;
  const bool made = ::mkdtemp(buf.data()) != nullptr;
  if (!made) {
    err = errno;
  } else {
    lock_fd_ = ::open(buf.data(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (lock_fd_ < 0 || !lockExclusive(lock_fd_, false)) err = lock_fd_ < 0 ? errno : EWOULDBLOCK;
  }
  ::close(guard);
  if (err != 0) {
    if (lock_fd_ >= 0) ::close(lock_fd_);
    if (made) ::rmdir(buf.data());
    error::throwSystemError("Cannot create FIFO directory " + tmpl, err);
  }
  path_ = buf.data();
}

FifoDirectory::~FifoDirectory() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

std::string fifoPath(const std::string& fifoprefix, int32_t id) {
  return fifoprefix + "." + std::to_string(id);
}

ssize_t ReadBuffer::readFrom(int fd) {
  pos_ = end_ = 0;
  ssize_t n = ::read(fd, buf_.get(), kBytes);
  if (n > 0) end_ = static_cast<size_t>(n);
  return n;
}

FifoReader::FifoReader(std::string path) : path_(std::move(path)) {
  ::unlink(path_.c_str());
  if (::mkfifo(path_.c_str(), 0600) != 0) error::throwErrno("Cannot create anonymous pipe");
  fd_ = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  // Opening a FIFO read-write never waits for a peer, blocking or not.
  if (fd_ >= 0) blocking_fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0 || blocking_fd_ < 0) {
    int e = errno;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlink(path_.c_str());
    error::throwSystemError("Cannot create anonymous pipe", e);
  }
  // Best effort: the default buffer works, only with less batching.
  for (int bytes = kFifoKernelBytes; bytes >= 64 * 1024; bytes /= 2) {
    if (::fcntl(fd_, F_SETPIPE_SZ, bytes) >= 0) break;
  }
}

FifoReader::~FifoReader() {
  leaveAllSelectors();
  if (fd_ >= 0) ::close(fd_);
  if (blocking_fd_ >= 0) ::close(blocking_fd_);
  unpublish();
}

void FifoReader::unpublish() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

void FifoReader::prepareWait() {
  if (before_wait_ != nullptr) before_wait_(before_wait_arg_);
}

uint32_t FifoReader::ioInterest() const {
  // Constant, so that the selector never has to change the descriptor's registration.
  return EPOLLIN;
}

void FifoReader::ioReady(uint32_t /*events*/) {
  readNow();
}

void FifoReader::readNow() {
  if (buffer_.size() != 0 || error_ != 0) return;
  for (;;) {
    ssize_t n = buffer_.readFrom(fd_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) error_ = errno;
    return;
  }
}

void FifoReader::readBlocking() {
  if (buffer_.size() != 0 || error_ != 0) return;
  // Our own descriptor is a writer too, so this read never meets end of file. An interrupted
  // read returns to the selector, which starts a new pass.
  ssize_t n = buffer_.readFrom(blocking_fd_);
  if (n < 0 && errno != EINTR && errno != EAGAIN) error_ = errno;
}

ChannelReader::ChannelReader(int32_t owner, int fd) : owner_(owner), fd_(fd) {}

ChannelReader::~ChannelReader() {
  leaveAllSelectors();
  ::close(fd_);
}

uint32_t ChannelReader::ioInterest() const {
  return EPOLLIN;
}

void ChannelReader::ioReady(uint32_t /*events*/) {
  readNow();
}

void ChannelReader::readNow() {
  if (buffer_.size() != 0 || ended_) return;
  for (;;) {
    ssize_t n = buffer_.readFrom(fd_);
    if (n < 0 && errno == EINTR) continue;
    // End of file (the child and everything it handed the descriptor to have closed it), or
    // an error: the owner stops reading it.
    if (n == 0 || (n < 0 && errno != EAGAIN)) ended_ = true;
    return;
  }
}

FifoWriter::~FifoWriter() {
  leaveAllSelectors();
  close();
}

void FifoWriter::open(const std::string& path, const std::string& context) {
  VX_ASSERT(fd_ < 0, "FifoWriter for ", peer_, " opened twice");
  int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) error::throwErrno(context);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
    ::close(fd);
    error::throwSystemError(context, ENXIO);
  }
  fd_ = fd;
  blocked_ = false;
  room_ = false;
}

void FifoWriter::adopt(int fd, const std::string& context) {
  VX_ASSERT(fd_ < 0, "FifoWriter for ", peer_, " opened twice");
  struct stat st;
  int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode) || flags < 0 ||
      (flags & O_ACCMODE) == O_RDONLY) {
    error::throwSystemError(context, EBADF);
  }
  if (::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0 || ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
    error::throwErrno(context);
  }
  fd_ = fd;
  blocked_ = false;
  room_ = false;
}

void FifoWriter::close() {
  if (fd_ >= 0) {
    ioDescriptorClosing();
    ::close(fd_);
  }
  fd_ = -1;
  blocked_ = false;
  room_ = false;
}

FifoWriter::Result FifoWriter::write(const uint8_t* bytes, size_t n) {
  VX_ASSERT(fd_ >= 0, "Write to closed FIFO of sibling ", peer_);
  VX_ASSERT(n % 8 == 0 && n <= kFifoBatchBytes, "FIFO write of ", n, " bytes");
  for (;;) {
    ssize_t w = ::write(fd_, bytes, n);
    if (w == static_cast<ssize_t>(n)) {
      blocked_ = false;
      return Result::Done;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno == EAGAIN) {
      blocked_ = true;
      room_ = false;
      return Result::Full;
    }
    // EPIPE: the reader has gone (SIGPIPE is ignored by the messenger). A short write cannot
    // happen for n <= PIPE_BUF; should a kernel do it anyway, the stream of whole messages is
    // lost for this peer, which is the same as losing the peer.
    broken_by_ = w < 0 ? errno : EPIPE;
    return Result::Broken;
  }
}

uint32_t FifoWriter::ioInterest() const {
  return blocked_ ? static_cast<uint32_t>(EPOLLOUT) : 0u;
}

void FifoWriter::ioReady(uint32_t /*events*/) {
  // Room, or an error the next write reports (EPOLLERR when the reader has gone).
  blocked_ = false;
  room_ = true;
}

}  // namespace io
