// A manual-reset event on an eventfd: set() makes it readable, and it stays so (and is
// reported on every wait) until reset(). set() is async-signal-safe, so a signal handler or
// another thread may call it. A signal can also adopt a descriptor inherited from a parent.
#pragma once

#include <string>

#include "io/selectable.h"

namespace io {

class Signal : public virtual Selectable {
 public:
  // A new event, not set. Failure raises ESystemError "Unable to create event: ...".
  explicit Signal(std::string name = "");
  struct Adopt {};
  // Takes over an existing descriptor (an eventfd, or any descriptor that becomes readable
  // when the event is set); the destructor closes it like a created one.
  Signal(Adopt, int fd, std::string name = "");
  ~Signal() override;

  void set() const;
  void reset() const;
  int fd() const { return fd_; }

  std::string describe() const override {
    return name_.empty() ? "Anonymous signal" : "Signal " + name_;
  }
  int handle() const override { return fd_; }
  bool isReady() const override { return false; }

 private:
  int fd_;
  std::string name_;
};

}  // namespace io
