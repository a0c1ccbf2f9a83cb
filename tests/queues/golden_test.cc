// Golden byte vectors: one reviewed hex string per case, encoded by the writer and read back
// through every read-area size, so no codec depends on where an area ends.
#include <gtest/gtest.h>

#include <functional>

#include "queues/catalogue.h"
#include "stream_pair.h"

namespace {

using namespace queues;
using vxtest::fromHex;
using vxtest::toHex;
using wire::Bytes;
using wire::Codec;
using wire::valueEqual;

const size_t kReadAreas[] = {1, 2, 3, 5, 7, 13, 32, 1024};
// Writing needs room for an 8-byte primitive in every area.
const size_t kWriteAreas[] = {8, 9, 13, 32, 1024};

struct EventCase {
  std::string name;
  std::string hex;
  std::function<std::unique_ptr<event>()> build;
  // False when the bytes are a legal but non-canonical form (a bool word of 2, a negative
  // count, an exception reply under another number): they read as `build`, which writes
  // differently.
  bool canonical = true;
};

template <event_t N>
std::unique_ptr<event> make(queue_t dest, uint32_t inresponse, payload_t<N> p = {}) {
  return std::make_unique<ev<N>>(dest, inresponse, std::move(p));
}

tsdb::interval_ptr continuous(int64_t start, int64_t end, float mn, float avg, float mx,
                              uint32_t good, uint32_t bad) {
  auto c = std::make_unique<tsdb::data_interval_continuous_t>();
  c->start = start, c->end = end, c->min = mn, c->avg = avg, c->max = mx;
  c->ngood = good, c->nbad = bad;
  return c;
}

template <uint32_t Code>
tql::property_ptr prop(typename tql::property_value_t<Code>::value_type v, bool null = false,
                       uint32_t modifiers = 0) {
  return std::make_unique<tql::property_value_t<Code>>(51, std::move(v), null, modifiers);
}

std::vector<EventCase> eventCases() {
  std::vector<EventCase> v;
  v.push_back({"int payload", "06000000 00000000 07000000 00000000 05000000",
               [] { return make<REQUEST_SERVER_CONFIGURATION>(QUEUE_MAIN, 7, 5); }});
  v.push_back({"empty exevent", "cc000000 02000000 03000000 01000000 0000000000000000",
               [] { return std::make_unique<exevent>(QUEUE_DBMS, 3, ""); }});
  v.push_back({"exception reply under the failed request's number",
               "06000000 02000000 09000000 01000000 0500000000000000 6f6f707321",
               [] { return std::make_unique<exevent>(QUEUE_DBMS, 9, "oops!"); }, false});
  v.push_back({"exception word other than 1",
               "cc000000 02000000 09000000 07000000 0000000000000000",
               [] { return std::make_unique<exevent>(QUEUE_DBMS, 9, ""); }, false});
  v.push_back({"SYS_EXIT", "02000000 03000000 00000000 00000000 00000000 00000000 0000000000000000",
               [] { return make<SYS_EXIT>(QUEUE_RMCH, 0); }});
  v.push_back({"negative inresponse and unnamed queue",
               "0a000000 19000000 ffffffff 00000000 18000000",
               [] { return make<REQUEST_SPAWN_PROCESS>(queue_t(25), 0xffffffff, QUEUE_EXTRA); }});
  for (event_t n : {GET_FIRST_ID, GRIDSYSTEMSHUTDOWN, RETURN_GRIDSYSTEMSHUTDOWN, ESXI_PROBE_RESULT,
                    SUBSCRIBEEPSECCHANGE}) {
    char hex[64];
    std::snprintf(hex, sizeof hex, "%02x000000 00000000 00000000 00000000", n);
    v.push_back({"empty structure", hex, [n] { return makeEvent(n, QUEUE_MAIN, 0); }});
  }
  v.push_back({"bool words", "37000000 00000000 00000000 00000000 01000000 00000000", [] {
                 return make<RETURN_HOST_CONFIGURED_STATE>(QUEUE_MAIN, 0, {true, false});
               }});
  v.push_back({"bool word 2 reads as true", "37000000 00000000 00000000 00000000 02000000 00000000",
               [] {
                 return make<RETURN_HOST_CONFIGURED_STATE>(QUEUE_MAIN, 0, {true, false});
               },
               false});
  v.push_back({"16-bit field", "9e000000 00000000 00000000 00000000 ffff0000",
               [] { return make<RPC_HANDLERREGISTER>(QUEUE_MAIN, 0, {0xffff}); }});
  v.push_back({"zero count", "0f000000 00000000 00000000 00000000 00000000",
               [] { return make<GET_METRIC>(QUEUE_MAIN, 0); }});
  v.push_back({"negative count reads as empty; the next field follows the count",
               "b9000000 00000000 00000000 00000000 ffffffff 07000000",
               [] {
                 return make<SNMP_PROBE_RESULT>(QUEUE_MAIN, 0, {{}, 7});
               },
               false});
  v.push_back({"list and set order",
               "03000000 00000000 00000000 00000000 03000000 02000000 05000000 07000000", [] {
                 return make<INIT_OK>(QUEUE_MAIN, 0, {{QUEUE_ALRM, QUEUE_DBMS, QUEUE_SNMP}});
               }});
  v.push_back({"id with 3 components",
               "38000000 00000000 00000000 00000000 03000000 01000000 02000000 03000000", [] {
                 return make<GET_HOST_CONFIGURED_STATE>(QUEUE_MAIN, 0, tql::id_t{1, 2, 3});
               }});
  v.push_back({"absent and present intervals",
               "21000000 00000000 00000000 00000000 02000000 04000000"
               " 00000000"
               " 02000000 0100000000000000 0200000000000000 0000003f 0000803f 00000040"
               " 03000000 04000000"
               " 03000000 05000000 06000000 07000000 0800000000000000 0900000000000000"
               " 01000000 01000000 0000000000000000 0a00000000000000",
               [] {
                 tsdb::Return_Get_Data_Data d;
                 d.data_type = 2;
                 d.data.emplace_back();
                 d.data.push_back(continuous(1, 2, 0.5f, 1.0f, 2.0f, 3, 4));
                 auto e = std::make_unique<tsdb::data_interval_enum_t>();
                 e->mask = 5, e->ngood = 6, e->nbad = 7, e->start = 8, e->end = 9;
                 d.data.push_back(std::move(e));
                 auto i = std::make_unique<tsdb::data_interval_incident_t>();
                 i->sev = 1, i->itime = 10;
                 d.data.push_back(std::move(i));
                 return make<RETURN_GET_DATA>(QUEUE_MAIN, 0, std::move(d));
               }});
  v.push_back({"nested scheduler events",
               "84000000 01000000 00000000 00000000 05000000 00000000"
               " 83000000 01000000 00000000 00000000 07000000 08000000"
               " 06000000 00000000 01000000 00000000 02000000",
               [] {
                 scheduler::Schedule_Event_Absolute_Data inner{
                     {7, 8}, make<REQUEST_SERVER_CONFIGURATION>(QUEUE_MAIN, 1, 2)};
                 return make<SCHEDULE_EVENT_RELATIVE>(
                     QUEUE_SCHD, 0,
                     {{5, 0}, make<SCHEDULE_EVENT_ABSOLUTE>(QUEUE_SCHD, 0, std::move(inner))});
               }});
  v.push_back({"property codes of no class read as absent values of 4 bytes",
               "58000000 00000000 00000000 00000000 01000000 09000000"
               " 0100000000000000 0200000000000000"
               " 03000000 1e000000 13000000 33000000 00000000 00000000 feffffff ffffffff"
               " 05000000 00000000",
               [] {
                 dbms::Tql_Update_Data d;
                 d.id = {9};
                 d.version = {1, 2};
                 d.properties.emplace_back();
                 d.properties.push_back(prop<19>(-2));
                 d.properties.emplace_back();
                 d.flags = 5;
                 return make<TQL_UPDATE>(QUEUE_MAIN, 0, std::move(d));
               },
               false});
  v.push_back({"same layout, different numbers",
               "55000000 02000000 00000000 00000000 01000000 09000000"
               " 0100000000000000 0200000000000000",
               [] {
                 return make<RETURN_TQL_SELECT_DELETE_PATCH>(QUEUE_DBMS, 0, {{9}, {1, 2}});
               }});
  v.push_back(
      {"big numbers padded to 4 bytes",
       "8d000000 00000000 00000000 00000000 0400000000000000 02010000"
       " 0500000000000000 0504030201",
       [] {
         return make<SHAREDKEYREPLY>(QUEUE_MAIN, 0, {BigNumber(0x0102), BigNumber(0x0102030405)});
       }});
  return v;
}

TEST(GoldenEvents, WriterProducesTheBytesAndEveryAreaSizeReadsThemBack) {
  for (const EventCase& c : eventCases()) {
    SCOPED_TRACE(c.name);
    std::string bytes = fromHex(c.hex);
    std::unique_ptr<event> expected = c.build();
    if (c.canonical) {
      for (size_t area : kWriteAreas)
        EXPECT_EQ(toHex(vxtest::encode(*expected, area)), toHex(bytes));
    }
    for (size_t area : kReadAreas) {
      SCOPED_TRACE("read area " + std::to_string(area));
      std::unique_ptr<event> got = vxtest::decode(bytes, area);
      ASSERT_TRUE(got->equals(*expected)) << eventText(*got) << eventText(*expected);
    }
  }
}

TEST(GoldenEvents, ExceptionRepliesReadAsNumber204) {
  auto got =
      vxtest::decode(fromHex("06000000 02000000 09000000 01000000 0500000000000000 6f6f707321"));
  EXPECT_EQ(got->type, MESSAGE_EXCEPTION);
  EXPECT_TRUE(got->exception);
  EXPECT_EQ(got->data, nullptr);
  EXPECT_EQ(static_cast<exevent&>(*got).message, "oops!");
  EXPECT_EQ(as<REQUEST_SERVER_CONFIGURATION>(*got), nullptr);
}

// Field codecs one by one, checked through a payload-free encoder.
struct CodecCase {
  std::string name;
  std::string hex;
  std::function<std::string(size_t area)> encode;
  std::function<bool(const std::string&, size_t area)> decodesBack;
};

template <typename T>
CodecCase codecCase(std::string name, T value, std::string hex) {
  CodecCase c{std::move(name), std::move(hex), {}, {}};
  c.encode = [value](size_t area) {
    protocol::MemoryOStream out(area);
    protocol::ioprim prim(nullptr, &out);
    Codec<T>::write(prim, value);
    prim.endWrite();
    return out.take();
  };
  c.decodesBack = [value](const std::string& bytes, size_t area) {
    vxtest::WaitingIStream in(bytes, area);
    protocol::ioprim prim(&in);
    T got{};
    Codec<T>::read(prim, got);
    return valueEqual(got, value) && in.left() == 0 && in.held() == 0;
  };
  return c;
}

const char kProp[] = "33000000 00000000 00000000 ";

std::vector<CodecCase> codecCases() {
  using tql::object_ref_t;
  std::vector<CodecCase> v;
  auto P = [](const char* code, const std::string& rest) {
    return std::string(code) + " " + kProp + rest;
  };
  v.push_back(codecCase("i32", int32_t{-2}, "feffffff"));
  v.push_back(codecCase("u32", uint32_t{0x01020304}, "04030201"));
  v.push_back(codecCase("u16 zero-extended", uint16_t{0x1234}, "34120000"));
  v.push_back(codecCase("bool false", false, "00000000"));
  v.push_back(codecCase("i64", int64_t{-2}, "feffffffffffffff"));
  v.push_back(codecCase("u64", uint64_t{0x0102030405060708}, "0807060504030201"));
  v.push_back(codecCase("double", 1.5, "000000000000f83f"));
  v.push_back(codecCase("float", 0.5f, "0000003f"));
  v.push_back(codecCase("queue", QUEUE_TSDB, "14000000"));
  v.push_back(codecCase("time value", TimeValue(-1, 500000), "ffffffff 20a10700"));
  v.push_back(
      codecCase("object version", tql::version_t{1, 2}, "0100000000000000 0200000000000000"));
  v.push_back(codecCase("empty string", std::string(), "0000000000000000"));
  v.push_back(codecCase("string", std::string("ab\0c", 4), "0400000000000000 61620063"));
  v.push_back(codecCase("byte vector", Bytes{0xde, 0xad}, "0200000000000000 dead"));
  v.push_back(codecCase("list", std::vector<std::string>{"x", ""},
                        "02000000 0100000000000000 78 0000000000000000"));
  v.push_back(codecCase("set ascending", std::set<uint32_t>{9, 1}, "02000000 01000000 09000000"));
  v.push_back(codecCase("map ascending keys", std::map<std::string, int32_t>{{"b", 2}, {"a", 1}},
                        "02000000 0100000000000000 61 01000000 0100000000000000 62 02000000"));
  v.push_back(codecCase("empty id", tql::id_t{}, "00000000"));
  v.push_back(codecCase("id", tql::id_t{7}, "01000000 07000000"));
  v.push_back(codecCase("big number zero", BigNumber(), "0400000000000000 00000000"));
  v.push_back(codecCase("absent property", tql::property_ptr(), "00000000"));
  v.push_back(codecCase("string property", prop<7>("ab"), P("07000000", "0200000000000000 6162")));
  v.push_back(codecCase("string list property", prop<8>({"a"}),
                        P("08000000", "01000000 0100000000000000 61")));
  v.push_back(codecCase("object set property", prop<9>({object_ref_t{{1}, {}, {2}, 4}}),
                        P("09000000",
                          "01000000 01000000 01000000 00000000 01000000 02000000 "
                          "04000000")));
  v.push_back(codecCase("object property", prop<10>(object_ref_t{{1, 2}, {}, {}, 3}),
                        P("0a000000", "02000000 01000000 02000000 00000000 00000000 03000000")));
  v.push_back(codecCase("version property", prop<11>({1, 2}),
                        P("0b000000", "0100000000000000 0200000000000000")));
  v.push_back(codecCase("action property", prop<12>(-1), P("0c000000", "ffffffff")));
  v.push_back(codecCase("real property", prop<13>(1.5), P("0d000000", "000000000000f83f")));
  v.push_back(codecCase("bignum property", prop<14>(BigNumber(0x010203)),
                        P("0e000000", "0400000000000000 03020100")));
  v.push_back(codecCase("gid property", prop<15>(0x0a0b0c0d), P("0f000000", "0d0c0b0a")));
  v.push_back(codecCase("gid list property", prop<16>({1, 2}),
                        P("10000000", "02000000 01000000 02000000")));
  v.push_back(codecCase("date property", prop<17>(1700000000), P("11000000", "00f1536500000000")));
  v.push_back(codecCase("index property", prop<18>(5), P("12000000", "05000000")));
  v.push_back(codecCase("int property", prop<19>(-2), P("13000000", "feffffff")));
  v.push_back(codecCase("uint property", prop<20>(7), P("14000000", "07000000")));
  v.push_back(codecCase("boolean property", prop<21>(true), P("15000000", "01000000")));
  v.push_back(
      codecCase("blob property", prop<22>({0xde, 0xad}), P("16000000", "0200000000000000 dead")));
  v.push_back(codecCase("lob property", prop<23>({}), P("17000000", "0000000000000000")));
  v.push_back(codecCase("oid property", prop<24>({1, 3, 6}),
                        P("18000000", "03000000 01000000 03000000 06000000")));
  v.push_back(codecCase("enum property", prop<25>({4, 2}), P("19000000", "04000000 02000000")));
  v.push_back(codecCase("null property keeps its value bytes", prop<19>(0, true, 2),
                        "13000000 33000000 01000000 02000000 00000000"));
  v.push_back(codecCase("absent interval", tsdb::interval_ptr(), "00000000"));
  v.push_back(codecCase("snmp statistic", tsdb::snmpcheck_stat_continuous{1, 2, 1.5, 5},
                        "0100000000000000 0200000000000000 000000000000f83f 05000000"));
  return v;
}

TEST(GoldenCodecs, EveryFieldKindWritesItsBytesAndReadsThemBackAtEveryAreaSize) {
  for (const CodecCase& c : codecCases()) {
    SCOPED_TRACE(c.name);
    std::string bytes = fromHex(c.hex);
    for (size_t area : kWriteAreas)
      EXPECT_EQ(toHex(c.encode(area)), toHex(bytes));
    for (size_t area : kReadAreas)
      EXPECT_TRUE(c.decodesBack(bytes, area)) << "area " << area;
  }
}

}  // namespace
