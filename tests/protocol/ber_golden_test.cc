// Reviewed encodings, each decoded in pieces of every size and, where the encoding is the one
// this codec writes, re-encoded octet for octet.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>

#include "ber_test_util.h"
#include "protocol/gui_protocol.h"

namespace {

using namespace protocol;
using bertest::Bytes;
using bertest::hex;
using bertest::toHex;

Bytes written(const std::function<void(BerOutput&)>& write) {
  BerBytes out;
  write(out);
  return out.bytes;
}

TEST(BerGolden, TagAndLengthOctets) {
  const struct {
    TagCode tag;
    const char* octets;
  } tags[] = {{16, "02"},
              {259, "7F 20"},
              {3, "60"},
              {163, "74"},
              {5, "A0"},
              {176, "16"},
              {1, "20"},
              {137, "31"},
              {30 * 8 + 5, "BE"},
              {31 * 8 + 4, "9F 1F"},
              {200 * 8 + 3, "7F 81 48"},
              {kMaxTagNumber * 8, "1F 81 FF FF FF 7F"}};
  for (const auto& c : tags) {
    EXPECT_EQ(toHex(written([&](BerOutput& o) { writeTag(o, c.tag); })), c.octets) << c.tag;
  }
  const struct {
    size_t length;
    const char* octets;
  } lengths[] = {{0, "00"},
                 {127, "7F"},
                 {128, "81 80"},
                 {255, "81 FF"},
                 {256, "82 01 00"},
                 {65536, "83 01 00 00"},
                 {1u << 24, "84 01 00 00 00"},
                 {0xFFFFFFFF, "84 FF FF FF FF"}};
  for (const auto& c : lengths) {
    EXPECT_EQ(toHex(written([&](BerOutput& o) { writeLength(o, c.length); })), c.octets);
  }
  EXPECT_EQ(toHex(written(writeIndefiniteLength)), "80");
  EXPECT_EQ(toHex(written(writeEndOfContents)), "00 00");
}

// One primitive case: the field after decoding `octets`, and whether writing the field gives
// the same octets back (false for encodings a peer may send but this codec never writes).
template <typename T>
struct Case {
  const char* octets;
  T value;
  bool canonical = true;
};

// Decodes every case into a fresh field through `view` in every piece size, then writes it.
template <typename T, typename MakeView>
void checkCases(const std::vector<Case<T>>& cases, MakeView makeView,
                bool (*same)(const T&, const T&)) {
  for (const auto& c : cases) {
    const Bytes bytes = hex(c.octets);
    for (size_t chunk : bertest::chunkSizes()) {
      T field{};
      auto view = makeView(field);
      BerDecoder decoder(view, false);
      bertest::feedInChunks(decoder, bytes, chunk);
      EXPECT_TRUE(same(field, c.value)) << c.octets << " in pieces of " << chunk;
    }
    if (c.canonical) {
      T field = c.value;
      EXPECT_EQ(toHex(encode(makeView(field), false)), toHex(bytes));
    }
  }
}

template <typename T>
bool equal(const T& a, const T& b) {
  return a == b;
}

bool sameReal(const double& a, const double& b) {
  return compareReals(a, b) == 0 && std::signbit(a) == std::signbit(b);
}

TEST(BerGolden, Integers) {
  checkCases<int32_t>(
      {{"02 01 FF", -1},
       {"02 01 7F", 127},
       {"02 02 00 80", 128},
       {"02 01 00", 0},
       {"02 01 80", -128},
       {"02 02 FF 7F", -129},
       {"02 04 80 00 00 00", INT32_MIN},
       {"02 04 7F FF FF FF", INT32_MAX},
       {"02 00", 0, false},
       {"02 02 00 05", 5, false},
       {"02 04 FF FF FF FF", -1, false}},
      [](int32_t& f) { return BerIntegerTemplate<int32_t>(f, INT32_MIN, INT32_MAX); },
      equal<int32_t>);
  checkCases<uint32_t>(
      {{"02 05 00 FF FF FF FF", 0xFFFFFFFF},
       {"02 05 00 80 00 00 00", 0x80000000},
       {"02 02 00 FF", 255},
       {"02 04 7F FF FF FF", 0x7FFFFFFF}},
      [](uint32_t& f) { return BerIntegerTemplate<uint32_t>(f, 0, UINT32_MAX); }, equal<uint32_t>);
  checkCases<int64_t>(
      {{"02 08 80 00 00 00 00 00 00 00", INT64_MIN},
       {"02 08 7F FF FF FF FF FF FF FF", INT64_MAX},
       {"02 05 00 80 00 00 00", 0x80000000}},
      [](int64_t& f) { return BerIntegerTemplate<int64_t>(f, INT64_MIN, INT64_MAX); },
      equal<int64_t>);
  checkCases<uint64_t>(
      {{"02 09 00 FF FF FF FF FF FF FF FF", UINT64_MAX}, {"02 01 00", 0}},
      [](uint64_t& f) { return BerIntegerTemplate<uint64_t>(f, 0, UINT64_MAX); }, equal<uint64_t>);
  checkCases<int32_t>(
      {{"0A 01 03", 3}}, [](int32_t& f) { return BerEnumerated(f); }, equal<int32_t>);
}

TEST(BerGolden, RealsBooleansNullsStringsBigNumbers) {
  const double inf = std::numeric_limits<double>::infinity();
  checkCases<double>(
      {{"09 00", 0.0},
       {"09 01 41", -inf},
       {"09 01 40", inf},
       {"09 01 60", std::nan("")},
       {"09 0D 00 31 2E 35 30 30 30 30 30 65 2B 30 30", 1.5},  // 1.500000e+00
       {"09 0D 00 31 2E 30 30 30 30 30 30 65 2D 30 31", 0.1},
       // 0.1 + 0.2 needs all seventeen digits: 3.0000000000000004e-01
       {"09 17 00 33 2E 30 30 30 30 30 30 30 30 30 30 30 30 30 30 30 34 65 2D 30 31", 0.1 + 0.2},
       {"09 0E 00 34 2E 39 34 30 36 35 36 65 2D 33 32 34", 4.9406564584124654e-324},
       {"09 04 00 31 2E 35", 1.5, false},
       {"09 05 00 2B 31 2E 35", 1.5, false}},
      [](double& f) { return BerReal(f); }, sameReal);
  checkCases<bool>(
      {{"01 01 01", true}, {"01 01 00", false}, {"01 01 05", true, false}, {"01 00", false, false}},
      [](bool& f) { return BerBoolean(f); }, equal<bool>);
  checkCases<Null>(
      {{"05 00", Null{}}}, [](Null&) { return BerNull(); }, equal<Null>);
  checkCases<std::string>(
      {{"04 03 61 62 63", "abc"}, {"04 00", ""}, {"04 02 00 FF", std::string("\0\xFF", 2)}},
      [](std::string& f) { return BerString(f, 3, BE_STRING_CURRENT); }, equal<std::string>);
  checkCases<BigNum>(
      {{"02 00", BigNum{}},
       {"02 02 81 02", BigNum{{0x81, 0x02}}},
       {"02 03 00 81 02", BigNum{{0x81, 0x02}}, false}},
      [](BigNum& f) { return BerBigNum(f); }, equal<BigNum>);
  // Leading zero octets of a magnitude are never written.
  BigNum padded{{0, 0, 7}};
  EXPECT_EQ(toHex(encode(BerBigNum(padded), false)), "02 01 07");
}

// Peers write a real as 00 and the text "%e" makes of it. Every such text decodes to what the
// C library reads from it; the writer gives that same text whenever it reads back to the value,
// and otherwise a longer exponent form that the same reading turns into the exact value.
TEST(BerGolden, RealsInTheSixDigitExponentForm) {
  const double values[] = {1.5,
                           -2.5e10,
                           1.0 / 3,
                           123456.789,
                           1e-300,
                           9.999999e-5,
                           0.1,
                           -0.1,
                           1e22,
                           6.02214076e23,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::min(),
                           std::numeric_limits<double>::denorm_min(),
                           -7.0,
                           4503599627370497.0};
  for (double v : values) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%e", v);
    Bytes octets = {0x09, static_cast<uint8_t>(n + 1), 0x00};
    for (int i = 0; i < n; ++i)
      octets.push_back(static_cast<uint8_t>(text[i]));
    const double read = std::strtod(text, nullptr);
    for (size_t chunk : bertest::chunkSizes()) {
      double field = 0;
      BerReal view(field);
      BerDecoder decoder(view, false);
      bertest::feedInChunks(decoder, octets, chunk);
      EXPECT_EQ(field, read) << text << " in pieces of " << chunk;
    }
    double field = v;
    const Bytes ours = encode(BerReal(field), false);
    const std::string oursText(ours.begin() + 3, ours.end());
    if (read == v) {
      EXPECT_EQ(toHex(ours), toHex(octets)) << text;
    } else {
      EXPECT_EQ(std::strtod(oursText.c_str(), nullptr), v) << oursText << " for " << text;
    }
  }
}

CheckResult sampleResult() {
  CheckResult r;
  r.checkId = 1;
  r.name = "cpu";
  r.status = 2;
  r.details = {"a"};
  r.value = int32_t(5);
  r.unit = "%";
  return r;
}

Request sampleRequest() {
  Request r;
  r.id = 7;
  r.operation.emplace<SelectReq>().pattern.emplace();
  return r;
}

// A structure, or a top-level message when `root` is false, in both dialects.
struct MessageCase {
  const char* name;
  bool legacy;
  const char* octets;
  std::function<std::unique_ptr<BerStruct>()> expected;
  bool canonical = true;
};

const MessageCase kMessages[] = {
    {"CheckResult", false,
     "30 80 02 01 01 04 03 63 70 75 0A 01 02 30 80 04 01 61 00 00 02 01 05 04 01 25 04 00 00 00",
     [] { return std::make_unique<CheckResult>(sampleResult()); }},
    {"CheckResult", true,
     "20 80 02 01 01 16 03 63 70 75 0A 01 02 20 80 16 01 61 00 00 02 01 05 16 01 25 16 00 00 00",
     [] { return std::make_unique<CheckResult>(sampleResult()); }},
    {"CheckResult with definite lengths", false,
     "30 18 02 01 01 04 03 63 70 75 0A 01 02 30 03 04 01 61 02 01 05 04 01 25 04 00",
     [] { return std::make_unique<CheckResult>(sampleResult()); }, false},
    {"CheckResult with a definite outer and an indefinite inner length", false,
     "30 1A 02 01 01 04 03 63 70 75 0A 01 02 30 80 04 01 61 00 00 02 01 05 04 01 25 04 00",
     [] { return std::make_unique<CheckResult>(sampleResult()); }, false},
    {"CheckResult with an unknown eighth field, primitive and constructed", false,
     "30 80 02 01 01 04 03 63 70 75 0A 01 02 30 80 04 01 61 00 00 02 01 05 04 01 25 04 00"
     " 02 01 09 30 80 04 01 78 31 02 05 00 00 00 00 00",
     [] { return std::make_unique<CheckResult>(sampleResult()); }, false},
    {"CheckResult of an older peer, without its last two fields", false,
     "30 80 02 01 01 04 03 63 70 75 0A 01 02 30 80 04 01 61 00 00 02 01 05 00 00",
     [] {
       auto r = std::make_unique<CheckResult>(sampleResult());
       r->unit.clear();
       return r;
     },
     false},
    {"Request 7 with SelectReq", false,
     "74 80 02 01 07 A0 80 30 80 04 00 05 00 30 80 00 00 30 80 00 00 31 80 00 00 00 00"
     " 02 01 00 00 00 00 00",
     [] { return std::make_unique<Request>(sampleRequest()); }},
    {"Request 7 with SelectReq", true,
     "74 80 02 01 07 60 80 20 80 16 00 05 00 20 80 00 00 20 80 00 00 21 80 00 00 00 00"
     " 02 01 00 00 00 00 00",
     [] { return std::make_unique<Request>(sampleRequest()); }},
};

TEST(BerGolden, Messages) {
  for (const MessageCase& c : kMessages) {
    SCOPED_TRACE(std::string(c.name) + (c.legacy ? " (legacy)" : " (current)"));
    const Bytes bytes = hex(c.octets);
    const std::unique_ptr<BerStruct> expected = c.expected();
    const bool topLevel = expected->desc().rule == TagRule::TopLevel;
    for (size_t chunk : bertest::chunkSizes()) {
      std::unique_ptr<BerValue> decoded;
      if (topLevel) {
        decoded = bertest::decodeChunked(bytes, c.legacy, chunk);
      } else {
        decoded = expected->desc().create();
        BerDecoder decoder(*decoded, c.legacy);
        bertest::feedInChunks(decoder, bytes, chunk);
      }
      ASSERT_TRUE(decoded) << "pieces of " << chunk;
      EXPECT_EQ(*decoded, *expected) << "pieces of " << chunk;
    }
    if (c.canonical) {
      EXPECT_EQ(toHex(encode(*expected, c.legacy)), toHex(bytes));
    }
  }
}

TEST(BerGolden, Printing) {
  std::ostringstream os;
  os << sampleResult() << ' ' << sampleRequest();
  EXPECT_EQ(os.str(),
            "CheckResult{checkId: 1, name: \"cpu\", status: 2, details: [\"a\"], value: 5, unit: "
            "\"%\", instance: \"\"} Request{id: 7, operation: SelectReq{pattern: "
            "PathPattern{name: \"\", marker: null, children: [], conditions: [], classes: []}, "
            "limit: 0}}");
}

}  // namespace
