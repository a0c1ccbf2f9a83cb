// Notices a supervisor that has gone without waiting for anything it would have to send.
//
// It holds a writing end of the supervisor's input (this worker's channel, or the supervisor's
// FIFO) but never writes: the kernel reports an error on that descriptor as soon as no reader
// is left, that is when the supervisor's messenger has closed it or its process has ended
// (crash included). So a worker blocked in its loop learns of it at once, and one that is busy
// learns of it at its next wait; nothing polls.
#pragma once

#include <string>

#include "io/selectable.h"

namespace worker {

class ParentWatch : public io::Selectable {
 public:
  // Opens `fifo_path` (the supervisor's FIFO). No reader left already raises ESupervisorGone.
  explicit ParentWatch(const std::string& fifo_path);
  struct Channel {
    int fd;
  };
  // Watches a copy of `channel.fd`, the writing end of this worker's channel.
  explicit ParentWatch(Channel channel);
  ~ParentWatch() override;

  std::string describe() const override { return "ParentWatch(" + path_ + ")"; }
  // The selector reports the handle when the FIFO has no reader any more.
  int handle() const override { return fd_; }
  bool isReady() const override { return false; }
  // True once the FIFO has no reader (checked now, without waiting).
  bool gone() const;

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace worker
