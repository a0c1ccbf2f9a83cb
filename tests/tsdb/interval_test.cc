// Data intervals and check statistics: text forms and validity rules.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tsdb/check_stats.h"
#include "tsdb/data_interval.h"

namespace {

using namespace tsdb;

TEST(DataInterval, TextForms) {
  data_interval_continuous_t c;
  c.start = 10, c.end = 20, c.min = 0.5f, c.avg = 1.25f, c.max = 3, c.ngood = 4, c.nbad = 1;
  EXPECT_EQ(c.toString(),
            "(t: continuous)(start: 10)(end: 20)(min: 0.5)(avg: 1.25)(max: 3)(ngood: 4)(nbad: 1)");
  data_interval_enum_t e;
  e.mask = 6, e.ngood = 2, e.nbad = 0, e.start = 1, e.end = 2;
  EXPECT_EQ(e.toString(), "(t: enum)(start: 1)(end: 2)(mask: 6)(ngood: 2)(nbad: 0)");
}

TEST(DataInterval, KindsFactoryCloneAndEquality) {
  for (uint32_t kind : {1u, 2u, 3u}) {
    auto p = makeInterval(kind);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->kind(), kind);
    EXPECT_TRUE(p->clone()->equals(*p));
  }
  EXPECT_EQ(makeInterval(0), nullptr);
  EXPECT_EQ(makeInterval(4), nullptr);
  data_interval_enum_t a, b;
  b.mask = 1;
  EXPECT_FALSE(a.equals(b));
  EXPECT_FALSE(a.equals(data_interval_continuous_t()));
  interval_ptr x = std::make_unique<data_interval_enum_t>(a), y = x;
  EXPECT_TRUE(x == y);
  EXPECT_FALSE(x == interval_ptr());
}

TEST(CheckStats, ValidityRules) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_TRUE(snmpcheck_stat_continuous().valid());
  EXPECT_FALSE((snmpcheck_stat_continuous{0, 1, 0, 0}.valid()));   // start below 1
  EXPECT_FALSE((snmpcheck_stat_continuous{5, 4, 0, 0}.valid()));   // start after end
  EXPECT_FALSE((snmpcheck_stat_continuous{1, 1, 0, 6}.valid()));   // status out of range
  EXPECT_TRUE((snmpcheck_stat_continuous{1, 1, nan, 5}.valid()));  // no result taken
  EXPECT_FALSE((snmpcheck_stat_continuous{1, 1, nan, 4}.valid()));
  EXPECT_FALSE((snmpcheck_stat_uptime{1, 2, inf, 0}.valid()));
  EXPECT_TRUE((snmpcheck_stat_uptime{1, 2, 3.5, 0}.valid()));
  EXPECT_TRUE((snmpcheck_stat_enum{1, 2, 0xff, 5}.valid()));
  EXPECT_FALSE((snmpcheck_stat_enum{0, 2, 0, 0}.valid()));
  EXPECT_FALSE((snmpcheck_stat_enum{1, 2, 0, 6}.valid()));
}

TEST(CheckStats, TextForms) {
  EXPECT_EQ((snmpcheck_stat_continuous{1, 2, 0.5, 3}.statText()),
            "start=1, end=2, result=0.5, status=3");
  EXPECT_EQ(snmpcheck_stat_enum().statText(), "");
  EXPECT_EQ(snmpcheck_stat_uptime().statText(), "");
}

}  // namespace
