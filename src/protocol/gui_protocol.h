// The top-level messages of the network protocol: [APPLICATION n] constructed, n picking the
// class. Numbers 14 and 15 are unassigned.
#pragma once

#include "protocol/ber_decoder.h"

namespace protocol {

class guiProtocol final : public BerProtocol {
 public:
  std::unique_ptr<BerConstructed> create(TagCode tag, bool legacy) const override;
};

}  // namespace protocol
