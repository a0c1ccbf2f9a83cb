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
#include "io/spin_policy.h"

namespace io {

// A selectable that can sleep in its own read. When a selector about to wait has this
// selectable's descriptor as its only one and nothing with a deadline, it calls readBlocking
// instead of epoll_wait: the kernel then wakes the reader straight from the writer's side, one
// system call and one wake-up hop fewer per wait, which is most of the cost of a round trip
// between two processes. The wait means the same: nothing else could have woken the loop. A
// signal handler wakes a loop by setting an io::Signal, whose descriptor is a second one, so
// such a loop always waits in epoll.
class BlockingReadable {
 public:
  // Sleeps until the descriptor has data, keeps what it read, and returns; it may also return
  // early (a signal interrupted the read). The selector's next pass asks isReady.
  virtual void readBlocking() = 0;
  // Reads what the descriptor holds now without sleeping; true when that made it ready. A
  // selector that polls before it sleeps polls this way, one system call per poll.
  virtual bool readAvailable() = 0;

 protected:
  ~BlockingReadable() = default;
};

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
    int handle_index;            // index into handles_/handle_owners_, or -1
    int io_fd;                   // descriptor armed for non-blocking I/O, or -1
    uint32_t io_events;          // interest armed for io_fd
    BlockingReadable* blocking;  // s as a BlockingReadable, or null
  };
  Entry* find(Selectable* s);
  void ensureEpoll();
  void epollAdd(int fd, uint32_t events, Selectable* s);
  void epollMod(int fd, uint32_t events, Selectable* s);
  void epollDel(int fd);
  void syncIo(Entry& e);
  // The selectable to sleep in when it holds the only armed descriptor (interest EPOLLIN) and
  // no handle is registered; null otherwise.
  BlockingReadable* soleBlockingReader() const;
  // Waits in the kernel; returns the selectable whose handle fired, or null after I/O
  // completions ran (the caller starts a new pass) or on time-out (*timed_out set).
  Selectable* osWait(int64_t timeout_us, bool& timed_out);  // -1: no time-out
  // Polls before a wait of `timeout_us` (-1: none) when the spin policy says so, through
  // `sole` when it is the only descriptor, else through epoll: Found with what osWait gave,
  // Expired when the budget ran out, No when it did not poll.
  enum class Spin { No, Found, Expired };
  Spin pollFirst(int64_t timeout_us, BlockingReadable* sole, Selectable*& fired, bool& timed_out);

  std::vector<Entry> registered_;  // registration order
  std::unordered_map<Selectable*, size_t> index_;
  std::deque<Selectable*> os_avail_;
  std::vector<int> handles_;
  std::vector<Selectable*> handle_owners_;
  std::vector<Selectable*> snapshot_;
  int epfd_ = -1;
  SpinPolicy spin_;
};

}  // namespace io
