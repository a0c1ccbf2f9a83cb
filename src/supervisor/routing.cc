// Routing as policy: which peer a worker may have, starting demand-loaded workers on first use,
// taking over each newly connected worker, and the supervisor's own sends.
#include "io/exceptions.h"
#include "io/sibling/sibling_error.h"
#include "supervisor/main_process.h"
#include "supervisor/slog.h"

namespace supervisor {

namespace {

// A worker's messages not yet acknowledged may take at most this part of the supervisor's area.
constexpr uint64_t kAreaShare = 4;

}  // namespace

bool MainProcess::grantPeer(queues::queue_t target, queues::queue_t requester) {
  if (shutting_down_) {
    slog("Ignoring request to spawn " + queues::queueName(target) + " because of event from id " +
         queues::queueName(requester));
    return false;
  }
  VexlanProcess* existing = registry_.findByQueue(target);
  if (existing != nullptr && !existing->leaving()) return true;  // it connects by itself
  if (isAutostart(target)) {
    if (existing != nullptr) {
      // Leaving: started again once it has gone, and introduced then.
      existing->respawn = true;
      return true;
    }
    // This runs inside the messenger; a failure to start leaves it consistent (the request
    // is refused) and ends the run from the main loop.
    try {
      spawnWorker(*copyIfDemandLoad(target));
      return true;
    } catch (const error::Exception&) {
      deferred_ = std::current_exception();
      return false;
    }
  }
  slog("Sender ID: " + std::to_string(requester));
  slog(" wanted to send message to ID: " + std::to_string(target));
  slog(". But ID: " + std::to_string(target));
  slog(" is neither running nor able to be autostarted.");
  return false;
}

void MainProcess::onNewSibling() {
  io::SiblingMessenger& messenger = smparent_->messenger();
  while (io::SiblingMessenger::SiblingRef si = messenger.takeNewSibling()) {
    const auto queue = static_cast<queues::queue_t>(si->id());
    VexlanProcess* p = registry_.findByQueue(queue);
    // A child chooses the id it connects as: one we did not start it as is its fault.
    if (p == nullptr || p->connected() || p->state != WorkerState::Starting) {
      throw io::ESiblingProtocolError(si->id(),
                                      "connected as queue " + queues::queueName(queue) +
                                          ", which no worker waiting to connect was started as");
    }
    p->connect(si);
    // No worker may take more than its share of the supervisor's area: the others' answers
    // still find room while one does not read.
    const io::AreaAllocator& area = messenger.allocator();
    messenger.limitOutstanding(si->id(), (area.areaEnd() - area.areaOffset()) / kAreaShare);
    watch(si->istream(), makeClosure(p, &VexlanProcess::onReadable));
    p->state = WorkerState::Initing;
    statusChanged();
    while (!p->held.empty()) {
      std::unique_ptr<queues::event> ev = std::move(p->held.front());
      p->held.pop_front();
      sendToProcess(*p, *ev, queues::QUEUE_MAIN);
    }
    // The database worker gets the custom NetChecks as soon as it can take them.
    if (queue == queues::QUEUE_DBMS) netcheck_timer_.set(TimeValue::now());
  }
}

void MainProcess::sendToProcess(VexlanProcess& p, queues::event& ev, queues::queue_t sender) {
  ev.dest = sender;
  if (!p.connected()) {
    if (p.held.size() >= VexlanProcess::kMaxHeld) {
      slog("Dropping " + queues::eventName(ev.type) + " for " + p.tag() + ": " +
           std::to_string(p.held.size()) + " events already wait for it to connect");
      return;
    }
    p.held.push_back(ev.clone());
    return;
  }
  if (p.sibling().gone() || p.sibling().shutdownPending()) {
    slog("Not sending " + queues::eventName(ev.type) + " to " + p.tag() + ": it is leaving");
    return;
  }
  try {
    p.prim() << ev;
    p.prim().endWrite();
  } catch (const io::EEndOfStream& e) {
    slog("Cannot send " + queues::eventName(ev.type) + " to " + p.tag() + ": " + e.what());
  }
  if (p.output().queued() > 0) outputWaiting(p);
}

void MainProcess::outputWaiting(VexlanProcess& p) {
  io::OStream& out = p.sibling().ostream();
  if (!selector_.contains(out)) watch(out, makeClosure(&p, &VexlanProcess::onWritable));
  updateUntakenClock(p, TimeValue::now());
}

void MainProcess::onWorkerWritable(VexlanProcess& p) {
  bool done;
  try {
    done = p.output().pump();
  } catch (const io::EEndOfStream& e) {
    slog("Dropping the events waiting for " + p.tag() + ": " + e.what());
    done = true;
  }
  if (!done) return;
  unwatch(p.sibling().ostream());
  p.untaken.stop();
  resumeReading(p);
}

void MainProcess::pauseReading(VexlanProcess& p) {
  if (p.reading_paused) return;
  p.reading_paused = true;
  unwatch(p.sibling().istream());
}

void MainProcess::resumeReading(VexlanProcess& p) {
  if (!p.reading_paused) return;
  p.reading_paused = false;
  if (p.istream_eos) return;
  watch(p.sibling().istream(), makeClosure(&p, &VexlanProcess::onReadable));
}

void MainProcess::sendTo(queues::event& ev) {
  const queues::queue_t target = ev.dest;
  if (VexlanProcess* p = registry_.findByQueue(target)) {
    if (p->leaving() && p->respawn && p->entry.demandLoad()) {
      // For the next run of it, which is already asked for.
      if (p->held.size() < VexlanProcess::kMaxHeld) p->held.push_back(ev.clone());
      return;
    }
    return sendToProcess(*p, ev, queues::QUEUE_MAIN);
  }
  if (!isAutostart(target)) {
    if (!shutting_down_) {
      slog("I don't know to whom I'm writing! dest=" + queues::queueName(target) + " from " +
           queues::queueName(queues::QUEUE_MAIN) + " message " + queues::eventName(ev.type));
    }
    return;
  }
  if (shutting_down_) return;  // nothing new starts while the server stops
  slog("Auto-starting process for queue [" + queues::queueName(target) + "]");
  std::optional<WorkerEntry> row = copyIfDemandLoad(target);
  if (!row) {
    slog("Unable to find process for queue...");
    return;
  }
  spawnWorker(std::move(*row));
  VexlanProcess* p = registry_.findByQueue(target);
  if (p == nullptr) {
    slog("Unable to find process after spawn");
    return;
  }
  sendToProcess(*p, ev, queues::QUEUE_MAIN);  // held until it connects
}

}  // namespace supervisor
