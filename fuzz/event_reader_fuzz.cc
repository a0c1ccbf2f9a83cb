// Fuzzes the event reader with bytes another process might write. The first input byte picks
// the read-area size (1 to 64), so area boundaries fall everywhere. Whatever reads as an event
// must print, and writing it must be stable: written, read back and written again gives the
// same bytes. Anything else than an error::Exception for bad bytes is a finding.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "queues/catalogue.h"
#include "wire/memory_stream.h"

namespace {

std::string encode(const queues::event& ev) {
  protocol::MemoryOStream out(4096);
  protocol::ioprim prim(nullptr, &out);
  prim << ev;
  prim.endWrite();
  return out.take();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  protocol::MemoryIStream in(bytes, 1 + data[0] % 64);
  protocol::ioprim prim(&in);
  prim.limitInput(bytes.size());
  for (int i = 0; i < 16 && in.left() > 0; ++i) {
    std::unique_ptr<queues::event> ev;
    try {
      ev = queues::readEvent(prim);
    } catch (const error::Exception&) {
      break;
    }
    std::ostringstream text;
    queues::printEvent(text, *ev, 0);
    std::string once = encode(*ev);
    protocol::MemoryIStream again_in(once, 7);
    protocol::ioprim again(&again_in);
    std::unique_ptr<queues::event> back = queues::readEvent(again);
    if (encode(*back) != once || again_in.left() != 0) std::abort();
  }
  return 0;
}
