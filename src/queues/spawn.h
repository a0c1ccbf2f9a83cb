// The factories of the spawn table. Each family translation unit instantiates its entries and
// publishes them as a SpawnFamily; event.cc assembles the table. Internal to the event layer.
#pragma once

#include "queues/event.h"

namespace queues::detail {

struct Header {
  queue_t dest;
  uint32_t inresponse;
  uint32_t exception_word;
};
// Reads dest, inresponse and the exception word that follow the number.
Header readHeaderRest(protocol::ioprim& io);
// The rest of an exception reply, whatever number it came under.
std::unique_ptr<event> readExceptionReply(protocol::ioprim& io, const Header& h);

template <event_t N, typename T>
std::unique_ptr<event> spawnEvent(protocol::ioprim& io) {
  Header h = readHeaderRest(io);
  if (h.exception_word != 0) return readExceptionReply(io, h);
  auto ev = std::make_unique<devent<N, T>>(h.dest, h.inresponse);
  wire::Codec<T>::read(io, ev->payload);
  return ev;
}

template <event_t N, typename T>
std::unique_ptr<event> makeDefault(queue_t dest, uint32_t inresponse) {
  return std::make_unique<devent<N, T>>(dest, inresponse);
}

struct SpawnFamily {
  event_t first;
  event_t last;
  const spawn_fn* spawn;
  const make_fn* make;
};

extern const SpawnFamily kControlFamily;
extern const SpawnFamily kTsdbFamily;
extern const SpawnFamily kDbmsDataFamily;
extern const SpawnFamily kDbmsTqlFamily;
extern const SpawnFamily kDbmsSyncFamily;
extern const SpawnFamily kLinksFamily;
extern const SpawnFamily kNotifyFamily;

}  // namespace queues::detail

// Instantiates the classes of a family and publishes its factories as detail::k<Name>Family.
#define VX_EVENT_INSTANCE(n, name, T) template class devent<n, T>;
#define VX_EVENT_SPAWN(n, name, T) &detail::spawnEvent<n, T>,
#define VX_EVENT_MAKE(n, name, T) &detail::makeDefault<n, T>,
#define VX_DEFINE_EVENT_FAMILY(LIST, Name, first, last)                                    \
  LIST(VX_EVENT_INSTANCE)                                                                  \
  namespace detail {                                                                       \
  constexpr spawn_fn k##Name##Spawn[] = {LIST(VX_EVENT_SPAWN)};                            \
  constexpr make_fn k##Name##Make[] = {LIST(VX_EVENT_MAKE)};                               \
  static_assert(std::size(k##Name##Spawn) == (last) - (first) + 1,                         \
                "a family covers a contiguous range of numbers");                          \
  extern const SpawnFamily k##Name##Family = {first, last, k##Name##Spawn, k##Name##Make}; \
  }
