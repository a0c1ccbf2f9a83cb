// Every message class, filled from its descriptor, survives encoding and decoding in both
// dialects; the declarations themselves keep the rules the runtime relies on.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "ber_test_util.h"
#include "protocol/gui_protocol.h"

namespace {

using namespace protocol;
using bertest::Bytes;

std::unique_ptr<BerValue> decodeAs(const StructDesc& desc, const Bytes& bytes, bool legacy,
                                   size_t chunk) {
  if (desc.rule == TagRule::TopLevel) return bertest::decodeChunked(bytes, legacy, chunk);
  std::unique_ptr<BerStruct> root = desc.create();
  BerDecoder decoder(*root, legacy);
  bertest::feedInChunks(decoder, bytes, chunk);
  return root;
}

TEST(BerMessages, EveryClassRoundTripsInBothDialects) {
  size_t topLevel = 0;
  for (const StructDesc* desc : allStructs()) {
    SCOPED_TRACE(desc->name);
    topLevel += desc->rule == TagRule::TopLevel;
    for (unsigned seed = 0; seed < 4; ++seed) {
      std::unique_ptr<BerStruct> original = desc->create();
      bertest::fill(*original, seed);
      const Bytes current = encode(*original, false);
      const Bytes legacy = encode(*original, true);
      if (desc->fieldCount > 0 && desc->rule != TagRule::TopLevel) {
        EXPECT_NE(current, legacy);
      }
      for (size_t chunk : bertest::chunkSizes()) {
        if (seed > 0 && chunk != 7 && chunk != SIZE_MAX) continue;  // keep the suite quick
        for (bool isLegacy : {false, true}) {
          const std::unique_ptr<BerValue> decoded =
              decodeAs(*desc, isLegacy ? legacy : current, isLegacy, chunk);
          ASSERT_TRUE(decoded);
          EXPECT_EQ(*decoded, *original) << "seed " << seed << ", pieces of " << chunk
                                         << (isLegacy ? ", legacy" : ", current");
          EXPECT_EQ(encode(*decoded, isLegacy), isLegacy ? legacy : current);
        }
      }
    }
  }
  EXPECT_EQ(topLevel, 34u);
}

TEST(BerMessages, TopLevelNumbersAndAlternativesAreUnique) {
  std::set<uint32_t> numbers;
  for (const StructDesc* desc : allStructs()) {
    if (desc->rule == TagRule::TopLevel) {
      EXPECT_TRUE(numbers.insert(desc->number).second);
    }
  }
  for (uint32_t n = 0; n <= 35; ++n)
    EXPECT_EQ(numbers.count(n), n == 14 || n == 15 ? 0u : 1u);
  for (const StructDesc* desc : allStructs()) {
    for (size_t i = 0; i < desc->fieldCount; ++i) {
      const TypeDesc& type = desc->fields[i].type;
      if (type.kind != Kind::Choice) continue;
      std::set<uint32_t> ks;
      for (size_t a = 0; a < type.choice->count; ++a) {
        EXPECT_EQ(type.choice->alternatives[a]->rule, TagRule::Alternative);
        EXPECT_TRUE(ks.insert(type.choice->alternatives[a]->number).second)
            << type.choice->name << " repeats alternative " << type.choice->alternatives[a]->name;
      }
    }
  }
}

TEST(BerMessages, OnlyScalarFieldsMayBeLeftOut) {
  // A decoded message must be writable again, so no pointer or choice may be among the fields
  // an older peer is allowed to omit.
  for (const StructDesc* desc : allStructs()) {
    EXPECT_LE(desc->required, desc->fieldCount) << desc->name;
    for (size_t i = desc->required; i < desc->fieldCount; ++i) {
      const Kind kind = desc->fields[i].type.kind;
      EXPECT_TRUE(kind != Kind::Ptr && kind != Kind::Choice && kind != Kind::CheckValue)
          << desc->name << "." << desc->fields[i].name;
    }
  }
  EXPECT_EQ(CheckResult().count(), 5u);
  EXPECT_EQ(Request().count(), 2u);
  std::vector<CheckResult> results;
  EXPECT_EQ(ListOfCheckResult(results).count(), 0u);
  EXPECT_TRUE(ListOfCheckResult(results).isRepeated());
  EXPECT_FALSE(CheckResult().isRepeated());
}

TEST(BerMessages, ComparisonIsByFieldsInOrder) {
  CheckinReq a;
  bertest::fill(a, 1);
  CheckinReq b = a;  // deep copy, choices and pointers included
  EXPECT_EQ(a, b);
  EXPECT_FALSE(a < b);
  EXPECT_FALSE(a.greater(b));

  b.results[1].value = 3.5;  // a later element differs
  EXPECT_FALSE(a == b);
  EXPECT_NE(a < b, b < a);
  EXPECT_EQ(a.less(b), b.greater(a));

  Property p, q;
  p.value.emplace<SignedIntProp>().value = 9;
  q.value.emplace<SignedIntProp>().value = 10;
  EXPECT_TRUE(p < q);
  q.value.emplace<StringProp>();  // alternatives order by their number
  EXPECT_TRUE(q < p);
  Property empty;
  EXPECT_TRUE(empty < p);

  // Values of different classes are never equal, but still ordered one way.
  NegotiateAck ack;
  HWScanReq scan;
  EXPECT_FALSE(ack == scan);
  EXPECT_NE(ack.less(scan), scan.less(ack));

  // A NaN is equal to itself, so a decoded message equals its source.
  RealProp r1, r2;
  r1.value = r2.value = std::nan("");
  EXPECT_EQ(r1, r2);
  r2.value = 1.0;
  EXPECT_TRUE(r2 < r1);
}

TEST(BerMessages, CopiesAreIndependent) {
  SelectReq a;
  a.pattern.emplace().name = "first";
  std::unique_ptr<BerValue> c = a.clone();
  SelectReq b = a;
  a.pattern->name = "changed";
  EXPECT_EQ(b.pattern->name, "first");
  EXPECT_EQ(static_cast<SelectReq&>(*c).pattern->name, "first");
  Response r;
  r.operation.emplace<ErrorResp>().messages = {"x"};
  Response s = r;
  ASSERT_NE(s.operation.as<ErrorResp>(), nullptr);
  EXPECT_EQ(s.operation.as<SelectResp>(), nullptr);
  EXPECT_NE(s.operation.get(), r.operation.get());
}

TEST(BerMessages, TwoMessagesInOneBuffer) {
  GSLKeepAlive first;
  first.sequence = 41;
  ServerTimeResp second;
  second.seconds = 1700000000;
  second.microseconds = 999999;
  Bytes both = encode(first, false);
  const Bytes tail = encode(second, false);
  both.insert(both.end(), tail.begin(), tail.end());

  static const guiProtocol gui;
  BerDecoder decoder(gui, false);
  EXPECT_TRUE(decoder.idle());
  const size_t used = decoder.feed(both.data(), both.size());
  EXPECT_EQ(used, both.size() - tail.size());
  EXPECT_EQ(*decoder.take(), first);
  EXPECT_TRUE(decoder.idle());
  EXPECT_EQ(decoder.feed(both.data() + used, 3), 3u);
  EXPECT_FALSE(decoder.done());
  EXPECT_FALSE(decoder.idle());
  EXPECT_EQ(decoder.feed(both.data() + used + 3, tail.size() - 3), tail.size() - 3);
  EXPECT_EQ(*decoder.take(), second);
}

TEST(BerMessagesDeathTest, ProgrammingErrorsAbort) {
  RelativeExpr expr;
  EXPECT_DEATH(encode(expr, false), "Assertion failed: this->prop is NULL during BER write");
  SelectReq select;
  EXPECT_DEATH(encode(select, true), "Assertion failed: this->pattern is NULL during BER write");
  CheckResult result;
  EXPECT_DEATH(encode(result, false), "Assertion failed: this->value is NULL during BER write");
  Request request;
  request.operation.emplace<SelectResp>();
  EXPECT_DEATH(encode(request, false),
               "Assertion failed: SelectResp is not an alternative of Request.this->operation");

  BerPrimitiveSkipper primitive(16);
  BerConstructedSkipper constructed(129);
  EXPECT_DEATH(encode(primitive, false), "Assertion failed: BerPrimitiveSkipper::write invoked");
  EXPECT_DEATH(encode(constructed, false),
               "Assertion failed: BerConstructedSkipper::write invoked");
  EXPECT_DEATH((void)primitive.less(primitive),
               "Assertion failed: Cannot call operator< for BerPrimitiveSkipper");
  EXPECT_DEATH((void)constructed.greater(constructed),
               "Assertion failed: Cannot call operator> for BerConstructedSkipper");
}

}  // namespace
