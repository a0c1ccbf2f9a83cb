#include "supervisor/guarded_streams.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "io/exceptions.h"
#include "io/selector.h"
#include "io/timer.h"
#include "util/parse.h"

namespace supervisor {

namespace {

// Waits are served in slices, so that conditions no selectable reports (a process that ended,
// a peer that started to leave) are noticed between them.
const TimeValue kSlice = TimeValue::fromMilliseconds(50);

enum class Outcome { Ready, Stop, TimedOut };

// Serves `s` (and the messenger under it) until it is ready, `stop()` holds, or `limit` has
// passed.
template <typename Stop>
Outcome boundedWait(io::Selectable& s, Stop stop) {
  if (s.isReady()) return Outcome::Ready;
  const TimeValue deadline = TimeValue::now() + stallLimit();
  io::Selector<int> sel;
  io::Timer slice;
  sel.add(s, 0);
  sel.add(slice, 1);
  for (;;) {
    TimeValue now = TimeValue::now();
    if (now >= deadline) return Outcome::TimedOut;
    slice.set(std::min(now + kSlice, deadline));
    if (sel.poll().second == 0) return Outcome::Ready;
    // A slice has passed: whatever the messenger had to read has been read by now.
    if (stop()) return Outcome::Stop;
  }
}

bool processEnded(int fd) {
  if (fd < 0) return false;
  pollfd p = {fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

std::string millis(TimeValue t) {
  return std::to_string(int64_t{t.sec} * 1000 + t.usec / 1000) + " ms";
}

}  // namespace

TimeValue stallLimit() {
  static const TimeValue limit = [] {
    const char* v = std::getenv("VX_STALL_LIMIT_MS");
    if (v != nullptr) {
      try {
        return TimeValue::fromMilliseconds(util::parse<uint32_t>(v));
      } catch (const error::Exception&) {
        // An unusable value keeps the default.
      }
    }
    return TimeValue(10, 0);
  }();
  return limit;
}

GuardedIStream::GuardedIStream(io::SiblingMessenger::SiblingRef sibling, int process_fd,
                               std::string who, meter::IntegerCounter* bytes)
    : sibling_(std::move(sibling)), process_fd_(process_fd), who_(std::move(who)), bytes_(bytes) {}

size_t GuardedIStream::readBegin(const uint8_t*& p) {
  io::IStream& in = sibling_->istream();
  switch (boundedWait(in, [this] { return processEnded(process_fd_); })) {
    case Outcome::Ready:
      break;
    case Outcome::Stop:
      throw error::Exception("Process " + who_ + " ended in the middle of an event");
    case Outcome::TimedOut:
      throw EWorkerStalled("Process " + who_ + " sent only part of an event for " +
                           millis(stallLimit()));
  }
  return in.readBegin(p);
}

GuardedOStream::GuardedOStream(io::SiblingMessenger::SiblingRef sibling, std::string who,
                               meter::IntegerCounter* bytes, meter::MicroSecondTiming* waits)
    : sibling_(std::move(sibling)), who_(std::move(who)), bytes_(bytes), waits_(waits) {}

size_t GuardedOStream::writeBegin(uint8_t*& p) {
  io::OStream& out = sibling_->ostream();
  auto leaving = [this] { return sibling_->gone() || sibling_->shutdownPending(); };
  // Only a wait is timed: the clock is not read while there is room.
  std::optional<meter::MicroSecondTiming::Scope> timed;
  if (waits_ != nullptr && !out.isReady()) timed.emplace(*waits_);
  switch (boundedWait(out, leaving)) {
    case Outcome::Ready:
      break;
    case Outcome::Stop:
      throw io::EEndOfStream(describe(), "the peer is leaving");
    case Outcome::TimedOut:
      throw EWorkerStalled("Process " + who_ + " has not taken its events for " +
                           millis(stallLimit()) + ": the supervisor's message area is full");
  }
  return out.writeBegin(p);
}

}  // namespace supervisor
