#include "supervisor/entry/event_signal.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "error/exception.h"
#include "log/server_log.h"

namespace entry {

void passCredentials(int fd) {
  int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
    error::throwErrno("Unable to ask for the credentials of event senders");
  }
}

EventSignal::EventSignal(int fd, int set_fd, std::string name)
    : io::Signal(io::Signal::Adopt{}, fd, set_fd, name), name_(std::move(name)) {
  passCredentials(fd);
}

bool EventSignal::permitted(uid_t uid) {
  return uid == 0 || uid == ::getuid() || uid == ::geteuid();
}

bool EventSignal::take() const {
  bool set = false;
  for (int i = 0; i < kMaxPerTake; ++i) {
    char data[64];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec iov = {data, sizeof data};
    msghdr msg = {};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(fd(), &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;  // drained
    const ucred* cred = nullptr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
          c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
        cred = reinterpret_cast<const ucred*>(CMSG_DATA(c));
      }
    }
    if (cred != nullptr && permitted(cred->uid)) {
      set = true;
      continue;
    }
    // Without credentials (sent before SO_PASSCRED was on) nobody vouches for it either.
    ++unreported_;
    last_uid_ = cred != nullptr ? cred->uid : static_cast<uid_t>(-1);
    last_pid_ = cred != nullptr ? cred->pid : 0;
  }
  if (unreported_ > 0 && notes_.allow() && logging::server_log().isOpen()) {
    std::string from =
        last_uid_ == static_cast<uid_t>(-1)
            ? std::string("a sender without credentials")
            : "uid " + std::to_string(last_uid_) + " (pid " + std::to_string(last_pid_) + ")";
    logging::server_log().write("Ignored " + std::to_string(unreported_) + " request" +
                                (unreported_ == 1 ? "" : "s") + " on event " + name_ +
                                ", the last from " + from + ": only root and uid " +
                                std::to_string(::geteuid()) + " may set it");
    unreported_ = 0;
  }
  return set;
}

}  // namespace entry
