// A named event as its daemon serves it: the bound socket that clients send their datagrams
// to, as the daemon's shutdown or log-rotation signal.
//
// Abstract socket names are open to every local user, so the event checks who set it. The
// socket has SO_PASSCRED, which makes the kernel attach the sender's credentials to every
// datagram, whether the sender sends any or not (and a sender can claim no uid but its own
// unless it is root). take() counts only datagrams from root or from the daemon's own uid;
// the others are dropped and noted in the server log, one line a minute at most, saying how
// many there were.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "io/signal.h"
#include "util/rate_limit.h"

namespace entry {

class EventSignal : public io::Signal {
 public:
  // Interval between two notes about ignored datagrams.
  static constexpr std::chrono::seconds kNoteInterval{60};
  // Datagrams one take() reads at most; the rest keep the event ready for the next pass, so
  // that a sender that never stops cannot hold the main loop.
  static constexpr int kMaxPerTake = 1024;

  // Takes over `fd`, the bound socket (non-blocking), and `set_fd`, a socket connected to it
  // that set() and the signal handlers write to; turns SO_PASSCRED on for `fd`.
  EventSignal(int fd, int set_fd, std::string name);

  bool take() const override;

  // May a sender of uid `uid` set the event: root, or this process's real or effective uid.
  static bool permitted(uid_t uid);

 private:
  std::string name_;
  mutable util::RateLimit notes_{kNoteInterval};
  mutable uint64_t unreported_ = 0;
  mutable uid_t last_uid_ = 0;
  mutable pid_t last_pid_ = 0;
};

// Turns SO_PASSCRED on for a bound event socket; failure raises ESystemError.
void passCredentials(int fd);

}  // namespace entry
