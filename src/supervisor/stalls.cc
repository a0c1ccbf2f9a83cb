// The stall limit: how long one worker may keep the supervisor waiting, with an event it sent
// only part of, or with events for it that wait because it holds its share of the supervisor's
// area and acknowledges nothing. A tenth of the limit is logged; the limit is the worker's end.
// The same timer brings back incomplete events whose next reading was put off.
#include "supervisor/main_process.h"
#include "supervisor/slog.h"

namespace supervisor {

namespace {

std::string millis(TimeValue t) {
  return std::to_string(int64_t{t.sec} * 1000 + t.usec / 1000) + " ms";
}

TimeValue tenth(TimeValue t) {
  return TimeValue::fromMilliseconds((int64_t{t.sec} * 1000 + t.usec / 1000) / 10);
}

// The next moment the clock needs looking at.
TimeValue due(const VexlanProcess::StallClock& c, TimeValue limit) {
  return c.since + (c.warned ? limit : tenth(limit));
}

}  // namespace

void MainProcess::updateUntakenClock(VexlanProcess& p, TimeValue now) {
  // Only a worker that holds part of our area can give room back: one that waits because others
  // took it all is not the one keeping us waiting.
  const bool holding = p.output().queued() > 0 && p.sibling().outstandingBytes() > 0;
  if (!holding) {
    p.untaken.stop();
    return;
  }
  if (!p.untaken.running || p.sibling().acknowledged() != p.untaken_acks) {
    p.untaken.start(now);
    p.untaken_acks = p.sibling().acknowledged();
    armStallTimer();
  }
}

void MainProcess::onStallTimer() {
  const TimeValue now = TimeValue::now();
  const TimeValue warn = tenth(stall_limit_);
  for (const auto& [q, r] : registry_.records()) {
    VexlanProcess& p = *r;
    if (!p.connected()) continue;
    if (p.input().untried() && p.input().retryAt() <= now && !p.reading_paused) {
      onWorkerReadable(p);
    }
    if (p.partial_event.running) {
      TimeValue age = now - p.partial_event.since;
      if (age >= stall_limit_) {
        emergency("Process " + p.tag() + " sent only part of an event for " + millis(stall_limit_));
      }
      if (!p.partial_event.warned && age >= warn) {
        p.partial_event.warned = true;
        slog("Process " + p.tag() + " has sent only part of an event for " + millis(age) + "; at " +
             millis(stall_limit_) + " it is ended");
      }
    }
    updateUntakenClock(p, now);
    if (p.untaken.running) {
      TimeValue age = now - p.untaken.since;
      if (age >= stall_limit_) {
        emergency("Process " + p.tag() + " has not taken its events for " + millis(stall_limit_) +
                  ": " + std::to_string(p.output().queued()) + " bytes wait for it");
      }
      if (!p.untaken.warned && age >= warn) {
        p.untaken.warned = true;
        slog("Process " + p.tag() + " has not taken its events for " + millis(age) + "; at " +
             millis(stall_limit_) + " it is ended");
      }
    }
  }
  armStallTimer();
}

void MainProcess::armStallTimer() {
  TimeValue next = TimeValue::never();
  for (const auto& [q, r] : registry_.records()) {
    for (const VexlanProcess::StallClock* c : {&r->partial_event, &r->untaken}) {
      if (c->running && due(*c, stall_limit_) < next) next = due(*c, stall_limit_);
    }
    if (r->connected() && !r->reading_paused && r->input().untried() &&
        r->input().retryAt() < next) {
      next = r->input().retryAt();
    }
  }
  stall_timer_.set(next);
}

}  // namespace supervisor
