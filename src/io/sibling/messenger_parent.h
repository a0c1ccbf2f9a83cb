// The supervisor's side of the pool: it creates the pool, hands it to each child it starts,
// and keeps the area table, which binds one write area to each sibling id for the life of the
// pool (a restarted sibling gets its old area back). The supervisor subclasses it to decide
// the size of each area and whether a sibling asked for by a peer may be started.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "io/passable.h"
#include "io/sibling/fifo.h"
#include "io/sibling/shared_memory.h"

namespace io {

class SiblingMessengerParent : public Passable {
 public:
  struct Area {
    uint64_t offset;
    int32_t id;
    uint64_t size;
    bool used;
  };

  // Creates the private FIFO directory, the pool of `mapsize` bytes and its magic. The FIFO
  // prefix passed to children is the directory joined with `prefix_name` ("SMem"). The pool
  // must hold at least one page and stay below 4 GiB (offsets travel in 32 bits).
  SiblingMessengerParent(const std::string& prefix_name, uint64_t mapsize);
  ~SiblingMessengerParent() override;

  // Adds prefix + "::mapfile" (an inheritable descriptor of the pool, decimal),
  // prefix + "::mapsize" and prefix + "::fifoprefix", and names the descriptor in `inherit`.
  void pass(Variables& variables, const std::string& prefix, std::vector<int>& inherit) override;

  // The peer-request hook: `requester` wants to write to `target`, which is not connected.
  // True when `target` will connect by itself (it runs or is being started).
  virtual bool messageToNonexistantSibling(int32_t target, int32_t requester) = 0;
  // The size of the write area of a sibling (a multiple of 8).
  virtual uint64_t smemSliceSize(int32_t sibling) = 0;

  // Binds an area to `id` and returns its offset: the area the id had before, whatever size
  // is asked now, or the first gap of `size` bytes from the page size on. No room raises
  // error::EFatal "No room for write area for ID " id.
  uint64_t markAreaUsed(int32_t id, uint64_t size);
  // The sibling has gone; its area stays reserved for its id.
  void markAreaUnused(int32_t id);
  // The area of `id`, or null.
  const Area* findArea(int32_t id) const;
  const std::vector<Area>& areas() const { return areas_; }

  const std::string& fifoPrefix() const { return fifoprefix_; }
  uint64_t pageSize() const { return page_size_; }
  uint64_t mapSize() const { return mapsize_; }
  SharedMemory& pool() { return pool_; }

  // Shutdown bookkeeping of the handshake: the children that asked to leave and, for each,
  // the siblings whose acknowledgement is still awaited.
  std::map<int32_t, std::set<int32_t>>& shuttingDown() { return shutting_down_; }
  // True once every peer has acknowledged the leave of `id` and the parent has told it so:
  // all it sent has been read, and what is left of it is its exit.
  bool leaveAcknowledged(int32_t id) const {
    auto it = shutting_down_.find(id);
    return it != shutting_down_.end() && it->second.empty();
  }

 private:
  FifoDirectory dir_;
  std::string fifoprefix_;
  uint64_t page_size_;
  uint64_t mapsize_;
  uint64_t min_offset_;
  SharedMemory pool_;
  std::vector<Area> areas_;  // ordered by offset
  int inheritable_fd_ = -1;
  std::map<int32_t, std::set<int32_t>> shutting_down_;
};

}  // namespace io
