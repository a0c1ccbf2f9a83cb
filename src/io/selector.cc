#include "io/selector.h"

#include "io/stacked.h"

namespace io {

SelectorBase::~SelectorBase() {
  removeAllDirect();
  VX_ASSERT(reg_.empty(), "avail not empty in ~SelectorBase");
}

void SelectorBase::removeAllDirect() {
  for (size_t i = reg_.size(); i-- > 0;) {
    if (i < reg_.size() && reg_[i].back == nullptr) remove(*reg_[i].s);
  }
}

bool SelectorBase::isUnderlying(const Selectable& s) const {
  auto it = reg_index_.find(const_cast<Selectable*>(&s));
  return it != reg_index_.end() && reg_[it->second].back != nullptr;
}

void SelectorBase::add(Selectable& s, StackedSelectableBack* back) {
  VX_ASSERT(reg_index_.count(&s) == 0, s.describe(), " added twice to Selector");
  reg_index_.emplace(&s, reg_.size());
  reg_.push_back(Entry{&s, back});
  if (!s.isFront()) OsSelector::add(s);
  s.addSelector(*this);
}

void SelectorBase::remove(Selectable& s) {
  auto it = reg_index_.find(&s);
  VX_ASSERT(it != reg_index_.end(), "Unknown ", s.describe(), " removed twice from Selector");
  size_t pos = it->second;
  reg_index_.erase(it);
  reg_.erase(reg_.begin() + static_cast<ptrdiff_t>(pos));
  for (size_t i = pos; i < reg_.size(); ++i)
    reg_index_[reg_[i].s] = i;
  for (auto q = avail_.begin(); q != avail_.end();)
    q = (*q == &s) ? avail_.erase(q) : q + 1;
  s.removeSelector(*this);
  if (!s.isFront()) OsSelector::remove(s);
}

void SelectorBase::setReady(Selectable& s) {
  VX_ASSERT(reg_index_.count(&s) != 0, s.describe(), " not found on avail map");
  if (s.isFront()) {
    avail_.push_back(&s);
  } else {
    OsSelector::setReady(s);
  }
}

void SelectorBase::processReady(Selectable& s) {
  auto it = reg_index_.find(&s);
  VX_ASSERT(it != reg_index_.end(), "SelectorBase::processReady got unknown Selectable ",
            s.describe());
  StackedSelectableBack* back = reg_[it->second].back;
  if (back == nullptr) {
    avail_.push_back(&s);
    return;
  }
  back->underlyingIsReady(s);
  // Fronts may come and go while the back serves its OS object; index and re-check.
  const auto& fronts = back->fronts();
  for (size_t i = 0; i < fronts.size(); ++i) {
    StackedSelectableFront* f = fronts[i];
    if (f->isReady() && isRegistered(*f)) processReady(*f);
  }
}

Selectable& SelectorBase::wait(bool nonblocking) {
  for (;;) {
    TimeValue now = TimeValue::now();
    while (!avail_.empty()) {
      Selectable* s = avail_.front();
      avail_.pop_front();
      auto it = reg_index_.find(s);
      if (it != reg_index_.end() && reg_[it->second].back == nullptr && isPending(*s, now)) {
        return *s;
      }
    }
    fronts_snapshot_.clear();
    for (const Entry& e : reg_) {
      if (e.s->isFront()) fronts_snapshot_.push_back(e.s);
    }
    for (Selectable* f : fronts_snapshot_) {
      if (isRegistered(*f) && isPending(*f, now)) processReady(*f);
    }
    if (!avail_.empty()) continue;
    processReady(OsSelector::wait(nonblocking));
  }
}

}  // namespace io
