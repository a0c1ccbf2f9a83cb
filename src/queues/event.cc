#include "queues/event.h"

#include <array>
#include <sstream>

#include "error/assert.h"
#include "queues/spawn.h"

namespace queues {

bool event::equals(const event& other) const {
  return type == other.type && dest == other.dest && inresponse == other.inresponse &&
         exception == other.exception && payloadEquals(other);
}

void exevent::writePayload(protocol::ioprim& io) const {
  wire::Codec<std::string>::write(io, message);
}

void exevent::printPayload(std::ostream& os, int) const {
  os << "Exception: " << wire::quoteString(message) << '\n';
}

bool exevent::payloadEquals(const event& other) const {
  const auto* o = dynamic_cast<const exevent*>(&other);
  return o != nullptr && message == o->message;
}

namespace detail {

Header readHeaderRest(protocol::ioprim& io) {
  // One read of the three words, as they lie on the wire.
  uint32_t w[3];
  io.readField(sizeof w, w);
  Header h;
  h.dest = static_cast<queue_t>(w[0]);
  h.inresponse = w[1];
  h.exception_word = w[2];
  return h;
}

std::unique_ptr<event> readExceptionReply(protocol::ioprim& io, const Header& h) {
  auto ev = std::make_unique<exevent>(h.dest, h.inresponse, std::string());
  wire::Codec<std::string>::read(io, ev->message);
  return ev;
}

namespace {

std::unique_ptr<event> spawnException(protocol::ioprim& io) {
  Header h = readHeaderRest(io);
  if (h.exception_word == 0) throw EBadEvent("Found exevent with .exception == 0");
  return readExceptionReply(io, h);
}

std::unique_ptr<event> makeException(queue_t dest, uint32_t inresponse) {
  return std::make_unique<exevent>(dest, inresponse, std::string());
}

}  // namespace

struct Tables {
  std::array<spawn_fn, kLastEvent> spawn{};
  std::array<make_fn, kLastEvent> make{};
};

const Tables& tables() {
  static const Tables t = [] {
    Tables t;
    for (const SpawnFamily* f : {&kControlFamily, &kTsdbFamily, &kDbmsDataFamily, &kDbmsTqlFamily,
                                 &kDbmsSyncFamily, &kLinksFamily, &kNotifyFamily}) {
      for (event_t n = f->first; n <= f->last; ++n) {
        t.spawn[n - 1] = f->spawn[n - f->first];
        t.make[n - 1] = f->make[n - f->first];
      }
    }
    t.spawn[MESSAGE_EXCEPTION - 1] = &spawnException;
    t.make[MESSAGE_EXCEPTION - 1] = &makeException;
    for (event_t n = 1; n <= kLastEvent; ++n) {
      VX_ASSERT(t.spawn[n - 1] != nullptr && t.make[n - 1] != nullptr, "spawn[] hole at ", n);
    }
    return t;
  }();
  return t;
}

}  // namespace detail

spawn_fn spawnFunction(event_t n) {
  VX_ASSERT(n >= 1 && n <= kLastEvent, "spawnFunction: no event ", n);
  return detail::tables().spawn[n - 1];
}

std::unique_ptr<event> makeEvent(event_t n, queue_t dest, uint32_t inresponse) {
  VX_ASSERT(n >= 1 && n <= kLastEvent, "makeEvent: no event ", n);
  return detail::tables().make[n - 1](dest, inresponse);
}

protocol::ioprim& operator<<(protocol::ioprim& io, const event& ev) {
  VX_ASSERT(ev.type != 0 && ev.type <= kLastEvent, "fdio << event: unknown type index: ", ev.type);
  wire::detail::putRaw<uint32_t>(io, ev.type);
  wire::detail::putRaw<uint32_t>(io, static_cast<uint32_t>(ev.dest));
  wire::detail::putRaw<uint32_t>(io, ev.inresponse);
  wire::detail::putRaw<uint32_t>(io, ev.exception ? 1 : 0);
  ev.writePayload(io);
  return io;
}

std::unique_ptr<event> readEvent(protocol::ioprim& io) {
  auto type = wire::detail::getRaw<event_t>(io);
  if (type == 0 || type > kLastEvent) {
    const auto& last = io.lastRead();
    throw EBadEvent("fdio >> event: unknown type index: " + std::to_string(type) + " old was " +
                    std::to_string(last.type) + " dest " +
                    std::to_string(static_cast<int32_t>(last.dest)));
  }
  std::unique_ptr<event> ev;
  {
    protocol::ioprim::EventLevel level(io);
    ev = detail::tables().spawn[type - 1](io);
  }
  VX_ASSERT(ev->exception || ev->type == type, "spawn[] hash failure!");
  io.setLastRead(type, static_cast<uint32_t>(ev->dest));
  return ev;
}

void printEvent(std::ostream& os, const event& ev, int level) {
  std::string in = wire::indent(level);
  os << eventName(ev.type) << " {\n";
  os << in << "  dest: " << queueName(ev.dest) << '\n';
  os << in << "  inresponse: " << static_cast<int32_t>(ev.inresponse) << '\n';
  ev.printPayload(os, level + 1);
  os << in << "}\n";
}

std::string eventText(const event& ev) {
  std::ostringstream os;
  printEvent(os, ev, 0);
  return os.str();
}

std::string eventName(event_t n) {
  static constexpr const char* kNames[] = {
      "INVALID_HEAD",
#define VX_EVENT_NAME(n, name, T) #name,
      VX_EVENT_CATALOGUE(VX_EVENT_NAME)
#undef VX_EVENT_NAME
          "MESSAGE_EXCEPTION",
      "INVALID_TAIL",
  };
  static_assert(std::size(kNames) == INVALID_TAIL + 1);
  if (n <= INVALID_TAIL) return kNames[n];
  return "(event_t)" + std::to_string(n);
}

}  // namespace queues

namespace wire {

void Codec<queues::event_ptr>::write(protocol::ioprim& io, const queues::event_ptr& v) {
  VX_ASSERT(v, "A nested event field holds no event");
  io << *v;
}

void Codec<queues::event_ptr>::read(protocol::ioprim& io, queues::event_ptr& v) {
  v = queues::readEvent(io);
}

void Codec<queues::event_ptr>::print(std::ostream& os, const queues::event_ptr& v, int level) {
  if (v) {
    queues::printEvent(os, *v, level);
  } else {
    os << "(none)\n";
  }
}

}  // namespace wire
