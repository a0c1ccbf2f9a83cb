// One golden byte string for every payload structure of the catalogue, in
// data/payload_goldens.txt. The strings were worked out from the structures' field lists and
// field kinds alone, with a fill rule simple enough to apply by hand: each top-level field is
// tagged with the first byte of its name and the byte sum of its name, and every value inside
// it carries that tag and its own running number k (0, 1, ...), so a field written out of
// order, or with the wrong width, changes the bytes:
//
//   4 bytes (integers, enumerations, queues, floats)   first sum k 00
//   8 bytes (integers, doubles)                         first sum k 00 00 00 00 00
//   u16                                                 first sum 00 00
//   bool                                                01000000 when first + k is odd
//   string, byte vector                                 3 bytes: first sum k
//   tql::id_t                                           one component (4 bytes as above)
//   BigNumber                                           its 4 bytes: first sum k 00
//   property value                                      int property, name k, value k + 1
//   data interval                                       absent (tested on its own elsewhere)
//   nested event                                        REQUEST_SERVER_CONFIGURATION, payload k
//   list, set, map                                      one element (or entry) down to two
//                                                       levels of containers, empty below
//   snmp check statistics                               start 1, end 2, status 3 (valid)
//
// Each golden is written by the encoder and read back through every read-area size.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "queues/catalogue.h"
#include "stream_pair.h"

namespace {

using namespace queues;

struct Tag {
  uint8_t first = 0;
  uint8_t sum = 0;
  uint8_t k = 0;

  explicit Tag(const char* name) {
    first = static_cast<uint8_t>(name[0]);
    for (const char* c = name; *c != '\0'; ++c)
      sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(*c));
  }
  // The next value's bytes, `width` of them.
  template <typename T>
  T next() {
    uint8_t bytes[sizeof(T)] = {first, sum, k++};
    T v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
  }
};

template <typename T, typename Enable = void>
struct Fill;

template <typename T>
void fill(T& v, Tag& t, int depth) {
  Fill<T>::fill(v, t, depth);
}

template <typename T>
requires(std::is_arithmetic_v<T> || std::is_enum_v<T>) && (sizeof(T) == 4 || sizeof(T) == 8) &&
    (!std::is_same_v<T, bool>)struct Fill<T> {
  static void fill(T& v, Tag& t, int) { v = t.next<T>(); }
};

template <>
struct Fill<bool> {
  static void fill(bool& v, Tag& t, int) { v = (t.first + t.k++) % 2 == 1; }
};

template <>
struct Fill<uint16_t> {
  static void fill(uint16_t& v, Tag& t, int) {
    v = static_cast<uint16_t>(t.first | t.sum << 8);
    ++t.k;
  }
};

template <>
struct Fill<TimeValue> {
  static void fill(TimeValue& v, Tag& t, int) {
    v.sec = t.next<int32_t>();
    v.usec = t.next<int32_t>();
  }
};

template <>
struct Fill<std::string> {
  static void fill(std::string& v, Tag& t, int) {
    v = {static_cast<char>(t.first), static_cast<char>(t.sum), static_cast<char>(t.k++)};
  }
};

template <>
struct Fill<wire::Bytes> {
  static void fill(wire::Bytes& v, Tag& t, int) { v = {t.first, t.sum, t.k++}; }
};

template <>
struct Fill<tql::id_t> {
  static void fill(tql::id_t& v, Tag& t, int) { v = {t.next<uint32_t>()}; }
};

template <>
struct Fill<BigNumber> {
  static void fill(BigNumber& v, Tag& t, int) { v = BigNumber(t.next<uint32_t>()); }
};

template <>
struct Fill<tql::property_ptr> {
  static void fill(tql::property_ptr& v, Tag& t, int) {
    uint32_t name = t.next<uint32_t>();
    v = std::make_unique<tql::property_int_t>(name, t.next<int32_t>());
  }
};

template <>
struct Fill<tsdb::interval_ptr> {
  static void fill(tsdb::interval_ptr& v, Tag&, int) { v = nullptr; }
};

template <>
struct Fill<event_ptr> {
  static void fill(event_ptr& v, Tag& t, int) {
    v = std::make_unique<ev<REQUEST_SERVER_CONFIGURATION>>(QUEUE_MAIN, 0, t.next<int32_t>());
  }
};

template <typename A, typename B>
struct Fill<std::pair<A, B>> {
  static void fill(std::pair<A, B>& v, Tag& t, int depth) {
    ::fill(v.first, t, depth);
    ::fill(v.second, t, depth);
  }
};

template <typename T>
struct Fill<std::vector<T>> {
  static void fill(std::vector<T>& v, Tag& t, int depth) {
    v.clear();
    if (depth < 2) ::fill(v.emplace_back(), t, depth + 1);
  }
};

template <typename T>
struct Fill<std::set<T>> {
  static void fill(std::set<T>& v, Tag& t, int depth) {
    v.clear();
    if (depth >= 2) return;
    T e{};
    ::fill(e, t, depth + 1);
    v.insert(std::move(e));
  }
};

template <typename K, typename V>
struct Fill<std::map<K, V>> {
  static void fill(std::map<K, V>& v, Tag& t, int depth) {
    v.clear();
    if (depth >= 2) return;
    K key{};
    ::fill(key, t, depth + 1);
    ::fill(v[key], t, depth + 1);
  }
};

// A nested structure: its fields carry on with the tag of the top-level field it is in.
template <wire::Structure T>
struct Fill<T> {
  static void fill(T& v, Tag& t, int depth) {
    wire::forEachField<T>([&](const auto& fd) { ::fill(fd.get(v), t, depth); });
    if constexpr (wire::SelfChecking<T>) {
      v.start = 1;
      v.end = 2;
      v.status = 3;
    }
  }
};

// The payload: each top-level field gets its own tag.
template <typename T>
void fillPayload(T& payload) {
  wire::forEachField<T>([&](const auto& fd) {
    Tag t(fd.name);
    ::fill(fd.get(payload), t, 0);
  });
}

using Filled = std::map<event_t, std::function<std::unique_ptr<event>()>>;

template <event_t N>
void addFilled(Filled& out) {
  if constexpr (wire::Structure<payload_t<N>>) {
    out[N] = [] {
      auto e = std::make_unique<ev<N>>(QUEUE_MAIN, 0);
      fillPayload(e->payload);
      return std::unique_ptr<event>(std::move(e));
    };
  }
}

// Event number -> the event with its payload filled, for every structure payload.
Filled filledEvents() {
  Filled out;
#define VX_FILLED(n, name, T) addFilled<n>(out);
  VX_EVENT_CATALOGUE(VX_FILLED)
#undef VX_FILLED
  return out;
}

struct Golden {
  event_t number;
  std::string name;
  std::string hex;
};

std::vector<Golden> loadGoldens() {
  std::ifstream in(std::string(VX_SOURCE_DIR) + "/tests/queues/data/payload_goldens.txt");
  std::vector<Golden> out;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Golden g;
    fields >> g.number >> g.name;
    std::getline(fields, g.hex);
    out.push_back(g);
  }
  return out;
}

TEST(PayloadGoldens, EveryStructureWritesItsBytesAndEveryAreaSizeReadsThemBack) {
  const auto events = filledEvents();
  const std::vector<Golden> goldens = loadGoldens();
  std::set<event_t> covered;
  for (const Golden& g : goldens) {
    SCOPED_TRACE(g.name);
    ASSERT_EQ(eventName(g.number), g.name);
    ASSERT_EQ(events.count(g.number), 1u) << "no structure payload";
    covered.insert(g.number);
    char header[40];
    std::snprintf(header, sizeof header, "%08x", __builtin_bswap32(g.number));
    const std::string bytes =
        vxtest::fromHex(header + std::string("000000000000000000000000") + g.hex);
    std::unique_ptr<event> expected = events.at(g.number)();
    EXPECT_EQ(vxtest::toHex(vxtest::encode(*expected)), vxtest::toHex(bytes));
    for (size_t area : {1, 2, 3, 5, 7, 13, 32, 1024}) {
      std::unique_ptr<event> got = vxtest::decode(bytes, area);
      ASSERT_TRUE(got->equals(*expected)) << "read area " << area << "\n" << eventText(*got);
    }
  }
  // Every structure of the catalogue has its golden.
  for (const auto& [n, make] : events)
    EXPECT_EQ(covered.count(n), 1u) << eventName(n);
}

}  // namespace
