#include "util/time_value.h"

#include <gtest/gtest.h>

namespace {

void expectTv(const TimeValue& t, int32_t s, int32_t u) {
  EXPECT_EQ(t.sec, s);
  EXPECT_EQ(t.usec, u);
}

TEST(TimeValue, MakeCarriesWholeSeconds) {
  expectTv(TimeValue::make(1, 1000000), 2, 0);
  expectTv(TimeValue::make(0, 3500001), 3, 500001);
  expectTv(TimeValue::fromMilliseconds(1234), 1, 234000);
}

TEST(TimeValue, SubtractionBorrowsAndGoesNegative) {
  expectTv(TimeValue(5, 0) - TimeValue(4, 1), 0, 999999);
  expectTv(TimeValue(4, 0) - TimeValue(5, 0), -1, 0);
  expectTv(TimeValue(0, 0) - TimeValue(0, 250000), -1, 750000);
}

TEST(TimeValue, AdditionCarries) {
  TimeValue t(0, 999999);
  t += TimeValue(0, 1);
  expectTv(t, 1, 0);
  expectTv(TimeValue(1, 600000) + TimeValue(2, 700000), 4, 300000);
}

TEST(TimeValue, TextForms) {
  EXPECT_EQ(TimeValue(12, 5).toString(), "12.000005");
  EXPECT_EQ(TimeValue(-1, 750000).toString(), "-0.250000");
  EXPECT_EQ(TimeValue(-3, 0).toString(), "-3.000000");
  EXPECT_EQ(TimeValue(-2, 1).toString(), "-1.999999");
  EXPECT_EQ(TimeValue::never().toString(), "2147483647.000000");
}

TEST(TimeValue, ComparisonsAndScale) {
  EXPECT_LT(TimeValue(1, 999999), TimeValue(2, 0));
  EXPECT_LT(TimeValue(-1, 500000), TimeValue(0, 0));
  EXPECT_EQ(TimeValue(3, 0), TimeValue(3, 0));
  expectTv(TimeValue(1, 500000).scale(2.0), 3, 0);
  expectTv(TimeValue(10, 0).scale(0.25), 2, 500000);
  expectTv(TimeValue(0, 0).scale(5.0), 0, 0);
  EXPECT_TRUE(TimeValue::never().isNever());
  EXPECT_GT(TimeValue::never(), TimeValue::now());
}

TEST(TimeValueDeathTest, BrokenArithmeticAborts) {
  EXPECT_DEATH(TimeValue::make(0, -1), "Assertion failed: Cannot normalize negative microseconds");
  EXPECT_DEATH(TimeValue(1, 0) - TimeValue(0, 3000000), "Assertion failed: Negative usec");
  EXPECT_DEATH(
      {
        TimeValue t(0, 1500000);
        t += TimeValue(0, 999999);
      },
      "Assertion failed: Too big usec in \\+=");
}

}  // namespace
