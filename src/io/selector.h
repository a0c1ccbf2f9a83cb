// Selectors: hold a set of selectables and return one that can be served per wait.
//
// Order of service: selectables already known ready (avail) come first, then ready stacked
// fronts, then whatever the OS layer reports: ready selectables in registration order, then
// signalled handles (lowest handle index first), then the earliest due timer.
#pragma once

#include <deque>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "error/assert.h"
#include "io/os_selector.h"

namespace io {

class StackedSelectableBack;

class SelectorBase : public OsSelector {
 public:
  SelectorBase() = default;
  // Removes every directly added selectable; anything still registered is a broken invariant.
  virtual ~SelectorBase();

  // Registers s; `back` is the stacked back that owns s as an underlying OS object, or null
  // for a selectable added directly.
  void add(Selectable& s, StackedSelectableBack* back = nullptr);
  virtual void remove(Selectable& s);
  void setReady(Selectable& s);
  bool isRegistered(const Selectable& s) const {
    return reg_index_.count(const_cast<Selectable*>(&s)) != 0;
  }
  // True when s was registered by a stacked back as one of its underlying OS objects.
  bool isUnderlying(const Selectable& s) const;
  size_t size() const { return reg_.size(); }

 protected:
  Selectable& wait(bool nonblocking);
  // Destructor helper for subclasses: removes every directly added selectable through the
  // virtual remove, while the subclass's own map still exists.
  void removeAllDirect();

 private:
  void processReady(Selectable& s);
  struct Entry {
    Selectable* s;
    StackedSelectableBack* back;
  };
  std::vector<Entry> reg_;  // registration order
  std::unordered_map<Selectable*, size_t> reg_index_;
  std::deque<Selectable*> avail_;
  std::vector<Selectable*> fronts_snapshot_;
};

// A selector without a value per selectable.
class BareSelector : public SelectorBase {
 public:
  ~BareSelector() override { removeAllDirect(); }
  Selectable& wait(bool nonblocking = false) { return SelectorBase::wait(nonblocking); }
};

// A selector that keeps a value per selectable (for the main loop: the closure to run).
template <typename T>
class Selector : public SelectorBase {
 public:
  ~Selector() override { removeAllDirect(); }

  void add(Selectable& s, T value) {
    bool inserted = values_.emplace(&s, std::move(value)).second;
    VX_ASSERT(inserted, "Added selectable ", s.describe(), " twice");
    SelectorBase::add(s);
  }
  // Underlying selectables of a stacked back carry no value; they leave through here too.
  void remove(Selectable& s) override {
    if (values_.erase(&s) == 0) {
      VX_ASSERT(isUnderlying(s), "The Selectable to remove: ", s.describe(),
                " was not found in internal list");
    }
    SelectorBase::remove(s);
  }
  // Waits for a selectable and returns it with its value.
  std::pair<Selectable*, T> poll(bool nonblocking = false) {
    Selectable& s = SelectorBase::wait(nonblocking);
    auto it = values_.find(&s);
    VX_ASSERT(it != values_.end(), "pollImpl gave unknown selectable ", s.describe());
    return {&s, it->second};
  }
  bool contains(const Selectable& s) const {
    return values_.count(const_cast<Selectable*>(&s)) != 0;
  }

 private:
  std::unordered_map<Selectable*, T> values_;
};

}  // namespace io
