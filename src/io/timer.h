// A selectable that falls due at a wall-clock time. It costs nothing in the OS wait: only the
// earliest deadline of a selector sets the wait's time-out. A due timer is reported on every
// wait until it is re-armed or removed.
#pragma once

#include "io/selectable.h"

namespace io {

class Timer : public virtual Selectable {
 public:
  explicit Timer(TimeValue expiry = TimeValue::never()) : expiry_(expiry) {}
  ~Timer() override = default;

  // Takes effect at the next wait; TimeValue::never() disarms.
  void set(TimeValue expiry) { expiry_ = expiry; }
  void setIn(TimeValue from_now) { expiry_ = TimeValue::now() + from_now; }
  TimeValue expiry() const { return expiry_; }

  std::string describe() const override { return "Timer"; }
  bool isReady() const override;
  bool deadline(TimeValue& out) const override {
    out = expiry_;
    return true;
  }

 private:
  TimeValue expiry_;
};

}  // namespace io
