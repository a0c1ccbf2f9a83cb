#include "io/os_selector.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>

#include "error/assert.h"
#include "error/exception.h"
#include "io/exceptions.h"

namespace io {

OsSelector::OsSelector() = default;

OsSelector::~OsSelector() {
  if (epfd_ >= 0) ::close(epfd_);
}

OsSelector::Entry* OsSelector::find(Selectable* s) {
  auto it = index_.find(s);
  return it == index_.end() ? nullptr : &registered_[it->second];
}

void OsSelector::ensureEpoll() {
  if (epfd_ >= 0) return;
  epfd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epfd_ < 0) error::throwErrno("Unable to create epoll instance");
}

void OsSelector::epollAdd(int fd, uint32_t events, Selectable* s) {
  ensureEpoll();
  struct epoll_event ev = {};
  ev.events = events;
  ev.data.ptr = s;
  if (::epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
    if (errno == EEXIST && ::epoll_ctl(epfd_, EPOLL_CTL_MOD, fd, &ev) == 0) return;
    error::throwErrno("Unable to watch descriptor " + std::to_string(fd) + " for " + s->describe());
  }
}

void OsSelector::epollMod(int fd, uint32_t events, Selectable* s) {
  struct epoll_event ev = {};
  ev.events = events;
  ev.data.ptr = s;
  if (::epoll_ctl(epfd_, EPOLL_CTL_MOD, fd, &ev) != 0) {
    if (errno == ENOENT) return epollAdd(fd, events, s);
    error::throwErrno("Unable to watch descriptor " + std::to_string(fd) + " for " + s->describe());
  }
}

void OsSelector::epollDel(int fd) {
  // A descriptor already closed has left the epoll set by itself.
  if (epfd_ >= 0) ::epoll_ctl(epfd_, EPOLL_CTL_DEL, fd, nullptr);
}

void OsSelector::add(Selectable& s) {
  VX_ASSERT(!s.isFront(), "Tried to add StackedSelectableFront to OsSelector");
  VX_ASSERT(index_.count(&s) == 0, "Selectable allready added to selector: ", s.describe());
  Entry e{&s, -1, -1, 0, dynamic_cast<BlockingReadable*>(&s)};
  int h = s.handle();
  if (h >= 0) {
    epollAdd(h, EPOLLIN, &s);
    e.handle_index = static_cast<int>(handles_.size());
    handles_.push_back(h);
    handle_owners_.push_back(&s);
  }
  index_.emplace(&s, registered_.size());
  registered_.push_back(e);
}

void OsSelector::remove(Selectable& s) {
  auto it = index_.find(&s);
  VX_ASSERT(it != index_.end(), "Selectable to remove not on selector");
  size_t pos = it->second;
  Entry e = registered_[pos];
  index_.erase(it);
  registered_.erase(registered_.begin() + static_cast<ptrdiff_t>(pos));
  for (size_t i = pos; i < registered_.size(); ++i)
    index_[registered_[i].s] = i;
  for (auto q = os_avail_.begin(); q != os_avail_.end();) {
    q = (*q == &s) ? os_avail_.erase(q) : q + 1;
  }
  if (e.io_fd >= 0) epollDel(e.io_fd);
  if (e.handle_index >= 0) {
    size_t i = static_cast<size_t>(e.handle_index);
    epollDel(handles_[i]);
    // Swap-remove: the order of handles is not kept.
    handles_[i] = handles_.back();
    handle_owners_[i] = handle_owners_.back();
    handles_.pop_back();
    handle_owners_.pop_back();
    if (i < handles_.size()) find(handle_owners_[i])->handle_index = static_cast<int>(i);
  }
}

void OsSelector::setReady(Selectable& s) {
  VX_ASSERT(index_.count(&s) != 0, s.describe(), " not found on os_avail!");
  os_avail_.push_back(&s);
}

void OsSelector::forgetIo(Selectable& s) {
  Entry* e = find(&s);
  if (e == nullptr || e->io_fd < 0) return;
  epollDel(e->io_fd);
  e->io_fd = -1;
  e->io_events = 0;
}

void OsSelector::syncIo(Entry& e) {
  int fd = e.s->ioDescriptor();
  uint32_t want = fd >= 0 ? e.s->ioInterest() : 0;
  if (fd != e.io_fd) {
    if (e.io_fd >= 0) epollDel(e.io_fd);
    e.io_fd = -1;
    e.io_events = 0;
    if (fd >= 0 && want != 0) {
      epollAdd(fd, want, e.s);
      e.io_fd = fd;
      e.io_events = want;
    }
  } else if (fd >= 0 && want != e.io_events) {
    if (want == 0) {
      epollDel(fd);
      e.io_fd = -1;
    } else {
      epollMod(fd, want, e.s);
    }
    e.io_events = want;
  }
}

BlockingReadable* OsSelector::soleBlockingReader() const {
  if (!handles_.empty()) return nullptr;
  const Entry* sole = nullptr;
  for (const Entry& e : registered_) {
    if (e.io_fd < 0) continue;
    if (sole != nullptr) return nullptr;
    sole = &e;
  }
  if (sole == nullptr || sole->io_events != EPOLLIN) return nullptr;
  return sole->blocking;
}

Selectable* OsSelector::osWait(int64_t timeout_us, bool& timed_out) {
  timed_out = false;
  struct timespec ts = {static_cast<time_t>(timeout_us / 1000000),
                        static_cast<long>(timeout_us % 1000000) * 1000L};
  if (epfd_ < 0) {
    // Nothing the kernel could report: a plain sleep for the time-out.
    if (timeout_us < 0) {
      ::pause();
      return nullptr;
    }
    if (::nanosleep(&ts, nullptr) != 0 && errno == EINTR) return nullptr;
    timed_out = true;
    return nullptr;
  }
  constexpr int kMaxEvents = 64;
  struct epoll_event events[kMaxEvents];
  // epoll_pwait2 takes the time-out to the nanosecond, so a timer is not served up to a
  // millisecond late; kernels before 5.11 lack it and get the rounded-up millisecond wait.
  static bool have_pwait2 = true;
  int n = -1;
  if (have_pwait2) {
    n = ::epoll_pwait2(epfd_, events, kMaxEvents, timeout_us < 0 ? nullptr : &ts, nullptr);
    if (n < 0 && errno == ENOSYS) have_pwait2 = false;
  }
  if (!have_pwait2) {
    int64_t ms = timeout_us < 0 ? -1 : (timeout_us + 999) / 1000;
    n = ::epoll_wait(epfd_, events, kMaxEvents,
                     ms > 2147483647 ? 2147483647 : static_cast<int>(ms));
  }
  if (n < 0) {
    if (errno == EINTR) return nullptr;
    error::throwErrno("WaitForMultipleEvents returned error");
  }
  if (n == 0) {
    timed_out = true;
    return nullptr;
  }
  // I/O first, like completion routines that run before a wait reports a handle: the
  // streams read or write now and the next pass finds them ready.
  bool completed = false;
  Selectable* best = nullptr;
  int best_index = 0;
  for (int i = 0; i < n; ++i) {
    auto* s = static_cast<Selectable*>(events[i].data.ptr);
    Entry* e = find(s);
    if (e == nullptr) continue;
    if (e->io_fd >= 0 && e->io_events != 0 && e->handle_index < 0) {
      s->ioReady(events[i].events);
      completed = true;
    } else if (e->handle_index >= 0 && (best == nullptr || e->handle_index < best_index)) {
      best = s;
      best_index = e->handle_index;
    }
  }
  if (completed) return nullptr;
  return best;
}

OsSelector::Spin OsSelector::pollFirst(int64_t timeout_us, BlockingReadable* sole,
                                       Selectable*& fired, bool& timed_out) {
  static const bool off = busyPollDisabled();
  if (epfd_ < 0 || off) return Spin::No;
  int64_t now = monotonicNs();
  if (!spin_.shouldSpin(now)) return Spin::No;
  if (spin_.preempted(threadPreemptions())) {
    spin_.spun(false);
    return Spin::No;
  }
  // Never past the time-out (compared in microseconds: a far deadline must not overflow).
  int64_t until =
      now + (timeout_us < 0 || timeout_us >= SpinPolicy::kBudgetNs / 1000 ? SpinPolicy::kBudgetNs
                                                                          : timeout_us * 1000);
  do {
    bool found;
    if (sole != nullptr) {
      found = sole->readAvailable();
    } else {
      fired = osWait(0, timed_out);
      found = fired != nullptr || !timed_out;
    }
    if (found) {
      spin_.spun(true);
      spin_.sawIo(monotonicNs());
      return Spin::Found;
    }
  } while (monotonicNs() < until);
  spin_.spun(false);
  return Spin::Expired;
}

Selectable& OsSelector::wait(bool nonblocking) {
  for (;;) {
    // 1. Selectables already known ready. One with a deadline, due or not, is served through
    // the time-out below, so no clock is read here: a loop without timers never reads it.
    while (!os_avail_.empty()) {
      Selectable* s = os_avail_.front();
      os_avail_.pop_front();
      TimeValue d;
      if (s->deadline(d)) continue;
      if (s->isReady() || s->handle() >= 0) return *s;
    }
    // 2. Prepare every selectable for the wait; note the earliest deadline.
    TimeValue earliest = TimeValue::never();
    Selectable* earliest_sel = nullptr;
    snapshot_.clear();
    for (const Entry& e : registered_)
      snapshot_.push_back(e.s);
    for (Selectable* s : snapshot_) {
      Entry* e = find(s);
      if (e == nullptr) continue;
      TimeValue d;
      if (s->deadline(d)) {
        if (d < earliest) {
          earliest = d;
          earliest_sel = s;
        }
        s->prepareWait();
      } else {
        s->prepareWait();
        if (s->isReady()) os_avail_.push_back(s);
      }
      if ((e = find(s)) != nullptr) syncIo(*e);
    }
    // 3.
    if (!os_avail_.empty()) continue;
    // 4. Time-out.
    int64_t timeout_us;
    if (nonblocking) {
      timeout_us = 0;
    } else if (earliest_sel == nullptr) {
      timeout_us = -1;
    } else {
      TimeValue now = TimeValue::now();
      if (earliest <= now) {
        timeout_us = 0;
      } else {
        TimeValue left = earliest - now;
        timeout_us = int64_t{left.sec} * 1000000 + left.usec;
      }
    }
    // 5./6. Wait in the kernel: first polling, while that pays (the polls are waits without a
    // time-out; a poll that found nothing starts a new pass, so the time-out is right again);
    // then asleep, in the read of the only descriptor when that is all there is to wait for,
    // else in epoll.
    bool timed_out = false;
    Selectable* fired = nullptr;
    BlockingReadable* sole = timeout_us < 0 ? soleBlockingReader() : nullptr;
    Spin spin = timeout_us != 0 ? pollFirst(timeout_us, sole, fired, timed_out) : Spin::No;
    if (spin == Spin::Expired) continue;
    if (spin == Spin::Found && sole != nullptr) continue;  // it is ready: a new pass serves it
    if (spin == Spin::No) {
      if (sole != nullptr) {
        sole->readBlocking();
        spin_.sawIo(monotonicNs());
        continue;
      }
      fired = osWait(timeout_us, timed_out);
      if (!timed_out) spin_.sawIo(monotonicNs());
    }
    if (fired != nullptr) {
      if (!fired->acknowledgeWakeup()) return *fired;
      continue;
    }
    if (!timed_out) continue;  // I/O ran or the wait was interrupted: new pass.
    // 7. Time-out.
    if (nonblocking) throw ENotReady("<unknown>");
    if (earliest_sel != nullptr && find(earliest_sel) != nullptr && earliest_sel->isReady()) {
      return *earliest_sel;
    }
  }
}

}  // namespace io
