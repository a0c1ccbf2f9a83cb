#include "tql/property_types.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "tql/errors.h"
#include "tql/names.h"

namespace tql {

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  return s;
}

// Three-way results are -2, 0 or 2; strings that differ only in letter case give -1 or 1, so
// the case-blind operators can accept them.
template <typename T>
int threeWay(const T& a, const T& b) {
  return a < b ? -2 : (b < a ? 2 : 0);
}

int threeWay(const std::string& a, const std::string& b) {
  if (a == b) return 0;
  int sign = a.compare(b) < 0 ? -1 : 1;
  return lower(a) == lower(b) ? sign : 2 * sign;
}

// Lists of 32-bit values: the shorter is less, then element by element.
int threeWay(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -2 : 2;
  return a < b ? -2 : (b < a ? 2 : 0);
}

int threeWay(const enum_value_t& a, const enum_value_t& b) {
  return threeWay(a.value, b.value);
}

bool evaluate(uint32_t op, int c) {
  switch (op) {
    case OP_EQUAL:
      return c == 0;
    case OP_GREATER:
      return c > 0;
    case OP_LESS:
      return c < 0;
    case OP_GREATER_EQUAL:
      return c >= 0;
    case OP_LESS_EQUAL:
      return c <= 0;
    case OP_NOT_EQUAL:
      return c != 0;
    case OP_EQUAL_NOCASE:
      return c >= -1 && c <= 1;
    case OP_NOT_EQUAL_NOCASE:
      return c == -2 || c == 2;
  }
  throw errors::tql_incomparable("Unknown relative operator");
}

std::string refText(const object_ref_t& r) {
  return "(id " + r.id.toString() + ", domain " + r.domain_id.toString() + ", user " +
         r.user_id.toString() + ", type " + std::to_string(r.type) + ")";
}

template <typename C, typename F>
std::string braced(const C& c, F text) {
  std::string s = "{";
  for (const auto& e : c)
    s += (s.size() > 1 ? ", " : "") + text(e);
  return s + "}";
}

template <uint32_t Code, typename V>
std::string valueText(const V& v) {
  if constexpr (Code == 7) {
    return "\"" + v + "\"";
  } else if constexpr (Code == 8) {
    return braced(v, [](const std::string& e) { return "\"" + e + "\""; });
  } else if constexpr (Code == 9) {
    return braced(v, refText);
  } else if constexpr (Code == 10) {
    return refText(v);
  } else if constexpr (Code == 11) {
    return "(" + std::to_string(v.first) + ", " + std::to_string(v.second) + ")";
  } else if constexpr (Code == 12) {
    return "(null)";
  } else if constexpr (Code == 13) {
    std::ostringstream os;
    os << v;
    return os.str();
  } else if constexpr (Code == 14) {
    return v.toHex();
  } else if constexpr (Code == 15) {
    // Most significant byte first, as the grid identifier is usually written.
    char buf[12];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x", v >> 24, (v >> 16) & 0xff,
                  (v >> 8) & 0xff, v & 0xff);
    return buf;
  } else if constexpr (Code == 16) {
    return braced(v, [](uint32_t e) { return std::to_string(e); });
  } else if constexpr (Code == 21) {
    return v ? "true" : "false";
  } else if constexpr (Code == 22) {
    return "BLOB";
  } else if constexpr (Code == 23) {
    return "LOB";
  } else if constexpr (Code == 24) {
    std::string s;
    for (uint32_t e : v)
      s += (s.empty() ? "" : ".") + std::to_string(e);
    return s;
  } else if constexpr (Code == 25) {
    return "enum(" + std::to_string(v.enumeration) + ", " + std::to_string(v.value) + ")";
  } else {
    return std::to_string(v);
  }
}

}  // namespace

template <uint32_t Code>
std::string property_value_t<Code>::toString() const {
  if (is_null) return "null";
  return valueText<Code>(value);
}

template <uint32_t Code>
std::string property_value_t<Code>::typeName() const {
  if constexpr (Code == 25) {
    return "enum " + std::to_string(value.enumeration);
  } else {
    return PropertyTraits<Code>::kTypeName;
  }
}

template <uint32_t Code>
bool property_value_t<Code>::compare(uint32_t op, const property_t& other) const {
  if (other.typeCode() != Code) {
    throw errors::tql_incomparable(std::string("Type mismatch, ") +
                                   PropertyTraits<Code>::kTypeWord + " != type of " +
                                   propertyName(other.name));
  }
  const auto& o = static_cast<const property_value_t&>(other);
  if constexpr (Code == 25) {
    if (value.enumeration != o.value.enumeration) {
      throw errors::tql_incomparable("Type mismatch, enum (" + std::to_string(value.enumeration) +
                                     ") != enum (" + std::to_string(o.value.enumeration) + ") of " +
                                     propertyName(o.name));
    }
  }
  if constexpr (Code == 7) {
    if (op == OP_CONTAINS && !is_null && !o.is_null) {
      return lower(value).find(lower(o.value)) != std::string::npos;
    }
  }
  int c;
  if (is_null) {
    c = o.is_null ? 0 : -2;
  } else if (o.is_null) {
    c = 2;
  } else {
    c = threeWay(value, o.value);
  }
  return evaluate(op, c);
}

#define VX_PROPERTY_INSTANCE(code, id, T, tname, word) template class property_value_t<code>;
VX_PROPERTY_TYPES(VX_PROPERTY_INSTANCE)
#undef VX_PROPERTY_INSTANCE

std::unique_ptr<property_t> makeProperty(uint32_t type_code) {
  switch (type_code) {
#define VX_PROPERTY_MAKE(code, id, T, tname, word) \
  case code:                                       \
    return std::make_unique<property_value_t<code>>();
    VX_PROPERTY_TYPES(VX_PROPERTY_MAKE)
#undef VX_PROPERTY_MAKE
  }
  return nullptr;
}

}  // namespace tql

namespace wire {

void Codec<tql::property_ptr>::write(protocol::ioprim& io, const tql::property_ptr& v) {
  if (!v) {
    detail::putRaw<uint32_t>(io, 0);
    return;
  }
  detail::putRaw<uint32_t>(io, v->typeCode());
  detail::putRaw<uint32_t>(io, v->name);
  Codec<bool>::write(io, v->is_null);
  detail::putRaw<uint32_t>(io, v->modifiers);
  v->writeValue(io);
}

void Codec<tql::property_ptr>::read(protocol::ioprim& io, tql::property_ptr& v) {
  // A code of no property class (0 included) is an absent value: only its 4 bytes are read,
  // and the field after it follows.
  std::unique_ptr<tql::property_t> p = tql::makeProperty(detail::getRaw<uint32_t>(io));
  if (!p) {
    v = nullptr;
    return;
  }
  p->name = detail::getRaw<uint32_t>(io);
  Codec<bool>::read(io, p->is_null);
  p->modifiers = detail::getRaw<uint32_t>(io);
  p->readValue(io);
  v = std::move(p);
}

void Codec<tql::property_ptr>::print(std::ostream& os, const tql::property_ptr& v, int) {
  if (!v) {
    os << "(absent)\n";
    return;
  }
  os << tql::propertyName(v->name) << " (" << v->typeName() << ") = " << v->toString();
  if (v->modifiers != 0) os << " modifiers " << v->modifiers;
  os << '\n';
}

}  // namespace wire
