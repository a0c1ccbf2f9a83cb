// Serves the workers' requests for pure entropy and pseudo-random bytes. Requests are queued
// as they arrive and answered only by service(), which the main loop runs once per iteration:
// each step also takes one timing sample, so the loop's own jitter feeds the pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "security/entropy_pool.h"
#include "security/random_generator.h"
#include "util/time_value.h"

namespace security {

// Where a reply goes: the requesting worker's queue and the request's `inresponse`.
struct Requester {
  int32_t queue = 0;
  uint32_t inresponse = 0;
};

// The server's way out. The supervisor turns these into RETURN_PURE_ENTROPY,
// RETURN_PSEUDO_RANDOM and exception replies to the requester.
class EntropyReplies {
 public:
  virtual ~EntropyReplies() = default;
  virtual void pureEntropy(const Requester& to, std::string bytes) = 0;
  virtual void pseudoRandom(const Requester& to, std::string bytes) = 0;
  virtual void refuse(const Requester& to, const std::string& message) = 0;
};

class EntropyServer {
 public:
  using Clock = std::function<TimeValue()>;
  using Log = std::function<void(const std::string&)>;

  // A generator is replaced after this many output bytes.
  static constexpr uint64_t kReseedAfter = 1048576;
  // Larger pseudo-random requests are refused: the reply could not travel as one event, and
  // a worker must not be able to make the supervisor allocate without bound.
  static constexpr int32_t kMaxPseudoRandomRequest = 1048576;

  explicit EntropyServer(EntropyReplies& replies, Clock clock = TimeValue::now, Log log = {});

  // GET_PSEUDO_RANDOM and GET_PURE_ENTROPY: queued, answered by a later service().
  void enqueue_pseudo_random(const Requester& from, int32_t bytes, bool prefer_pure_entropy);
  void enqueue_pure_entropy(const Requester& from, int32_t bytes);

  // One step: sample the clock, seed or re-seed the generator when due, answer every waiting
  // pseudo-random request, then pure-entropy requests in order for as long as the pool can
  // meet the oldest one. Negative sizes and sizes that can never be met are refused.
  void service();

  // The pool as the "entropy" server variable holds it.
  std::string save() const { return pool_.save(); }
  // Restores the pool from a saved text. A malformed text is logged and ignored.
  void restore(const std::string& text);
  // Stirs fresh bytes from the kernel (getrandom) into the pool, as many as it holds and at
  // least a seed's worth, so that a restored pool never decides the output alone. Run at
  // every start before any request is served; a failure is logged and leaves the pool as it
  // was.
  void stirFromKernel();

  const EntropyPool& pool() const { return pool_; }
  const TimingCollector& collector() const { return collector_; }
  bool seeded() const { return generator_ != nullptr; }
  bool weak_seed() const { return weak_seed_; }
  size_t waitingPseudoRandom() const { return pseudo_random_.size(); }
  size_t waitingPureEntropy() const { return pure_entropy_.size(); }

 private:
  struct Request {
    Requester from;
    int32_t bytes;
    bool prefer_pure_entropy;
  };

  void seed();
  void servePseudoRandom(const Request& r);
  void log(const std::string& line) {
    if (log_) log_(line);
  }

  EntropyReplies& replies_;
  Clock clock_;
  Log log_;
  EntropyPool pool_;
  TimingCollector collector_;
  std::unique_ptr<RandomGenerator> generator_;
  bool weak_seed_ = false;
  std::deque<Request> pseudo_random_;
  std::deque<Request> pure_entropy_;
};

}  // namespace security
