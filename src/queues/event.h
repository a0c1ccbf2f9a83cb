// Events: a 16-byte header (number, destination queue, response field, exception flag) and a
// payload whose type the number fixes. This header holds the event classes and the
// operations every process needs: write an event, read the next one, print it, name it.
//
//   auto ev = std::make_unique<queues::ev<queues::SYS_EXIT>>(queues::QUEUE_SCHD, 0);
//   prim << *ev;                                   // header and payload
//   prim.endWrite();                               // visible to the reader
//   std::unique_ptr<queues::event> in = queues::readEvent(prim);
//   if (auto* req = queues::as<queues::REQUEST_SERVER_CONFIGURATION>(*in)) ...
//   queues::printEvent(std::cout, *in);
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <typeinfo>

#include "queues/event_numbers.h"
#include "queues/queue.h"
#include "wire/clone_ptr.h"
#include "wire/codec.h"
#include "wire/ioprim.h"

namespace queues {

class event {
 public:
  event_t type;
  queue_t dest;
  // The request a reply answers; printed as a signed number.
  uint32_t inresponse;
  // True only in an exevent.
  bool exception;
  // The payload inside a devent; null in an exevent.
  void* data;

  virtual ~event() = default;
  // A newly allocated copy, owned by the caller.
  virtual std::unique_ptr<event> clone() const = 0;
  // Writes what follows the header.
  virtual void writePayload(protocol::ioprim& io) const = 0;
  virtual void printPayload(std::ostream& os, int level) const = 0;

  // Same header and equal payloads.
  bool equals(const event& other) const;

 protected:
  event(event_t t, queue_t d, uint32_t r, bool ex)
      : type(t), dest(d), inresponse(r), exception(ex), data(nullptr) {}
  event(const event&) = default;
  event& operator=(const event&) = delete;
  virtual bool payloadEquals(const event& other) const = 0;
};

// Event N with payload T (1 <= N <= 203). queues::ev<N> names it with the catalogue's T.
template <event_t N, typename T>
class devent final : public event {
  static_assert(N >= 1 && N < MESSAGE_EXCEPTION, "devent numbers run from 1 to 203");

 public:
  using payload_type = T;
  static constexpr event_t kNumber = N;
  T payload;

  explicit devent(queue_t dest = QUEUE_MAIN, uint32_t inresponse = 0, T p = T{})
      : event(N, dest, inresponse, false), payload(std::move(p)) {
    data = &payload;
  }
  devent(const devent& o) : event(o), payload(o.payload) { data = &payload; }

  std::unique_ptr<event> clone() const override { return std::make_unique<devent>(*this); }
  void writePayload(protocol::ioprim& io) const override {
    if (!exception) wire::Codec<T>::write(io, payload);
  }
  void printPayload(std::ostream& os, int level) const override {
    wire::printPayloadText(os, payload, level);
  }

 protected:
  bool payloadEquals(const event& other) const override {
    const auto* o = dynamic_cast<const devent*>(&other);
    return o != nullptr && wire::valueEqual(payload, o->payload);
  }
};

// An error reply: the text of the error::Exception that the request raised. It may travel
// under the number of the request that failed; read back, it is always number 204.
class exevent final : public event {
 public:
  std::string message;

  exevent(queue_t dest, uint32_t inresponse, std::string text)
      : event(MESSAGE_EXCEPTION, dest, inresponse, true), message(std::move(text)) {}
  std::unique_ptr<event> clone() const override { return std::make_unique<exevent>(*this); }
  void writePayload(protocol::ioprim& io) const override;
  void printPayload(std::ostream& os, int level) const override;

 protected:
  bool payloadEquals(const event& other) const override;
};

// Bytes that are not an event: an unknown number, an exception reply without its flag.
class EBadEvent : public protocol::EBadInput {
 public:
  using EBadInput::EBadInput;
};

// Writes the header and the payload; the caller then calls endWrite. Numbers outside 1 to
// 204 are a broken invariant of the writer.
protocol::ioprim& operator<<(protocol::ioprim& io, const event& ev);
// Reads the next event. Bad bytes raise an error::Exception (EBadEvent for an unknown number)
// and destroy whatever was built; the bytes consumed stay consumed.
std::unique_ptr<event> readEvent(protocol::ioprim& io);
inline protocol::ioprim& operator>>(protocol::ioprim& io, std::unique_ptr<event>& ev) {
  ev = readEvent(io);
  return io;
}
// The type and destination of the last event read through io (0 and 0 before the first).
inline const protocol::ioprim::LastRead& lastRead(const protocol::ioprim& io) {
  return io.lastRead();
}

// The text form: "NAME {", dest, inresponse, the payload one level deeper, "}".
void printEvent(std::ostream& os, const event& ev, int level = 0);
std::string eventText(const event& ev);
// "INVALID_HEAD" for 0, the catalogue's names for 1 to 204, "INVALID_TAIL" for 205,
// "(event_t)N" above.
std::string eventName(event_t n);

// Reads the rest of event N (after its number); one per catalogue entry.
using spawn_fn = std::unique_ptr<event> (*)(protocol::ioprim&);
spawn_fn spawnFunction(event_t n);

// A new event N (1 to 203) with a default payload; 204 gives an exevent with an empty text.
using make_fn = std::unique_ptr<event> (*)(queue_t dest, uint32_t inresponse);
std::unique_ptr<event> makeEvent(event_t n, queue_t dest, uint32_t inresponse);

// Nested events (the scheduler's) travel whole, header included.
using event_ptr = wire::clone_ptr<event>;

}  // namespace queues

namespace wire {
template <>
struct Codec<queues::event_ptr> {
  static constexpr size_t kMinSize = 16;
  static void write(protocol::ioprim& io, const queues::event_ptr& v);
  static void read(protocol::ioprim& io, queues::event_ptr& v);
  static void print(std::ostream& os, const queues::event_ptr& v, int level);
};
}  // namespace wire

namespace queues {

// The catalogue's payload type of event N; specialised by the family headers
// (events_control.h, ...; catalogue.h has them all).
template <event_t N>
struct Payload;
template <event_t N>
using payload_t = typename Payload<N>::type;
template <event_t N>
using ev = devent<N, payload_t<N>>;

// The event as devent N, or null when it is another number or an exception reply.
// Every event class is final, so an exact type match is what a dynamic_cast would find.
template <event_t N>
ev<N>* as(event& e) {
  return !e.exception && typeid(e) == typeid(ev<N>) ? static_cast<ev<N>*>(&e) : nullptr;
}
template <event_t N>
const ev<N>* as(const event& e) {
  return !e.exception && typeid(e) == typeid(ev<N>) ? static_cast<const ev<N>*>(&e) : nullptr;
}

}  // namespace queues

// Used by the family headers: the payload type of entry n, whose codecs are compiled once, in
// the family's own translation unit.
#define VX_EVENT_PAYLOAD(n, name, T) \
  template <>                        \
  struct Payload<n> {                \
    using type = T;                  \
  };                                 \
  extern template class devent<n, T>;
