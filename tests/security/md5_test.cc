#include "security/md5.h"

#include <gtest/gtest.h>

#include <random>

#include "crypto_test_support.h"
#include "error/exception.h"

namespace {

using security::Md5;
using vxtest::hexOf;

std::string md5Hex(const std::string& message) {
  auto d = Md5::digestOf(message.data(), message.size());
  return hexOf(d.data(), d.size());
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

// Any split of the input, through either update form, gives the one-shot digest; the splits
// cross the 56- and 64-byte boundaries where padding and buffering change.
TEST(Md5, SplitsAndByteUpdatesMatchOneShot) {
  std::mt19937_64 rng(7);
  std::vector<uint8_t> data = vxtest::randomBytes(rng, 200);
  for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 200u}) {
    auto expected = Md5::digestOf(data.data(), length);
    for (size_t split = 0; split <= length; ++split) {
      Md5 md5;
      md5.update(split, data.data());
      for (size_t i = split; i < length; ++i)
        md5.update(data[i]);
      uint8_t digest[16];
      md5.final(digest);
      ASSERT_EQ(hexOf(digest, 16), hexOf(expected.data(), 16)) << length << " at " << split;
    }
  }
}

TEST(Md5, AgreesWithOpenSslOnRandomInputs) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> data = vxtest::randomBytes(rng, rng() % 1500);
    auto ours = Md5::digestOf(data.data(), data.size());
    ASSERT_EQ(std::vector<uint8_t>(ours.begin(), ours.end()), vxtest::opensslMd5(data))
        << data.size() << " bytes";
  }
}

TEST(Md5, FinalLeavesTheStateAndResetStartsOver) {
  Md5 md5;
  md5.update(2, "ab");
  uint8_t first[16], second[16];
  md5.final(first);
  md5.final(second);
  EXPECT_EQ(hexOf(first, 16), hexOf(second, 16));
  md5.update('c');
  md5.final(first);
  EXPECT_EQ(hexOf(first, 16), "900150983cd24fb0d6963f7d28e17f72");
  md5.reset();
  md5.final(first);
  EXPECT_EQ(hexOf(first, 16), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5.digestSize(), 16u);
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
  EXPECT_EQ(hexOf(digest, 16), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, StateTextCarriesAnUnfinishedMessage) {
  std::string message(150, '\0');
  for (size_t i = 0; i < message.size(); ++i)
    message[i] = static_cast<char>(i * 7);
  Md5 first;
  first.update(70, message.data());
  std::string text = first.stateText();
  ASSERT_EQ(text.size(), Md5::kStateTextSize);
  // Bit length 560 = 0x230, high word first, after the four state words.
  EXPECT_EQ(text.substr(32, 16), "0000000000000230");

  Md5 second;
  second.setStateText(text);
  EXPECT_EQ(second.stateText(), text);
  second.update(80, message.data() + 70);
  uint8_t digest[16];
  second.final(digest);
  auto expected = Md5::digestOf(message.data(), message.size());
  EXPECT_EQ(hexOf(digest, 16), hexOf(expected.data(), 16));
}

TEST(Md5, MalformedStateTextIsRefusedAndChangesNothing) {
  Md5 md5;
  md5.update(3, "abc");
  const std::string before = md5.stateText();
  std::string bad_digit = before;
  bad_digit[100] = 'g';
  std::string upper = before;
  upper[0] = 'X';
  for (const std::string& text :
       {before.substr(1), before + "0", bad_digit, upper, std::string(), std::string(176, ' ')}) {
    try {
      md5.setStateText(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const error::EParseError& e) {
      EXPECT_STREQ(e.what(), "Malformed md5 state");
    }
    EXPECT_EQ(md5.stateText(), before);
  }
}

TEST(Md5, SumParse) {
  auto sum = security::parseMd5Sum("D41D8CD98F00B204e9800998ecf8427e");
  EXPECT_EQ(hexOf(sum.data(), sum.size()), "d41d8cd98f00b204e9800998ecf8427e");
  for (const char* bad :
       {"d41d8cd98f00b204e9800998ecf8427", "d41d8cd98f00b204e9800998ecf8427e0",
        "d41d8cd98f00b204e9800998ecf8427g", " d41d8cd98f00b204e9800998ecf8427", ""}) {
    EXPECT_THROW(
        {
          try {
            security::parseMd5Sum(bad);
          } catch (const error::EParseError& e) {
            EXPECT_STREQ(e.what(), "Malformed md5 sum");
            throw;
          }
        },
        error::EParseError)
        << bad;
  }
}

}  // namespace
