#include "sdk/identity.h"

#include <cctype>

#include "error/exception.h"
#include "queues/worker_table.h"
#include "util/parse.h"

namespace worker {

bool Identity::demandLoad() const {
  return (flags & queues::kDemandLoad) != 0;
}

std::string Identity::upperName() const {
  std::string s = sname;
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

Identity Identity::fromProgram(std::string_view program) {
  Identity id;
  const queues::WorkerRow* row = queues::findWorkerRowByProgram(program);
  if (row != nullptr)
    id = forQueue(row->queue);
  else
    id = forQueue(queues::kExtraQueue);
  id.program = std::string(program);
  return id;
}

Identity Identity::forQueue(queues::queue_t queue) {
  Identity id;
  id.queue = queue;
  if (queue == queues::kExtraQueue) {
    id.sname = queues::kExtraSname;
    id.flags = queues::kExtraFlags;
  } else if (const queues::WorkerRow* row = queues::findWorkerRow(queue)) {
    id.sname = row->sname;
    id.flags = row->flags;
    id.program = row->exe;
  } else {
    id.sname = queues::queueName(queue);
  }
  return id;
}

queues::queue_t parseQueue(std::string_view text) {
  std::string t(text);
  if (t == queues::kExtraSname) return queues::kExtraQueue;
  for (int32_t q = queues::QUEUE_MAIN; q <= queues::QUEUE_EXTRA; ++q) {
    if (queues::queueName(q) == t) return static_cast<queues::queue_t>(q);
  }
  if (!t.empty() && std::isdigit(static_cast<unsigned char>(t[0]))) {
    return static_cast<queues::queue_t>(util::parse<int32_t>(t));
  }
  throw error::EParseError("Unknown queue: " + t);
}

}  // namespace worker
