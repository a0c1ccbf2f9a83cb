#include "io/pipe_stream.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "error/assert.h"
#include "error/exception.h"
#include "io/exceptions.h"

namespace io {

namespace {

void makeNonBlocking(int fd, const std::string& what) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || (!(flags & O_NONBLOCK) && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)) {
    error::throwErrno("Unable to make " + what + " non-blocking");
  }
}

// A write to a pipe whose reader has gone must come back as EPIPE, not kill the process.
// Children get the default disposition back before exec (see process.cc).
void ignoreSigpipe() {
  static const bool done = [] {
    struct sigaction old = {};
    if (::sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
      ::signal(SIGPIPE, SIG_IGN);
    }
    return true;
  }();
  (void)done;
}

}  // namespace

// ---- PipeIStream ----

PipeIStream::PipeIStream(std::string name) : name_(std::move(name)) {}

PipeIStream::PipeIStream(int fd, std::string name) : name_(std::move(name)) {
  attach(fd);
}

PipeIStream::~PipeIStream() {
  leaveAllSelectors();
  if (fd_ >= 0) ::close(fd_);
}

void PipeIStream::attach(int fd) {
  VX_ASSERT(fd_ < 0, describe(), " attached while open");
  makeNonBlocking(fd, describe());
  fd_ = fd;
  error_ = 0;
  eof_ = false;
  read_pending_ = false;
  closed_ = false;
}

void PipeIStream::prepareWait() {
  if (read_pending_ || end_ > pos_ || eof_ || error_ != 0) return;
  if (fd_ < 0) {
    error_ = EBADF;
    return;
  }
  read_pending_ = true;
}

uint32_t PipeIStream::ioInterest() const {
  return read_pending_ ? uint32_t{EPOLLIN} : 0;
}

void PipeIStream::ioReady(uint32_t /*events*/) {
  VX_ASSERT(read_pending_, "PipeIStream unsolicited callback");
  readNow();
}

void PipeIStream::readNow() {
  for (;;) {
    ssize_t n = ::read(fd_, buf_ + end_, kBufferSize - end_);
    if (n > 0) {
      end_ += static_cast<size_t>(n);
      VX_ASSERT(end_ <= kBufferSize, "PipeIStream overflow");
    } else if (n == 0) {
      eof_ = true;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return;  // a spurious wake-up: the read stays armed
    } else {
      error_ = errno;
    }
    read_pending_ = false;
    return;
  }
}

size_t PipeIStream::readBegin(const uint8_t*& p) {
  if (end_ == pos_) {
    if (error_ != 0) error::throwSystemError("Error in " + describe(), error_);
    if (eof_) throw EEndOfStream(describe());
  }
  p = buf_ + pos_;
  return end_ - pos_;
}

void PipeIStream::readCommit(size_t n) {
  size_t avail = end_ - pos_;
  VX_ASSERT(n <= avail, "Overcommit in PipeIStream ", n, " is ", n - avail,
            " bytes past end of buffer");
  pos_ += n;
  if (pos_ == end_) pos_ = end_ = 0;
}

void PipeIStream::close() {
  VX_ASSERT(!closed_, "Double close on PipeIStream");
  closed_ = true;
  read_pending_ = false;
  if (fd_ < 0) return;
  ioDescriptorClosing();
  ::close(fd_);
  fd_ = -1;
}

// ---- PipeOStream ----

PipeOStream::PipeOStream(std::string name) : name_(std::move(name)) {}

PipeOStream::PipeOStream(int fd, std::string name) : name_(std::move(name)) {
  attach(fd);
}

PipeOStream::~PipeOStream() {
  leaveAllSelectors();
  if (fd_ >= 0) ::close(fd_);
}

void PipeOStream::attach(int fd) {
  VX_ASSERT(fd_ < 0, describe(), " attached while open");
  ignoreSigpipe();
  makeNonBlocking(fd, describe());
  fd_ = fd;
  error_ = 0;
  write_pending_ = false;
  start_ = end_ = 0;
}

uint32_t PipeOStream::ioInterest() const {
  return write_pending_ ? uint32_t{EPOLLOUT} : 0;
}

void PipeOStream::ioReady(uint32_t /*events*/) {
  VX_ASSERT(write_pending_, "PipeOSTream unsolicited callback");
  writeNow();
}

void PipeOStream::prepareWait() {
  startWrite();
}

void PipeOStream::startWrite() {
  if (write_pending_ || end_ == start_ || error_ != 0) return;
  if (fd_ < 0) {
    error_ = EBADF;
    return;
  }
  writeNow();
}

void PipeOStream::writeNow() {
  while (end_ > start_) {
    ssize_t n = ::write(fd_, buf_ + start_, end_ - start_);
    if (n > 0) {
      start_ += static_cast<size_t>(n);
      VX_ASSERT(start_ <= end_, "PipeOStream excessive write");
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
      write_pending_ = true;  // the selector calls ioReady when the pipe has room
      return;
    } else {
      error_ = errno;
      write_pending_ = false;
      return;
    }
  }
  start_ = end_ = 0;
  write_pending_ = false;
}

size_t PipeOStream::writeBegin(uint8_t*& p) {
  if (error_ != 0) error::throwSystemError(name_ + " write", error_);
  // No write is ever in flight in the kernel, so the unwritten rest may move to the front
  // and leave the writer all the room there is.
  if (start_ > 0) {
    std::memmove(buf_, buf_ + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
  }
  p = buf_ + end_;
  return kBufferSize - end_;
}

void PipeOStream::writeCommit(size_t n) {
  VX_ASSERT(end_ + n <= kBufferSize, "Overcommit in PipeOStream ", n, " is ",
            end_ + n - kBufferSize, " bytes past end of buffer");
  end_ += n;
}

bool PipeOStream::flush() {
  startWrite();
  return isReady();
}

void PipeOStream::close() {
  write_pending_ = false;
  start_ = end_ = 0;
  if (fd_ < 0) return;
  ioDescriptorClosing();
  ::close(fd_);
  fd_ = -1;
}

}  // namespace io
