#include "util/parse.h"

#include <gtest/gtest.h>

namespace {

template <typename E, typename F>
std::string messageOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "<no exception>";
}

TEST(Parse, WholeNumbersAndTheirFailures) {
  EXPECT_EQ(util::parse<int>("42"), 42);
  EXPECT_EQ(util::parse<int>("  -7"), -7);  // leading blanks are skipped by the stream
  EXPECT_EQ(util::parse<unsigned long long>("18446744073709551615"), 18446744073709551615ull);
  EXPECT_DOUBLE_EQ(util::parse<double>("2.5"), 2.5);

  EXPECT_EQ(messageOf<error::EParseEmptyStringError>([] { util::parse<int>(""); }),
            "Cannot parse empty string to int");
  EXPECT_EQ(messageOf<error::EParseError>([] { util::parse<unsigned int>("x1"); }),
            "Cannot parse unsigned int: \"x1\"");
  EXPECT_EQ(messageOf<error::EParseError>([] { util::parse<int>("12 "); }),
            "Trailing data after int: \"12 \"");
  EXPECT_EQ(messageOf<error::EParseError>([] { util::parse<int>("99999999999"); }),
            "Cannot parse int: \"99999999999\"");
}

TEST(ParseHex, ValuesAndMessages) {
  EXPECT_EQ(util::parse_hex("ff"), 255u);
  EXPECT_EQ(util::parse_hex("FFFFFFFF"), 0xffffffffu);
  EXPECT_EQ(util::parse_hex("0x10"), 16u);
  EXPECT_EQ(messageOf<error::EParseError>([] { util::parse_hex("100000000"); }),
            "Value \"100000000\" out of range");
  EXPECT_EQ(messageOf<error::EParseError>([] { util::parse_hex("12g4"); }),
            "Unexpected character: g in hex string 12g4");
}

}  // namespace
