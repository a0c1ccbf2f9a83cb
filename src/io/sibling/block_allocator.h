// The allocator every sibling runs over its own write area of the pool. The area is tiled
// exactly by blocks, each a 16-byte header and a payload:
//
//   header + 0: prev_offset, the offset of the block before (0 for the first block), with
//               bit 0 = used and bit 1 = pad (eight spare bytes follow the payload)
//   header + 8: length: a used block's message length; a free block's bytes up to the next
//               block minus 16
//
// The next block's offset is computed, never stored. Allocation is next-fit from a moving write
// cursor; freeing (on acknowledgement) coalesces with both neighbours, so an area whose
// messages are acknowledged in order stays in a few large free blocks. A cursor of "none" means
// no usable free block is left: the owner stops writing until a block is freed.
//
// Only the owner changes its area, so inconsistencies of the allocator's own view are broken
// invariants (assertions).
//
// Shadowed, the allocator keeps its view of the headers in private memory, at the same offsets
// as in the area, and writes every change to the shared header as well, so that the pool holds
// exactly the bytes it would hold otherwise. Its decisions then never rest on what other
// processes can write: the supervisor's allocator runs this way. A shared header it is about to
// change (the block at the cursor and its successor on a write; the freed block and its
// neighbours on a release) must still equal the private one; if another process has
// overwritten it, the call raises EPoolCorrupted and changes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "error/assert.h"
#include "io/sibling/sibling_error.h"

namespace io {

struct BlockHeader {
  uint64_t prev_offset;  // with the used and pad flags in the low bits
  uint64_t length;
};
static_assert(sizeof(BlockHeader) == 16);
static_assert(offsetof(BlockHeader, length) == 8);

constexpr uint64_t kBlockUsed = 1;
constexpr uint64_t kBlockPad = 2;
constexpr uint64_t kBlockFlags = 3;
constexpr uint64_t kHeaderSize = sizeof(BlockHeader);
// The write cursor when the area has no usable free block.
constexpr uint64_t kNoBlock = ~uint64_t{0};

constexpr uint64_t roundDown8(uint64_t x) {
  return x & ~uint64_t{7};
}

// Another process overwrote a block header of our own area.
class EPoolCorrupted : public ESiblingProtocolError {
 public:
  explicit EPoolCorrupted(const std::string& what)
      : ESiblingProtocolError(kUnknownSibling, what, Text::AsIs) {}
};

class AreaAllocator {
 public:
  enum class Headers { Shared, Shadowed };

  AreaAllocator(uint8_t* base, uint64_t mapsize, Headers headers = Headers::Shared)
      : base_(base), mapsize_(mapsize), shadowed_(headers == Headers::Shadowed) {}
  ~AreaAllocator();
  AreaAllocator(const AreaAllocator&) = delete;
  AreaAllocator& operator=(const AreaAllocator&) = delete;

  // Binds the area [offset, offset + size) and lays it out as one free block.
  void init(uint64_t offset, uint64_t size);
  bool hasArea() const { return end_ != 0; }
  uint64_t areaOffset() const { return area_; }
  uint64_t areaEnd() const { return end_; }
  uint64_t cursor() const { return cursor_; }
  bool writable() const { return cursor_ != kNoBlock; }

  // The free block at the cursor: points `payload` at its payload and returns its capacity.
  size_t offer(uint8_t*& payload) const {
    uint64_t o = cursor_;
    VX_ASSERT(o != kNoBlock && o >= area_ && o + kHeaderSize <= end_ && o < mapsize_,
              "Write cursor ", o, " outside our area [", area_, ", ", end_, ")");
    payload = base_ + o + kHeaderSize;
    return nextOffset(o) - o - kHeaderSize;
  }
  // Turns the free block at the cursor into a used block of `len` bytes, splitting off the
  // rest when it can hold another block, and moves the cursor to the next usable free block.
  // Returns the used block's offset.
  uint64_t commit(size_t len);
  // Frees the used block at `offset` and merges it with free neighbours. A cursor of none
  // comes back on the freed block.
  void release(uint64_t offset);

  bool shadowed() const { return shadowed_; }
  // Layout as the allocator sees it (the private view when shadowed), for the owner's checks
  // and for tests.
  const BlockHeader& header(uint64_t o) const {
    return *reinterpret_cast<const BlockHeader*>(view_ + (o - view_origin_));
  }
  // The message length of a used block of ours.
  uint64_t length(uint64_t o) const { return header(o).length; }
  uint64_t nextOffset(uint64_t o) const {
    const BlockHeader& h = header(o);
    return roundDown8(o + kHeaderSize + h.length + 7) + ((h.prev_offset & kBlockPad) ? 8 : 0);
  }
  bool isUsed(uint64_t o) const { return header(o).prev_offset & kBlockUsed; }
  uint64_t prevOffset(uint64_t o) const { return header(o).prev_offset & ~kBlockFlags; }
  // Free blocks whose length is not 0 (those the cursor may rest on).
  size_t usableFreeBlocks() const { return usable_free_; }

 private:
  BlockHeader& mut(uint64_t o) {
    return *reinterpret_cast<BlockHeader*>(view_ + (o - view_origin_));
  }
  bool usableFree(uint64_t o) const { return !isUsed(o) && header(o).length != 0; }
  [[gnu::always_inline]] inline void initFree(uint64_t o, uint64_t prev, uint64_t end);
  [[gnu::always_inline]] inline void initUsed(uint64_t o, uint64_t prev, uint64_t next,
                                              uint64_t len);
  [[gnu::always_inline]] inline void setPrev(uint64_t o, uint64_t prev);
  void search(uint64_t start);
  // Shadowed: writes the private header at o to the pool.
  void publish(uint64_t o) {
    if (shadowed_) *reinterpret_cast<BlockHeader*>(base_ + o) = header(o);
  }
  // Shadowed: raises EPoolCorrupted unless the pool's header at o is the private one.
  void verify(uint64_t o) const {
    if (shadowed_) verifyShared(o);
  }
  void verifyShared(uint64_t o) const;
  void unmapShadow();

  uint8_t* base_;
  uint64_t mapsize_;
  bool shadowed_;
  // Where headers are read and written: the pool itself, or the private copy of the area.
  uint8_t* view_ = base_;
  uint64_t view_origin_ = 0;
  uint8_t* shadow_ = nullptr;
  uint64_t shadow_size_ = 0;
  uint64_t area_ = 0;
  uint64_t end_ = 0;
  uint64_t cursor_ = kNoBlock;
  size_t usable_free_ = 0;
};

}  // namespace io
