// Fills any payload with random contents, walking the same field lists as the codecs, so a
// round trip over the whole catalogue needs no per-structure code.
#pragma once

#include <cmath>
#include <random>

#include "queues/catalogue.h"

namespace vxtest {

struct Rng {
  std::mt19937_64 g;
  explicit Rng(uint64_t seed) : g(seed) {}
  uint64_t bits() { return g(); }
  size_t below(size_t n) { return static_cast<size_t>(g() % n); }
};

template <typename T, typename Enable = void>
struct Filler;

template <typename T>
void fill(T& v, Rng& r, int depth) {
  Filler<T>::fill(v, r, depth);
}

template <typename T>
requires std::is_integral_v<T>
struct Filler<T> {
  static void fill(T& v, Rng& r, int) {
    if constexpr (std::is_same_v<T, bool>) {
      v = r.bits() & 1;
    } else {
      v = static_cast<T>(r.bits());
    }
  }
};

template <typename T>
requires std::is_enum_v<T>
struct Filler<T> {
  static void fill(T& v, Rng& r, int) { v = static_cast<T>(static_cast<int>(r.below(30)) - 1); }
};

// Finite values only: NaN never compares equal to itself.
template <typename T>
requires std::is_floating_point_v<T>
struct Filler<T> {
  static void fill(T& v, Rng& r, int) { v = static_cast<T>(static_cast<int32_t>(r.bits()) / 64.0); }
};

template <>
struct Filler<TimeValue> {
  static void fill(TimeValue& v, Rng& r, int) {
    v = TimeValue(static_cast<int32_t>(r.bits() % 2000000000),
                  static_cast<int32_t>(r.below(1000000)));
  }
};

template <>
struct Filler<std::string> {
  static void fill(std::string& v, Rng& r, int) {
    v.resize(r.below(12));
    for (char& c : v)
      c = static_cast<char>(r.bits());
  }
};

template <typename A, typename B>
struct Filler<std::pair<A, B>> {
  static void fill(std::pair<A, B>& v, Rng& r, int d) {
    vxtest::fill(v.first, r, d);
    vxtest::fill(v.second, r, d);
  }
};

// Containers shrink with depth so recursive structures stay small.
inline size_t containerSize(Rng& r, int depth) {
  return depth > 3 ? 0 : r.below(4);
}

template <typename T>
struct Filler<std::vector<T>> {
  static void fill(std::vector<T>& v, Rng& r, int d) {
    v.resize(containerSize(r, d));
    for (T& e : v)
      vxtest::fill(e, r, d + 1);
  }
};

template <typename T>
struct Filler<std::set<T>> {
  static void fill(std::set<T>& v, Rng& r, int d) {
    for (size_t n = containerSize(r, d); n > 0; --n) {
      T e{};
      vxtest::fill(e, r, d + 1);
      v.insert(std::move(e));
    }
  }
};

template <typename K, typename V>
struct Filler<std::map<K, V>> {
  static void fill(std::map<K, V>& v, Rng& r, int d) {
    for (size_t n = containerSize(r, d); n > 0; --n) {
      K k{};
      vxtest::fill(k, r, d + 1);
      vxtest::fill(v[k], r, d + 1);
    }
  }
};

template <>
struct Filler<tql::id_t> {
  static void fill(tql::id_t& v, Rng& r, int) {
    v.resize(r.below(4));
    for (size_t i = 0; i < v.size(); ++i)
      v[i] = static_cast<uint32_t>(r.bits());
  }
};

template <>
struct Filler<BigNumber> {
  static void fill(BigNumber& v, Rng& r, int) {
    std::vector<uint8_t> b(r.below(40));
    for (auto& x : b)
      x = static_cast<uint8_t>(r.bits());
    v = BigNumber::fromLittleEndian(b.data(), b.size());
  }
};

template <wire::Structure T>
struct Filler<T> {
  static void fill(T& v, Rng& r, int d) {
    wire::forEachField<T>([&](const auto& fd) { vxtest::fill(fd.get(v), r, d + 1); });
    if constexpr (wire::SelfChecking<T>) {
      v.start = 1 + static_cast<int64_t>(r.below(1000));
      v.end = v.start + static_cast<int64_t>(r.below(1000));
      v.status = static_cast<uint32_t>(r.below(tsdb::kStatusCount));
    }
  }
};

template <uint32_t Code>
tql::property_ptr randomProperty(Rng& r, int d) {
  auto p = std::make_unique<tql::property_value_t<Code>>();
  vxtest::fill(p->name, r, d);
  vxtest::fill(p->is_null, r, d);
  vxtest::fill(p->modifiers, r, d);
  vxtest::fill(p->value, r, d + 1);
  return p;
}

template <>
struct Filler<tql::property_ptr> {
  template <uint32_t... I>
  static tql::property_ptr pick(uint32_t code, Rng& r, int d,
                                std::integer_sequence<uint32_t, I...>) {
    tql::property_ptr p;
    ((code == I + tql::kFirstPropertyCode
          ? (p = randomProperty<I + tql::kFirstPropertyCode>(r, d), 0)
          : 0),
     ...);
    return p;
  }
  static void fill(tql::property_ptr& v, Rng& r, int d) {
    auto code =
        static_cast<uint32_t>(r.below(tql::kLastPropertyCode - tql::kFirstPropertyCode + 2));
    v = pick(code + tql::kFirstPropertyCode, r, d,
             std::make_integer_sequence<uint32_t,
                                        tql::kLastPropertyCode - tql::kFirstPropertyCode + 1>());
  }
};

template <>
struct Filler<tsdb::interval_ptr> {
  template <typename I>
  static tsdb::interval_ptr make(Rng& r, int d) {
    auto p = std::make_unique<I>();
    vxtest::fill(static_cast<I&>(*p), r, d);
    return p;
  }
  static void fill(tsdb::interval_ptr& v, Rng& r, int d) {
    switch (r.below(4)) {
      case 0:
        v = nullptr;
        break;
      case 1:
        v = make<tsdb::data_interval_incident_t>(r, d);
        break;
      case 2:
        v = make<tsdb::data_interval_continuous_t>(r, d);
        break;
      default:
        v = make<tsdb::data_interval_enum_t>(r, d);
        break;
    }
  }
};

// A random event of the number given; scheduler events nest a smaller random event.
std::unique_ptr<queues::event> randomEvent(queues::event_t n, Rng& r, int depth = 0);

template <>
struct Filler<queues::event_ptr> {
  static void fill(queues::event_ptr& v, Rng& r, int d) {
    // Nest another scheduler event now and then, then a plain one.
    queues::event_t n = d < 12 && r.below(3) == 0 ? queues::SCHEDULE_EVENT_ABSOLUTE
                                                  : queues::event_t(1 + r.below(130));
    v = randomEvent(n, r, d + 4);
  }
};

}  // namespace vxtest
