// Stopping the server: the orderly shutdown in dependency order, every worker's end, and the
// emergency path.
#include <poll.h>
#include <signal.h>
#include <string.h>

#include "io/exceptions.h"
#include "queues/events_control.h"
#include "supervisor/entry/entry.h"
#include "supervisor/main_process.h"
#include "supervisor/slog.h"

namespace supervisor {

void MainProcess::onShutdownSignal() {
  // Only requests of root or of our own uid count; a named event checks who sent them.
  if (!shutdown_.take()) return;
  if (!shutting_down_) {
    slog("Server shut down by administrator");
    initiateShutdown();
    return;
  }
  // Repeated requests (the client repeats every 2 seconds) are welcome; a flood of them must
  // not flood the log.
  if (progress_dumps_.allow()) progressDump();
}

void MainProcess::progressDump() {
  slog("Shutdown already in progress. Be patient please...");
  for (const auto& [q, r] : registry_.records()) {
    if (r->state == WorkerState::Exiting) {
      slog("Waiting for " + r->entry.exe + " " + std::to_string(r->child->pid()) + "..." +
           r->stateDump() + " isDone says: " + (r->isDone() ? "1" : "0"));
    } else {
      slog("Process " + r->entry.exe + " has state " + r->stateDump());
    }
  }
}

void MainProcess::initiateShutdown() {
  if (shutting_down_) return;
  shutting_down_ = true;
  shutdown_began_ = TimeValue::now();
  slog("System shutdown initiated.");
  entry::notifyShuttingDown();
  statusChanged();
  stopOrderStep();
}

void MainProcess::stopOrderStep() {
  if (!shutting_down_) return;
  std::vector<StopCandidate> records;
  for (const auto& [q, r] : registry_.records())
    records.push_back({q, r->state, r->depend_on});
  StopDecision d = decideStopOrder(records);
  for (const std::vector<queues::queue_t>& ring : d.cycles) {
    std::string names;
    for (queues::queue_t q : ring)
      names += (names.empty() ? "" : " ") + registry_.findByQueue(q)->tag();
    slog("Workers " + names + " need one another to shut down; telling them to exit together");
  }
  for (queues::queue_t q : d.tell) {
    // Telling one to exit may end it at once (a hard shutdown) but never removes a record.
    if (VexlanProcess* r = registry_.findByQueue(q)) tellToExit(*r);
  }
  std::string waiting;
  for (const auto& [q, r] : registry_.records())
    waiting += " " + r->tag();
  entry::serviceStatus(waiting.empty() ? "All workers have ended"
                                       : "Shutting down, waiting for" + waiting);
}

void MainProcess::tellToExit(VexlanProcess& p) {
  p.state = WorkerState::Exiting;
  statusChanged();
  if (!p.entry.hardShutdown()) {
    slog("Telling " + p.entry.exe + " to exit");
    queues::ev<queues::SYS_EXIT> bye(queues::QUEUE_MAIN, 0, {0, queues::QUEUE_MAIN, ""});
    sendToProcess(p, bye, queues::QUEUE_MAIN);
    return;
  }
  slog("Interrupting " + p.entry.exe);
  VX_ASSERT(p.entry.hardShutdown(), "interrupt called on non HardShutdown process");
  p.killed = true;
  p.child->kill();
  smparent_->messenger().siblingDied(p.entry.queue);
}

void MainProcess::onWorkerGone(VexlanProcess& p) {
  drainStderr(p);
  p.process_gone = true;
  unwatch(*p.child);
  const int code = p.child->exitCode();
  // What it was sent is freed; what it sent before it ended can still be read. One that left
  // in order, or was interrupted, counts as gone already.
  io::SiblingMessenger::SiblingRef si = smparent_->messenger().findSibling(p.entry.queue);
  if (!si || !si->gone()) smparent_->messenger().siblingDied(p.entry.queue);
  if (p.connected()) {
    // Nothing more reaches it: what waited for it goes, and what it sent is read to the end.
    p.output().drop();
    unwatch(p.sibling().ostream());
    p.untaken.stop();
    resumeReading(p);
  }
  if (code != 0 && !p.killed) {
    if (int sig = p.child->terminatingSignal(); sig != 0) {
      slog("Process " + p.tag() + " was killed by signal " + std::to_string(sig) + " (" +
           ::strsignal(sig) + ")");
    }
    slog("Process " + p.tag() + " terminated unexpectedly with exit code " + std::to_string(code) +
         ". Will shut down.");
    emergency("Process " + p.tag() + " terminated unexpectedly with exit code " +
              std::to_string(code));
  }
  // Its events are read up to the end of its stream, so that a worker that ended without
  // leaving the messenger is judged like one that left: outside a shutdown only a
  // demand-loaded worker may end.
  if (p.connected()) {
    io::IStream& in = p.sibling().istream();
    while (!p.istream_eos && selector_.contains(in) && in.isReady())
      onWorkerReadable(p);
  } else if (!shutting_down_ && !p.entry.demandLoad()) {
    emergency("Process " + p.tag() + " shut down.");
  }
  slog("Process " + p.tag() + " successfully shut down");
  removeRecord(p);
  stopOrderStep();
}

void MainProcess::removeRecord(VexlanProcess& p) {
  const queues::queue_t queue = p.entry.queue;
  metrics_.workerGone(queue);
  if (p.connected()) {
    unwatch(p.sibling().istream());
    unwatch(p.sibling().ostream());
  }
  unwatch(p.child->stdOut());
  unwatch(*p.child);
  std::unique_ptr<VexlanProcess> gone = registry_.remove(queue);
  statusChanged();
  if (!gone->respawn || shutting_down_) return;
  // A peer asked for it while it was leaving: it comes back, with what waited for it.
  std::deque<std::unique_ptr<queues::event>> held = std::move(gone->held);
  gone.reset();
  slog("Will demand-load process " + queues::queueName(queue) + " again, as it was asked for");
  spawnWorker(*copyIfDemandLoad(queue));
  registry_.findByQueue(queue)->held = std::move(held);
}

void MainProcess::emergency(const std::string& text) {
  entry::reportFatal(text);
  throw EmergencyShutdown();
}

void MainProcess::poolCorrupted(const std::string& what) {
  // Every worker maps the pool; the SDK maps our area read-only, so only a worker that maps it
  // again on purpose can write there, and nothing tells which one did. With a single worker
  // attached there is no doubt.
  std::string who = "a worker";
  VexlanProcess* only = nullptr;
  size_t attached = 0;
  for (const auto& [q, r] : registry_.records()) {
    if (r->connected()) {
      ++attached;
      only = r.get();
    }
  }
  if (attached == 1) who = "worker " + only->tag();
  emergency("The supervisor's message area in shared memory was overwritten by " + who + ": " +
            what);
}

void MainProcess::killAll() {
  std::vector<std::unique_ptr<VexlanProcess>> killed;
  while (!registry_.empty()) {
    VexlanProcess& p = *registry_.records().begin()->second;
    slog("Killing " + p.tag() + " (pid " + std::to_string(p.child->pid()) + ")");
    // The worker leads a process group of its own: what it started goes with it. Its pid
    // (and so the group id) cannot be reused before we reap it.
    ::kill(-p.child->pid(), SIGKILL);
    p.child->kill();
    if (p.connected()) {
      unwatch(p.sibling().istream());
      unwatch(p.sibling().ostream());
    }
    unwatch(p.child->stdOut());
    unwatch(*p.child);
    killed.push_back(registry_.remove(p.entry.queue));
    statusChanged();
  }
  // Reaped before the run goes on, so that none is left behind, not even as a zombie. A
  // killed process ends at once; the wait is bounded all the same.
  const TimeValue until = TimeValue::now() + TimeValue(5, 0);
  for (auto& p : killed) {
    for (;;) {
      try {
        p->child->exitCode();
        break;
      } catch (const io::ENotReady&) {
      }
      TimeValue left = until - TimeValue::now();
      if (left.sec < 0) break;
      pollfd pfd = {p->child->handle(), POLLIN, 0};
      ::poll(&pfd, 1, static_cast<int>(left.sec * 1000 + left.usec / 1000) + 1);
    }
  }
  for (pid_t pid : reaper_.killRest([](pid_t) { return false; }))
    slog("Killed process " + std::to_string(pid) + ", left behind by a worker");
}

}  // namespace supervisor
