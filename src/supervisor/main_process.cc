// The supervisor's life: start, the main loop, spawning, and what each worker's standard
// error and process end bring.
#include "supervisor/main_process.h"

#include <unistd.h>

#include <cstdlib>

#include "io/sibling/area_usage.h"
#include "io/sibling/sibling_error.h"
#include "log/server_log.h"
#include "queues/events_control.h"
#include "queues/events_dbms_tql.h"
#include "supervisor/entry/entry.h"
#include "supervisor/env_duration.h"
#include "supervisor/slog.h"
#include "supervisor/worker_directory.h"
#include "util/parse.h"
#include "util/text.h"

namespace supervisor {

namespace {

// How often the custom NetCheck file is looked at: VX_NETCHECK_INTERVAL_MS when set (tests),
// else every 5 seconds.
TimeValue netcheckInterval() {
  return envMilliseconds("VX_NETCHECK_INTERVAL_MS",
                         TimeValue(config::NetCheckWatcher::kIntervalSeconds, 0));
}

// The longest the status file lags behind a loop that is never idle.
const TimeValue kMaxStatusDelay(0, 100000);

}  // namespace

MainProcess::MainProcess(io::Signal& shutdown, control::Server_Configuration_Fields& cfg,
                         config::VariableStore& vars, std::string status_path,
                         TimeValue stall_limit, std::string admin_path)
    : shutdown_(shutdown),
      cfg_(cfg),
      vars_(vars),
      stall_limit_(stall_limit),
      netcheck_(
          cfg.custom_netcheck_conf,
          [this](const config::NetCheckList& list) {
            queues::ev<queues::UPDATE_NETCHECKS> update(queues::QUEUE_DBMS, 0);
            for (const config::NetCheckDefinition& d : list)
              update.payload.checks.push_back({d.name, d.command, d.result_pattern});
            sendTo(update);
          },
          slog),
      netcheck_interval_(netcheckInterval()),
      entropy_(*this, TimeValue::now, slog),
      metrics_(*this),
      status_(std::move(status_path)),
      started_(TimeValue::now()),
      meters_([this] { return areaUse(queues::QUEUE_MAIN); },
              [this] { return smparent_ ? smparent_->messenger().outstandingMessages() : 0; }),
      collector_(*this, TimeValue::fromMilliseconds(kMetricDeadlineMs)),
      admin_path_(std::move(admin_path)) {}

MainProcess::~MainProcess() {
  admin_.reset();
  killAll();
  if (!all_up_) entry::notifyFailedInitializing();
  unwatch(collector_.timer());
  if (selector_.contains(netcheck_timer_)) selector_.remove(netcheck_timer_);
  if (selector_.contains(stall_timer_)) selector_.remove(stall_timer_);
  if (selector_.contains(shutdown_)) selector_.remove(shutdown_);
  if (selector_.contains(status_timer_)) selector_.remove(status_timer_);
  if (selector_.contains(orphan_timer_)) selector_.remove(orphan_timer_);
}

void MainProcess::watch(io::Selectable& s, Handler handler) {
  selector_.add(s, std::move(handler));
}

void MainProcess::unwatch(io::Selectable& s) {
  if (selector_.contains(s)) selector_.remove(s);
}

void MainProcess::start(const std::vector<WorkerEntry>& startup) {
  watch(shutdown_, makeClosure(this, &MainProcess::onShutdownSignal));
  watch(netcheck_timer_, makeClosure(this, &MainProcess::onNetCheckTimer));
  watch(stall_timer_, makeClosure(this, &MainProcess::onStallTimer));
  watch(entry::logRotationSignal(), makeClosure(this, &MainProcess::onLogRotation));
  watch(reaper_.signal(), makeClosure(this, &MainProcess::onChildSignal));
  watch(status_timer_, makeClosure(this, &MainProcess::onStatusTimer));
  watch(orphan_timer_, makeClosure(this, &MainProcess::onOrphanTimer));

  std::string saved = vars_.get(config::kEntropyVariable);
  if (!saved.empty()) entropy_.restore(saved);
  // Before any request is served: whoever knows the saved pool still cannot tell what the
  // pool holds now.
  entropy_.stirFromKernel();

  const uint64_t mapsize = uint32_t{cfg_.smem_size} << 20;
  smparent_ =
      std::make_unique<SMParent>(*this, cfg_.smem_prefix, mapsize, sliceUnit(cfg_.smem_size));
  // Workers reach the supervisor only through channels of their own.
  io::SiblingMessenger& messenger = smparent_->createMessenger();
  watch(messenger.newSiblings(), makeClosure(this, &MainProcess::onNewSibling));
  watch(collector_.timer(), makeFunctionClosure([this] { collector_.onTimer(); }));
  openAdminChannel();

  for (const WorkerEntry& e : startup)
    spawnWorker(e);
  writeStatus(serverState());
}

void MainProcess::run() {
  while (!registry_.empty()) {
    try {
      Handler handler = selector_.poll().second;
      (*handler)();
      if (deferred_) std::rethrow_exception(std::exchange(deferred_, nullptr));
      // Writes to workers happen here too (answers from the entropy pool).
      afterHandler();
    } catch (const io::EPoolCorrupted& e) {
      poolCorrupted(e.what());
    } catch (const io::ESiblingProtocolError& e) {
      // The messenger refused what a worker put on its channel or into the pool. Only a sender
      // the kernel vouches for is named.
      VexlanProcess* p =
          e.verified() ? registry_.findByQueue(static_cast<queues::queue_t>(e.sibling())) : nullptr;
      emergency(p != nullptr ? "Process " + p->tag() + " broke the messaging protocol: " + e.what()
                             : e.what());
    }
  }
  // The last worker is gone: the file says so before the state is saved.
  if (status_dirty_) writeStatus(serverState());
  if (shutting_down_) {
    const TimeValue took = TimeValue::now() - shutdown_began_;
    meters_.shutdown.record(took);
    slog("Shutdown took " + std::to_string(int64_t{took.sec} * 1000 + took.usec / 1000) + " ms");
  }
}

void MainProcess::afterHandler() {
  try {
    logging::rotate_if_due(::time(nullptr), cfg_.log_days);
  } catch (const error::Exception& e) {
    slog(std::string("Error rotating logs: ") + e.what());
  }
  entropy_.service();
  if (shutting_down_ && !state_saved_ && nothingMoreToHear()) {
    // Whatever the workers still wait for goes out before the disk is waited for.
    smparent_->messenger().flush();
    saveState();
  }
  if (status_dirty_ && TimeValue::now() - status_dirty_since_ >= kMaxStatusDelay) {
    writeStatus(serverState());
  }
}

void MainProcess::statusChanged() {
  if (status_dirty_) return;
  status_dirty_ = true;
  status_dirty_since_ = TimeValue::now();
  status_timer_.set(status_dirty_since_);
}

void MainProcess::onStatusTimer() {
  if (status_dirty_) writeStatus(serverState());
}

void MainProcess::saveState() {
  if (state_saved_) return;
  state_saved_ = true;
  vars_.store({{config::kEntropyVariable, entropy_.save()}});
  // The last write of the run: folding the registry's log into its file now, while workers
  // that have left are still ending, keeps that disk wait off the end of the stop.
  vars_.release();
}

bool MainProcess::nothingMoreToHear() {
  for (const auto& [q, r] : registry_.records()) {
    if (r->istream_eos) continue;
    // A worker sends no event once its leave is acknowledged, nor anything once the messenger
    // counts it as gone (it finished its leave, or was interrupted)...
    if (!smparent_->leaveAcknowledged(q) && !(r->connected() && r->sibling().gone())) {
      return false;
    }
    // ... but what it sent before may still wait to be handled.
    if (r->connected() && (!r->sibling().drained() || r->prim().readPending() > 0 ||
                           r->input().holding() || r->input().partial())) {
      return false;
    }
  }
  return true;
}

void MainProcess::spawnWorker(WorkerEntry entry) {
  io::ProcessSpec spec;
  spec.program = entry.exe;
  spec.program_dir = workerDirectory();
  spec.priority = static_cast<int>(entry.priority);
  // The pool, and the one channel on which the supervisor hears this worker: what arrives there
  // is the worker's doing, whatever id it claims. Our copy of the writing end goes once the
  // process has started.
  std::unique_ptr<io::SiblingMessenger::ChildChannel> channel =
      smparent_->messenger().childChannel(entry.queue);
  spec.passables["smem"] = channel.get();
  // Standard output joins standard error: both are logged. A worker writing to an output
  // nobody reads would block once the pipe is full.
  spec.stderr_to_stdout = true;
  auto child = std::make_unique<io::Process>(spec);
  channel.reset();
  if (child->priorityRefused() && !priority_refusal_logged_) {
    priority_refusal_logged_ = true;
    slog("Cannot raise the priority of [" + entry.sname +
         "]: the system refused it; it runs at normal priority");
  }
  VexlanProcess& p =
      registry_.add(std::make_unique<VexlanProcess>(*this, std::move(entry), std::move(child)));
  const queues::queue_t queue = p.entry.queue;
  p.meters = &meters_.worker(queue, p.entry.sname, [this, queue] { return areaUse(queue); });
  ++p.meters->starts;
  watch(p.child->stdOut(), makeClosure(&p, &VexlanProcess::onStderr));
  // The process is watched from the start, not only once its output has ended: something it
  // started may hold the pipe open long after the worker itself has gone.
  watch(*p.child, makeClosure(&p, &VexlanProcess::onGone));
  slog("Spawned " + p.entry.exe + " with pid " + std::to_string(p.child->pid()));
  statusChanged();
}

void MainProcess::onWorkerStderr(VexlanProcess& p) {
  io::PipeIStream& err = p.child->stdOut();
  const uint8_t* data = nullptr;
  size_t n = 0;
  try {
    n = err.readBegin(data);
  } catch (const error::Exception&) {
    // The end of the pipe (or an error on it, which ends it as well).
    p.stderr_eos = true;
    unwatch(err);
    return;
  }
  std::string text(reinterpret_cast<const char*>(data), n);
  err.readCommit(n);
  logOutput(p, text);
}

void MainProcess::logOutput(const VexlanProcess& p, std::string_view text) {
  // One log line per line of output, its control characters escaped: nothing a worker writes
  // can end a log line early or start one that looks like the supervisor's. What arrived in
  // one read goes to the log in one write (a stopping server's workers write hundreds of
  // lines).
  std::vector<std::string> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty()) lines.push_back("Process " + p.tag() + ": " + util::escapeControls(line));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  slogLines(lines);
}

void MainProcess::drainStderr(VexlanProcess& p) {
  // The worker has ended, so whatever it wrote is in the pipe already: log it before its end.
  io::PipeIStream& err = p.child->stdOut();
  std::string text;
  const uint8_t* data = nullptr;
  if (err.isReady()) {
    try {
      size_t n = err.readBegin(data);
      text.assign(reinterpret_cast<const char*>(data), n);
      err.readCommit(n);
    } catch (const error::Exception&) {
    }
  }
  // Bounded: something the worker started may still be writing into the same pipe.
  if (err.isOpen()) {
    char buf[4096];
    for (ssize_t n; text.size() < 65536 && (n = ::read(err.fd(), buf, sizeof buf)) > 0;)
      text.append(buf, static_cast<size_t>(n));
  }
  logOutput(p, text);
  p.stderr_eos = true;
  unwatch(err);
}

void MainProcess::onChildSignal() {
  // Our workers are reaped through their pidfds. The look for orphans (a listing of our
  // children) waits until the loop is idle, so that a burst of ends, a stop, costs one look.
  reaper_.signal().reset();
  orphan_timer_.set(TimeValue::now());
}

void MainProcess::onOrphanTimer() {
  orphan_timer_.set(TimeValue::never());
  for (pid_t pid : reaper_.reap([this](pid_t pid) { return isWorkerPid(pid); }))
    slog("Reaped process " + std::to_string(pid) + ", left behind by a worker");
}

bool MainProcess::isWorkerPid(pid_t pid) const {
  for (const auto& [q, r] : registry_.records()) {
    if (r->child->pid() == pid) return true;
  }
  return false;
}

void MainProcess::onNetCheckTimer() {
  TimeValue now = TimeValue::now();
  netcheck_.run(now);
  netcheck_timer_.set(now + netcheck_interval_);
}

void MainProcess::onLogRotation() {
  try {
    if (entry::serveLogRotation() == entry::Rotation::TooSoon) {
      slog("Log rotation request ignored: the logs were rotated less than a second ago");
    }
  } catch (const error::Exception& e) {
    slog(std::string("Error rotating logs: ") + e.what());
  }
}

std::string MainProcess::serverState() const {
  if (shutting_down_) return "shutting down";
  return all_up_ ? "running" : "starting";
}

AreaUse MainProcess::areaUse(queues::queue_t queue) const {
  if (!smparent_) return {};
  const io::SiblingMessengerParent::Area* a = smparent_->findArea(queue);
  if (a == nullptr) return {};
  return {a->size, io::measureArea(smparent_->pool().base(), a->offset, a->size).used_bytes};
}

ServerStatus MainProcess::status(const std::string& state, bool figures) const {
  ServerStatus s;
  s.state = state;
  s.pid = ::getpid();
  s.started = started_;
  s.updated = TimeValue::now();
  if (admin_) s.admin_socket = admin_->path();
  for (const auto& [q, r] : registry_.records()) {
    s.workers.push_back({r->entry.sname, q, r->entry.exe, stateName(r->state), r->child->pid(),
                         r->start_time, r->depend_on, std::nullopt});
    if (figures && r->meters != nullptr) {
      const WorkerMeters& m = *r->meters;
      const AreaUse area = areaUse(q);
      s.workers.back().figures = WorkerFigures{m.starts.get() > 0 ? m.starts.get() - 1 : 0,
                                               m.events_received.get(),
                                               m.events_sent.get(),
                                               m.received_bytes.get(),
                                               m.sent_bytes.get(),
                                               area.size,
                                               area.used};
    }
  }
  for (const queues::WorkerRow& row : queues::workerTable()) {
    if ((row.flags & queues::kDemandLoad) && registry_.findByQueue(row.queue) == nullptr) {
      s.idle.push_back({row.sname, row.queue, row.exe});
    }
  }
  std::sort(s.idle.begin(), s.idle.end(),
            [](const IdleWorker& a, const IdleWorker& b) { return a.queue < b.queue; });
  return s;
}

void MainProcess::writeStatus(const std::string& state) {
  status_dirty_ = false;
  status_timer_.set(TimeValue::never());
  std::string err = status_.write(status(state, false));
  if (!err.empty() && err != status_error_) slog("Cannot update the status file: " + err);
  status_error_ = err;
}

void MainProcess::finalStatus(const std::string& state) {
  writeStatus(state);
}

// MetricBroker::Outbox

bool MainProcess::sendToQueue(queues::queue_t queue, queues::event& ev) {
  VexlanProcess* p = registry_.findByQueue(queue);
  if (p == nullptr) return false;
  sendToProcess(*p, ev, queues::QUEUE_MAIN);
  return true;
}

std::optional<queues::queue_t> MainProcess::queueOf(const std::string& sname) const {
  if (VexlanProcess* p = registry_.findBySname(sname)) return p->entry.queue;
  return std::nullopt;
}

std::string MainProcess::snameOf(queues::queue_t queue) const {
  VexlanProcess* p = registry_.findByQueue(queue);
  return p != nullptr ? p->entry.sname : queues::queueName(queue);
}

std::string MainProcess::programOf(queues::queue_t queue) const {
  VexlanProcess* p = registry_.findByQueue(queue);
  return p != nullptr ? p->entry.exe : "";
}

void MainProcess::log(const std::string& line) {
  slog(line);
}

// security::EntropyReplies

void MainProcess::pureEntropy(const security::Requester& to, std::string bytes) {
  queues::ev<queues::RETURN_PURE_ENTROPY> reply(static_cast<queues::queue_t>(to.queue),
                                                to.inresponse, std::move(bytes));
  sendTo(reply);
}

void MainProcess::pseudoRandom(const security::Requester& to, std::string bytes) {
  queues::ev<queues::RETURN_PSEUDO_RANDOM> reply(static_cast<queues::queue_t>(to.queue),
                                                 to.inresponse, std::move(bytes));
  sendTo(reply);
}

void MainProcess::refuse(const security::Requester& to, const std::string& message) {
  queues::exevent reply(static_cast<queues::queue_t>(to.queue), to.inresponse, message);
  sendTo(reply);
}

}  // namespace supervisor
