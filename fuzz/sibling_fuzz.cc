// Feeds what a hostile child could send to the supervisor's messenger: control messages and raw
// bytes on the parent's FIFO and on a child's own channel, block headers written into the
// children's areas, and any bytes written anywhere in the live pool, the parent's own area
// included. The messenger may refuse them with error::Exception; it must never crash, read or
// write outside the pool, or let its own view of its area lose its tiling.
//
// Input: a sequence of records, each an op byte and its operands:
//   0 msg[8]               a control message into the parent's FIFO
//   1 child idx[2] hdr[16] a block header at its area + 8 * idx
//   2 len data[len%17]     raw bytes into the parent's FIFO
//   3                      the parent reads its FIFO and the channel
//   4 child len            the parent writes a message of len bytes to the child
//   5 child                the supervisor reports the child dead
//   6 answer               the peer-request hook's next answer (odd: grant)
//   7 len data[len%17]     raw bytes on child 2's channel
//   8 area at[2] len data[len%33]  bytes at any offset of an area (0: the parent's own)
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "error/exception.h"
#include "io/sibling/messenger_parent.h"
#include "io/sibling/sibling_messenger.h"

namespace {

class FuzzParent : public io::SiblingMessengerParent {
 public:
  FuzzParent() : SiblingMessengerParent("SMem", 64 * 1024) {}
  uint64_t smemSliceSize(int32_t) override { return 4096; }
  bool messageToNonexistantSibling(int32_t, int32_t) override { return grant; }
  bool grant = false;
};

// The children are fakes: a FIFO each, which the parent opens when they say IAmUp. Child 1
// speaks on the parent's FIFO, child 2 on a channel of its own.
struct World {
  FuzzParent parent;
  io::SiblingMessenger pm{parent};
  std::unique_ptr<io::FifoReader> kids[3];
  int fifo0;
  int channel2;

  World() {
    fifo0 = ::open(pm.fifoPath().c_str(), O_WRONLY | O_NONBLOCK);
    {
      auto channel = pm.childChannel(2);
      io::Variables vars;
      std::vector<int> inherit;
      channel->pass(vars, "smem", inherit);
      channel2 = ::dup(std::atoi(vars["smem::channel"].c_str()));
    }
    for (int id = 1; id <= 2; ++id) {
      kids[id] = std::make_unique<io::FifoReader>(io::fifoPath(parent.fifoPrefix(), id));
      uint64_t up = io::ControlMessage::withId(io::MessageType::IAmUp, id, id).pack();
      write(id == 1 ? fifo0 : channel2, &up, 8);
    }
    poll();
  }
  ~World() {
    ::close(fifo0);
    ::close(channel2);
  }

  void raw(const void* p, size_t n) { write(fifo0, p, n); }
  void write(int fd, const void* p, size_t n) {
    if (::write(fd, p, n) < 0) poll();  // full: let the parent read first
  }
  void poll() {
    for (int i = 0; i < 64; ++i) {
      try {
        if (!pm.pollInput()) break;
      } catch (const error::Exception&) {
        // Refused input: the supervisor would end the offender.
      }
    }
    pm.flush();
    for (int id = 1; id <= 2; ++id) {
      kids[id]->readNow();
      kids[id]->consume(kids[id]->size());
    }
    checkOwnArea();
  }
  // The parent's view of its own area stays tiled exactly (its allocator asserts on anything
  // else), whatever was written into the area itself.
  void checkOwnArea() {
    const io::AreaAllocator& a = pm.allocator();
    uint64_t o = a.areaOffset(), prev = 0;
    while (o < a.areaEnd()) {
      if (a.prevOffset(o) != prev) std::abort();
      prev = o;
      o = a.nextOffset(o);
    }
    if (o != a.areaEnd()) std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World w;
  uint8_t* pool = w.parent.pool().base();
  size_t i = 0;
  auto take = [&](size_t n) -> const uint8_t* {
    if (i + n > size) return nullptr;
    const uint8_t* p = data + i;
    i += n;
    return p;
  };
  while (i < size) {
    uint8_t op = data[i++];
    switch (op % 9) {
      case 0:
        if (auto p = take(8)) w.raw(p, 8);
        break;
      case 1: {
        auto p = take(19);
        if (p == nullptr) break;
        const auto* area = w.parent.findArea(1 + p[0] % 2);
        if (area == nullptr) break;
        uint64_t o = area->offset + 8 * ((p[1] | p[2] << 8) % (area->size / 8));
        if (o + 16 <= area->offset + area->size) std::memcpy(pool + o, p + 3, 16);
        break;
      }
      case 2: {
        auto n = take(1);
        if (n == nullptr) break;
        if (auto p = take(*n % 17)) w.raw(p, *n % 17);
        break;
      }
      case 3:
        w.poll();
        break;
      case 4: {
        auto p = take(2);
        if (p == nullptr) break;
        auto si = w.pm.sibling(1 + p[0] % 3);
        try {
          if (!si->ostream().isReady()) break;
          uint8_t* q;
          size_t cap = si->ostream().writeBegin(q);
          size_t n = std::min<size_t>(cap, 1 + p[1]);
          std::memset(q, 0x5a, n);
          si->ostream().writeCommit(n);
        } catch (const error::Exception&) {
        }
        break;
      }
      case 5:
        if (auto p = take(1)) {
          try {
            w.pm.siblingDied(1 + *p % 3);
          } catch (const error::Exception&) {
            // Freeing what the dead child held met an overwritten header of our own area.
          }
        }
        break;
      case 6:
        if (auto p = take(1)) w.parent.grant = *p & 1;
        break;
      case 7: {
        auto n = take(1);
        if (n == nullptr) break;
        if (auto p = take(*n % 17)) w.write(w.channel2, p, *n % 17);
        break;
      }
      case 8: {
        auto p = take(4);
        if (p == nullptr) break;
        const auto* area = w.parent.findArea(p[0] % 3);
        size_t n = p[3] % 33;
        auto bytes = take(n);
        if (area == nullptr || bytes == nullptr || n > area->size) break;
        uint64_t o = area->offset + (p[1] | p[2] << 8) % (area->size - n + 1);
        std::memcpy(pool + o, bytes, n);
        break;
      }
    }
  }
  w.poll();
  return 0;
}
