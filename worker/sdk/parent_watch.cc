#include "sdk/parent_watch.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "error/exception.h"
#include "sdk/errors.h"

namespace worker {

ParentWatch::ParentWatch(const std::string& fifo_path) : path_(fifo_path) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ >= 0) return;
  int code = errno;
  // ENXIO: a FIFO without a reader; ENOENT: its directory went with the supervisor.
  if (code == ENXIO || code == ENOENT) throw ESupervisorGone("no reader on " + path_);
  throw error::ESystemError("Cannot open " + path_, code);
}

ParentWatch::ParentWatch(Channel channel) : path_("channel " + std::to_string(channel.fd)) {
  fd_ = ::fcntl(channel.fd, F_DUPFD_CLOEXEC, 3);
  if (fd_ < 0) error::throwErrno("Cannot watch the " + path_);
  if (gone()) throw ESupervisorGone("no reader on the " + path_);
}

ParentWatch::~ParentWatch() {
  leaveAllSelectors();
  if (fd_ >= 0) ::close(fd_);
}

bool ParentWatch::gone() const {
  pollfd p{fd_, 0, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP)) != 0;
}

}  // namespace worker
