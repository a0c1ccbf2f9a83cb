// event decode and ber decode: bytes in either form, one item or several, and the exact
// errors of the decoders on bad input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocol/ber_decoder.h"
#include "protocol/messages.h"
#include "queues/catalogue.h"
#include "supervisor/program.h"
#include "vexlanctl/input.h"
#include "wire/memory_stream.h"

namespace {

using testing::HasSubstr;
using vxtest::Outcome;

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
    out += ' ';
  }
  return out;
}

class Decode : public testing::Test {
 protected:
  Outcome run(const std::vector<std::string>& args, const std::string& input) {
    vxtest::writeFile(dir_.file("input"), input);
    std::vector<std::string> all = args;
    all.push_back(dir_.file("input"));
    return vxtest::run(VX_VEXLANCTL, all);
  }
  vxtest::TempDir dir_;
};

std::string eventBytes(const std::vector<const queues::event*>& events) {
  protocol::MemoryOStream out(9);  // areas that split fields, as the pool's do
  protocol::ioprim io(nullptr, &out);
  for (const queues::event* e : events) {
    io << *e;
    io.endWrite();
  }
  return out.bytes();
}

TEST_F(Decode, EventsInEitherFormAndInSequence) {
  queues::ev<queues::SYS_EXIT> exit(queues::QUEUE_SCHD, 7, {3, queues::QUEUE_MAIN, "bye \"now\""});
  queues::ev<queues::INIT_OK> init(queues::QUEUE_MAIN, 0);
  init.payload.depend_on = {queues::QUEUE_DBMS, queues::QUEUE_TSDB};
  queues::exevent failed(queues::QUEUE_DBMS, 9, "No such object");
  const std::string bytes = eventBytes({&exit, &init, &failed});
  const std::string text =
      queues::eventText(exit) + queues::eventText(init) + queues::eventText(failed);
  ASSERT_THAT(text, HasSubstr("bye \\\"now\\\""));

  for (const auto& [args, input] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"event", "decode"}, bytes},
           {{"event", "decode", "--binary"}, bytes},
           {{"event", "decode"}, hex(bytes) + "\n"},
           {{"event", "decode", "--hex"}, "0x" + hex(bytes)}}) {
    Outcome o = run(args, input);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, text);
  }
}

TEST_F(Decode, BadEventsPrintWhatCameBeforeThenTheError) {
  queues::ev<queues::SYS_EXIT> exit(queues::QUEUE_SCHD, 7, {3, queues::QUEUE_MAIN, "bye"});
  const std::string one = eventBytes({&exit});
  std::string unknown = one;
  unknown[0] = static_cast<char>(250);  // no event has this number

  struct Case {
    std::string input;
    std::string out;
    std::string err;
  };
  for (const Case& c : std::vector<Case>{
           {one + one.substr(0, 10), queues::eventText(exit),
            "The input ends inside the event at byte " + std::to_string(one.size()) + "\n"},
           {unknown, "", "fdio >> event: unknown type index: 250 old was 0 dest 0\n"},
           {"", "", "No event in the input\n"},
           {"0a 0b 0", "", "Odd number of hexadecimal digits\n"},
       }) {
    Outcome o = run({"event", "decode"}, c.input);
    EXPECT_EQ(o.status, 1) << hex(c.input);
    EXPECT_EQ(o.out, c.out) << hex(c.input);
    EXPECT_EQ(o.err, c.err) << hex(c.input);
  }
  Outcome o = vxtest::run(VX_VEXLANCTL, {"event", "decode", dir_.file("absent")});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Cannot open " + dir_.file("absent") + ": No such file or directory\n");
}

TEST(Input, HexTextAndItsForm) {
  using vexlanctl::fromHex;
  using vexlanctl::guessForm;
  using vexlanctl::InputForm;
  EXPECT_EQ(fromHex("0x0a0B\n ff\t00 0X10"), std::string("\x0a\x0b\xff\x00\x10", 5));
  EXPECT_EQ(fromHex("  \n"), "");
  EXPECT_THROW(fromHex("0a0"), error::EParseError);
  EXPECT_THROW(fromHex("0a0x1"), error::EParseError);  // "0x" only before a group
  try {
    fromHex("00 1g");
    FAIL();
  } catch (const error::EParseError& e) {
    EXPECT_STREQ(e.what(), "Not a hexadecimal digit at offset 4: 'g'");
  }
  EXPECT_EQ(guessForm("00 ff\n"), InputForm::Hex);
  EXPECT_EQ(guessForm("0x00ff"), InputForm::Hex);
  EXPECT_EQ(guessForm(""), InputForm::Binary);
  EXPECT_EQ(guessForm(" \n"), InputForm::Binary);
  EXPECT_EQ(guessForm(std::string("\x00\x01", 2)), InputForm::Binary);
  EXPECT_EQ(guessForm("abcz"), InputForm::Binary);
}

TEST_F(Decode, BerMessagesAsATree) {
  protocol::Request request;
  request.id = 7;
  request.operation.emplace<protocol::SelectReq>().pattern.emplace().name = "Host, \"a\" {x}";
  protocol::NegotiateNack nack;
  nack.reason = "no";
  for (bool legacy : {false, true}) {
    SCOPED_TRACE(legacy);
    auto a = protocol::encode(request, legacy);
    auto b = protocol::encode(nack, legacy);
    std::string bytes(a.begin(), a.end());
    bytes.append(b.begin(), b.end());
    std::vector<std::string> args{"ber", "decode"};
    if (legacy) args.push_back("--legacy");
    Outcome o = run(args, hex(bytes));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out,
              "Request {\n"
              "  id: 7\n"
              "  operation: SelectReq {\n"
              "    pattern: PathPattern {\n"
              "      name: \"Host, \\\"a\\\" {x}\"\n"
              "      marker: null\n"
              "      children: []\n"
              "      conditions: []\n"
              "      classes: []\n"
              "    }\n"
              "    limit: 0\n"
              "  }\n"
              "}\n"
              "NegotiateNack {\n"
              "  reason: \"no\"\n"
              "}\n");
  }
}

}  // namespace
