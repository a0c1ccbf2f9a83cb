// Golden layouts of the block allocator: each case lists every block of the area after the
// operations, as (offset, prev_offset, used, pad, length). Each runs over headers in the pool
// and over a private copy of them; with the copy, the pool must hold the very same bytes.
#include "io/sibling/block_allocator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>
#include <vector>

namespace io {
namespace {

struct Block {
  uint64_t offset, prev;
  bool used, pad;
  uint64_t length;
  bool operator==(const Block&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Block& b) {
  return os << "{" << b.offset << ", prev " << b.prev << (b.used ? ", used" : ", free")
            << (b.pad ? ", pad" : "") << ", len " << b.length << "}";
}

constexpr uint64_t A = 4096;  // area offset in every case

class AreaTest : public ::testing::TestWithParam<AreaAllocator::Headers> {
 protected:
  void init(uint64_t size) {
    pool_.assign((A + size + 4096) / 8, 0);
    alloc_ = std::make_unique<AreaAllocator>(pool(), pool_.size() * 8, GetParam());
    alloc_->init(A, size);
  }
  uint8_t* pool() { return reinterpret_cast<uint8_t*>(pool_.data()); }
  std::vector<Block> layout() const {
    std::vector<Block> v;
    for (uint64_t o = A; o < alloc_->areaEnd(); o = alloc_->nextOffset(o)) {
      const BlockHeader& h = alloc_->header(o);
      v.push_back({o, h.prev_offset & ~kBlockFlags, (h.prev_offset & kBlockUsed) != 0,
                   (h.prev_offset & kBlockPad) != 0, h.length});
      EXPECT_EQ(std::memcmp(&h, reinterpret_cast<const uint8_t*>(pool_.data()) + o, sizeof h), 0)
          << "the pool's header at " << o << " differs from the allocator's";
    }
    return v;
  }
  uint64_t write(size_t len) {
    uint8_t* p;
    EXPECT_GE(alloc_->offer(p), len);
    return alloc_->commit(len);
  }
  std::vector<uint64_t> pool_;
  std::unique_ptr<AreaAllocator> alloc_;
};

TEST_P(AreaTest, FreshAreaIsOneFreeBlock) {
  init(16 + 8 * 10);
  EXPECT_EQ(layout(), (std::vector<Block>{{A, 0, false, false, 80}}));
  EXPECT_EQ(alloc_->cursor(), A);
  uint8_t* p;
  EXPECT_EQ(alloc_->offer(p), 80u);
  EXPECT_EQ(p, reinterpret_cast<uint8_t*>(pool_.data()) + A + 16);
}

TEST_P(AreaTest, SplitLeavesFreeRestLinkedToUsedBlock) {
  init(256);
  EXPECT_EQ(write(10), A);
  EXPECT_EQ(write(24), A + 32);
  EXPECT_EQ(layout(), (std::vector<Block>{{A, 0, true, false, 10},
                                          {A + 32, A, true, false, 24},
                                          {A + 72, A + 32, false, false, 256 - 72 - 16}}));
  EXPECT_EQ(alloc_->cursor(), A + 72);
}

TEST_P(AreaTest, EightSpareBytesSetThePadFlag) {
  // A free block of 48 payload bytes: a 33..40-byte message leaves exactly 8 bytes, too few
  // for a block of its own.
  init(64);
  EXPECT_EQ(write(40 - 7), A);
  EXPECT_EQ(layout(), (std::vector<Block>{{A, 0, true, true, 33}}));
  EXPECT_EQ(alloc_->nextOffset(A), A + 64);
  EXPECT_FALSE(alloc_->writable());
}

TEST_P(AreaTest, SixteenSpareBytesSplitIntoAnEmptyFreeBlock) {
  // The empty block keeps the tiling exact but is never offered.
  init(64);
  write(32);
  EXPECT_EQ(layout(), (std::vector<Block>{{A, 0, true, false, 32}, {A + 48, A, false, false, 0}}));
  EXPECT_FALSE(alloc_->writable());
  EXPECT_EQ(alloc_->cursor(), kNoBlock);
}

TEST_P(AreaTest, FullAreaRecoversOnFirstAcknowledgement) {
  init(3 * 32);
  uint64_t a = write(16), b = write(16), c = write(16);
  EXPECT_FALSE(alloc_->writable());
  alloc_->release(b);
  EXPECT_TRUE(alloc_->writable());
  EXPECT_EQ(alloc_->cursor(), b);
  EXPECT_EQ(layout(),
            (std::vector<Block>{
                {a, 0, true, false, 16}, {b, a, false, false, 16}, {c, b, true, false, 16}}));
}

TEST_P(AreaTest, AcknowledgementCoalescesWithBothNeighbours) {
  init(4 * 32 + 32);
  uint64_t a = write(16), b = write(16), c = write(16), d = write(16);
  uint64_t tail = alloc_->cursor();
  EXPECT_EQ(write(16), tail);  // the area is now full
  alloc_->release(a);
  alloc_->release(c);
  EXPECT_EQ(alloc_->cursor(), a);
  alloc_->release(b);  // between two free blocks
  EXPECT_EQ(layout(), (std::vector<Block>{{a, 0, false, false, 3 * 32 - 16},
                                          {d, a, true, false, 16},
                                          {tail, d, true, false, 16}}));
  EXPECT_EQ(alloc_->cursor(), a);
  alloc_->release(d);  // merges with the block before; the cursor stays at its start
  EXPECT_EQ(layout(),
            (std::vector<Block>{{a, 0, false, false, 4 * 32 - 16}, {tail, a, true, false, 16}}));
}

TEST_P(AreaTest, SearchWrapsAroundToFreedBlocksAtTheStart) {
  init(5 * 32);
  uint64_t a = write(16), b = write(16);
  write(16);
  write(16);
  alloc_->release(a);
  alloc_->release(b);
  // The cursor still sits on the free tail; once that is used the search wraps to the start.
  uint64_t tail = alloc_->cursor();
  EXPECT_EQ(tail, A + 4 * 32);
  EXPECT_EQ(write(16), tail);
  EXPECT_EQ(alloc_->cursor(), a);
  EXPECT_EQ(write(40), a);  // splits the merged block of 48 payload bytes: 8 spare, padded
  EXPECT_EQ(layout()[0], (Block{a, 0, true, true, 40}));
  EXPECT_FALSE(alloc_->writable());
}

TEST_P(AreaTest, CursorOnAbsorbedFreeBlockMovesToMergedStart) {
  init(4 * 32);
  uint64_t a = write(16), b = write(16);
  // Cursor rests on the free rest at A + 64; freeing b merges it into b's block.
  EXPECT_EQ(alloc_->cursor(), A + 64);
  alloc_->release(b);
  EXPECT_EQ(alloc_->cursor(), b);
  EXPECT_EQ(layout(),
            (std::vector<Block>{{a, 0, true, false, 16}, {b, a, false, false, 4 * 32 - 48}}));
}

TEST_P(AreaTest, RandomTrafficKeepsTheTilingExact) {
  init(4096);
  std::vector<uint64_t> live;
  uint32_t seed = 12345;
  auto rnd = [&] { return seed = seed * 1103515245 + 12345, (seed >> 8); };
  for (int i = 0; i < 20000; ++i) {
    if (alloc_->writable() && (live.empty() || rnd() % 3 != 0)) {
      uint8_t* p;
      size_t cap = alloc_->offer(p);
      live.push_back(alloc_->commit(1 + rnd() % std::min<size_t>(cap, 300)));
    } else if (!live.empty()) {
      size_t k = rnd() % std::min<size_t>(live.size(), 4);  // mostly in order
      alloc_->release(live[k]);
      live.erase(live.begin() + static_cast<ptrdiff_t>(k));
    }
    uint64_t end = A;
    size_t usable = 0;
    uint64_t prev = 0;
    for (const Block& b : layout()) {
      ASSERT_EQ(b.prev, prev);
      prev = b.offset;
      end = alloc_->nextOffset(b.offset);
      if (!b.used && b.length != 0) ++usable;
    }
    ASSERT_EQ(end, A + 4096);
    ASSERT_EQ(usable, alloc_->usableFreeBlocks());
    ASSERT_EQ(alloc_->writable(), usable != 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Headers, AreaTest,
                         testing::Values(AreaAllocator::Headers::Shared,
                                         AreaAllocator::Headers::Shadowed),
                         [](const testing::TestParamInfo<AreaAllocator::Headers>& info) {
                           return info.param == AreaAllocator::Headers::Shared ? "InThePool"
                                                                               : "Shadowed";
                         });

using ShadowedArea = AreaTest;

// Another process may write anything anywhere in the pool: the shadowed allocator goes by its
// own copy, refuses to build on a header it finds changed, and changes nothing then.
TEST_P(ShadowedArea, OverwrittenHeadersAreRefusedAndTheAreaStaysIntact) {
  init(8 * 32);
  uint64_t a = write(16), b = write(16);
  const std::vector<Block> before = layout();
  const uint64_t cursor = alloc_->cursor();
  // The free block a write splits; the used neighbour, the block itself and the free neighbour
  // of a release.
  for (auto [o, op] : std::vector<std::pair<uint64_t, std::function<void()>>>{
           {cursor, [&] { write(8); }},
           {a, [&] { alloc_->release(b); }},
           {b, [&] { alloc_->release(b); }},
           {cursor, [&] { alloc_->release(b); }}}) {
    std::vector<uint8_t> saved(pool() + o, pool() + o + 16);
    std::memset(pool() + o, 0xff, 16);
    EXPECT_THROW(op(), EPoolCorrupted) << "a change at " << o;
    std::memcpy(pool() + o, saved.data(), 16);
    EXPECT_EQ(layout(), before);
    EXPECT_EQ(alloc_->cursor(), cursor);
  }
  // Payload bytes are none of its business.
  std::memset(pool() + a + 16, 0xff, 16);
  alloc_->release(a);
  alloc_->release(b);
  EXPECT_EQ(layout(), (std::vector<Block>{{A, 0, false, false, 8 * 32 - 16}}));
}

INSTANTIATE_TEST_SUITE_P(Headers, ShadowedArea, testing::Values(AreaAllocator::Headers::Shadowed));

class AreaDeathTest : public AreaTest {};

TEST_P(AreaDeathTest, BrokenInvariantsOfTheOwnAreaAbort) {
  init(256);
  EXPECT_DEATH(alloc_->commit(0), "Assertion failed: Creating empty block");
  EXPECT_DEATH(alloc_->commit(241), "Overcommit in SiblingOStream");
  uint64_t a = write(8);
  alloc_->release(a);
  EXPECT_DEATH(alloc_->release(a), "not a used block of our area");
}

INSTANTIATE_TEST_SUITE_P(Headers, AreaDeathTest, testing::Values(AreaAllocator::Headers::Shared));

}  // namespace
}  // namespace io
