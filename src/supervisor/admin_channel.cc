#include "supervisor/admin_channel.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "error/exception.h"
#include "supervisor/admin_protocol.h"

namespace supervisor {

namespace {

// Connections taken per readiness of the socket; the rest wait for the next pass, so that a
// flood of connections cannot hold the main loop.
constexpr int kAcceptsPerPass = 32;

// Best effort: the peer may not read it, and nothing waits for it.
void sendAndForget(int fd, const std::string& bytes) {
  (void)::send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

}  // namespace

// The listening socket: ready when connections wait to be accepted.
class AdminChannel::Listener : public io::Selectable {
 public:
  Listener(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~Listener() override {
    leaveAllSelectors();
    ::close(fd_);
  }
  int fd() const { return fd_; }
  std::string describe() const override { return "AdminSocket(" + path_ + ")"; }
  bool isReady() const override { return ready_; }
  int ioDescriptor() const override { return fd_; }
  uint32_t ioInterest() const override { return ready_ ? 0 : uint32_t{EPOLLIN}; }
  void ioReady(uint32_t) override { ready_ = true; }
  void taken() { ready_ = false; }

 private:
  int fd_;
  std::string path_;
  bool ready_ = false;
};

// One connection. Its I/O happens in ioReady (one read or one write per readiness); the
// channel's handler then looks at what it has.
class AdminChannel::Client : public io::Selectable {
 public:
  enum class State { Reading, Busy, Writing };

  Client(int fd, Ticket ticket, TimeValue now) : fd_(fd), ticket_(ticket), progress_(now) {}
  ~Client() override {
    leaveAllSelectors();
    ::close(fd_);
  }

  std::string describe() const override { return "AdminClient[" + std::to_string(ticket_) + "]"; }
  bool isReady() const override {
    if (failed_) return true;
    switch (state_) {
      case State::Reading:
        return eof_ || in_.find('\n') != std::string::npos || in_.size() >= admin::kMaxRequestBytes;
      case State::Busy:
        return false;
      case State::Writing:
        return sent_ == out_.size();
    }
    return false;
  }
  int ioDescriptor() const override { return fd_; }
  uint32_t ioInterest() const override {
    if (failed_) return 0;
    if (state_ == State::Reading && !eof_ && in_.size() < admin::kMaxRequestBytes &&
        in_.find('\n') == std::string::npos) {
      return EPOLLIN;
    }
    return state_ == State::Writing && sent_ < out_.size() ? uint32_t{EPOLLOUT} : 0;
  }
  void ioReady(uint32_t) override {
    if (state_ == State::Reading) {
      readSome();
    } else if (state_ == State::Writing) {
      writeSome();
    }
  }

  void readSome() {
    char buf[admin::kMaxRequestBytes];
    const size_t room = admin::kMaxRequestBytes - in_.size();
    ssize_t n = ::recv(fd_, buf, room, MSG_DONTWAIT);
    if (n > 0) {
      in_.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      eof_ = true;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      failed_ = true;
    }
  }

  void writeSome() {
    while (sent_ < out_.size()) {
      ssize_t n =
          ::send(fd_, out_.data() + sent_, out_.size() - sent_, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n > 0) {
        sent_ += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      failed_ = true;
      return;
    }
  }

  // The next complete request line, taken out of the buffer.
  bool takeLine(std::string& line) {
    size_t nl = in_.find('\n');
    if (nl == std::string::npos) return false;
    line = in_.substr(0, nl);
    in_.erase(0, nl + 1);
    return true;
  }

  int fd_;
  Ticket ticket_;
  // When it connected or its last reply began or ended: the time allowed for a request, or
  // for taking a reply, counts from here (so that trickling bytes buys no time).
  TimeValue progress_;
  State state_ = State::Reading;
  std::string in_;
  std::string out_;
  size_t sent_ = 0;
  bool eof_ = false;
  bool failed_ = false;
};

bool AdminChannel::permitted(uid_t uid, gid_t gid, const gid_t* groups, size_t ngroups) {
  if (uid == 0 || uid == ::getuid() || uid == ::geteuid()) return true;
  const gid_t mine = ::getegid();
  if (gid == mine) return true;
  return std::find(groups, groups + ngroups, mine) != groups + ngroups;
}

AdminChannel::AdminChannel(io::Selector<Handler>& selector, std::string path, Service& service,
                           meter::Group* meters, Limits limits)
    : selector_(selector),
      path_(std::move(path)),
      service_(service),
      limits_(limits),
      group_(meters, "admin"),
      accepted_(&group_, "accepted", "", "connections accepted"),
      requests_(&group_, "requests", "", "requests served"),
      refused_(&group_, "refused", "",
               "connections refused: not root, the daemon's user or a member of its group"),
      dropped_(&group_, "dropped", "",
               "connections closed for a request too long, idleness or too many clients") {
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  if (path_.size() >= sizeof addr.sun_path) {
    throw error::Exception("Cannot bind the admin socket " + path_ + ": the path is too long");
  }
  std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) error::throwErrno("Cannot create the admin socket");
  // What is in the daemon's private runtime directory under this name is a socket a previous
  // run of the same daemon left behind.
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(path_.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::chmod(path_.c_str(), 0660) != 0 || ::listen(fd, 64) != 0) {
    int err = errno;
    ::close(fd);
    error::throwSystemError("Cannot bind the admin socket " + path_, err);
  }
  listener_ = std::make_unique<Listener>(fd, path_);
  selector_.add(*listener_, makeFunctionClosure([this] { onListener(); }));
  selector_.add(timer_, makeFunctionClosure([this] { onTimer(); }));
}

AdminChannel::~AdminChannel() {
  while (!clients_.empty())
    close(*clients_.begin()->second);
  if (selector_.contains(timer_)) selector_.remove(timer_);
  if (selector_.contains(*listener_)) selector_.remove(*listener_);
  listener_.reset();
  ::unlink(path_.c_str());
}

void AdminChannel::refusePeer(int fd, uid_t uid, pid_t pid) {
  ++refused_;
  sendAndForget(fd, admin::errorReply("Permission denied: only root, the server's user and "
                                      "members of its group may use this channel"));
  ::close(fd);
  ++unreported_;
  if (notes_.allow()) {
    service_.adminLog("Refused " + std::to_string(unreported_) + " admin connection" +
                      (unreported_ == 1 ? "" : "s") + ", the last from uid " + std::to_string(uid) +
                      " (pid " + std::to_string(pid) + ")");
    unreported_ = 0;
  }
}

void AdminChannel::onListener() {
  listener_->taken();
  bool more = true;
  for (int i = 0; i < kAcceptsPerPass && more; ++i) {
    int fd = ::accept4(listener_->fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      // Drained (EAGAIN), or out of descriptors: the next readiness tries again.
      more = errno == EINTR || errno == ECONNABORTED;
      continue;
    }
    ucred cred = {};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) {
      ::close(fd);
      continue;
    }
    gid_t groups[256];
    socklen_t glen = sizeof groups;
    size_t ngroups = 0;
    // Supplementary groups: an operator is usually in the daemon's group that way. A peer in
    // more groups than fit is judged by those that do.
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups, &glen) == 0) {
      ngroups = glen / sizeof(gid_t);
    }
    if (!permitted(cred.uid, cred.gid, groups, ngroups)) {
      refusePeer(fd, cred.uid, cred.pid);
      continue;
    }
    if (clients_.size() >= limits_.max_clients) {
      ++dropped_;
      sendAndForget(fd, admin::errorReply("Too many clients"));
      ::close(fd);
      continue;
    }
    ++accepted_;
    const Ticket t = ++next_ticket_;
    Client& c =
        *clients_.emplace(t, std::make_unique<Client>(fd, t, TimeValue::now())).first->second;
    selector_.add(c, makeFunctionClosure([this, &c] { onClient(c); }));
  }
  // More may wait: come back after the others had their turn.
  if (more) listener_->ioReady(0);
  armTimer();
}

void AdminChannel::onClient(Client& c) {
  if (c.failed_) return close(c);
  if (c.state_ == Client::State::Writing) {
    // The whole reply is out: the next request, if the client sent one.
    c.state_ = Client::State::Reading;
    c.out_.clear();
    c.sent_ = 0;
    c.progress_ = TimeValue::now();
  }
  serveNext(c);
}

void AdminChannel::serveNext(Client& c) {
  std::string line;
  if (c.takeLine(line)) {
    c.state_ = Client::State::Busy;
    ++requests_;
    const Ticket t = c.ticket_;
    service_.serveAdmin(t, line);  // may reply at once, which may close the client
    return armTimer();
  }
  if (c.in_.size() >= admin::kMaxRequestBytes) {
    ++dropped_;
    sendAndForget(c.fd_, admin::errorReply("The request is longer than " +
                                           std::to_string(admin::kMaxRequestBytes) + " bytes"));
    return close(c);
  }
  if (c.eof_) return close(c);  // ended, or ended in the middle of a request
  armTimer();
}

void AdminChannel::reply(Ticket ticket, std::string bytes) {
  auto it = clients_.find(ticket);
  if (it == clients_.end() || it->second->state_ != Client::State::Busy) return;
  Client& c = *it->second;
  c.out_ = std::move(bytes);
  c.sent_ = 0;
  c.state_ = Client::State::Writing;
  c.progress_ = TimeValue::now();
  c.writeSome();
  if (c.failed_) return close(c);
  // Fully written: read the next request at once; otherwise the selector waits for room.
  if (c.sent_ == c.out_.size()) onClient(c);
}

void AdminChannel::close(Client& c) {
  if (selector_.contains(c)) selector_.remove(c);
  clients_.erase(c.ticket_);
}

void AdminChannel::onTimer() {
  const TimeValue now = TimeValue::now();
  for (auto it = clients_.begin(); it != clients_.end();) {
    Client& c = *it->second;
    ++it;
    if (c.state_ != Client::State::Busy && now >= c.progress_ + limits_.idle) {
      ++dropped_;
      if (c.state_ == Client::State::Reading) {
        sendAndForget(c.fd_, admin::errorReply("No complete request within the time allowed"));
      }
      close(c);
    }
  }
  armTimer();
}

void AdminChannel::armTimer() {
  TimeValue earliest = TimeValue::never();
  for (const auto& [t, c] : clients_) {
    if (c->state_ != Client::State::Busy)
      earliest = std::min(earliest, c->progress_ + limits_.idle);
  }
  timer_.set(earliest);
}

}  // namespace supervisor
