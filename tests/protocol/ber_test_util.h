// Helpers of the BER tests: hex byte vectors, decoding in pieces of every size, and messages
// filled field by field from their descriptors.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/ber_decoder.h"
#include "protocol/messages.h"

namespace bertest {

using Bytes = std::vector<uint8_t>;

// "02 01 FF" -> {0x02, 0x01, 0xFF}; blanks are ignored.
Bytes hex(std::string_view text);
std::string toHex(const Bytes& bytes);

// The piece sizes every decoding test runs through; SIZE_MAX means the whole input at once.
const std::vector<size_t>& chunkSizes();

// Feeds `bytes` in pieces of `chunk` octets. Fails the test unless the decoder consumes every
// octet and completes exactly at the end.
void feedInChunks(protocol::BerDecoder& decoder, const Bytes& bytes, size_t chunk);

// Decodes a top-level message through guiProtocol in pieces of `chunk` octets.
std::unique_ptr<protocol::BerConstructed> decodeChunked(const Bytes& bytes, bool legacy,
                                                        size_t chunk);

// The message of the error that decoding `bytes` into `root` (or, without a root, as a
// top-level message) raises in pieces of `chunk` octets; "" when it decodes.
std::string decodeError(const Bytes& bytes, bool legacy, size_t chunk,
                        protocol::BerValue* root = nullptr,
                        const protocol::BerLimits& limits = protocol::BerLimits());

// Sets every field of `object` to a non-default value chosen by `seed`, recursing into nested
// structures, lists (two elements down to `depth` levels) and choices.
void fill(protocol::BerStruct& object, unsigned seed, int depth = 3);

}  // namespace bertest
