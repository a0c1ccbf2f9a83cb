// The supervisor: one object per run that starts the workers, watches them, answers what they
// ask of queue 0, routes between them as policy (never copying their events), and stops them.
//
// Everything runs on one thread in one reactor loop. The selector holds, for each watched
// selectable, the closure to run when it is ready: the shutdown and log-rotation signals, the
// NetCheck timer, the messenger's new-sibling notice, the child-ended signal, and per worker
// its event stream, its standard error and its process.
//
// A worker is another program, so nothing it does may break the supervisor: bad events, bad
// messaging, an unexpected end or a stall are reported through entry::reportFatal and end the
// run through the emergency path, which kills every worker. Nor may it hold the loop: an event
// a worker sends only part of is kept until the rest arrives, events for a worker that does not
// take them wait in memory, and the stall limit ends a worker that keeps either up.
#pragma once

#include <chrono>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/netcheck_watcher.h"
#include "config/variable_store.h"
#include "io/closure.h"
#include "io/selector.h"
#include "io/signal.h"
#include "io/timer.h"
#include "queues/control/server_configuration_fields.h"
#include "security/entropy_server.h"
#include "supervisor/admin_channel.h"
#include "supervisor/metric_broker.h"
#include "supervisor/metric_collector.h"
#include "supervisor/orphan_reaper.h"
#include "supervisor/process_registry.h"
#include "supervisor/sm_parent.h"
#include "supervisor/status_file.h"
#include "supervisor/supervisor_meters.h"
#include "util/rate_limit.h"

namespace supervisor {

// Thrown by a handler that found a worker failing: the main loop ends, every worker is killed,
// nothing is saved. Deliberately not an error::Exception, so that no handler of those can
// take it for an ordinary error.
class EmergencyShutdown {};

class MainProcess : private MetricBroker::Outbox,
                    private security::EntropyReplies,
                    private AdminChannel::Service,
                    private MetricCollector::Source {
 public:
  // The least time between two progress dumps of a shutdown in progress.
  static constexpr std::chrono::seconds kMinProgressDumpInterval{1};
  // How long a metric collection for the admin channel waits for the workers' answers.
  static constexpr int kMetricDeadlineMs = 5000;

  using Handler = refcount_ptr<BindBase<void>>;

  // `stall_limit`: how long a worker may keep an event incomplete, or leave its events untaken
  // while it holds part of the supervisor's area (logged at a tenth of it). `admin_path`: where
  // the admin channel's socket goes (none when empty).
  MainProcess(io::Signal& shutdown, control::Server_Configuration_Fields& cfg,
              config::VariableStore& vars, std::string status_path, TimeValue stall_limit,
              std::string admin_path = "");
  // Kills whatever worker is still registered; reports a failed start when the workers were
  // never all up.
  ~MainProcess();
  MainProcess(const MainProcess&) = delete;
  MainProcess& operator=(const MainProcess&) = delete;

  // Watches the signals and the NetCheck timer, restores the saved entropy, creates the pool
  // and the supervisor's messenger, and starts `startup` (the start-up workers, in order).
  void start(const std::vector<WorkerEntry>& startup);
  // The main loop, until the last worker has gone.
  void run();
  // The end of an orderly run, once: the entropy pool goes into the variable "entropy", the
  // variables into the registry, and the registry is closed. A stop does it as soon as no
  // worker can send anything more (every one left in order, or is gone) and all they sent has
  // been handled, so that it overlaps their exits.
  void saveState();
  // The emergency path: every worker killed at once, then reaped.
  void killAll();
  // The state the status file shows once the run is over ("stopped", "emergency", "failed").
  void finalStatus(const std::string& state);

  bool allUp() const { return all_up_; }
  bool shuttingDown() const { return shutting_down_; }
  const ProcessRegistry& registry() const { return registry_; }

  // Selector handlers of a worker (bound through its record).
  void onWorkerReadable(VexlanProcess& p);
  void onWorkerWritable(VexlanProcess& p);
  void onWorkerStderr(VexlanProcess& p);
  void onWorkerGone(VexlanProcess& p);

  // Routing (SMParent's peer-request hook).
  bool grantPeer(queues::queue_t target, queues::queue_t requester);

 private:
  // Selector handlers of the supervisor itself.
  void onShutdownSignal();
  void onNewSibling();
  void onNetCheckTimer();
  void onLogRotation();
  void onChildSignal();
  void onStallTimer();
  void onStatusTimer();
  void onOrphanTimer();

  // Spawning.
  void spawnWorker(WorkerEntry entry);
  void watch(io::Selectable& s, Handler handler);
  void unwatch(io::Selectable& s);

  // Events.
  void dispatch(VexlanProcess& p, queues::event& ev);
  void onInitOk(VexlanProcess& p, const queues::event& ev);
  void onSpawnRequest(VexlanProcess& p, queues::queue_t queue);
  void onStoreVariables(VexlanProcess& p, const queues::event& ev);
  void onSetLogLevel(const queues::event& ev);
  void streamEnded(VexlanProcess& p);
  void drainStderr(VexlanProcess& p);
  void logOutput(const VexlanProcess& p, std::string_view text);

  // Sending. The event goes out with `dest` = sender (0): workers see everything from the
  // supervisor as from queue 0.
  void sendToProcess(VexlanProcess& p, queues::event& ev, queues::queue_t sender);
  void sendTo(queues::event& ev);
  // Events for p wait in memory: write them as room comes back, and stop reading p's requests
  // while too much waits.
  void outputWaiting(VexlanProcess& p);
  void pauseReading(VexlanProcess& p);
  void resumeReading(VexlanProcess& p);

  // Stall limit: starts, checks and re-arms the clocks of every worker.
  void updateUntakenClock(VexlanProcess& p, TimeValue now);
  void armStallTimer();
  [[noreturn]] void poolCorrupted(const std::string& what);

  // Shutdown.
  void initiateShutdown();
  void stopOrderStep();
  void tellToExit(VexlanProcess& p);
  void removeRecord(VexlanProcess& p);
  void progressDump();
  [[noreturn]] void emergency(const std::string& text);

  void afterHandler();
  // True during a stop once no remaining worker can send an event (all left in order) and
  // nothing any of them sent waits to be handled.
  bool nothingMoreToHear();
  // The file is rewritten once the loop has nothing ready (the status timer falls due only
  // then), so a burst of changes (a start, a stop) costs one write, not one per handler.
  void statusChanged();
  void writeStatus(const std::string& state);
  // The status as the file shows it; with `figures`, also what the supervisor counts per
  // worker (for the admin channel).
  ServerStatus status(const std::string& state, bool figures) const;
  AreaUse areaUse(queues::queue_t queue) const;
  // SET_LOG_LEVEL entries relayed to the workers they address; the tags of those reached.
  std::vector<std::string> relayLogLevels(const std::map<std::string, int32_t>& levels);
  void openAdminChannel();
  std::string serverState() const;
  bool isWorkerPid(pid_t pid) const;

  // MetricBroker::Outbox
  bool sendToQueue(queues::queue_t queue, queues::event& ev) override;
  std::optional<queues::queue_t> queueOf(const std::string& sname) const override;
  std::string snameOf(queues::queue_t queue) const override;
  std::string programOf(queues::queue_t queue) const override;
  void log(const std::string& line) override;

  // security::EntropyReplies
  void pureEntropy(const security::Requester& to, std::string bytes) override;
  void pseudoRandom(const security::Requester& to, std::string bytes) override;
  void refuse(const security::Requester& to, const std::string& message) override;

  // AdminChannel::Service
  void serveAdmin(AdminChannel::Ticket ticket, std::string_view line) override;
  void adminLog(const std::string& line) override;

  // MetricCollector::Source
  std::vector<std::pair<queues::queue_t, std::string>> metricSuppliers() const override;
  void askWorker(queues::queue_t queue, queues::event& ev, MetricCollector::Answer answer) override;
  const meter::Group& ownTree() const override;

  io::Selector<Handler> selector_;
  io::Signal& shutdown_;
  control::Server_Configuration_Fields& cfg_;
  config::VariableStore& vars_;
  io::Timer netcheck_timer_;
  io::Timer stall_timer_;
  TimeValue stall_limit_;
  config::NetCheckWatcher netcheck_;
  TimeValue netcheck_interval_;
  security::EntropyServer entropy_;
  MetricBroker metrics_;
  OrphanReaper reaper_;
  std::unique_ptr<SMParent> smparent_;
  ProcessRegistry registry_;
  bool all_up_ = false;
  bool shutting_down_ = false;
  bool priority_refusal_logged_ = false;
  std::exception_ptr deferred_;  // raised inside the messenger's hook, rethrown by the loop
  util::RateLimit progress_dumps_{kMinProgressDumpInterval};
  StatusFile status_;
  bool status_dirty_ = true;
  bool state_saved_ = false;
  TimeValue status_dirty_since_;  // a loop that is never idle still writes it this often
  io::Timer status_timer_;
  io::Timer orphan_timer_;    // due when a child ended: look for orphans once the loop is idle
  std::string status_error_;  // the last failure to write it, reported once
  TimeValue started_;
  TimeValue shutdown_began_;
  SupervisorMeters meters_;
  MetricCollector collector_;
  std::string admin_path_;
  std::unique_ptr<AdminChannel> admin_;
};

}  // namespace supervisor
