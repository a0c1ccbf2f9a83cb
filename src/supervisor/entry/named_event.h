// System-wide named events: an abstract-namespace AF_UNIX datagram socket per name. Creating
// an event binds its name; the name exists while some process holds the socket and vanishes
// with the last holder, a crashed one included, so a stale name can never block a start.
// Opening an event connects to it, setting it sends one datagram, and a refused connection
// means that the event no longer exists.
#pragma once

#include <string>
#include <vector>

#include "supervisor/entry/unique_fd.h"

namespace entry {

// A background daemon's two events: it stops when the first is set and rotates its logs when
// the second is. Both carry the same number; the pid file names the shutdown event.
inline constexpr const char* kShutdownEventPrefix = "Vexlan.sht.";
inline constexpr const char* kRotationEventPrefix = "Vexlan.rot.";

// Binds prefix + N for every prefix, with the lowest N at which all the names are free, and
// returns the sockets (non-blocking, close-on-exec) in prefix order with N in `number`.
std::vector<UniqueFd> bindFirstFree(const std::vector<std::string>& prefixes, unsigned& number);

// A non-blocking socket connected to the event `name`; an invalid one when the event does not
// exist. Other failures raise ESystemError.
UniqueFd openEvent(const std::string& name);

// Sets the event an open socket is connected to. A full queue still counts as set: the
// receiver has unread datagrams and is ready anyway. False when the event has gone.
bool setEvent(const UniqueFd& event);

// The name a bound event socket serves (an inherited one, whose name the holder must learn).
std::string boundEventName(int fd);

}  // namespace entry
