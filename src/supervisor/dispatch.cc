// What the supervisor does with the events workers address to queue 0.

#include "io/exceptions.h"
#include "io/sibling/sibling_error.h"
#include "queues/events_control.h"
#include "supervisor/entry/entry.h"
#include "supervisor/log_level_relay.h"
#include "supervisor/main_process.h"
#include "supervisor/slog.h"

namespace supervisor {

namespace {

// Requests waiting for the entropy pool, beyond which new ones are refused at once: pure
// entropy arrives slowly, and a worker asking faster must not grow the supervisor.
constexpr size_t kMaxWaitingRandomRequests = 65536;

}  // namespace

void MainProcess::onWorkerReadable(VexlanProcess& p) {
  // One message may hold several events; those already in hand are read at once, since the
  // stream reports only what it has not handed out yet.
  do {
    if (p.prim().readPending() == 0) {
      const uint8_t* unused;
      try {
        p.sibling().istream().readBegin(unused);
      } catch (const io::EEndOfStream&) {
        streamEnded(p);
        return;
      } catch (const io::ENotReady&) {
        return;
      }
    }
    try {
      std::unique_ptr<queues::event> ev = queues::readEvent(p.prim());
      dispatch(p, *ev);
    } catch (const io::ESiblingProtocolError&) {
      throw;
    } catch (const error::Exception& e) {
      emergency("Reading from process " + p.tag() + " caused: " + e.what());
    }
  } while (p.prim().readPending() > 0);
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
  switch (type) {
    case queues::INIT_OK:
      return onInitOk(p, ev);
    case queues::SYSTEM_LOG_REQUEST:
      slog(p.tag() + ": " + queues::as<queues::SYSTEM_LOG_REQUEST>(ev)->payload.msg);
      return;
    case queues::REQUEST_SERVER_CONFIGURATION: {
      queues::ev<queues::SERVER_CONFIGURATION> reply(queues::QUEUE_MAIN, ev.inresponse, cfg_);
      return sendToProcess(p, reply, queues::QUEUE_MAIN);
    }
    case queues::REQUEST_SERVER_VARIABLE_FIELDS: {
      queues::ev<queues::RETURN_SERVER_VARIABLE_FIELDS> reply(queues::QUEUE_MAIN, ev.inresponse,
                                                              {vars_.snapshot()});
      return sendToProcess(p, reply, queues::QUEUE_MAIN);
    }
    case queues::STORE_SERVER_VARIABLE_FIELDS:
      vars_.store(queues::as<queues::STORE_SERVER_VARIABLE_FIELDS>(ev)->payload.vars);
      return;
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
      slog("All children up and running");
      entry::notifySpawnedOK();
    }
  }
  stopOrderStep();
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
  const auto& levels = queues::as<queues::SET_LOG_LEVEL>(ev)->payload.logger_level;
  for (const LogLevelDelivery& d : routeLogLevels(levels, registry_.snames())) {
    queues::ev<queues::SET_LOG_LEVEL> one(queues::QUEUE_MAIN, 0);
    one.payload.logger_level[d.key] = d.level;
    if (VexlanProcess* r = registry_.findByQueue(d.queue))
      sendToProcess(*r, one, queues::QUEUE_MAIN);
  }
}

}  // namespace supervisor
