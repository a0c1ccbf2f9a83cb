// Attaching, the peers' streams, dispatch and the run loop.
#include "sdk/worker.h"

#include <spdlog/spdlog.h>

#include "io/exceptions.h"
#include "io/sibling/sibling_error.h"
#include "queues/catalogue.h"
#include "sdk/condition_front.h"
#include "sdk/guarded_streams.h"
#include "sdk/log_levels.h"
#include "sdk/metrics.h"

namespace worker {

using queues::event;
using queues::queue_t;

namespace {

template <typename F>
refcount_ptr<BindBase<void>> closure(F f) {
  return makeFunctionClosure<void>(std::move(f));
}

}  // namespace

Worker::Worker(Identity identity, Options options)
    : identity_(std::move(identity)), options_(std::move(options)) {
  io::siblingmessenger_conf_t conf =
      io::siblingmessenger_conf_t::fromEnvironment(options_.env_prefix);
  // Watch first: a supervisor that is already gone is reported as such, not as a failure to
  // open its FIFO.
  watch_ = conf.channel >= 0 ? std::make_unique<ParentWatch>(ParentWatch::Channel{conf.channel})
                             : std::make_unique<ParentWatch>(io::fifoPath(conf.fifoprefix, 0));
  m_ = std::make_unique<io::SiblingMessenger>(conf, identity_.queue);
  peers_.resize(static_cast<size_t>(io::kMaxSiblingId) + 1);
  m_->sibling(0);
  refreshPeers();
  changes_ = std::make_unique<ConditionFront>(
      *m_, [this] { return peersChanged(); }, "PeerChanges");
  sel_.add(*changes_, closure([this] { refreshPeers(); }));
  sel_.add(*watch_, closure([this] { supervisorGone("its FIFO has no reader"); }));
  setUpRequestWait();
  block(
      0, [this] { return m_->writable(); }, options_.attach_timeout, "Waiting for the write area",
      Serve::Supervisor);
}

Worker::~Worker() = default;

Worker::Peer& Worker::peer(queue_t q) {
  if (q < 0 || q > io::kMaxSiblingId || q == identity_.queue) {
    throw EPeerGone(q, "is not a peer of " + identity_.sname);
  }
  if (!peers_[static_cast<size_t>(q)].si) m_->sibling(q);
  refreshPeer(q);
  return peers_[static_cast<size_t>(q)];
}

bool Worker::peersChanged() const {
  for (int32_t q = 0; q <= io::kMaxSiblingId; ++q) {
    if (q != identity_.queue &&
        m_->findSibling(q).get() != peers_[static_cast<size_t>(q)].si.get()) {
      return true;
    }
  }
  return false;
}

void Worker::refreshPeers() {
  for (int32_t q = 0; q <= io::kMaxSiblingId; ++q) {
    if (q != identity_.queue) refreshPeer(q);
  }
}

// A peer appears when it is introduced (or when we first write to it), and a peer that comes
// back after it ended is a new implementation: its input stream is watched from then on.
void Worker::refreshPeer(int32_t q) {
  Peer& p = peers_[static_cast<size_t>(q)];
  io::SiblingMessenger::SiblingRef cur = m_->findSibling(q);
  if (cur.get() == p.si.get() || p.reading) return;
  if (p.watched) sel_.remove(*p.readable);
  p.prim.reset();  // it reads the old streams
  p = Peer{};
  p.si = cur;
  if (!p.si) return;
  p.in = std::make_unique<GuardedIStream>(*this, q, p.si->istream());
  p.out = std::make_unique<GuardedOStream>(*this, q, p.si->ostream());
  p.readable = std::make_unique<ConditionFront>(
      *m_, [this, q] { return readable(q); }, p.si->istream().describe());
  p.prim = std::make_unique<protocol::ioprim>(p.in.get(), p.out.get());
  sel_.add(*p.readable, closure([this, q] { readFrom(q); }));
  p.watched = true;
}

bool Worker::readable(int32_t q) const {
  return peers_[static_cast<size_t>(q)].in->readable();
}

std::unique_ptr<event> Worker::readEvent(int32_t q) {
  Peer& p = peers_[static_cast<size_t>(q)];
  struct Reading {
    Peer& p;
    explicit Reading(Peer& peer) : p(peer) { p.reading = true; }
    ~Reading() { p.reading = false; }
  } reading(p);
  try {
    return queues::readEvent(*p.prim);
  } catch (const io::EEndOfStream&) {
    peerEnded(q);
  } catch (const ESupervisorGone&) {
    throw;
  } catch (const error::Exception& e) {
    // The supervisor is part of this server: garbage from it ends the worker.
    if (q == 0) throw;
    // Nobody can tell where the next event of this peer starts: what it sends from now on is
    // read (so that it can still finish its shutdown) and dropped.
    spdlog::error("Bad event from {}: {}; dropping everything it sends from now on",
                  queues::queueName(q), e.what());
    p.poisoned = true;
    p.prim.reset();
  }
  return nullptr;
}

void Worker::readFrom(int32_t q) {
  if (peers_[static_cast<size_t>(q)].poisoned) {
    discard(q);
  } else if (std::unique_ptr<event> ev = readEvent(q)) {
    dispatch(*ev, static_cast<queue_t>(q));
  }
}

bool Worker::discard(int32_t q) {
  io::IStream& in = *peers_[static_cast<size_t>(q)].in;
  try {
    const uint8_t* data;
    in.readCommit(in.readBegin(data));
    return true;
  } catch (const io::EEndOfStream&) {
    peerEnded(q);
    return false;
  }
}

void Worker::peerEnded(int32_t q) {
  Peer& p = peers_[static_cast<size_t>(q)];
  if (p.watched) {
    sel_.remove(*p.readable);
    p.watched = false;
  }
  if (q == 0) {
    // Once our leave is acknowledged and all we sent has been read, every stream ends.
    if (leaving_) {
      finished_ = true;
      return;
    }
    supervisorGone("its stream ended");
  }
  if (leaving_ || !peer_gone_) return;
  bool refused = p.waiting && !p.connected;
  auto notify = [this, q, refused] { peer_gone_(static_cast<queue_t>(q), refused); };
  if (blocked_ > 0) {
    deferred_.push_back(notify);
  } else {
    notify();
  }
}

void Worker::supervisorGone(const std::string& why) {
  throw ESupervisorGone(why);
}

template <typename T>
std::pair<io::Selectable*, T> Worker::poll(io::Selector<T>& sel) {
  for (;;) {
    try {
      return sel.poll();
    } catch (const io::ESiblingProtocolError& e) {
      if (e.verified()) throw;
      spdlog::error("{}: ignored a control message of an unknown sender: {}", identity_.sname,
                    e.what());
    }
  }
}

template std::pair<io::Selectable*, int> Worker::poll(io::Selector<int>& sel);

void Worker::on(queues::event_t number, Handler handler) {
  handlers_[number] = std::move(handler);
}

void Worker::defer(std::unique_ptr<event> ev, queue_t from) {
  deferred_.push_back(
      [this, e = std::shared_ptr<event>(std::move(ev)), from] { dispatch(*e, from); });
}

void Worker::dispatch(event& ev, queue_t from) {
  if (observer_) observer_(ev, from);
  if (handleInternally(ev, from)) return;
  if (leaving_) return;
  if (from == queues::QUEUE_MAIN && ev.inresponse != 0) {
    auto it = pending_.find(ev.inresponse);
    if (it != pending_.end()) {
      ReplyHandler h = std::move(it->second);
      pending_.erase(it);
      h(ev);
      return;
    }
    if (abandoned_.erase(ev.inresponse) != 0) return;
  }
  auto it = handlers_.find(ev.type);
  if (it != handlers_.end()) {
    it->second(ev, from);
  } else if (unhandled_) {
    unhandled_(ev, from);
  } else {
    spdlog::debug("Dropping {} from {}", queues::eventName(ev.type), queues::queueName(from));
  }
}

bool Worker::handleInternally(event& ev, queue_t from) {
  if (ev.exception) return false;
  switch (ev.type) {
    case queues::GET_METRIC:
    case queues::GET_METRIC_TYPE:
    case queues::LIST_METRICS:
      // Whoever asks gets the answer; normally the supervisor, on behalf of a client.
      if (auto answer = answerMetricRequest(ev, metrics_, identity_.sname)) reply(from, *answer);
      return true;
    case queues::SET_LOG_LEVEL:
      if (from != queues::QUEUE_MAIN) return false;
      for (const std::string& problem :
           applyLogLevels(queues::as<queues::SET_LOG_LEVEL>(ev)->payload)) {
        spdlog::warn("{}", problem);
      }
      return true;
    case queues::SYS_EXIT:
      if (from != queues::QUEUE_MAIN) return false;
      if (!leaving_ && (!on_exit_ || on_exit_(queues::as<queues::SYS_EXIT>(ev)->payload))) {
        leave(0);
      }
      return true;
    default:
      return false;
  }
}

void Worker::reply(queue_t to, event& ev) {
  try {
    send(to, ev);
  } catch (const EPeerGone& e) {
    // Leaving, or the asker has gone: nobody is waiting for this answer any more.
    spdlog::debug("No answer to {}: {}", queues::queueName(to), e.what());
  }
}

void Worker::send(queue_t to, event& ev) {
  Peer& p = peer(to);
  if (p.si->gone()) throw EPeerGone(to, "has gone or was refused");
  if (!p.prim) throw EPeerGone(to, "sent bytes that are not events");
  if (p.si->fifoOpen() || to == queues::QUEUE_MAIN) {
    p.connected = true;
  } else {
    p.waiting = true;
  }
  ev.dest = to;
  struct Sending {
    int& n;
    explicit Sending(int& count) : n(count) { ++n; }
    ~Sending() { --n; }
  } sending(sending_);
  try {
    *p.prim << ev;
    p.prim->endWrite();
  } catch (const io::EEndOfStream& e) {
    throw EPeerGone(to, e.what());
  }
}

int Worker::run() {
  try {
    while (!finished_) {
      if (!deferred_.empty()) {
        Callback work = std::move(deferred_.front());
        deferred_.pop_front();
        work();
        continue;
      }
      auto [s, fn] = poll(sel_);
      (*fn)();
    }
  } catch (const ESupervisorGone& e) {
    spdlog::error("{} ({}): {}", identity_.sname, identity_.program, e.what());
    return kExitSupervisorGone;
  }
  return exit_code_;
}

void Worker::leave(int exit_code) {
  if (leaving_) return;
  leaving_ = true;
  exit_code_ = exit_code;
  pending_.clear();
  m_->initShutdown();
}

void Worker::quit(int exit_code) {
  exit_code_ = exit_code;
  finished_ = true;
  m_->flush();
}

}  // namespace worker
