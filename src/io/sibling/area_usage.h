// How much of a write area is taken by messages not yet acknowledged, for the operator's view.
//
// The owner of an area changes it while this reads it (there are no locks on the pool), and a
// worker's area holds whatever that worker wrote there; so the walk trusts nothing it reads:
// it stops at the first header that does not lead forward inside the area, and the figure is
// a moment's estimate, never a basis for decisions.
#pragma once

#include <cstdint>

namespace io {

struct AreaUsage {
  uint64_t used_bytes = 0;  // bytes of used blocks, headers included
  uint64_t used_blocks = 0;
  bool complete = false;  // the walk reached the end of the area
};

// Walks the blocks of the area [offset, offset + size) of the pool mapped at `base`.
AreaUsage measureArea(const uint8_t* base, uint64_t offset, uint64_t size);

}  // namespace io
