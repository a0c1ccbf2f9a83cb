#include "supervisor/metric_collector.h"

#include <algorithm>

#include "queues/events_control.h"

namespace supervisor {

void MetricCollector::collect(std::vector<std::string> filter, Done done) {
  const uint64_t id = ++next_id_;
  Collection& c = collections_[id];
  c.filter = std::move(filter);
  c.done = std::move(done);
  c.deadline = TimeValue::now() + limit_;
  if (c.filter.empty() || c.filter.front() == kSupervisorTreeName) {
    std::vector<MetricSample> own;
    sampleGroup(source_.ownTree(), {kSupervisorTreeName}, own);
    for (MetricSample& s : own) {
      if (underPath(s.path, c.filter)) c.snapshot.samples.push_back(std::move(s));
    }
  }
  for (const auto& [queue, sname] : source_.metricSuppliers()) {
    if (!c.filter.empty() && c.filter.front() != sname) continue;
    c.names[queue] = sname;
    c.listing.insert(queue);
  }
  // Asked only now: an answer may come at once and must find the collection complete.
  const std::set<queues::queue_t> ask = c.listing;
  for (queues::queue_t q : ask) {
    queues::ev<queues::LIST_METRICS> list(q, 0);
    source_.askWorker(q, list, [this, id, q](const queues::event& ev) { onListing(id, q, ev); });
  }
  finishIfDone(id);
  armTimer();
}

void MetricCollector::onListing(uint64_t id, queues::queue_t queue, const queues::event& ev) {
  auto it = collections_.find(id);
  if (it == collections_.end()) return;  // ended at its deadline
  Collection& c = it->second;
  c.listing.erase(queue);
  if (const auto* list = queues::as<queues::RETURN_LIST_METRICS>(ev)) {
    std::vector<MetricSample> listed;
    samplesOfListing(list->payload, {c.names[queue]}, listed);
    for (MetricSample& s : listed) {
      if (!underPath(s.path, c.filter)) continue;
      if (c.snapshot.samples.size() >= kMaxSamples) break;
      c.to_ask.emplace_back(c.snapshot.samples.size(), queue);
      c.snapshot.samples.push_back(std::move(s));
    }
  } else {
    c.snapshot.missing.push_back(c.names[queue]);
  }
  pump(id);
  finishIfDone(id);
}

void MetricCollector::pump(uint64_t id) {
  auto it = collections_.find(id);
  if (it == collections_.end() || it->second.pumping) return;
  it->second.pumping = true;
  while (true) {
    it = collections_.find(id);
    if (it == collections_.end()) return;
    Collection& c = it->second;
    if (c.flying >= kWindow || c.to_ask.empty()) break;
    // Named copies, not structured bindings: lambdas capture them on every compiler.
    const size_t sample = c.to_ask.front().first;
    const queues::queue_t queue = c.to_ask.front().second;
    c.to_ask.pop_front();
    ++c.flying;
    ++c.in_flight[queue];
    queues::ev<queues::GET_METRIC> get(queue, 0);
    const std::vector<std::string>& path = c.snapshot.samples[sample].path;
    get.payload.id.assign(path.begin() + 1, path.end());
    source_.askWorker(queue, get, [this, id, sample, queue](const queues::event& ev) {
      onValue(id, sample, queue, ev);
    });
  }
  it->second.pumping = false;
}

void MetricCollector::onValue(uint64_t id, size_t sample, queues::queue_t queue,
                              const queues::event& ev) {
  auto it = collections_.find(id);
  if (it == collections_.end()) return;
  Collection& c = it->second;
  --c.flying;
  if (--c.in_flight[queue] == 0) c.in_flight.erase(queue);
  meter::MetricValue& v = c.snapshot.samples[sample].value;
  if (const auto* u = queues::as<queues::RETURN_METRIC_UINT64>(ev)) {
    v = u->payload;
  } else if (const auto* d = queues::as<queues::RETURN_METRIC_DOUBLE>(ev)) {
    v = d->payload;
  } else if (const auto* t = queues::as<queues::RETURN_METRIC_TIMING>(ev)) {
    const control::Return_Metric_Timing_Data& p = t->payload;
    v = meter::TimingData{p.n, p.min, p.max, p.sum, p.sum_squares};
  } else if (const auto* e = queues::as<queues::RETURN_METRIC_ERROR>(ev)) {
    v = meter::MetricError{e->payload};
  } else {
    v = meter::MetricError{"Unexpected answer " + queues::eventName(ev.type)};
  }
  pump(id);
  finishIfDone(id);
}

void MetricCollector::finishIfDone(uint64_t id) {
  auto it = collections_.find(id);
  if (it == collections_.end()) return;
  const Collection& c = it->second;
  if (c.listing.empty() && c.to_ask.empty() && c.flying == 0) finish(it);
}

void MetricCollector::finish(std::map<uint64_t, Collection>::iterator it) {
  Collection c = std::move(it->second);
  collections_.erase(it);
  // Whoever had not answered by now is named once; what it left without a value goes.
  std::set<queues::queue_t> late = c.listing;
  for (const auto& [q, n] : c.in_flight)
    late.insert(q);
  for (const auto& [sample, q] : c.to_ask)
    late.insert(q);
  for (queues::queue_t q : late) {
    if (std::find(c.snapshot.missing.begin(), c.snapshot.missing.end(), c.names[q]) ==
        c.snapshot.missing.end()) {
      c.snapshot.missing.push_back(c.names[q]);
    }
  }
  if (!late.empty()) {
    std::erase_if(c.snapshot.samples, [](const MetricSample& s) {
      const auto* e = std::get_if<meter::MetricError>(&s.value);
      return e != nullptr && e->text == kNoValue;
    });
  }
  std::sort(c.snapshot.missing.begin(), c.snapshot.missing.end());
  c.done(std::move(c.snapshot));
  armTimer();
}

void MetricCollector::onTimer() {
  const TimeValue now = TimeValue::now();
  for (auto it = collections_.begin(); it != collections_.end();) {
    auto next = std::next(it);
    if (now >= it->second.deadline) finish(it);
    it = next;
  }
  armTimer();
}

void MetricCollector::armTimer() {
  TimeValue earliest = TimeValue::never();
  for (const auto& [id, c] : collections_)
    earliest = std::min(earliest, c.deadline);
  timer_.set(earliest);
}

}  // namespace supervisor
