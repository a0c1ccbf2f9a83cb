// The messages a sibling has been told about and not yet read, in arrival order across all
// peers, with each peer's own messages chained in its order. A peer's reader always takes the
// first of its chain; the global order tells which peer has something to read first. Nodes live
// in one pool that is reused, so receiving costs no allocation once the pool has grown.
#pragma once

#include <cstdint>
#include <vector>

#include "error/assert.h"

namespace io {

class ReceivedQueue {
 public:
  static constexpr uint32_t kNil = ~uint32_t{0};

  struct Message {
    const void* from;  // the peer's implementation
    uint64_t offset;   // block offset; 0 with length 0 is the peer's end-of-stream marker
    uint64_t length;
    uint32_t prev, next;  // global order
    uint32_t next_same;   // the peer's order
    bool isNull() const { return offset == 0 && length == 0; }
  };

  // One peer's chain.
  struct PeerList {
    uint32_t head = kNil;
    uint32_t tail = kNil;
    uint32_t count = 0;
  };

  bool empty() const { return head_ == kNil; }
  size_t size() const { return size_; }
  uint32_t front() const { return head_; }
  const Message& at(uint32_t i) const { return nodes_[i]; }

  uint32_t push(PeerList& peer, const void* from, uint64_t offset, uint64_t length) {
    uint32_t i;
    if (free_ != kNil) {
      i = free_;
      free_ = nodes_[i].next;
    } else {
      i = static_cast<uint32_t>(nodes_.size());
      nodes_.emplace_back();
    }
    Message& m = nodes_[i];
    m = Message{from, offset, length, tail_, kNil, kNil};
    if (tail_ != kNil) nodes_[tail_].next = i;
    tail_ = i;
    if (head_ == kNil) head_ = i;
    if (peer.tail != kNil) nodes_[peer.tail].next_same = i;
    peer.tail = i;
    if (peer.head == kNil) peer.head = i;
    ++peer.count;
    ++size_;
    return i;
  }

  // Removes the first message of a peer.
  void popFront(PeerList& peer) {
    uint32_t i = peer.head;
    VX_ASSERT(i != kNil, "popFront on an empty peer list");
    Message& m = nodes_[i];
    peer.head = m.next_same;
    if (peer.head == kNil) peer.tail = kNil;
    --peer.count;
    if (m.prev != kNil) {
      nodes_[m.prev].next = m.next;
    } else {
      head_ = m.next;
    }
    if (m.next != kNil) {
      nodes_[m.next].prev = m.prev;
    } else {
      tail_ = m.prev;
    }
    m.from = nullptr;
    m.next = free_;
    free_ = i;
    --size_;
  }

  void clear(PeerList& peer) {
    while (peer.head != kNil)
      popFront(peer);
  }

 private:
  std::vector<Message> nodes_;
  uint32_t head_ = kNil;
  uint32_t tail_ = kNil;
  uint32_t free_ = kNil;
  size_t size_ = 0;
};

}  // namespace io
