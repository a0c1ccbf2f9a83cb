// What the supervisor does with the events workers address to queue 0.

#include "io/exceptions.h"
#include "io/sibling/sibling_error.h"
#include "queues/events_control.h"
#include "supervisor/entry/entry.h"
#include "supervisor/log_level_relay.h"
#include "supervisor/main_process.h"
#include "supervisor/slog.h"
#include "supervisor/worker_streams.h"
#include "util/text.h"

namespace supervisor {

namespace {

// Requests waiting for the entropy pool, beyond which new ones are refused at once: pure
// entropy arrives slowly, and a worker asking faster must not grow the supervisor.
constexpr size_t kMaxWaitingRandomRequests = 65536;

// Events that wait for a worker, beyond which its own requests are no longer read: they stay in
// its area, and the worker is held back by its own back-pressure instead of growing the
// supervisor.
constexpr size_t kMaxWaitingOutput = 1 << 20;

}  // namespace

void MainProcess::onWorkerReadable(VexlanProcess& p) {
  WorkerInput& in = p.input();
  if (in.partial()) {
    try {
      in.takeIn();
    } catch (const error::Exception& e) {
      if (p.killed) return streamEnded(p);
      emergency("Reading from process " + p.tag() + " caused: " + e.what());
    }
    // An incomplete event is read again only once more of it has arrived, and not for every
    // small piece (the stall timer comes back for it).
    if (!in.untried()) return;
    if (TimeValue::now() < in.retryAt()) return armStallTimer();
  }
  // The events of one message (and what an incomplete event held) are read at once; the next
  // message waits for the selector, so that one worker does not keep the others waiting.
  do {
    if (p.prim().readPending() == 0) {
      switch (in.state()) {
        case WorkerInput::State::Nothing:
          return;
        case WorkerInput::State::Ended:
          return streamEnded(p);
        case WorkerInput::State::Data:
          break;
      }
    }
    if (p.output().queued() > kMaxWaitingOutput) return pauseReading(p);
    in.beginEvent(p.prim().readPending());
    try {
      std::unique_ptr<queues::event> ev = queues::readEvent(p.prim());
      ++p.meters->events_received;
      in.endEvent();
      p.partial_event.stop();
      dispatch(p, *ev);
    } catch (const WorkerInput::Incomplete&) {
      // The rest may take its time; the loop goes on meanwhile.
      const TimeValue now = TimeValue::now();
      in.suspend(now);
      if (!p.partial_event.running) {
        p.partial_event.start(now);
        armStallTimer();
      }
      return;
    } catch (const io::ESiblingProtocolError&) {
      throw;
    } catch (const error::Exception& e) {
      if (p.killed) return streamEnded(p);
      emergency("Reading from process " + p.tag() + " caused: " + e.what());
    }
  } while (p.prim().readPending() > 0 || in.holding());
}

void MainProcess::streamEnded(VexlanProcess& p) {
  p.istream_eos = true;
  unwatch(p.sibling().istream());
  statusChanged();
  if (shutting_down_ || p.entry.demandLoad()) return;
  emergency("Process " + p.tag() + " shut down.");
}

void MainProcess::dispatch(VexlanProcess& p, queues::event& ev) {
  // A worker's own mistake, not ours: it ends the run like any other bad input.
  if (ev.dest != queues::QUEUE_MAIN)
    throw error::Exception("Main got message not destined for main.");
  const queues::queue_t from = p.entry.queue;
  const queues::event_t type = ev.exception ? queues::MESSAGE_EXCEPTION : ev.type;
  meter::MicroSecondTiming::Scope timing(meters_.control(type));
  switch (type) {
    case queues::INIT_OK:
      return onInitOk(p, ev);
    case queues::SYSTEM_LOG_REQUEST:
      slog(p.tag() + ": " +
           util::escapeControls(queues::as<queues::SYSTEM_LOG_REQUEST>(ev)->payload.msg));
      return;
    case queues::REQUEST_SERVER_CONFIGURATION: {
      queues::ev<queues::SERVER_CONFIGURATION> reply(queues::QUEUE_MAIN, ev.inresponse, cfg_);
      return sendToProcess(p, reply, queues::QUEUE_MAIN);
    }
    case queues::REQUEST_SERVER_VARIABLE_FIELDS: {
      // The saved entropy pool is the server's own: a worker that saw it could predict what
      // the generator gives the others.
      config::VariableStore::Vars vars = vars_.snapshot();
      vars.erase(config::kEntropyVariable);
      queues::ev<queues::RETURN_SERVER_VARIABLE_FIELDS> reply(queues::QUEUE_MAIN, ev.inresponse,
                                                              {std::move(vars)});
      return sendToProcess(p, reply, queues::QUEUE_MAIN);
    }
    case queues::STORE_SERVER_VARIABLE_FIELDS:
      return onStoreVariables(p, ev);
    case queues::REQUEST_SPAWN_PROCESS:
      return onSpawnRequest(p, queues::as<queues::REQUEST_SPAWN_PROCESS>(ev)->payload);
    case queues::GET_PURE_ENTROPY:
      if (entropy_.waitingPureEntropy() >= kMaxWaitingRandomRequests) {
        return refuse({from, ev.inresponse}, "Too many entropy requests waiting");
      }
      entropy_.enqueue_pure_entropy({from, ev.inresponse},
                                    queues::as<queues::GET_PURE_ENTROPY>(ev)->payload);
      return;
    case queues::GET_PSEUDO_RANDOM: {
      const control::Get_Pseudo_Random_Data& d = queues::as<queues::GET_PSEUDO_RANDOM>(ev)->payload;
      if (entropy_.waitingPseudoRandom() >= kMaxWaitingRandomRequests) {
        return refuse({from, ev.inresponse}, "Too many random requests waiting");
      }
      entropy_.enqueue_pseudo_random({from, ev.inresponse}, d.bytes, d.prefer_pure_entropy);
      return;
    }
    case queues::GET_METRIC:
    case queues::GET_METRIC_TYPE:
      return metrics_.request(from, ev);
    case queues::RETURN_METRIC_ERROR:
    case queues::RETURN_METRIC_UINT64:
    case queues::RETURN_METRIC_DOUBLE:
    case queues::RETURN_METRIC_TIMING:
    case queues::RETURN_GET_METRIC_TYPE:
      return metrics_.reply(from, ev);
    case queues::LIST_METRICS:
      return metrics_.list(from, ev);
    case queues::RETURN_LIST_METRICS:
      return metrics_.listReply(from, ev);
    case queues::SUPPORTS_METRICS:
      return metrics_.supports(from);
    case queues::SET_LOG_LEVEL:
      return onSetLogLevel(ev);
    default:
      slog("!!! vexland got bad message " + queues::eventName(type) + " from " + p.tag() +
           ". ignoring !!!");
  }
}

void MainProcess::onInitOk(VexlanProcess& p, const queues::event& ev) {
  if (p.state == WorkerState::Exiting) return;
  if (p.state != WorkerState::Initing) {
    throw error::EFatal("Child " + p.entry.sname + " sent Init_Ok while not in Initing state!");
  }
  p.state = WorkerState::Running;
  p.depend_on = queues::as<queues::INIT_OK>(ev)->payload.depend_on;
  statusChanged();
  // A server whose stop began before its last start-up worker was up never came up: that is
  // not reported, whenever the last INIT_OK arrives.
  if (!p.entry.demandLoad() && !all_up_ && !shutting_down_) {
    bool waiting = false;
    for (const auto& [q, r] : registry_.records()) {
      if (!r->entry.demandLoad() &&
          (r->state == WorkerState::Starting || r->state == WorkerState::Initing)) {
        waiting = true;
      }
    }
    if (!waiting) {
      // Logged first: whoever is told the server is up finds the log saying so.
      all_up_ = true;
      meters_.startup.record(TimeValue::now() - started_);
      slog("All children up and running");
      entry::notifySpawnedOK();
    }
  }
  stopOrderStep();
}

void MainProcess::onStoreVariables(VexlanProcess& p, const queues::event& ev) {
  const auto& vars = queues::as<queues::STORE_SERVER_VARIABLE_FIELDS>(ev)->payload.vars;
  // A worker that set it would choose the next run's entropy pool. The whole store is
  // refused, so that none of it is applied by halves.
  if (vars.count(config::kEntropyVariable) != 0) {
    slog("Refused a store of server variables by " + p.tag() + ": the variable \"" +
         config::kEntropyVariable + "\" is the server's own");
    return refuse({p.entry.queue, ev.inresponse},
                  std::string("Variable \"") + config::kEntropyVariable + "\" is reserved");
  }
  try {
    vars_.store(vars);
  } catch (const error::Exception& e) {
    // The registry, not the worker, failed (busy, full, read-only): the worker hears of it,
    // the server goes on, and the values stay in memory for the next store that succeeds.
    slog("Cannot store the server variables of " + p.tag() + ": " + e.what());
    refuse({p.entry.queue, ev.inresponse},
           std::string("Cannot store server variables: ") + e.what());
  }
}

void MainProcess::onSpawnRequest(VexlanProcess& p, queues::queue_t queue) {
  if (shutting_down_) {
    slog(
        "vexland ignoring request for spawn of demand-load process because of shutdown in "
        "progress");
    return;
  }
  std::optional<WorkerEntry> row = copyIfDemandLoad(queue);
  if (VexlanProcess* existing = registry_.findByQueue(queue)) {
    // On its way out: it comes back once it has gone.
    if (existing->leaving() && row) existing->respawn = true;
    return;
  }
  if (!row) {
    slog("Ignoring request from " + p.tag() + " to spawn " + queues::queueName(queue) +
         ": it is not a demand-loaded worker");
    return;
  }
  slog("Will demand-load requested process " + queues::queueName(queue) + " for " + p.tag());
  spawnWorker(std::move(*row));
}

void MainProcess::onSetLogLevel(const queues::event& ev) {
  relayLogLevels(queues::as<queues::SET_LOG_LEVEL>(ev)->payload.logger_level);
}

std::vector<std::string> MainProcess::relayLogLevels(const std::map<std::string, int32_t>& levels) {
  std::vector<std::string> reached;
  for (const LogLevelDelivery& d : routeLogLevels(levels, registry_.snames())) {
    queues::ev<queues::SET_LOG_LEVEL> one(queues::QUEUE_MAIN, 0);
    one.payload.logger_level[d.key] = d.level;
    if (VexlanProcess* r = registry_.findByQueue(d.queue)) {
      sendToProcess(*r, one, queues::QUEUE_MAIN);
      reached.push_back(r->tag());
    }
  }
  return reached;
}

}  // namespace supervisor
