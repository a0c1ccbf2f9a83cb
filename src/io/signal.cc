#include "io/signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "error/exception.h"

namespace io {

Signal::Signal(std::string name) : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), name_(name) {
  if (fd_ < 0) error::throwErrno("Unable to create event");
}

Signal::Signal(Adopt, int fd, std::string name) : fd_(fd), name_(std::move(name)) {}

Signal::Signal(Adopt, int fd, int set_fd, std::string name)
    : fd_(fd), set_fd_(set_fd), name_(std::move(name)) {}

Signal::~Signal() {
  leaveAllSelectors();
  if (fd_ >= 0) ::close(fd_);
  if (set_fd_ >= 0) ::close(set_fd_);
}

void Signal::set() const {
  uint64_t one = 1;
  // A full counter or socket queue (EAGAIN) is still set; nothing else can fail on a valid
  // descriptor.
  [[maybe_unused]] ssize_t n = ::write(setFd(), &one, sizeof one);
}

void Signal::reset() const {
  uint8_t buf[64];
  while (::read(fd_, buf, sizeof buf) > 0) {
  }
}

}  // namespace io
