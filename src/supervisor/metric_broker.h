// The supervisor as the broker of metric queries. Metrics live in the workers; a worker asks
// the supervisor for a metric of another worker by a path whose first element is that
// worker's short name, and lists all metrics of the server with LIST_METRICS, which the
// broker fans out to every worker that announced SUPPORTS_METRICS and answers with one group
// per supplier. Forwarded requests carry ids of the broker's own; replies are mapped back to
// the requester and its own `inresponse`.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "queues/control/control_payloads.h"
#include "queues/event.h"
#include "queues/queue.h"

namespace supervisor {

class MetricBroker {
 public:
  // Requests waiting for an answer, beyond which new ones are answered with an error at once:
  // a worker flooding requests at a supplier that never answers must not grow the supervisor
  // without bound.
  static constexpr size_t kMaxPending = 65536;

  class Outbox {
   public:
    virtual ~Outbox() = default;
    // Sends `ev` to the worker of `queue`; false when no worker of that queue is registered.
    virtual bool sendToQueue(queues::queue_t queue, queues::event& ev) = 0;
    // The registered worker with short name `sname`.
    virtual std::optional<queues::queue_t> queueOf(const std::string& sname) const = 0;
    virtual std::string snameOf(queues::queue_t queue) const = 0;
    virtual std::string programOf(queues::queue_t queue) const = 0;
    virtual void log(const std::string& line) = 0;
  };

  explicit MetricBroker(Outbox& out) : out_(out) {}

  // GET_METRIC and GET_METRIC_TYPE from `from`.
  void request(queues::queue_t from, const queues::event& ev);
  // RETURN_METRIC_ERROR, _UINT64, _DOUBLE, _TIMING and RETURN_GET_METRIC_TYPE from `from`. A
  // reply to nothing `from` was asked raises error::EFatal "Unexpected metric reply".
  void reply(queues::queue_t from, const queues::event& ev);
  // LIST_METRICS from `from`.
  void list(queues::queue_t from, const queues::event& ev);
  // RETURN_LIST_METRICS from `from`.
  void listReply(queues::queue_t from, const queues::event& ev);
  // SUPPORTS_METRICS from `from`.
  void supports(queues::queue_t from) { suppliers_.insert(from); }

  // The supervisor's own questions (for the admin channel): `ev` (LIST_METRICS, or GET_METRIC
  // with the path below the worker) goes to the worker of `supplier` under an id of the
  // broker's, and its answer comes back to `answer`, once. A supplier that is not there, that
  // ends before it answers, or too many questions waiting give `answer` a RETURN_METRIC_ERROR
  // instead (at once in the first and last case).
  using Answer = std::function<void(const queues::event&)>;
  void ask(queues::queue_t supplier, queues::event& ev, Answer answer);
  size_t pendingQuestions() const { return questions_.size(); }
  // The worker of `queue` has ended: it supplies nothing more, requests waiting for its answer
  // are answered with an error (lists go out without its group), and answers meant for it are
  // dropped when they come.
  void workerGone(queues::queue_t queue);

  const std::set<queues::queue_t>& suppliers() const { return suppliers_; }
  size_t pendingRequests() const { return metric_requests_.size(); }
  size_t pendingLists() const { return list_requests_.size(); }

 private:
  struct MetricRequest {
    std::optional<queues::queue_t> requester;  // none once it has gone
    uint32_t inresponse;
    queues::queue_t supplier;
  };
  struct ListRequest {
    std::optional<queues::queue_t> requester;
    uint32_t inresponse;
    control::Metric_Group collected;
    std::set<queues::queue_t> asked;
    std::set<queues::queue_t> answered;
  };

  struct Question {
    queues::queue_t supplier;
    Answer answer;
  };

  int32_t nextId();
  void answerError(queues::queue_t to, uint32_t inresponse, const std::string& text);
  void finishIfComplete(std::map<int32_t, ListRequest>::iterator it);
  // The answer to one of our own questions: true when `ev` was one (and has been handed on).
  bool answerQuestion(queues::queue_t from, const queues::event& ev);

  Outbox& out_;
  int32_t next_request_id_ = 0;
  std::map<int32_t, MetricRequest> metric_requests_;
  std::map<int32_t, ListRequest> list_requests_;
  std::map<int32_t, Question> questions_;
  std::set<queues::queue_t> suppliers_;
};

}  // namespace supervisor
