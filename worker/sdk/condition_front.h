// A front of the messenger whose readiness is computed. The messenger re-checks its fronts
// after every batch of control messages it reads, so a condition on its state (a peer was
// introduced, our area arrived, a peer connected) wakes a selector exactly when it may have
// changed, without a flag anyone has to set.
#pragma once

#include <functional>
#include <string>

#include "io/sibling/sibling_messenger.h"
#include "io/stacked.h"

namespace worker {

class ConditionFront : public io::StackedSelectableFront {
 public:
  ConditionFront(io::SiblingMessenger& m, std::function<bool()> condition, std::string name)
      : StackedSelectableFront(&m), condition_(std::move(condition)), name_(std::move(name)) {}
  std::string describe() const override { return name_; }
  bool isReady() const override { return condition_(); }

 private:
  std::function<bool()> condition_;
  std::string name_;
};

}  // namespace worker
