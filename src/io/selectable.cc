#include "io/selectable.h"

#include <algorithm>

#include "error/assert.h"
#include "io/selector.h"

namespace io {

Selectable::~Selectable() {
  leaveAllSelectors();
}

void Selectable::leaveAllSelectors() {
  while (!selectors_.empty())
    selectors_.back()->remove(*this);
}

void Selectable::ioDescriptorClosing() {
  for (SelectorBase* sel : selectors_)
    sel->forgetIo(*this);
}

void Selectable::addSelector(SelectorBase& sel) {
  selectors_.push_back(&sel);
  if (isReady()) sel.setReady(*this);
}

void Selectable::removeSelector(SelectorBase& sel) {
  auto it = std::find(selectors_.begin(), selectors_.end(), &sel);
  VX_ASSERT(it != selectors_.end(), "Unable to remove selector in: ", describe());
  selectors_.erase(it);
}

bool isPending(const Selectable& s, const TimeValue& now) {
  if (s.isReady() || s.handle() >= 0) return true;
  TimeValue d;
  return s.deadline(d) && now >= d;
}

}  // namespace io
