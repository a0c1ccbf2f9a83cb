// Requests to the supervisor: blocking and asynchronous, and the typed helpers.
#include <algorithm>

#include "sdk/worker.h"

namespace worker {

using queues::event;
using queues::queue_t;

namespace {

template <queues::event_t Reply>
queues::payload_t<Reply> replyPayload(std::unique_ptr<event> ev, queues::event_t request) {
  if (ev->exception) {
    throw ERequestFailed(queues::eventName(request) +
                         " failed: " + static_cast<const queues::exevent&>(*ev).message);
  }
  auto* r = queues::as<Reply>(*ev);
  if (r == nullptr) {
    throw error::Exception("Unexpected reply " + queues::eventName(ev->type) + " to " +
                           queues::eventName(request));
  }
  return std::move(r->payload);
}

}  // namespace

uint32_t Worker::nextRequestId() {
  if (++next_request_ == 0) ++next_request_;
  return next_request_;
}

uint32_t Worker::request(event& req, ReplyHandler on_reply) {
  uint32_t id = nextRequestId();
  req.inresponse = id;
  send(queues::QUEUE_MAIN, req);
  pending_[id] = std::move(on_reply);
  return id;
}

std::unique_ptr<event> Worker::call(event& req, Timeout timeout) {
  uint32_t id = nextRequestId();
  req.inresponse = id;
  send(queues::QUEUE_MAIN, req);
  return block(id, {}, timeout, queues::eventName(req.type), Serve::Supervisor);
}

std::vector<std::unique_ptr<event>> Worker::callAll(const std::vector<event*>& reqs,
                                                    Timeout timeout) {
  std::vector<uint32_t> ids;
  for (event* req : reqs) {
    req->inresponse = nextRequestId();
    ids.push_back(req->inresponse);
    awaited_.insert(req->inresponse);
  }
  std::vector<std::unique_ptr<event>> replies;
  // However the wait ends, nothing stays awaited: a reply that comes after a timeout is
  // dropped, like a late reply to call().
  struct Forget {
    Worker& w;
    const std::vector<uint32_t>& ids;
    const std::vector<std::unique_ptr<event>>& replies;
    ~Forget() {
      for (size_t i = 0; i < ids.size(); ++i) {
        w.awaited_.erase(ids[i]);
        if (i >= replies.size() && w.early_.erase(ids[i]) == 0) w.abandoned_.insert(ids[i]);
      }
    }
  } forget{*this, ids, replies};
  for (event* req : reqs)
    send(queues::QUEUE_MAIN, *req);
  const auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < reqs.size(); ++i) {
    auto early = early_.find(ids[i]);
    if (early != early_.end()) {
      replies.push_back(std::move(early->second));
      early_.erase(early);
      continue;
    }
    Timeout left = timeout;
    if (timeout != kForever) {
      auto spent = std::chrono::duration_cast<Timeout>(std::chrono::steady_clock::now() - start);
      left = std::max(Timeout(0), timeout - spent);
    }
    replies.push_back(block(ids[i], {}, left, queues::eventName(reqs[i]->type), Serve::Supervisor));
  }
  return replies;
}

void Worker::initOk(const std::set<queue_t>& depend_on) {
  queues::ev<queues::INIT_OK> ev(queues::QUEUE_MAIN, 0, {depend_on});
  send(queues::QUEUE_MAIN, ev);
}

control::Server_Configuration_Fields Worker::requestConfiguration(Timeout timeout) {
  queues::ev<queues::REQUEST_SERVER_CONFIGURATION> req;
  return replyPayload<queues::SERVER_CONFIGURATION>(call(req, timeout), req.type);
}

std::map<std::string, std::string> Worker::requestVariables(Timeout timeout) {
  queues::ev<queues::REQUEST_SERVER_VARIABLE_FIELDS> req;
  return replyPayload<queues::RETURN_SERVER_VARIABLE_FIELDS>(call(req, timeout), req.type).vars;
}

Worker::Settings Worker::requestSettings(Timeout timeout) {
  queues::ev<queues::REQUEST_SERVER_CONFIGURATION> config;
  queues::ev<queues::REQUEST_SERVER_VARIABLE_FIELDS> vars;
  std::vector<std::unique_ptr<event>> replies = callAll({&config, &vars}, timeout);
  Settings s;
  s.config = replyPayload<queues::SERVER_CONFIGURATION>(std::move(replies[0]), config.type);
  s.vars =
      replyPayload<queues::RETURN_SERVER_VARIABLE_FIELDS>(std::move(replies[1]), vars.type).vars;
  return s;
}

std::string Worker::pureEntropy(uint32_t bytes, Timeout timeout) {
  queues::ev<queues::GET_PURE_ENTROPY> req(queues::QUEUE_MAIN, 0, static_cast<int32_t>(bytes));
  return replyPayload<queues::RETURN_PURE_ENTROPY>(call(req, timeout), req.type);
}

std::string Worker::pseudoRandom(uint32_t bytes, bool prefer_pure_entropy, Timeout timeout) {
  queues::ev<queues::GET_PSEUDO_RANDOM> req(queues::QUEUE_MAIN, 0,
                                            {static_cast<int32_t>(bytes), prefer_pure_entropy});
  return replyPayload<queues::RETURN_PSEUDO_RANDOM>(call(req, timeout), req.type);
}

void Worker::storeVariables(const std::map<std::string, std::string>& vars) {
  queues::ev<queues::STORE_SERVER_VARIABLE_FIELDS> ev(queues::QUEUE_MAIN, 0, {vars});
  send(queues::QUEUE_MAIN, ev);
}

void Worker::log(const std::string& msg, int32_t log_type) {
  queues::ev<queues::SYSTEM_LOG_REQUEST> ev(queues::QUEUE_MAIN, 0, {msg, log_type});
  send(queues::QUEUE_MAIN, ev);
}

void Worker::requestSpawn(queue_t queue) {
  queues::ev<queues::REQUEST_SPAWN_PROCESS> ev(queues::QUEUE_MAIN, 0, queue);
  send(queues::QUEUE_MAIN, ev);
}

void Worker::supportMetrics(const meter::Group& root) {
  metrics_ = &root;
  queues::ev<queues::SUPPORTS_METRICS> ev;
  send(queues::QUEUE_MAIN, ev);
}

}  // namespace worker
