#include "ber_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "protocol/gui_protocol.h"

namespace bertest {

using namespace protocol;

Bytes hex(std::string_view text) {
  Bytes out;
  int pending = -1;
  for (char c : text) {
    if (c == ' ') continue;
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10;
    if (pending < 0) {
      pending = digit;
    } else {
      out.push_back(static_cast<uint8_t>(pending << 4 | digit));
      pending = -1;
    }
  }
  EXPECT_EQ(pending, -1) << "odd number of hex digits in " << text;
  return out;
}

std::string toHex(const Bytes& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

const std::vector<size_t>& chunkSizes() {
  static const std::vector<size_t> sizes = {1, 2, 3, 5, 7, 13, 32, 1024, SIZE_MAX};
  return sizes;
}

void feedInChunks(BerDecoder& decoder, const Bytes& bytes, size_t chunk) {
  size_t at = 0;
  while (at < bytes.size()) {
    ASSERT_FALSE(decoder.done()) << "message ended at octet " << at << " of " << bytes.size();
    const size_t n = std::min(chunk, bytes.size() - at);
    const size_t used = decoder.feed(bytes.data() + at, n);
    at += used;
    if (used < n) break;
  }
  EXPECT_EQ(at, bytes.size()) << "octets left over";
  EXPECT_TRUE(decoder.done()) << "message incomplete after all octets";
}

std::unique_ptr<BerConstructed> decodeChunked(const Bytes& bytes, bool legacy, size_t chunk) {
  static const guiProtocol gui;
  BerDecoder decoder(gui, legacy);
  feedInChunks(decoder, bytes, chunk);
  return decoder.done() ? decoder.take() : nullptr;
}

std::string decodeError(const Bytes& bytes, bool legacy, size_t chunk, BerValue* root,
                        const BerLimits& limits) {
  static const guiProtocol gui;
  auto decoder = root != nullptr ? std::make_unique<BerDecoder>(*root, legacy, limits)
                                 : std::make_unique<BerDecoder>(gui, legacy, limits);
  try {
    for (size_t at = 0; at < bytes.size() && !decoder->done(); at += chunk) {
      decoder->feed(bytes.data() + at, std::min(chunk, bytes.size() - at));
    }
  } catch (const EBer& e) {
    return e.message();
  }
  return "";
}

namespace {

template <typename T>
T pick(const TypeDesc& type, unsigned seed) {
  // The range's ends and a value inside it, so that boundaries are exercised.
  const auto lo = static_cast<T>(type.min);
  const auto hi = static_cast<T>(type.max);
  switch (seed % 3) {
    case 0:
      return lo;
    case 1:
      return hi;
    default:
      return static_cast<T>(lo / 2 + hi / 2);
  }
}

void fillValue(const TypeDesc& type, void* value, unsigned seed, int depth);

void fillStruct(BerStruct& object, unsigned seed, int depth) {
  const StructDesc& desc = object.desc();
  for (size_t i = 0; i < desc.fieldCount; ++i) {
    fillValue(desc.fields[i].type, desc.fields[i].access(object), seed + 7 * unsigned(i), depth);
  }
}

BerStruct& emplaceStruct(void* box, const StructDesc& desc) {
  auto& b = *static_cast<StructBox*>(box);
  b.reset(desc.create());
  return *b.get();
}

void fillValue(const TypeDesc& type, void* value, unsigned seed, int depth) {
  static const double reals[] = {
      1.5,    -2.25e-10,    0.1 + 0.2, std::numeric_limits<double>::infinity(),
      -1e300, std::nan(""), 4.9e-324};
  switch (type.kind) {
    case Kind::Int32:
      *static_cast<int32_t*>(value) = pick<int32_t>(type, seed);
      break;
    case Kind::UInt32:
      *static_cast<uint32_t*>(value) = pick<uint32_t>(type, seed);
      break;
    case Kind::Int64:
      *static_cast<int64_t*>(value) = pick<int64_t>(type, seed);
      break;
    case Kind::UInt64:
      *static_cast<uint64_t*>(value) = pick<uint64_t>(type, seed);
      break;
    case Kind::Bool:
      *static_cast<bool*>(value) = seed % 2 == 0;
      break;
    case Kind::Null:
      break;
    case Kind::Real:
      *static_cast<double*>(value) = reals[seed % std::size(reals)];
      break;
    case Kind::String: {
      // Sometimes the longest string allowed; always some octets outside ASCII.
      const size_t length = seed % 5 == 0 ? type.maxLength : std::min<size_t>(type.maxLength, 9);
      std::string s(length, 'a');
      for (size_t i = 0; i < length; ++i)
        s[i] = static_cast<char>(seed + 37 * i);
      *static_cast<std::string*>(value) = s;
      break;
    }
    case Kind::BigNum: {
      auto& m = static_cast<BigNum*>(value)->magnitude;
      m.assign(1 + seed % 300, 0);
      for (size_t i = 0; i < m.size(); ++i)
        m[i] = static_cast<uint8_t>(seed * 31 + i);
      m[0] |= 0x80;  // the top bit set, which a two's-complement reader would take as a sign
      break;
    }
    case Kind::Struct:
      fillStruct(*static_cast<BerStruct*>(value), seed, depth);
      break;
    case Kind::Ptr:
      fillStruct(emplaceStruct(value, *type.structure), seed, depth);
      break;
    case Kind::Choice: {
      const ChoiceDesc& choice = *type.choice;
      fillStruct(emplaceStruct(value, *choice.alternatives[seed % choice.count]), seed, depth);
      break;
    }
    case Kind::List: {
      if (depth <= 0) break;
      const ListDesc& list = *type.list;
      for (unsigned i = 0; i < 2; ++i) {
        fillValue(list.element, list.ops.append(value), seed + 11 * i, depth - 1);
      }
      break;
    }
    case Kind::CheckValue: {
      auto& v = *static_cast<CheckValue*>(value);
      switch (seed % 4) {
        case 0:
          v = int32_t(-5);
          break;
        case 1:
          v = Null{};
          break;
        case 2:
          v = 2.5;
          break;
        default:
          v = std::string(type.maxLength, 's');
          break;
      }
      break;
    }
  }
}

}  // namespace

void fill(BerStruct& object, unsigned seed, int depth) {
  fillStruct(object, seed, depth);
}

}  // namespace bertest
