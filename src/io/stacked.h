// Stacked selectables let virtual streams (fronts) become ready as a side effect of serving
// the real OS objects that feed them (the back's underlying selectables). Whenever a front
// joins a selector, the back's underlying objects join it too (once per selector, however
// many fronts are there), so a thread blocked on one front still serves the descriptors that
// can make it ready.
#pragma once

#include <utility>
#include <vector>

#include "io/selectable.h"

namespace io {

class StackedSelectableFront;

class StackedSelectableBack {
 public:
  StackedSelectableBack() = default;
  StackedSelectableBack(const StackedSelectableBack&) = delete;
  StackedSelectableBack& operator=(const StackedSelectableBack&) = delete;
  // Removes every underlying object from every selector and detaches every front.
  virtual ~StackedSelectableBack();

  // The owner serves the OS object that became ready (reads the FIFO, ...) and sets the ready
  // flags of the fronts it fed.
  virtual void underlyingIsReady(Selectable& underlying) = 0;

  // Adds (on) or removes (off) an underlying OS object in every selector a front sits in.
  void setUnderlying(Selectable* underlying, bool on);

  // Called by fronts as they join and leave selectors.
  void addSelector(SelectorBase& sel);
  void removeSelector(SelectorBase& sel);

  const std::vector<StackedSelectableFront*>& fronts() const { return fronts_; }
  const std::vector<Selectable*>& underlying() const { return underlying_; }

 private:
  friend class StackedSelectableFront;
  std::vector<Selectable*> underlying_;
  std::vector<StackedSelectableFront*> fronts_;
  std::vector<std::pair<SelectorBase*, int>> counts_;  // selector -> fronts registered there
};

// A virtual selectable whose readiness is a flag its owner sets. Fronts have no handle and
// never enter the OS layer of a selector.
class StackedSelectableFront : public virtual Selectable {
 public:
  explicit StackedSelectableFront(StackedSelectableBack* back);
  ~StackedSelectableFront() override;

  bool isReady() const override { return ready_; }
  void addSelector(SelectorBase& sel) override;
  void removeSelector(SelectorBase& sel) override;

  void setReadyFlag(bool ready) { ready_ = ready; }
  StackedSelectableBack* back() const { return back_; }

 private:
  friend class StackedSelectableBack;
  StackedSelectableBack* back_;
  bool ready_ = false;
};

}  // namespace io
