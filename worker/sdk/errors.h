// What the worker SDK reports to its caller.
#pragma once

#include <string>

#include "error/exception.h"
#include "queues/queue.h"

namespace worker {

// The supervisor has gone: its process ended, it closed its FIFO, or its stream ended while
// this worker was not leaving.
class ESupervisorGone : public error::Exception {
 public:
  explicit ESupervisorGone(const std::string& why) : Exception("The supervisor has gone: " + why) {}
};

// A peer cannot be written to: the supervisor refused to connect it, or it has ended.
class EPeerGone : public error::Exception {
 public:
  EPeerGone(queues::queue_t queue, const std::string& why)
      : Exception("Queue " + queues::queueName(queue) + " " + why), queue_(queue) {}
  queues::queue_t queue() const { return queue_; }

 private:
  queues::queue_t queue_;
};

// A blocking request or wait found no answer in time.
class ETimeout : public error::Exception {
 public:
  using Exception::Exception;
};

// The supervisor answered a request with an exception reply; the text is its message.
class ERequestFailed : public error::Exception {
 public:
  using Exception::Exception;
};

}  // namespace worker
