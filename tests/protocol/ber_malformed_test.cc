// Hostile and malformed input: every case must fail with its exact message, whatever the
// pieces the octets arrive in, and before the decoder holds more than what has arrived.
#include <gtest/gtest.h>

#include <functional>

#include "ber_test_util.h"
#include "protocol/gui_protocol.h"

namespace {

using namespace protocol;
using bertest::Bytes;
using bertest::hex;

struct BadCase {
  const char* what;
  const char* octets;
  const char* error;
  bool legacy = false;
  // The class decoded into; a top-level message when null.
  std::function<std::unique_ptr<BerStruct>()> root = nullptr;
};

std::unique_ptr<BerStruct> checkResult() {
  return std::make_unique<CheckResult>();
}
std::unique_ptr<BerStruct> serverNamePort() {
  return std::make_unique<ServerNamePort>();
}

const BadCase kBadCases[] = {
    {"unknown top-level tag", "6E 80 00 00", "Unknown tag 115"},
    {"unknown top-level tag in high-number form", "7F 28 80 00 00", "Unknown tag 323"},
    {"primitive top-level tag", "02 01 00", "Unknown tag 16"},
    {"five length octets", "6A 85 00 00 00 00 01", "Length of 5 octets exceeds the maximum of 4"},
    {"reserved length octet", "6A FF", "Length of 127 octets exceeds the maximum of 4"},
    {"length beyond the message limit", "6A 84 7F FF FF FF",
     "Message exceeds the maximum size of 268435456 octets"},
    {"tag number beyond 29 bits", "6A 80 1F 82 80 80 80 00", "Tag number too large"},
    {"wrong root tag", "31 80 00 00", "Tag mismatch, got 137 expected BE_CHECK_RESULT_CURRENT",
     false, checkResult},
    {"wrong root tag (legacy)", "30 80 00 00",
     "Tag mismatch, got 129 expected BE_CHECK_RESULT_LEGACY", true, checkResult},
    {"INTEGER where a string belongs", "30 80 02 01 01 02 01 05",
     "Tag mismatch, got 16 expected BE_STRING_CURRENT", false, checkResult},
    {"current string in the legacy dialect", "20 80 02 01 01 04 01 61",
     "Tag mismatch, got 32 expected BE_STRING_LEGACY", true, checkResult},
    {"INTEGER where an enumeration belongs", "30 80 02 01 01 04 00 02 01 01",
     "Tag mismatch, got 16 expected BE_ENUMERATED", false, checkResult},
    {"SET where a list belongs", "30 80 02 01 01 04 00 0A 01 00 31 80",
     "Tag mismatch, got 137 expected BE_SEQ_CURRENT", false, checkResult},
    {"wrong list element", "30 80 02 01 01 04 00 0A 01 00 30 80 02 01 01",
     "Tag mismatch, got 16 expected BE_STRING_CURRENT", false, checkResult},
    {"wrong structure in a list", "69 80 04 00 30 80 31 80",
     "Tag mismatch, got 137 expected BE_SERVER_NAME_PORT_CURRENT"},
    {"BOOLEAN as a check value", "30 80 02 01 01 04 00 0A 01 00 30 80 00 00 01 01 FF",
     "Unexpected tag 8 received in Union CheckResult.this->value", false, checkResult},
    {"unknown request operation", "74 80 02 01 07 A4 80",
     "Unexpected tag 37 received in Union Request.this->operation"},
    {"legacy operation tag in the current dialect", "74 80 02 01 07 60 80",
     "Unexpected tag 3 received in Union Request.this->operation"},
    {"integer below its range", "30 80 04 00 02 01 00",
     "data out of range in "
     "BerIntegerTemplate<int>::readDone 1 <= 0 <= 65535",
     false, serverNamePort},
    {"integer above its range", "30 80 04 00 02 03 01 00 00",
     "data out of range in "
     "BerIntegerTemplate<int>::readDone 1 <= 65536 <= 65535",
     false, serverNamePort},
    {"negative unsigned integer", "A3 80 02 01 FF",
     "data out of range in "
     "BerIntegerTemplate<unsigned int>::readDone 0 <= -1 <= 4294967295",
     false, [] { return std::make_unique<UnsignedIntProp>(); }},
    {"unsigned integer beyond 32 bits", "A3 80 02 05 01 00 00 00 00",
     "data out of range in "
     "BerIntegerTemplate<unsigned int>::readDone 0 <= 4294967296 <= 4294967295",
     false, [] { return std::make_unique<UnsignedIntProp>(); }},
    {"five-octet signed integer", "30 80 02 05 00 00 00 00 01",
     "Data value exceeds maximum allowed length 5 > 4", false, checkResult},
    {"string above its maximum, refused at its length", "30 80 02 01 01 04 82 01 01",
     "String exceeds allowed length 257 > 256", false, checkResult},
    {"real in binary form", "30 80 02 01 01 04 00 0A 01 00 30 80 00 00 09 01 80",
     "Unsupported real number format revceived", false, checkResult},
    {"real text that does not parse", "30 80 02 01 01 04 00 0A 01 00 30 80 00 00 09 03 00 31 78",
     "Parse error in real number", false, checkResult},
    {"real text that is empty", "30 80 02 01 01 04 00 0A 01 00 30 80 00 00 09 01 00",
     "Parse error in real number", false, checkResult},
    {"NULL with content", "30 80 02 01 01 04 00 0A 01 00 30 80 00 00 05 01 00",
     "Data value exceeds maximum allowed length 1 > 0", false, checkResult},
    {"too few fields", "30 80 02 01 01 00 00", "Element with tag 129 ended after 1 of its 5 fields",
     false, checkResult},
    {"missing choice", "74 80 02 01 07 00 00",
     "Element with tag 163 ended after 1 of its 2 fields"},
    {"child longer than its parent", "30 03 02 05 00 00 00 00 01",
     "Element overruns the length of its enclosing element", false, checkResult},
    {"header across the end of its parent", "30 04 02 01 01 04 00",
     "Element overruns the length of its enclosing element", false, checkResult},
    {"indefinite child outliving its definite parent", "30 0A 02 01 01 04 00 0A 01 00 30 80 00 00",
     "Element overruns the length of its enclosing element", false, checkResult},
    {"indefinite length on a primitive", "30 80 02 80",
     "Indefinite length in primitive element with tag 16", false, checkResult},
    {"end of contents with a length", "30 80 02 01 01 00 01 00", "Malformed end of contents", false,
     checkResult},
};

TEST(BerMalformed, FailsWithItsMessageInEveryPieceSize) {
  for (const BadCase& c : kBadCases) {
    for (size_t chunk : bertest::chunkSizes()) {
      std::unique_ptr<BerStruct> root = c.root ? c.root() : nullptr;
      EXPECT_EQ(bertest::decodeError(hex(c.octets), c.legacy, chunk, root.get()), c.error)
          << c.what << ", pieces of " << chunk;
    }
  }
}

// Nested constructed elements: `depth` levels of an unknown field of CheckResult.
Bytes nestedSkippedFields(int depth) {
  Bytes b = hex("30 80 02 01 01 04 00 0A 01 00 30 80 00 00 05 00 04 00 04 00");
  for (int i = 0; i < depth; ++i)
    b.insert(b.end(), {0x30, 0x80});
  for (int i = 0; i <= depth; ++i)
    b.insert(b.end(), {0x00, 0x00});
  return b;
}

TEST(BerMalformed, NestingDepthIsBounded) {
  // The root and 63 skipped levels fit the default of 64; one more does not.
  CheckResult fits;
  EXPECT_EQ(bertest::decodeError(nestedSkippedFields(63), false, 7, &fits), "");
  CheckResult deep;
  EXPECT_EQ(bertest::decodeError(nestedSkippedFields(64), false, 7, &deep),
            "Nesting exceeds 64 levels");
  CheckResult tight;
  EXPECT_EQ(
      bertest::decodeError(nestedSkippedFields(3), false, 7, &tight, BerLimits{.maxDepth = 3}),
      "Nesting exceeds 3 levels");
}

TEST(BerMalformed, AnnouncedLengthsAllocateNothingBeforeTheirOctets) {
  // A blob announced at its full 2048 octets, of which ten have arrived.
  BlobProp blob;
  BerDecoder decoder(blob, false);
  const Bytes head = hex("A7 80 04 82 08 00 30 31 32 33 34 35 36 37 38 39");
  EXPECT_EQ(decoder.feed(head.data(), head.size()), head.size());
  EXPECT_FALSE(decoder.done());
  EXPECT_EQ(blob.data, "0123456789");
  EXPECT_LT(blob.data.capacity(), 100u);
}

TEST(BerMalformed, ErrorsStopTheDecoderUntilReset) {
  static const guiProtocol gui;
  BerDecoder decoder(gui, false);
  const Bytes bad = hex("6E 80");
  EXPECT_THROW(decoder.feed(bad.data(), bad.size()), EBer);
  EXPECT_DEATH(decoder.feed(bad.data(), bad.size()),
               "Assertion failed: BerDecoder fed again after a decoding error");
  decoder.reset();
  const Bytes good = hex("62 80 00 00");  // NegotiateAck
  EXPECT_EQ(decoder.feed(good.data(), good.size()), good.size());
  EXPECT_TRUE(decoder.done());
}

std::string writeError(const BerValue& value, bool legacy) {
  try {
    encode(value, legacy);
  } catch (const EBer& e) {
    return e.message();
  }
  return "";
}

TEST(BerMalformed, WritingRefusesValuesOutsideTheirLimits) {
  ServerNamePort s;
  s.port = 0;
  EXPECT_EQ(writeError(s, false),
            "data out of range in BerIntegerTemplate<int>::write 1 <= 0 <= 65535");
  s.port = 80;
  s.host.assign(257, 'h');
  EXPECT_EQ(writeError(s, true), "String exceeds allowed length 257 > 256");
  uint64_t big = UINT64_MAX;
  EXPECT_EQ(writeError(BerIntegerTemplate<uint64_t>(big, 0, UINT64_MAX - 1), false),
            "data out of range in BerIntegerTemplate<unsigned __int64>::write 0 <= "
            "18446744073709551615 <= 18446744073709551614");
  int64_t low = INT64_MIN;
  EXPECT_EQ(writeError(BerIntegerTemplate<int64_t>(low, -5, 5), false),
            "data out of range in BerIntegerTemplate<__int64>::write -5 <= "
            "-9223372036854775808 <= 5");
  BigNumProp huge;
  huge.value.magnitude.assign(1041, 1);
  EXPECT_EQ(writeError(huge, false), "Data value exceeds maximum allowed length 1041 > 1040");
}

}  // namespace
