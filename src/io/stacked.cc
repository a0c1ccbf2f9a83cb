#include "io/stacked.h"

#include <algorithm>

#include "error/assert.h"
#include "io/selector.h"

namespace io {

StackedSelectableBack::~StackedSelectableBack() {
  for (auto& [sel, count] : counts_) {
    for (Selectable* u : underlying_) {
      if (sel->isRegistered(*u)) sel->SelectorBase::remove(*u);
    }
  }
  counts_.clear();
  // Fronts leave their selectors while their back pointer is cleared, so they do not call back
  // into this dying object.
  while (!fronts_.empty()) {
    StackedSelectableFront* f = fronts_.back();
    fronts_.pop_back();
    f->back_ = nullptr;
    while (!f->selectors().empty())
      f->selectors().back()->remove(*f);
  }
}

void StackedSelectableBack::setUnderlying(Selectable* u, bool on) {
  VX_ASSERT(u != nullptr, "StackedSelectableBack underlying pointer is null");
  auto it = std::find(underlying_.begin(), underlying_.end(), u);
  if (on) {
    if (it != underlying_.end()) return;
    underlying_.push_back(u);
    for (auto& [sel, count] : counts_)
      sel->add(*u, this);
  } else {
    if (it == underlying_.end()) return;
    underlying_.erase(it);
    for (auto& [sel, count] : counts_)
      sel->SelectorBase::remove(*u);
  }
}

void StackedSelectableBack::addSelector(SelectorBase& sel) {
  for (auto& [s, count] : counts_) {
    if (s == &sel) {
      ++count;
      return;
    }
  }
  counts_.emplace_back(&sel, 1);
  for (Selectable* u : underlying_)
    sel.add(*u, this);
}

void StackedSelectableBack::removeSelector(SelectorBase& sel) {
  auto it =
      std::find_if(counts_.begin(), counts_.end(), [&](const auto& p) { return p.first == &sel; });
  VX_ASSERT(it != counts_.end(), "StackedSelectableBack::removeSelector got unknown Selector");
  if (--it->second > 0) return;
  counts_.erase(it);
  for (Selectable* u : underlying_)
    sel.SelectorBase::remove(*u);
}

StackedSelectableFront::StackedSelectableFront(StackedSelectableBack* back) : back_(back) {
  is_front_ = true;
  if (back_) back_->fronts_.push_back(this);
}

StackedSelectableFront::~StackedSelectableFront() {
  leaveAllSelectors();
  if (back_) {
    auto& fronts = back_->fronts_;
    fronts.erase(std::remove(fronts.begin(), fronts.end(), this), fronts.end());
  }
}

void StackedSelectableFront::addSelector(SelectorBase& sel) {
  Selectable::addSelector(sel);
  if (back_) back_->addSelector(sel);
}

void StackedSelectableFront::removeSelector(SelectorBase& sel) {
  if (back_) back_->removeSelector(sel);
  Selectable::removeSelector(sel);
}

}  // namespace io
