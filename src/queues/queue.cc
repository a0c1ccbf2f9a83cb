#include "queues/queue.h"

namespace queues {

std::string queueName(queue_t q) {
  switch (q) {
#define VX_QUEUE_CASE(v, id, name) \
  case QUEUE_##id:                 \
    return name;
    VX_QUEUE_TABLE(VX_QUEUE_CASE)
#undef VX_QUEUE_CASE
  }
  std::string s = std::to_string(static_cast<int32_t>(q));
  if (s.size() < 4) s.insert(0, 4 - s.size(), 'x');
  return s;
}

}  // namespace queues
