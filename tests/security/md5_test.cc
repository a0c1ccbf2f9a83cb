#include "security/md5.h"

#include <gtest/gtest.h>

#include <random>

#include "security_test_support.h"

namespace {

using security::Md5;

std::string hexOf(const uint8_t* digest) {
  return security::toHex(digest, Md5::kDigestSize);
}

std::string md5Hex(const std::string& message) {
  return hexOf(Md5::digestOf(message.data(), message.size()).data());
}

TEST(Md5, Rfc1321TestSuite) {
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [message, digest] : suite)
    EXPECT_EQ(md5Hex(message), digest) << message;
}

// Random inputs against OpenSSL, and any split of an input, through either update form,
// against the one-shot digest; the splits cross the 56- and 64-byte boundaries where padding
// and buffering change.
TEST(Md5, AgreesWithOpenSslAndAcrossSplits) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 300; ++i) {
    vxtest::Bytes data = vxtest::randomBytes(rng, rng() % 1500);
    auto ours = Md5::digestOf(data.data(), data.size());
    ASSERT_EQ(vxtest::Bytes(ours.begin(), ours.end()), vxtest::opensslMd5(data)) << data.size();
  }
  vxtest::Bytes data = vxtest::randomBytes(rng, 200);
  for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 200u}) {
    auto expected = Md5::digestOf(data.data(), length);
    for (size_t split = 0; split <= length; ++split) {
      Md5 md5;
      md5.update(split, data.data());
      for (size_t i = split; i < length; ++i)
        md5.update(data[i]);
      uint8_t digest[16];
      md5.final(digest);
      ASSERT_EQ(hexOf(digest), hexOf(expected.data())) << length << " split at " << split;
    }
  }
}

TEST(Md5, FinalLeavesTheStateAndResetStartsOver) {
  Md5 md5;
  md5.update(2, "ab");
  uint8_t first[16], second[16];
  md5.final(first);
  md5.final(second);
  EXPECT_EQ(hexOf(first), hexOf(second));
  md5.update('c');
  md5.final(first);
  EXPECT_EQ(hexOf(first), "900150983cd24fb0d6963f7d28e17f72");
  md5.reset();
  md5.final(first);
  EXPECT_EQ(hexOf(first), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, FreshStateText) {
  Md5 md5;
  md5.update(100, std::string(100, 'x').data());
  md5.reset();
  EXPECT_EQ(md5.stateText(), "67452301efcdab8998badcfe10325476" + std::string(144, '0'));
  Md5 restored;
  restored.update(3, "abc");
  restored.setStateText(md5.stateText());
  uint8_t digest[16];
  restored.final(digest);
  EXPECT_EQ(hexOf(digest), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, StateTextCarriesAnUnfinishedMessage) {
  std::string message = vxtest::countingBytes(150);
  Md5 first;
  first.update(70, message.data());
  std::string text = first.stateText();
  ASSERT_EQ(text.size(), Md5::kStateTextSize);
  EXPECT_EQ(text.substr(32, 16), "0000000000000230");  // 560 bits, high word first
  Md5 second;
  second.setStateText(text);
  EXPECT_EQ(second.stateText(), text);
  second.update(80, message.data() + 70);
  uint8_t digest[16];
  second.final(digest);
  EXPECT_EQ(hexOf(digest), md5Hex(message));
}

TEST(Md5, MalformedTextsAreRefused) {
  Md5 md5;
  md5.update(3, "abc");
  const std::string good = md5.stateText();
  std::string bad_digit = good, sign = good;
  bad_digit[100] = 'g';
  sign[0] = '+';
  for (const std::string& text : {good.substr(1), good + "0", bad_digit, sign, std::string()}) {
    vxtest::expectParseError([&] { md5.setStateText(text); }, "Malformed md5 state");
    EXPECT_EQ(md5.stateText(), good);
  }

  auto sum = security::parseMd5Sum("D41D8CD98F00B204e9800998ecf8427e");
  EXPECT_EQ(hexOf(sum.data()), "d41d8cd98f00b204e9800998ecf8427e");
  for (const char* text :
       {"d41d8cd98f00b204e9800998ecf8427", "d41d8cd98f00b204e9800998ecf8427e0",
        "d41d8cd98f00b204e9800998ecf8427g", " d41d8cd98f00b204e9800998ecf8427"}) {
    vxtest::expectParseError([&] { security::parseMd5Sum(text); }, "Malformed md5 sum");
  }
}

}  // namespace
