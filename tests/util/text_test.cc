#include "util/text.h"

#include <gtest/gtest.h>

#include "util/rate_limit.h"

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

TEST(Text, EscapeControlsKeepsTextOnOneLine) {
  EXPECT_EQ(util::escapeControls("plain \"text\" \\ stays"), "plain \"text\" \\ stays");
  EXPECT_EQ(util::escapeControls("a\nThu Dec  3 14:05:09 2026: forged\r\n"),
            "a\\nThu Dec  3 14:05:09 2026: forged\\r\\n");
  EXPECT_EQ(util::escapeControls(std::string("\a\b\t\v\f\x1b\x7f\0", 8)),
            "\\a\\b\\t\\v\\f\\033\\177\\000");
  EXPECT_EQ(util::escapeControls("caf\xc3\xa9"), "caf\xc3\xa9");  // UTF-8 is not control
}

TEST(RateLimit, ActsOncePerIntervalAndCountsWhatItHeldBack) {
  using namespace std::chrono_literals;
  util::RateLimit limit(1s);
  const util::RateLimit::Clock::time_point t0{};
  EXPECT_EQ(limit.allow(t0 + 5s), 0u);
  EXPECT_FALSE(limit.allow(t0 + 5s));
  EXPECT_FALSE(limit.allow(t0 + 5s + 999ms));
  EXPECT_EQ(limit.allow(t0 + 6s), 2u);  // stands for the two held back
  EXPECT_FALSE(limit.allow(t0 + 6s + 1ms));
  EXPECT_EQ(limit.allow(t0 + 60s), 1u);
}

}  // namespace
