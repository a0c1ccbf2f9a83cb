// Everything a reactor thread can wait for is a Selectable: an OS object (a descriptor the
// kernel reports ready), a stream doing non-blocking I/O on a descriptor, a timer, or a virtual
// stream fed from shared memory (a stacked front). A selectable may sit in several selectors at
// once and removes itself from all of them when it dies, so no selector holds a dead pointer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/time_value.h"

namespace io {

class SelectorBase;

class Selectable {
 public:
  Selectable() = default;
  Selectable(const Selectable&) = delete;
  Selectable& operator=(const Selectable&) = delete;
  // Leaves every selector it is registered with.
  virtual ~Selectable();

  // Name used in every message about this selectable.
  virtual std::string describe() const = 0;
  // Descriptor the kernel reports ready when this selectable should be served (an eventfd, a
  // pidfd); -1 for none. A handle is returned by the selector as soon as epoll reports it.
  virtual int handle() const { return -1; }
  // Can be served now without blocking.
  virtual bool isReady() const = 0;
  // Called when the kernel reported the handle; true keeps the wait going instead of
  // returning this selectable.
  virtual bool acknowledgeWakeup() { return false; }
  // Called on every registered selectable before each OS wait.
  virtual void prepareWait() {}
  // A selectable with a deadline is due when now >= deadline.
  virtual bool deadline(TimeValue& /*out*/) const { return false; }
  virtual void addSelector(SelectorBase& sel);
  virtual void removeSelector(SelectorBase& sel);

  // Non-blocking I/O: a stream names the descriptor it reads or writes and the epoll events it
  // wants now (0: none). The selector arms that interest after prepareWait; when the kernel
  // reports the descriptor, the selector calls ioReady, the stream does its read or write, and
  // the selector starts a new pass, in which the stream is found ready through isReady.
  virtual int ioDescriptor() const { return -1; }
  virtual uint32_t ioInterest() const { return 0; }
  virtual void ioReady(uint32_t /*events*/) {}

  bool isFront() const { return is_front_; }
  const std::vector<SelectorBase*>& selectors() const { return selectors_; }

 protected:
  // Removes this selectable from every selector now. Destructors of selectables that own a
  // descriptor call it before closing the descriptor.
  void leaveAllSelectors();
  // A stream calls this just before it closes its ioDescriptor() while staying registered:
  // every selector drops the descriptor from its epoll set now, while the number still names
  // this stream's file. Dropping it later by number could hit a new descriptor that reused
  // the number and silence it.
  void ioDescriptorClosing();
  bool is_front_ = false;

 private:
  std::vector<SelectorBase*> selectors_;
};

// True when the selectable can be served now, has a handle, or has reached its deadline.
bool isPending(const Selectable& s, const TimeValue& now);

}  // namespace io
