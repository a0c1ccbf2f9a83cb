// At most one action per interval, for what outsiders can ask for as often as they like (log
// rotations, progress dumps, notes about refused requests): the first request acts at once,
// later ones only when the interval has passed since the last that acted; the ones between
// are counted, so that the next action can say how many it stands for.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace util {

class RateLimit {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RateLimit(Clock::duration interval) : interval_(interval) {}

  // When a request at `now` may act: the number of requests held back since the last one that
  // acted. Otherwise nothing, and the request is counted.
  std::optional<uint64_t> allow(Clock::time_point now = Clock::now()) {
    if (acted_ && now - last_ < interval_) {
      ++held_back_;
      return std::nullopt;
    }
    acted_ = true;
    last_ = now;
    uint64_t held = held_back_;
    held_back_ = 0;
    return held;
  }

 private:
  Clock::duration interval_;
  Clock::time_point last_{};
  bool acted_ = false;
  uint64_t held_back_ = 0;
};

}  // namespace util
