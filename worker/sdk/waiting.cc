// Everything that waits: blocking requests, waits for a peer, for room to write and for the
// rest of an event, and the user's timers and selectables.
#include <spdlog/spdlog.h>

#include "error/assert.h"
#include "io/exceptions.h"
#include "sdk/condition_front.h"
#include "sdk/guarded_streams.h"
#include "sdk/worker.h"

namespace worker {

using queues::event;
using queues::queue_t;

namespace {

// Values of a blocking wait's selector; peers are kPeer + queue.
constexpr int kParentGone = -1;
constexpr int kTimeout = -2;
constexpr int kCondition = -3;
constexpr int kPeer = 0;

template <typename F>
refcount_ptr<BindBase<void>> closure(F f) {
  return makeFunctionClosure<void>(std::move(f));
}

}  // namespace

bool isSupervisorRequest(const event& ev) {
  if (ev.exception) return false;
  switch (ev.type) {
    case queues::SYS_EXIT:
    case queues::SET_LOG_LEVEL:
    case queues::GET_METRIC:
    case queues::GET_METRIC_TYPE:
    case queues::LIST_METRICS:
      return true;
    default:
      return false;
  }
}

void Worker::setUpRequestWait() {
  request_sel_.add(*watch_, kParentGone);
  request_sel_.add(request_timer_, kTimeout);
  request_sel_.add(*peers_[0].readable, kPeer + 0);
}

std::unique_ptr<event> Worker::block(uint32_t id, const std::function<bool()>& until,
                                     Timeout timeout, const std::string& what, Serve serve) {
  if (until && until()) return nullptr;
  TimeValue deadline = timeout == kForever
                           ? TimeValue::never()
                           : TimeValue::now() + TimeValue::fromMilliseconds(timeout.count());
  // Any other wait has a selector of its own: waits nest (a write that waits for room inside
  // an answer given while a request waits), and each watches only what it may touch.
  bool common = serve == Serve::Supervisor && !until && blocked_ == 0 && !peers_[0].reading;
  io::Selector<int> local;
  io::Selector<int>& sel = common ? request_sel_ : local;
  io::Timer local_timer(deadline);
  std::unique_ptr<ConditionFront> cond;
  if (common) {
    request_timer_.set(deadline);
  } else {
    sel.add(*watch_, kParentGone);
    sel.add(local_timer, kTimeout);
    if (until) {
      cond = std::make_unique<ConditionFront>(*m_, until, what);
      sel.add(*cond, kCondition);
    }
    if (serve == Serve::Supervisor && peers_[0].watched && !peers_[0].reading) {
      sel.add(*peers_[0].readable, kPeer + 0);
    }
    for (int32_t q = 0; serve == Serve::Peers && q <= io::kMaxSiblingId; ++q) {
      const Peer& p = peers_[static_cast<size_t>(q)];
      if (p.watched) sel.add(p.si->istream(), kPeer + q);
    }
  }
  ++blocked_;
  struct Leave {
    int& depth;
    io::Timer& timer;
    ~Leave() {
      --depth;
      timer.set(TimeValue::never());
    }
  } leave{blocked_, common ? request_timer_ : local_timer};
  for (;;) {
    int got = poll(sel).second;
    switch (got) {
      case kCondition:
        if (until()) return nullptr;
        continue;
      case kTimeout:
        if (id != 0) abandoned_.insert(id);
        throw ETimeout(what + ": no answer within " + std::to_string(timeout.count()) + " ms");
      case kParentGone:
        supervisorGone("its FIFO has no reader");
    }
    int32_t q = got - kPeer;
    if (serve == Serve::Peers) {
      const Peer& p = peers_[static_cast<size_t>(q)];
      // Its end is left for the event reader, after what was held.
      if (!p.in->hold()) sel.remove(p.si->istream());
      continue;
    }
    std::unique_ptr<event> ev = readEvent(0);
    // An end of the supervisor's stream has been raised by now, unless we have left.
    if (ev == nullptr) throw EPeerGone(queues::QUEUE_MAIN, "ended: this worker has left");
    if (id != 0 && ev->inresponse == id && !isSupervisorRequest(*ev)) return ev;
    if (ev->inresponse != 0 && awaited_.count(ev->inresponse) != 0 && !isSupervisorRequest(*ev)) {
      early_[ev->inresponse] = std::move(ev);  // the reply to another request of a callAll
      continue;
    }
    // Metric queries and log levels are answered at once (the supervisor may be waiting for
    // them on someone else's behalf), unless a write is in progress: its event must not be
    // split by another.
    if (sending_ == 0 && isSupervisorRequest(*ev) && ev->type != queues::SYS_EXIT) {
      dispatch(*ev, queues::QUEUE_MAIN);
    } else {
      defer(std::move(ev), queues::QUEUE_MAIN);
    }
  }
}

// The writer of the rest may itself wait for room that only others can give back: they go on
// as we take in what they send.
void Worker::waitReadable(int32_t q, const GuardedIStream& in) {
  if (in.readable()) return;
  block(
      0, [&in] { return in.readable(); }, kForever, "Reading from " + queues::queueName(q),
      Serve::Peers);
}

// Taking in what the others send while we wait lets them go on, and so frees our area if
// they are the ones we wait for.
void Worker::waitWritable(int32_t q, io::OStream& real) {
  if (real.isReady()) return;
  block(
      0, [&real] { return real.isReady(); }, kForever, "Writing to " + queues::queueName(q),
      Serve::Peers);
}

size_t GuardedIStream::readBegin(const uint8_t*& p) {
  if (held_.empty()) {
    w_.waitReadable(peer_, *this);
    if (held_.empty()) take();
  }
  p = reinterpret_cast<const uint8_t*>(held_.front().data()) + held_pos_;
  return held_.front().size() - held_pos_;
}

void GuardedIStream::readCommit(size_t n) {
  VX_ASSERT(!held_.empty() && n <= held_.front().size() - held_pos_,
            "Committed more than was offered by ", describe());
  held_pos_ += n;
  if (held_pos_ < held_.front().size()) return;
  spare_ = std::move(held_.front());
  held_.pop_front();
  held_pos_ = 0;
}

void GuardedIStream::take() {
  const uint8_t* p;
  size_t n = real_.readBegin(p);
  VX_ASSERT(n > 0, describe(), " offered an empty message");
  spare_.assign(reinterpret_cast<const char*>(p), n);
  held_.push_back(std::move(spare_));
  spare_ = std::string();
  real_.readCommit(n);
}

bool GuardedIStream::hold() {
  try {
    while (real_.isReady())
      take();
    return true;
  } catch (const io::EEndOfStream&) {
    return false;
  }
}

size_t GuardedOStream::writeBegin(uint8_t*& p) {
  w_.waitWritable(peer_, real_);
  return real_.writeBegin(p);
}

void Worker::waitPeer(queue_t to, Timeout timeout) {
  Peer& p = peer(to);
  io::SiblingMessenger::SiblingRef si = p.si;
  block(
      0, [si] { return si->gone() || si->fifoOpen(); }, timeout,
      "Waiting for " + queues::queueName(to), Serve::Supervisor);
  if (si->gone()) throw EPeerGone(to, "has gone or was refused");
  p.connected = true;
}

void Worker::watch(io::Selectable& s, Callback fn) {
  sel_.add(s, closure(std::move(fn)));
}

void Worker::unwatch(io::Selectable& s) {
  sel_.remove(s);
}

Worker::TimerId Worker::after(Timeout delay, Callback fn) {
  TimerId id = ++next_timer_;
  auto timer =
      std::make_unique<io::Timer>(TimeValue::now() + TimeValue::fromMilliseconds(delay.count()));
  sel_.add(*timer, closure([this, id] { fireTimer(id); }));
  timers_.emplace(id, TimerEntry{std::move(timer), std::move(fn)});
  return id;
}

void Worker::cancel(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  sel_.remove(*it->second.timer);
  timers_.erase(it);
}

void Worker::fireTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  Callback fn = std::move(it->second.fn);
  sel_.remove(*it->second.timer);
  timers_.erase(it);
  fn();
}

}  // namespace worker
