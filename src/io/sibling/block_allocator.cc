#include "io/sibling/block_allocator.h"

#include <sys/mman.h>

#include <cstdio>

#include "error/assert.h"
#include "error/exception.h"

namespace io {

namespace {

std::string headerText(uint64_t prev_word, uint64_t length) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "{prev_offset 0x%llx, length %llu}",
                static_cast<unsigned long long>(prev_word),
                static_cast<unsigned long long>(length));
  return buf;
}

}  // namespace

AreaAllocator::~AreaAllocator() {
  unmapShadow();
}

void AreaAllocator::unmapShadow() {
  if (shadow_ != nullptr) ::munmap(shadow_, shadow_size_);
  shadow_ = nullptr;
  shadow_size_ = 0;
  view_ = base_;
  view_origin_ = 0;
}

void AreaAllocator::init(uint64_t offset, uint64_t size) {
  VX_ASSERT(
      offset % 8 == 0 && size % 8 == 0 && size >= 2 * kHeaderSize && offset + size <= mapsize_,
      "Area at ", offset, " of size ", size, " does not fit a pool of ", mapsize_);
  if (shadowed_) {
    // Pages are backed only where a block header lands.
    unmapShadow();
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) error::throwErrno("Cannot map the private copy of our block headers");
    shadow_ = static_cast<uint8_t*>(p);
    shadow_size_ = size;
    view_ = shadow_;
    view_origin_ = offset;
  }
  area_ = offset;
  end_ = offset + size;
  usable_free_ = 0;
  initFree(area_, 0, end_);
  VX_ASSERT(nextOffset(area_) == end_, "block_header init error");
  usable_free_ = 1;
  cursor_ = area_;
}

inline void AreaAllocator::initFree(uint64_t o, uint64_t prev, uint64_t end) {
  BlockHeader& h = mut(o);
  h.prev_offset = prev;
  h.length = end - o - kHeaderSize;
  uint64_t x = nextOffset(o);
  VX_ASSERT(x == end, "initFree next_offset is ", x, " but should be ", end);
  publish(o);
}

inline void AreaAllocator::initUsed(uint64_t o, uint64_t prev, uint64_t next, uint64_t len) {
  VX_ASSERT((prev & kBlockFlags) == 0, "Misaligned prev_offset: ", prev);
  VX_ASSERT(len != 0, "Creating empty block");
  uint64_t align = roundDown8(o + kHeaderSize + len + 7);
  VX_ASSERT(next == align || next == align + 8, "Invalid next_offset: ", next, ", align: ", align,
            ", my: ", o, ", len: ", len);
  BlockHeader& h = mut(o);
  h.prev_offset = prev | kBlockUsed | (next == align + 8 ? kBlockPad : 0);
  h.length = len;
  uint64_t x = nextOffset(o);
  VX_ASSERT(x == next, "initUsed next_offset is ", x, " but should be ", next);
  publish(o);
}

inline void AreaAllocator::setPrev(uint64_t o, uint64_t prev) {
  VX_ASSERT((prev & kBlockFlags) == 0, "prev_offset misaligned");
  BlockHeader& h = mut(o);
  h.prev_offset = prev | (h.prev_offset & kBlockFlags);
  publish(o);
}

void AreaAllocator::verifyShared(uint64_t o) const {
  // Another process may be writing it right now: each word is read once.
  const auto* shared = reinterpret_cast<const uint64_t*>(base_ + o);
  uint64_t prev_word = __atomic_load_n(shared, __ATOMIC_RELAXED);
  uint64_t length = __atomic_load_n(shared + 1, __ATOMIC_RELAXED);
  const BlockHeader& h = header(o);
  if (prev_word == h.prev_offset && length == h.length) return;
  throw EPoolCorrupted("the block header at offset " + std::to_string(o) +
                       " of our own area was overwritten by another process: it holds " +
                       headerText(prev_word, length) + " instead of " +
                       headerText(h.prev_offset, h.length));
}

uint64_t AreaAllocator::commit(size_t len) {
  uint64_t o = cursor_;
  VX_ASSERT(o != kNoBlock, "Commit with no free block");
  VX_ASSERT(o < mapsize_, "Offset out of range: ", o, " !< ", mapsize_);
  uint64_t n = nextOffset(o);
  VX_ASSERT(o < n && n <= end_, "Bad next_offset - block header has ", n,
            " and we expected a value above ", o, " up to ", end_);
  VX_ASSERT(len <= n - o - kHeaderSize, "Overcommit in SiblingOStream");
  VX_ASSERT(!isUsed(o), "Write cursor ", o, " is on a used block");
  verify(o);
  if (n < end_) verify(n);
  uint64_t prev = prevOffset(o);
  --usable_free_;
  if (len + 2 * kHeaderSize > n - o) {
    // The rest cannot hold another block: the whole block becomes the message.
    initUsed(o, prev, n, len);
    VX_ASSERT(n == end_ || n + kHeaderSize <= end_, "(split) Next Offset of new block is at ", n,
              " and the end of our area is at ", end_);
  } else {
    uint64_t m = roundDown8(o + kHeaderSize + len + 7);
    VX_ASSERT(m > o && m + kHeaderSize <= end_, "(split) Next Offset of new block is at ", m,
              " and the end of our area is at ", end_);
    initUsed(o, prev, m, len);
    initFree(m, o, n);
    if (n < end_) setPrev(n, m);
    if (header(m).length != 0) ++usable_free_;
  }
  search(o);
  return o;
}

void AreaAllocator::search(uint64_t start) {
  // The counter makes the common "area full" answer O(1); the walk below finds the same
  // block the full next-fit search would.
  if (usable_free_ == 0) {
    cursor_ = kNoBlock;
    return;
  }
  uint64_t c = start;
  for (uint64_t steps = (end_ - area_) / kHeaderSize + 1;; --steps) {
    VX_ASSERT(steps != 0, "Block chain of area at ", area_, " does not come back to ", start);
    if (c > end_ - kHeaderSize) {
      VX_ASSERT(c == end_, "search_off at ", c, " with end of area at ", end_);
      c = area_;
    }
    VX_ASSERT(c < mapsize_, "Offset out of range: ", c, " !< ", mapsize_);
    uint64_t n = nextOffset(c);
    VX_ASSERT(n <= end_ && n > c, "next_off (", n, ")", " is beyond our area");
    if (!isUsed(c) && n != c + kHeaderSize) {
      cursor_ = c;
      return;
    }
    if ((n == end_ ? area_ : n) == start) break;
    c = n;
  }
  VX_ASSERT(false, "Area at ", area_, " counts ", usable_free_, " usable free blocks but has none");
}

void AreaAllocator::release(uint64_t o) {
  VX_ASSERT(o >= area_ && o + kHeaderSize <= end_ && o % 8 == 0 && isUsed(o), "Release of block ",
            o, " that is not a used block of our area");
  if (shadowed_) {
    // Every header this release may change, before anything changes.
    verify(o);
    if (uint64_t p = prevOffset(o); p != 0) verify(p);
    if (uint64_t n = nextOffset(o); n < end_) {
      verify(n);
      if (!isUsed(n) && nextOffset(n) < end_) verify(nextOffset(n));
    }
  }
  uint64_t start = o;
  uint64_t raw_prev = header(o).prev_offset;
  if ((raw_prev & ~kBlockFlags) != 0) {
    uint64_t p = raw_prev & ~kBlockFlags;
    VX_ASSERT(p < mapsize_, "Offset out of range: ", p, " !< ", mapsize_);
    VX_ASSERT(p >= area_ && p < o, "prev_offset ", p, " of block ", o, " is outside our area");
    if (!isUsed(p)) {
      if (header(p).length != 0) --usable_free_;
      start = p;
      if (cursor_ == o) cursor_ = start;
    }
  }
  uint64_t end = nextOffset(o);
  if (end != end_) {
    VX_ASSERT(end > o && end + kHeaderSize <= end_, "Bad new_free_next_offset: ", end);
    if (!isUsed(end)) {
      uint64_t after = nextOffset(end);
      VX_ASSERT(after == end_ || (after > end && after + kHeaderSize <= end_),
                "Bad2 new_free_next_offset: ", after);
      if (header(end).length != 0) --usable_free_;
      if (cursor_ == end) cursor_ = start;
      end = after;
    }
  }
  VX_ASSERT(end > area_, "new_free_next_offset out of bounds ", end, " area at ", area_);
  initFree(start, prevOffset(start), end);
  ++usable_free_;
  if (end < end_) setPrev(end, start);
  VX_ASSERT(cursor_ == kNoBlock || cursor_ <= start || cursor_ >= end,
            "Search offset got coalesced... at: ", cursor_, " into ", start, "..", end);
  if (cursor_ == kNoBlock) cursor_ = start;
}

}  // namespace io
