// A manual-reset event on an eventfd: set() makes it readable, and it stays so (and is
// reported on every wait) until reset(). set() is async-signal-safe, so a signal handler or
// another thread may call it. A signal can also adopt a descriptor inherited from a parent,
// such as a bound datagram socket that other processes send to: then set() writes to a
// second descriptor connected to it, and reset() drains the queued datagrams.
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
  // Takes over a descriptor that is waited on and read (`fd`) and one that set() writes to
  // (`set_fd`); both must be non-blocking. Both are closed by the destructor.
  Signal(Adopt, int fd, int set_fd, std::string name);
  ~Signal() override;

  void set() const;
  void reset() const;
  // Resets the signal and tells whether what set it counts. Here every setting does; a signal
  // that other processes can set (a named event) counts only the settings of those allowed.
  virtual bool take() const {
    reset();
    return true;
  }
  int fd() const { return fd_; }
  // What set() writes 8 bytes to; a signal handler may write there itself.
  int setFd() const { return set_fd_ >= 0 ? set_fd_ : fd_; }

  std::string describe() const override {
    return name_.empty() ? "Anonymous signal" : "Signal " + name_;
  }
  int handle() const override { return fd_; }
  bool isReady() const override { return false; }

 private:
  int fd_;
  int set_fd_ = -1;
  std::string name_;
};

}  // namespace io
