// The supervisor's event streams to and from one worker, with every wait bounded.
//
// The event reader and writer wait on their stream whenever an event spans more than one
// message: the reader for the rest of an event, the writer for room in the supervisor's own
// area. Against a well-behaved worker both waits end within moments. A worker that stops in
// the middle of an event, or takes messages without ever acknowledging them, would otherwise
// block the supervisor, and with it the whole server, for good. These streams wait at most a
// fixed time (serving the messenger meanwhile, so acknowledgements and the rest of an event
// still arrive) and then raise EWorkerStalled. A worker whose process ends, or which is leaving,
// ends the wait at once.
#pragma once

#include <string>

#include "error/exception.h"
#include "io/sibling/sibling_messenger.h"
#include "io/stream.h"
#include "meter/metric.h"
#include "util/time_value.h"

namespace supervisor {

// A worker kept the supervisor waiting past the limit.
class EWorkerStalled : public error::Exception {
 public:
  using Exception::Exception;
};

// The limit of each wait: VX_STALL_LIMIT_MS milliseconds when set (for tests), else 10 s.
TimeValue stallLimit();

class GuardedIStream : public io::IStream {
 public:
  // `process_fd`: a descriptor that becomes readable when the worker's process has ended (its
  // pidfd), or -1. The bytes read are added to `bytes` (when given).
  GuardedIStream(io::SiblingMessenger::SiblingRef sibling, int process_fd, std::string who,
                 meter::IntegerCounter* bytes = nullptr);
  std::string describe() const override { return sibling_->istream().describe(); }
  // Always: the waiting happens, bounded, in readBegin.
  bool isReady() const override { return true; }
  size_t readBegin(const uint8_t*& p) override;
  void readCommit(size_t n) override {
    sibling_->istream().readCommit(n);
    if (bytes_ != nullptr) *bytes_ += n;
  }
  void close() override {}

 private:
  io::SiblingMessenger::SiblingRef sibling_;
  int process_fd_;
  std::string who_;
  meter::IntegerCounter* bytes_;
};

class GuardedOStream : public io::OStream {
 public:
  // The bytes written are added to `bytes`, and each wait for room is timed in `waits` (when
  // given).
  GuardedOStream(io::SiblingMessenger::SiblingRef sibling, std::string who,
                 meter::IntegerCounter* bytes = nullptr, meter::MicroSecondTiming* waits = nullptr);
  std::string describe() const override { return sibling_->ostream().describe(); }
  bool isReady() const override { return true; }
  // Waits, bounded, for room; a peer that is leaving or gone raises io::EEndOfStream.
  size_t writeBegin(uint8_t*& p) override;
  void writeCommit(size_t n) override {
    sibling_->ostream().writeCommit(n);
    if (bytes_ != nullptr) *bytes_ += n;
  }
  bool flush() override { return sibling_->ostream().flush(); }
  void close() override {}

 private:
  io::SiblingMessenger::SiblingRef sibling_;
  std::string who_;
  meter::IntegerCounter* bytes_;
  meter::MicroSecondTiming* waits_;
};

}  // namespace supervisor
