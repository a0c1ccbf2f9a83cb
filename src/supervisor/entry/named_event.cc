#include "supervisor/entry/named_event.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "error/exception.h"

namespace entry {

namespace {

// The largest event number tried before a start gives up: far more daemons than one machine
// runs, small enough that a full namespace ends the start quickly.
constexpr unsigned kMaxEventNumber = 65535;

socklen_t abstractAddress(const std::string& name, sockaddr_un& addr) {
  if (name.empty() || name.size() >= sizeof addr.sun_path) {
    throw error::Exception("Invalid event name: " + name);
  }
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());  // sun_path[0] == 0: abstract
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

UniqueFd newSocket() {
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) error::throwErrno("Unable to create event socket");
  return fd;
}

}  // namespace

std::vector<UniqueFd> bindFirstFree(const std::vector<std::string>& prefixes, unsigned& number) {
  // A socket whose bind failed is still unbound and is tried again with the next number, so a
  // name taken by somebody else costs one bind(2). Other users may bind names ahead of us on
  // purpose; skipping them must stay cheap.
  std::vector<UniqueFd> socks(prefixes.size());
  for (unsigned n = 0; n <= kMaxEventNumber; ++n) {
    size_t bound = 0;
    for (; bound < prefixes.size(); ++bound) {
      const std::string name = prefixes[bound] + std::to_string(n);
      sockaddr_un addr;
      socklen_t len = abstractAddress(name, addr);
      if (!socks[bound].valid()) socks[bound] = newSocket();
      if (::bind(socks[bound].get(), reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        if (errno == EADDRINUSE) break;
        error::throwErrno("Unable to create event " + name);
      }
    }
    if (bound == prefixes.size()) {
      number = n;
      return socks;
    }
    // The names of this number bound so far go back: they come as a set or not at all.
    for (size_t i = 0; i < bound; ++i)
      socks[i].reset();
  }
  throw error::ESystemError("Unable to create event " + prefixes.front() + "N", EADDRINUSE);
}

UniqueFd openEvent(const std::string& name) {
  sockaddr_un addr;
  socklen_t len = abstractAddress(name, addr);
  UniqueFd fd = newSocket();
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), len) == 0) return fd;
  if (errno == ECONNREFUSED || errno == ENOENT) return UniqueFd();
  error::throwErrno("Unable to open event " + name);
}

bool setEvent(const UniqueFd& event) {
  char one = 1;
  if (::send(event.get(), &one, 1, 0) == 1 || errno == EAGAIN) return true;
  if (errno == ECONNREFUSED || errno == ENOTCONN) return false;
  error::throwErrno("Unable to set event");
}

std::string boundEventName(int fd) {
  sockaddr_un addr;
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    error::throwErrno("Unable to read the name of an event socket");
  }
  size_t header = offsetof(sockaddr_un, sun_path);
  if (addr.sun_family != AF_UNIX || len <= header + 1 || addr.sun_path[0] != '\0') {
    throw error::Exception("Descriptor " + std::to_string(fd) + " is not a named event");
  }
  return std::string(addr.sun_path + 1, len - header - 1);
}

}  // namespace entry
