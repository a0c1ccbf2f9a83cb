#include "protocol/gui_protocol.h"

#include <array>
#include <string>

#include "protocol/messages.h"

namespace protocol {
namespace {

constexpr size_t kTopLevelNumbers = 64;

// The top-level classes by number, gathered from the descriptors so that the table and the
// class declarations cannot disagree.
const std::array<const StructDesc*, kTopLevelNumbers>& topLevel() {
  static const auto table = [] {
    std::array<const StructDesc*, kTopLevelNumbers> byNumber{};
    for (const StructDesc* desc : allStructs()) {
      if (desc->rule == TagRule::TopLevel) byNumber.at(desc->number) = desc;
    }
    return byNumber;
  }();
  return table;
}

}  // namespace

std::unique_ptr<BerConstructed> guiProtocol::create(TagCode tag, bool) const {
  const uint32_t number = tag >> 3;
  if (tag == applicationTag(number) && number < kTopLevelNumbers) {
    if (const StructDesc* desc = topLevel()[number]) return desc->create();
  }
  throw EBer("Unknown tag " + std::to_string(tag));
}

}  // namespace protocol
