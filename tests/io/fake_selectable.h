// Selectables whose readiness, deadline and handle a test sets directly.
#pragma once

#include <string>

#include "io/selectable.h"
#include "io/signal.h"

namespace vxtest {

class FakeSelectable : public virtual io::Selectable {
 public:
  explicit FakeSelectable(std::string name) : name_(std::move(name)) {}
  ~FakeSelectable() override { leaveAllSelectors(); }
  std::string describe() const override { return name_; }
  bool isReady() const override { return ready; }
  bool deadline(TimeValue& out) const override {
    out = due;
    return has_deadline;
  }
  void prepareWait() override { ++prepared; }

  bool ready = false;
  bool has_deadline = false;
  TimeValue due;
  int prepared = 0;

 private:
  std::string name_;
};

// A signal that can decline its wake-ups.
class DecliningSignal : public io::Signal {
 public:
  using io::Signal::Signal;
  bool acknowledgeWakeup() override {
    ++wakeups;
    if (declines > 0) {
      --declines;
      reset();
      return true;
    }
    return false;
  }
  int declines = 0;
  int wakeups = 0;
};

}  // namespace vxtest
