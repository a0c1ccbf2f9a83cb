#include "io/sibling/fifo.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "error/assert.h"
#include "error/exception.h"

namespace io {

namespace {

std::string runtimeBase() {
  for (const char* var : {"RUNTIME_DIRECTORY", "XDG_RUNTIME_DIR"}) {
    const char* v = std::getenv(var);
    if (v == nullptr || *v == '\0') continue;
    // The service manager lists several directories separated by colons; the first is ours.
    std::string dir(v);
    dir = dir.substr(0, dir.find(':'));
    struct stat st;
    if (!dir.empty() && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return dir;
  }
  return "/tmp";
}

// The kernel buffer of our own FIFO; larger buffers let writers batch more before they wait.
constexpr int kFifoKernelBytes = 1024 * 1024;

}  // namespace

FifoDirectory::FifoDirectory() {
  std::string tmpl = runtimeBase() + "/vexlan.XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) error::throwErrno("Cannot create FIFO directory " + tmpl);
  path_ = buf.data();
}

FifoDirectory::~FifoDirectory() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string fifoPath(const std::string& fifoprefix, int32_t id) {
  return fifoprefix + "." + std::to_string(id);
}

FifoReader::FifoReader(std::string path) : path_(std::move(path)), buf_(new uint8_t[kBufferBytes]) {
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
  ::unlink(path_.c_str());
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
  if (end_ != pos_ || error_ != 0) return;
  pos_ = end_ = 0;
  for (;;) {
    ssize_t n = ::read(fd_, buf_.get(), kBufferBytes);
    if (n > 0) {
      end_ = static_cast<size_t>(n);
      return;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) error_ = errno;
    return;
  }
}

void FifoReader::readBlocking() {
  if (end_ != pos_ || error_ != 0) return;
  pos_ = end_ = 0;
  // Our own descriptor is a writer too, so this read never meets end of file. An interrupted
  // read returns to the selector, which starts a new pass.
  ssize_t n = ::read(blocking_fd_, buf_.get(), kBufferBytes);
  if (n > 0) {
    end_ = static_cast<size_t>(n);
  } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
    error_ = errno;
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
