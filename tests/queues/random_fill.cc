#include "random_fill.h"

namespace vxtest {

namespace {
template <queues::event_t N>
std::unique_ptr<queues::event> randomOf(Rng& r, int depth) {
  auto e = std::make_unique<queues::ev<N>>(static_cast<queues::queue_t>(r.below(26)),
                                           static_cast<uint32_t>(r.bits()));
  fill(e->payload, r, depth);
  return e;
}
}  // namespace

std::unique_ptr<queues::event> randomEvent(queues::event_t n, Rng& r, int depth) {
  switch (n) {
#define VX_RANDOM_CASE(num, name, T) \
  case num:                          \
    return randomOf<num>(r, depth);
    VX_EVENT_CATALOGUE(VX_RANDOM_CASE)
#undef VX_RANDOM_CASE
  }
  std::string text;
  fill(text, r, depth);
  return std::make_unique<queues::exevent>(static_cast<queues::queue_t>(r.below(26)),
                                           static_cast<uint32_t>(r.bits()), text);
}

}  // namespace vxtest
