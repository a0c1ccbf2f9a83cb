// Field codecs: how every kind of payload field is written, read and printed. Each kind is
// one specialisation of Codec<T>:
//   write(ioprim&, const T&)       the wire bytes
//   read(ioprim&, T&)              the inverse; bad input raises error::Exception
//   print(ostream&, const T&, j)   the text form at the cursor, ending with a line end;
//                                  nested lines are indented for level j + 1
//   kMinSize                       the fewest wire bytes a value can take, so that a count
//                                  can be checked against the bytes left before reading
// Structures are walked through their field lists (fields.h); nothing is written between
// fields.
#pragma once

#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "error/assert.h"
#include "util/time_value.h"
#include "wire/fields.h"
#include "wire/ioprim.h"

namespace wire {

using Bytes = std::vector<uint8_t>;

// The indent string of level j: 2j blanks.
inline std::string indent(int level) {
  return std::string(static_cast<size_t>(2 * level), ' ');
}
// The string in double quotes with C escapes; other bytes outside the printable range as a
// backslash and three octal digits.
std::string quoteString(const std::string& s);
// "%a %b %d %H:%M:%S %Y" of the seconds, local time.
std::string calendarTime(const TimeValue& t);
// Text form of a TimeValue that measures a duration ("0.500000").
void printDuration(std::ostream& os, const TimeValue& t, int level);

template <typename T, typename Enable = void>
struct Codec;

// Fixed-size values are copied as the host stores them; the event format is little-endian.
static_assert(std::endian::native == std::endian::little,
              "event fields are written and read in host order");

namespace detail {
template <typename T>
void putRaw(protocol::ioprim& io, T v) {
  io.writePrimitive(sizeof(T), &v);
}
template <typename T>
T getRaw(protocol::ioprim& io) {
  T v;
  io.readField(sizeof(T), &v);
  return v;
}
// Reads a container count: signed on the wire, below 1 means empty.
uint32_t readCount(protocol::ioprim& io, size_t min_element_size);
// Reads a string or byte-vector length and checks it against the bounds.
size_t readLength(protocol::ioprim& io);
}  // namespace detail

// 4- and 8-byte integers and enumerations, as stored.
template <typename T>
requires(std::is_integral_v<T> && (sizeof(T) == 4 || sizeof(T) == 8)) ||
    (std::is_enum_v<T> && sizeof(T) == 4) struct Codec<T> {
  static constexpr size_t kMinSize = sizeof(T);
  static void write(protocol::ioprim& io, const T& v) { detail::putRaw(io, v); }
  static void read(protocol::ioprim& io, T& v) { v = detail::getRaw<T>(io); }
  static void print(std::ostream& os, const T& v, int) {
    if constexpr (std::is_enum_v<T>) {
      os << static_cast<int64_t>(v) << '\n';
    } else {
      os << v << '\n';
    }
  }
};

// Floating point: the IEEE-754 bits.
template <typename T>
requires std::is_floating_point_v<T>
struct Codec<T> {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8);
  static constexpr size_t kMinSize = sizeof(T);
  static void write(protocol::ioprim& io, const T& v) { detail::putRaw(io, v); }
  static void read(protocol::ioprim& io, T& v) { v = detail::getRaw<T>(io); }
  static void print(std::ostream& os, const T& v, int) { os << v << '\n'; }
};

// 16 bits travel zero-extended in 4 bytes; the reader keeps the low 16.
template <>
struct Codec<uint16_t> {
  static constexpr size_t kMinSize = 4;
  static void write(protocol::ioprim& io, const uint16_t& v) { detail::putRaw<uint32_t>(io, v); }
  static void read(protocol::ioprim& io, uint16_t& v) {
    v = static_cast<uint16_t>(detail::getRaw<uint32_t>(io));
  }
  static void print(std::ostream& os, const uint16_t& v, int) { os << v << '\n'; }
};

// A bool is 4 bytes, 1 or 0; any non-zero word reads as true.
template <>
struct Codec<bool> {
  static constexpr size_t kMinSize = 4;
  static void write(protocol::ioprim& io, const bool& v) { detail::putRaw<uint32_t>(io, v); }
  static void read(protocol::ioprim& io, bool& v) { v = detail::getRaw<uint32_t>(io) != 0; }
  static void print(std::ostream& os, const bool& v, int) { os << (v ? "true" : "false") << '\n'; }
};

template <>
struct Codec<TimeValue> {
  static constexpr size_t kMinSize = 8;
  static void write(protocol::ioprim& io, const TimeValue& v) {
    detail::putRaw(io, v.sec);
    detail::putRaw(io, v.usec);
  }
  static void read(protocol::ioprim& io, TimeValue& v) {
    v.sec = detail::getRaw<int32_t>(io);
    v.usec = detail::getRaw<int32_t>(io);
  }
  static void print(std::ostream& os, const TimeValue& v, int) { os << calendarTime(v) << '\n'; }
};

// Text form of a value on one line, without the line end (map keys, pairs).
template <typename T>
std::string inlineText(const T& v);

template <typename A, typename B>
struct Codec<std::pair<A, B>> {
  static constexpr size_t kMinSize = Codec<A>::kMinSize + Codec<B>::kMinSize;
  static void write(protocol::ioprim& io, const std::pair<A, B>& v) {
    Codec<A>::write(io, v.first);
    Codec<B>::write(io, v.second);
  }
  static void read(protocol::ioprim& io, std::pair<A, B>& v) {
    Codec<A>::read(io, v.first);
    Codec<B>::read(io, v.second);
  }
  static void print(std::ostream& os, const std::pair<A, B>& v, int) {
    os << '(' << inlineText(v.first) << ", " << inlineText(v.second) << ")\n";
  }
};

// Strings: u64 length, then the bytes.
template <>
struct Codec<std::string> {
  static constexpr size_t kMinSize = 8;
  static void write(protocol::ioprim& io, const std::string& v) {
    detail::putRaw<uint64_t>(io, v.size());
    io.writeField(v.size(), v.data());
  }
  static void read(protocol::ioprim& io, std::string& v) {
    size_t n = detail::readLength(io);
    if (io.readWhole(n, v)) return;
    std::string s;
    io.readAppend(n, s);
    v = std::move(s);
  }
  static void print(std::ostream& os, const std::string& v, int) { os << quoteString(v) << '\n'; }
};

// Byte vectors: as strings; printed as hexadecimal between angle brackets.
template <>
struct Codec<Bytes> {
  static constexpr size_t kMinSize = 8;
  static void write(protocol::ioprim& io, const Bytes& v) {
    detail::putRaw<uint64_t>(io, v.size());
    io.writeField(v.size(), v.data());
  }
  static void read(protocol::ioprim& io, Bytes& v) {
    size_t n = detail::readLength(io);
    if (io.readWhole(n, v)) return;
    std::string s;
    io.readAppend(n, s);
    v.assign(s.begin(), s.end());
  }
  static void print(std::ostream& os, const Bytes& v, int);
};

namespace detail {
template <typename C>
void printElements(std::ostream& os, const char* kind, const C& c, int level) {
  os << kind << " {\n";
  for (const auto& e : c) {
    os << indent(level + 1);
    Codec<std::decay_t<decltype(e)>>::print(os, e, level + 1);
  }
  os << indent(level) << "}\n";
}
}  // namespace detail

// Lists: u32 count, then the elements.
template <typename T>
requires(!std::is_same_v<T, uint8_t>) struct Codec<std::vector<T>> {
  static constexpr size_t kMinSize = 4;
  static void write(protocol::ioprim& io, const std::vector<T>& v) {
    detail::putRaw<uint32_t>(io, static_cast<uint32_t>(v.size()));
    for (const T& e : v)
      Codec<T>::write(io, e);
  }
  static void read(protocol::ioprim& io, std::vector<T>& v) {
    v.clear();
    uint32_t n = detail::readCount(io, Codec<T>::kMinSize);
    // No reserve: memory grows with the elements actually read, not with the count claimed.
    for (uint32_t i = 0; i < n; ++i) {
      T e{};
      Codec<T>::read(io, e);
      v.push_back(std::move(e));
    }
  }
  static void print(std::ostream& os, const std::vector<T>& v, int level) {
    detail::printElements(os, "list", v, level);
  }
};

// Sets: in ascending order.
template <typename T>
struct Codec<std::set<T>> {
  static constexpr size_t kMinSize = 4;
  static void write(protocol::ioprim& io, const std::set<T>& v) {
    detail::putRaw<uint32_t>(io, static_cast<uint32_t>(v.size()));
    for (const T& e : v)
      Codec<T>::write(io, e);
  }
  static void read(protocol::ioprim& io, std::set<T>& v) {
    v.clear();
    uint32_t n = detail::readCount(io, Codec<T>::kMinSize);
    for (uint32_t i = 0; i < n; ++i) {
      T e{};
      Codec<T>::read(io, e);
      v.insert(std::move(e));
    }
  }
  static void print(std::ostream& os, const std::set<T>& v, int level) {
    detail::printElements(os, "set", v, level);
  }
};

// Maps: u32 count, then key and value of each entry in ascending key order.
template <typename K, typename V>
struct Codec<std::map<K, V>> {
  static constexpr size_t kMinSize = 4;
  static void write(protocol::ioprim& io, const std::map<K, V>& v) {
    detail::putRaw<uint32_t>(io, static_cast<uint32_t>(v.size()));
    for (const auto& [k, e] : v) {
      Codec<K>::write(io, k);
      Codec<V>::write(io, e);
    }
  }
  static void read(protocol::ioprim& io, std::map<K, V>& v) {
    v.clear();
    uint32_t n = detail::readCount(io, Codec<K>::kMinSize + Codec<V>::kMinSize);
    for (uint32_t i = 0; i < n; ++i) {
      K k{};
      V e{};
      Codec<K>::read(io, k);
      Codec<V>::read(io, e);
      v.insert_or_assign(std::move(k), std::move(e));
    }
  }
  static void print(std::ostream& os, const std::map<K, V>& v, int level) {
    os << "map {\n";
    for (const auto& [k, e] : v) {
      os << indent(level + 1) << inlineText(k) << " => ";
      Codec<V>::print(os, e, level + 1);
    }
    os << indent(level) << "}\n";
  }
};

// Structures: their fields in declaration order.
template <typename T, typename F>
void printField(std::ostream& os, const T& v, const F& fd, int level) {
  using M = typename F::Type;
  os << indent(level) << fd.name << ": ";
  if (fd.printer != nullptr) {
    fd.printer(os, F::get(v), level);
  } else {
    Codec<M>::print(os, F::get(v), level);
  }
}

// Each field on its own line at `level`: "name: value".
template <Structure T>
void printFields(std::ostream& os, const T& v, int level) {
  forEachField<T>([&](const auto& fd) { printField(os, v, fd, level); });
}

// Structures that check their own validity on every write (a broken invariant of the writer)
// and read (bad input from the peer).
template <typename T>
concept SelfChecking = requires(const T& v) {
  { v.valid() } -> std::same_as<bool>;
  { v.statText() } -> std::convertible_to<std::string>;
  T::kCheckedName;
};

template <Structure T>
struct Codec<T> {
  static constexpr size_t minSize() {
    size_t n = 0;
    forEachField<T>(
        [&](const auto& fd) { n += Codec<typename std::decay_t<decltype(fd)>::Type>::kMinSize; });
    return n;
  }
  static constexpr size_t kMinSize = minSize();
  static void write(protocol::ioprim& io, const T& v) {
    if constexpr (SelfChecking<T>) {
      VX_ASSERT(v.valid(), "Trying to output invalid ", T::kCheckedName, " (", v.statText(), ")");
    }
    forEachField<T>([&](const auto& fd) {
      using M = typename std::decay_t<decltype(fd)>::Type;
      Codec<M>::write(io, fd.get(v));
    });
  }
  static void read(protocol::ioprim& io, T& v) {
    protocol::ioprim::StructLevel level(io);
    forEachField<T>([&](const auto& fd) {
      using M = typename std::decay_t<decltype(fd)>::Type;
      Codec<M>::read(io, fd.get(v));
    });
    if constexpr (SelfChecking<T>) {
      if (!v.valid()) {
        throw protocol::EBadInput(std::string("Trying to input invalid ") + T::kCheckedName + " (" +
                                  v.statText() + ")");
      }
    }
  }
  static void print(std::ostream& os, const T& v, int level) {
    os << "{\n";
    printFields(os, v, level + 1);
    os << indent(level) << "}\n";
  }
};

// Equality of payload values: structures compare field by field (whether or not they declare
// operator== themselves), everything else with ==.
template <typename T>
bool valueEqual(const T& a, const T& b) {
  if constexpr (Structure<T>) {
    return fieldsEqual(a, b);
  } else {
    return a == b;
  }
}

template <typename T>
bool fieldsEqual(const T& a, const T& b) {
  bool eq = true;
  forEachField<T>([&](const auto& fd) { eq = eq && valueEqual(fd.get(a), fd.get(b)); });
  return eq;
}

template <typename T>
std::string inlineText(const T& v) {
  std::ostringstream os;
  Codec<T>::print(os, v, 0);
  std::string s = os.str();
  if (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

// Payload text form: a structure prints its fields at `level`, anything else its value at
// the cursor.
template <typename T>
void printPayloadText(std::ostream& os, const T& v, int level) {
  if constexpr (Structure<T>) {
    printFields(os, v, level);
  } else {
    Codec<T>::print(os, v, level);
  }
}

}  // namespace wire
