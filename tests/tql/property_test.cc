// Property values: comparisons, text forms, names and error texts that messages rely on.
#include <gtest/gtest.h>

#include <cmath>

#include "tql/errors.h"
#include "tql/names.h"
#include "tql/property_types.h"

namespace {

using namespace tql;

property_int_t intp(int32_t v, bool null = false) {
  return property_int_t(51, v, null);
}
property_string_t str(const std::string& v) {
  return property_string_t(51, v);
}

TEST(PropertyCompare, NullsOrderBeforeValues) {
  EXPECT_TRUE(intp(0, true).compare(OP_EQUAL, intp(0, true)));
  EXPECT_TRUE(intp(0, true).compare(OP_LESS, intp(5)));
  EXPECT_TRUE(intp(5).compare(OP_GREATER, intp(0, true)));
  EXPECT_FALSE(intp(5).compare(OP_EQUAL, intp(5, true)));
  EXPECT_TRUE(intp(-1).compare(OP_LESS_EQUAL, intp(-1)));
  EXPECT_TRUE(intp(2).compare(OP_NOT_EQUAL, intp(3)));
  EXPECT_TRUE(intp(3).compare(OP_GREATER_EQUAL, intp(3)));
}

TEST(PropertyCompare, StringsDifferingOnlyInCaseAreEqualIgnoringCase) {
  EXPECT_FALSE(str("Abc").compare(OP_EQUAL, str("abc")));
  EXPECT_TRUE(str("Abc").compare(OP_EQUAL_NOCASE, str("abc")));
  EXPECT_FALSE(str("Abc").compare(OP_NOT_EQUAL_NOCASE, str("abc")));
  EXPECT_FALSE(str("Abc").compare(OP_GREATER, str("abc")));
  EXPECT_TRUE(str("Abc").compare(OP_LESS, str("abc")));
  EXPECT_TRUE(str("abd").compare(OP_NOT_EQUAL_NOCASE, str("ABC")));
  EXPECT_TRUE(str("Hello World").compare(OP_CONTAINS, str("WORLD")));
  EXPECT_FALSE(str("Hello").compare(OP_CONTAINS, str("World")));
}

TEST(PropertyCompare, ListsOfNumbersCompareByLengthFirst) {
  property_gid_list_t shortl(1, {9}), longl(1, {1, 2});
  EXPECT_TRUE(shortl.compare(OP_LESS, longl));
  EXPECT_TRUE(property_oid_t(1, {1, 3}).compare(OP_LESS, property_oid_t(1, {1, 4})));
  property_string_list_t a(1, {"b"}), b(1, {"a", "z"});
  EXPECT_TRUE(a.compare(OP_GREATER, b));  // lexicographic, not by length
}

TEST(PropertyCompare, OtherClassesAndOperatorsAreIncomparable) {
  try {
    intp(1).compare(OP_EQUAL, property_uint_t(900, 1));
    FAIL();
  } catch (const errors::tql_incomparable& e) {
    EXPECT_STREQ(e.what(), "Type mismatch, int != type of realName");
    EXPECT_EQ(e.code(), 11u);
  }
  try {
    property_enum_t(1, {4, 1}).compare(OP_EQUAL, property_enum_t(800, {5, 1}));
    FAIL();
  } catch (const errors::tql_incomparable& e) {
    EXPECT_STREQ(e.what(), "Type mismatch, enum (4) != enum (5) of status");
  }
  EXPECT_TRUE(property_enum_t(1, {4, 1}).compare(OP_LESS, property_enum_t(2, {4, 2})));
  EXPECT_THROW(property_index_t(1, 1).compare(OP_EQUAL, property_uint_t(1, 1)),
               errors::tql_incomparable);
  for (uint32_t op : {0u, 9u, 13u, 15u}) {
    try {
      intp(1).compare(op, intp(1));
      FAIL() << op;
    } catch (const errors::tql_incomparable& e) {
      EXPECT_STREQ(e.what(), "Unknown relative operator");
    }
  }
  EXPECT_THROW(intp(1).compare(OP_CONTAINS, intp(1)), errors::tql_incomparable);
  property_string_t null_string(51, "", true);
  EXPECT_THROW(null_string.compare(OP_CONTAINS, str("a")), errors::tql_incomparable);
}

TEST(PropertyCompare, CompositeValuesHaveATotalOrder) {
  object_ref_t a{{1}, {2}, {3}, 4}, b{{1}, {2}, {3}, 5};
  EXPECT_TRUE(property_object_t(1, a).compare(OP_LESS, property_object_t(1, b)));
  EXPECT_TRUE(property_object_t(1, a).compare(OP_EQUAL, property_object_t(1, a)));
  EXPECT_TRUE(property_version_t(1, {1, 9}).compare(OP_LESS, property_version_t(1, {2, 0})));
  EXPECT_TRUE(property_bignum_t(1, BigNumber(256))
                  .compare(OP_GREATER, property_bignum_t(1, BigNumber(255))));
  EXPECT_TRUE(property_object_set_t(1, {a}).compare(OP_LESS, property_object_set_t(1, {a, b})));
}

TEST(PropertyText, TextFormsAndTypeNames) {
  EXPECT_EQ(str("x").toString(), "\"x\"");
  EXPECT_EQ(property_string_list_t(1, {"a", "b"}).toString(), "{\"a\", \"b\"}");
  EXPECT_EQ(property_object_t(1, {{1, 2}, {}, {3}, 4}).toString(),
            "(id 1.2, domain null, user 3, type 4)");
  EXPECT_EQ(property_version_t(1, {1, 2}).toString(), "(1, 2)");
  EXPECT_EQ(property_action_t(1, 7).toString(), "(null)");
  EXPECT_EQ(property_real_t(1, 2.5).toString(), "2.5");
  EXPECT_EQ(property_bignum_t(1, BigNumber(0x1f00)).toString(), "0x1f00");
  EXPECT_EQ(property_gid_t(1, 0x0a0b0c0d).toString(), "0a:0b:0c:0d");
  EXPECT_EQ(property_gid_list_t(1, {1, 2}).toString(), "{1, 2}");
  EXPECT_EQ(property_date_t(1, -5).toString(), "-5");
  EXPECT_EQ(property_boolean_t(1, true).toString(), "true");
  EXPECT_EQ(property_blob_t(1, {1}).toString(), "BLOB");
  EXPECT_EQ(property_lob_t(1, {1}).toString(), "LOB");
  EXPECT_EQ(property_oid_t(1, {1, 3, 6}).toString(), "1.3.6");
  EXPECT_EQ(property_enum_t(1, {4, 2}).toString(), "enum(4, 2)");
  EXPECT_EQ(intp(3, true).toString(), "null");
  EXPECT_EQ(property_enum_t(1, {4, 2}).typeName(), "enum 4");
  EXPECT_EQ(property_gid_t().typeName(), "uint32");
  EXPECT_EQ(property_oid_t().typeName(), "uint32 list");
  EXPECT_EQ(property_index_t().typeName(), "uint");
  EXPECT_EQ(property_date_t().typeName(), "timestamp");
}

TEST(PropertyFactory, EveryCodeMakesItsClassAndClonesCompareEqual) {
  for (uint32_t code = 0; code < 40; ++code) {
    std::unique_ptr<property_t> p = makeProperty(code);
    if (code < kFirstPropertyCode || code > kLastPropertyCode) {
      EXPECT_EQ(p, nullptr);
      continue;
    }
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->typeCode(), code);
    p->name = 3;
    std::unique_ptr<property_t> c = p->clone();
    EXPECT_TRUE(c->equals(*p));
    c->modifiers = 1;
    EXPECT_FALSE(c->equals(*p));
  }
  EXPECT_FALSE(intp(1).equals(property_uint_t(51, 1)));
}

TEST(TqlErrors, CodesAndTexts) {
  EXPECT_STREQ(errorText(0), "No error");
  EXPECT_STREQ(errorText(11), "Incomparable property");
  EXPECT_STREQ(errorText(13), "Unknown error");
  EXPECT_STREQ(errorText(15), "Access denied");
  EXPECT_STREQ(errorText(99), "Unknown error");
  errors::tql plain(TQL_ID_NOT_FOUND);
  EXPECT_STREQ(plain.what(), "Specified ID not found in database");
  errors::tql detailed(TQL_ACCESS_DENIED, "not yours");
  EXPECT_STREQ(detailed.what(), "not yours");
  EXPECT_EQ(detailed.code(), 15u);
}

TEST(TqlNames, PropertiesAndClasses) {
  EXPECT_EQ(propertyName(0), "id");
  EXPECT_EQ(propertyName(51), "name");
  EXPECT_EQ(propertyName(913), "capGridConf");
  EXPECT_EQ(propertyName(4402), "yCoordinate");
  EXPECT_EQ(propertyName(99), "<unknown property: 99>");
  EXPECT_EQ(className(0), "NodeInfoGroup");
  EXPECT_EQ(className(13), ".");
  EXPECT_EQ(className(78), "");
  EXPECT_EQ(className(96), "MonthPlanner");
  EXPECT_EQ(classNumber("CandidateNode"), 77u);
  EXPECT_EQ(classNumber("Nothing"), std::nullopt);
  EXPECT_EQ(classCount(), 97u);
}

TEST(TqlId, BoundsAndTextForm) {
  tql::id_t id{1, 2};
  EXPECT_EQ(id.toString(), "1.2");
  EXPECT_EQ(tql::id_t().toString(), "null");
  id.push_back(3);
  try {
    id.push_back(4);
    FAIL();
  } catch (const error::ERange& e) {
    EXPECT_STREQ(e.what(), "small vector resize overflow 4 > 3");
  }
  try {
    (void)tql::id_t{5}[1];
    FAIL();
  } catch (const error::ERange& e) {
    EXPECT_STREQ(e.what(), "small vector reference overflow 1 >= 1");
  }
  EXPECT_LT((tql::id_t{1, 2}), (tql::id_t{1, 2, 0}));
  EXPECT_LT((tql::id_t{1, 2}), (tql::id_t{2}));
  id.resize(1);
  id.resize(2);
  EXPECT_EQ(id, (tql::id_t{1, 0}));
}

TEST(BigNumberTest, NormalisedMagnitude) {
  const uint8_t padded[] = {0x02, 0x01, 0, 0, 0};
  EXPECT_EQ(BigNumber::fromLittleEndian(padded, 5), BigNumber(0x0102));
  const uint8_t be[] = {0, 0x01, 0x02};
  EXPECT_EQ(BigNumber::fromBigEndian(be, 3), BigNumber(0x0102));
  EXPECT_EQ(BigNumber(0x0102).bigEndian(), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(BigNumber().toHex(), "0x0");
  EXPECT_EQ(BigNumber(0x0abc).toHex(), "0xabc");
  EXPECT_EQ(BigNumber(0x100).bitLength(), 9u);
  EXPECT_TRUE(BigNumber().isZero());
  EXPECT_LT(BigNumber(0xff), BigNumber(0x100));
  EXPECT_LT(BigNumber(0x1ff), BigNumber(0x200));
}

}  // namespace
