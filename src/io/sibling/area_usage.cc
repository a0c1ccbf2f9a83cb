#include "io/sibling/area_usage.h"

#include <cstring>

#include "io/sibling/block_allocator.h"

namespace io {

AreaUsage measureArea(const uint8_t* base, uint64_t offset, uint64_t size) {
  AreaUsage u;
  const uint64_t end = offset + size;
  // Every step moves on by at least a header, so the walk ends within size / 16 steps.
  for (uint64_t o = offset; o + kHeaderSize <= end;) {
    BlockHeader h;
    std::memcpy(&h, base + o, sizeof h);
    if (h.length > end - o - kHeaderSize) return u;
    const uint64_t next =
        roundDown8(o + kHeaderSize + h.length + 7) + ((h.prev_offset & kBlockPad) ? 8 : 0);
    if (next <= o || next > end) return u;
    if (h.prev_offset & kBlockUsed) {
      u.used_bytes += next - o;
      ++u.used_blocks;
    }
    o = next;
  }
  u.complete = true;
  return u;
}

}  // namespace io
