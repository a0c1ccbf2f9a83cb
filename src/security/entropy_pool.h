// Entropy gathered from timing samples: the samples are mixed into an MD5 state, and each time
// enough of them have been credited the digest becomes 16 bytes of pooled entropy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "security/md5.h"
#include "util/time_value.h"

namespace security {

class EntropyPool {
 public:
  static constexpr size_t kMaxBytes = 4096;

  size_t available() const { return bytes_.size(); }
  uint32_t count() const { return count_; }
  const std::string& bytes() const { return bytes_; }

  // Mixes the 4 bytes of `value` (least significant first) into the hash, adds `credit`
  // samples to the count and then collects.
  void feed(uint32_t value, uint32_t credit);
  // Moves the digest into the pool once 16 samples per digest byte have been credited and the
  // pool has room; a full pool keeps mixing and counting.
  void collect();

  // The last n bytes of the pool, in stored order, removed from it. Asking for more than
  // available() is an assertion: callers check first.
  std::string take(size_t n);
  // take(n) for seeding when the pool is short: clock readings are credited far beyond their
  // worth (one digest per 4 readings), so the result is weak and must be replaced as soon as
  // real entropy exists.
  std::string stretchedTake(size_t n, const std::function<TimeValue()>& clock);

  // Mixes bytes from an outside source (the kernel's generator) into the hash and into every
  // pool byte (byte i with fresh byte i modulo its length), without credit. With fresh bytes
  // at least as many as the pool holds, what the pool held before (a saved pool somebody may
  // know) no longer tells anything about what it holds now.
  void stir(const std::string& fresh);

  // "<pool bytes in hex>:<count>:<md5 state text>".
  std::string save() const;
  // Reads a text written by save(). The text is stored outside this process, so anything
  // malformed (not three fields, a bad digit, more than kMaxBytes bytes, a bad count or hash
  // state) raises error::EParseError and leaves the pool unchanged. An empty first field
  // empties the pool and keeps the count and hash as they are.
  void restore(const std::string& text);

 private:
  Md5 hash_;
  uint32_t count_ = 0;
  std::string bytes_;
};

// Turns the jitter of the main loop into pool samples. An interval counts only when it is at
// least three times the shortest one seen, so that a loop spinning at a steady rate is not
// credited for its regularity.
class TimingCollector {
 public:
  // One sample at time `now`.
  void sample(EntropyPool& pool, TimeValue now);

  TimeValue last() const { return last_; }
  TimeValue min_interval() const { return min_interval_; }

 private:
  TimeValue last_{0, 0};
  TimeValue min_interval_{86400, 0};
};

}  // namespace security
