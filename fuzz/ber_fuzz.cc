// Decodes arbitrary octets as a top-level message, writes what was decoded, decodes that again
// and requires the two decodes to agree and the second writing to repeat the first octet for
// octet. The first input octet picks the dialect and the piece size the decoder is fed in.
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "protocol/gui_protocol.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool legacy = (data[0] & 1) != 0;
  const size_t chunk = 1 + (data[0] >> 1);
  ++data;
  --size;

  static const protocol::guiProtocol gui;
  std::unique_ptr<protocol::BerConstructed> first;
  try {
    protocol::BerDecoder decoder(gui, legacy);
    for (size_t at = 0; at < size && !decoder.done(); at += chunk) {
      decoder.feed(data + at, std::min(chunk, size - at));
    }
    if (!decoder.done()) return 0;
    first = decoder.take();
  } catch (const protocol::EBer&) {
    return 0;
  }

  // Everything decoded is valid, so writing it must succeed; the writer's forms can be longer
  // than a peer's (indefinite lengths, longer real texts), hence no size limit the second time.
  const std::vector<uint8_t> bytes = protocol::encode(*first, legacy);
  protocol::BerLimits unbounded;
  unbounded.budget = SIZE_MAX / 2;
  const auto second = protocol::decodeMessage(gui, legacy, bytes.data(), bytes.size(), unbounded);
  require(*first == *second);
  require(!(*first < *second) && !(*second < *first));
  require(protocol::encode(*second, legacy) == bytes);

  std::ostringstream text;
  text << *second;
  return 0;
}
