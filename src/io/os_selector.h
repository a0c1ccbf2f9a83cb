// The operating-system half of every selector: the registered OS-level selectables, the ones
// known to be ready (os_avail), and one epoll instance kept in step with the registrations
// (added on register, removed on unregister, interest changed only when a stream's interest
// changes), so a wait never rebuilds its descriptor set.
#pragma once

#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

#include "io/selectable.h"

namespace io {

class OsSelector {
 public:
  OsSelector();
  ~OsSelector();
  OsSelector(const OsSelector&) = delete;
  OsSelector& operator=(const OsSelector&) = delete;

  void add(Selectable& s);
  void remove(Selectable& s);
  void setReady(Selectable& s);
  // s is about to close its I/O descriptor: remove it from the epoll set now (see
  // Selectable::ioDescriptorClosing). The next pass arms whatever s names then.
  void forgetIo(Selectable& s);
  // Blocks until one selectable can be served and returns it; with nonblocking set, raises
  // ENotReady instead of blocking.
  Selectable& wait(bool nonblocking);

  size_t osCount() const { return registered_.size(); }

 private:
  struct Entry {
    Selectable* s;
    int handle_index;    // index into handles_/handle_owners_, or -1
    int io_fd;           // descriptor armed for non-blocking I/O, or -1
    uint32_t io_events;  // interest armed for io_fd
  };
  Entry* find(Selectable* s);
  void ensureEpoll();
  void epollAdd(int fd, uint32_t events, Selectable* s);
  void epollMod(int fd, uint32_t events, Selectable* s);
  void epollDel(int fd);
  void syncIo(Entry& e);
  // Waits in the kernel; returns the selectable whose handle fired, or null after I/O
  // completions ran (the caller starts a new pass) or on time-out (*timed_out set).
  Selectable* osWait(int64_t timeout_us, bool& timed_out);  // -1: no time-out

  std::vector<Entry> registered_;  // registration order
  std::unordered_map<Selectable*, size_t> index_;
  std::deque<Selectable*> os_avail_;
  std::vector<int> handles_;
  std::vector<Selectable*> handle_owners_;
  std::vector<Selectable*> snapshot_;
  int epfd_ = -1;
};

}  // namespace io
