#include "util/text.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, NumberForms) {
  EXPECT_EQ(util::dec(-5), "-5");
  EXPECT_EQ(util::dec2(5), "05");
  EXPECT_EQ(util::udec2(7), "07");
  EXPECT_EQ(util::udec(4294967295u), "4294967295");
  EXPECT_EQ(util::u64dec(18446744073709551615ull), "18446744073709551615");
  EXPECT_EQ(util::hex(0xab, 4), "00ab");
  EXPECT_EQ(util::hex(0xabcdef), "abcdef");
  EXPECT_EQ(util::hex64(0xdeadbeefull), "00000000DEADBEEF");
}

TEST(Text, CalendarText) {
  EXPECT_EQ(util::calendarText(0, "%Y-%m-%d %H:%M:%S", false), "1970-01-01 00:00:00");
  EXPECT_EQ(util::calendarText(86400 * 365, "%Y", false), "1971");
  EXPECT_EQ(util::calendarText(0, "", false), "");
}

}  // namespace
