#include "supervisor/metric_broker.h"

#include <limits>

#include "error/exception.h"
#include "queues/events_control.h"

namespace supervisor {

namespace {

const std::vector<std::string>* pathOf(const queues::event& ev) {
  if (const auto* g = queues::as<queues::GET_METRIC>(ev)) return &g->payload.id;
  if (const auto* t = queues::as<queues::GET_METRIC_TYPE>(ev)) return &t->payload.id;
  return nullptr;
}

std::vector<std::string>* pathOf(queues::event& ev) {
  return const_cast<std::vector<std::string>*>(pathOf(static_cast<const queues::event&>(ev)));
}

queues::ev<queues::RETURN_METRIC_ERROR> errorEvent(const std::string& text) {
  return queues::ev<queues::RETURN_METRIC_ERROR>(queues::QUEUE_MAIN, 0, text);
}

}  // namespace

int32_t MetricBroker::nextId() {
  // Ids are unique among those pending: wrapping round after 2^31 requests meets only ids
  // answered long ago.
  next_request_id_ =
      next_request_id_ == std::numeric_limits<int32_t>::max() ? 1 : next_request_id_ + 1;
  return next_request_id_;
}

void MetricBroker::ask(queues::queue_t supplier, queues::event& ev, Answer answer) {
  if (questions_.size() >= kMaxPending)
    return answer(errorEvent("Too many metric requests pending"));
  const int32_t id = nextId();
  ev.inresponse = static_cast<uint32_t>(id);
  questions_[id] = Question{supplier, answer};
  if (!out_.sendToQueue(supplier, ev)) {
    questions_.erase(id);
    answer(errorEvent("No process of queue " + queues::queueName(supplier) + " to ask"));
  }
}

bool MetricBroker::answerQuestion(queues::queue_t from, const queues::event& ev) {
  auto it = questions_.find(static_cast<int32_t>(ev.inresponse));
  if (it == questions_.end() || it->second.supplier != from) return false;
  Answer answer = std::move(it->second.answer);
  questions_.erase(it);
  answer(ev);
  return true;
}

void MetricBroker::answerError(queues::queue_t to, uint32_t inresponse, const std::string& text) {
  queues::ev<queues::RETURN_METRIC_ERROR> err(queues::QUEUE_MAIN, inresponse, text);
  out_.sendToQueue(to, err);
}

void MetricBroker::request(queues::queue_t from, const queues::event& ev) {
  const std::vector<std::string>* path = pathOf(ev);
  std::optional<queues::queue_t> supplier;
  if (path != nullptr && !path->empty()) supplier = out_.queueOf(path->front());
  if (!supplier) {
    answerError(from, ev.inresponse, "Unknown metric");
    std::string what = path == nullptr || path->empty() ? "empty" : "\"" + path->front() + "\"";
    out_.log("Got bad metric request (" + what + ") from process #" + std::to_string(from) + " " +
             out_.programOf(from) + " - sent back error.");
    return;
  }
  if (metric_requests_.size() >= kMaxPending) {
    answerError(from, ev.inresponse, "Too many metric requests pending");
    return;
  }
  const int32_t id = nextId();
  metric_requests_[id] = MetricRequest{from, ev.inresponse, *supplier};
  std::unique_ptr<queues::event> copy = ev.clone();
  copy->inresponse = static_cast<uint32_t>(id);
  std::vector<std::string>* forwarded = pathOf(*copy);
  forwarded->erase(forwarded->begin());
  out_.sendToQueue(*supplier, *copy);
}

void MetricBroker::reply(queues::queue_t from, const queues::event& ev) {
  if (answerQuestion(from, ev)) return;
  auto it = metric_requests_.find(static_cast<int32_t>(ev.inresponse));
  if (it == metric_requests_.end() || it->second.supplier != from) {
    throw error::EFatal("Unexpected metric reply");
  }
  MetricRequest r = it->second;
  metric_requests_.erase(it);
  if (!r.requester) return;  // it ended while its request was out
  std::unique_ptr<queues::event> copy = ev.clone();
  copy->inresponse = r.inresponse;
  if (!out_.sendToQueue(*r.requester, *copy)) {
    throw error::EFatal("Cannot find destination for return metric type");
  }
}

void MetricBroker::list(queues::queue_t from, const queues::event& ev) {
  if (suppliers_.empty()) {
    queues::ev<queues::RETURN_LIST_METRICS> empty(queues::QUEUE_MAIN, ev.inresponse);
    out_.sendToQueue(from, empty);
    return;
  }
  if (list_requests_.size() >= kMaxPending) {
    answerError(from, ev.inresponse, "Too many metric requests pending");
    return;
  }
  const int32_t id = nextId();
  ListRequest& r = list_requests_[id];
  r.requester = from;
  r.inresponse = ev.inresponse;
  r.asked = suppliers_;
  for (queues::queue_t q : suppliers_) {
    std::unique_ptr<queues::event> copy = ev.clone();
    copy->inresponse = static_cast<uint32_t>(id);
    if (!out_.sendToQueue(q, *copy)) {
      throw error::EFatal("Cannot find destination for list metrics");
    }
  }
}

void MetricBroker::listReply(queues::queue_t from, const queues::event& ev) {
  if (answerQuestion(from, ev)) return;
  auto it = list_requests_.find(static_cast<int32_t>(ev.inresponse));
  const auto* group = queues::as<queues::RETURN_LIST_METRICS>(ev);
  if (it == list_requests_.end() || group == nullptr || it->second.asked.count(from) == 0 ||
      !it->second.answered.insert(from).second) {
    throw error::EFatal("Unexpected metric reply");
  }
  control::Metric_Group member = group->payload;
  member.name = out_.snameOf(from);
  it->second.collected.groups.push_back(std::move(member));
  finishIfComplete(it);
}

void MetricBroker::finishIfComplete(std::map<int32_t, ListRequest>::iterator it) {
  ListRequest& r = it->second;
  if (r.answered.size() < r.asked.size()) return;
  std::optional<queues::queue_t> to = r.requester;
  queues::ev<queues::RETURN_LIST_METRICS> done(queues::QUEUE_MAIN, r.inresponse,
                                               std::move(r.collected));
  list_requests_.erase(it);
  if (to && !out_.sendToQueue(*to, done)) {
    throw error::EFatal("Cannot find destination for return list metrics");
  }
}

void MetricBroker::workerGone(queues::queue_t queue) {
  suppliers_.erase(queue);
  std::vector<Answer> unanswered;
  for (auto it = questions_.begin(); it != questions_.end();) {
    if (it->second.supplier != queue) {
      ++it;
      continue;
    }
    unanswered.push_back(std::move(it->second.answer));
    it = questions_.erase(it);
  }
  for (Answer& a : unanswered)
    a(errorEvent("Process [" + out_.snameOf(queue) + "] ended before answering"));
  for (auto it = metric_requests_.begin(); it != metric_requests_.end();) {
    MetricRequest& r = it->second;
    if (r.requester == queue) r.requester.reset();
    if (r.supplier != queue) {
      ++it;
      continue;
    }
    if (r.requester) {
      answerError(*r.requester, r.inresponse,
                  "Process [" + out_.snameOf(queue) + "] ended before answering");
    }
    it = metric_requests_.erase(it);
  }
  for (auto it = list_requests_.begin(); it != list_requests_.end();) {
    auto next = std::next(it);
    ListRequest& r = it->second;
    if (r.requester == queue) r.requester.reset();
    if (r.answered.count(queue) == 0 && r.asked.erase(queue) != 0) finishIfComplete(it);
    it = next;
  }
}

}  // namespace supervisor
