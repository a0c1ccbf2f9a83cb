// The concrete property value classes, declared once as a table and expanded into classes
// (tql::property_string_t, ...), the factory and the type names.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "tql/big_number.h"
#include "tql/id.h"
#include "tql/property.h"

namespace tql {

// Object versions travel as a pair of 64-bit values.
using version_t = std::pair<uint64_t, uint64_t>;

// A reference to an object as property values hold it.
struct object_ref_t {
  id_t id;
  id_t domain_id;
  id_t user_id;
  uint32_t type = 0;
  VX_FIELDS(object_ref_t, id, domain_id, user_id, type)
  friend auto operator<=>(const object_ref_t& a, const object_ref_t& b) {
    return std::tie(a.id, a.domain_id, a.user_id, a.type) <=>
           std::tie(b.id, b.domain_id, b.user_id, b.type);
  }
};

struct enum_value_t {
  uint32_t enumeration = 0;
  uint32_t value = 0;
  VX_FIELDS(enum_value_t, enumeration, value)
};

// X(code, class suffix, value type, type name, type word of comparison messages)
#define VX_PROPERTY_TYPES(X)                                                \
  X(7, string, std::string, "string", "string")                             \
  X(8, string_list, std::vector<std::string>, "string list", "string_list") \
  X(9, object_set, std::set<object_ref_t>, "object set", "object_set")      \
  X(10, object, object_ref_t, "object", "object")                           \
  X(11, version, version_t, "version", "object")                            \
  X(12, action, int32_t, "action", "action")                                \
  X(13, real, double, "real", "real")                                       \
  X(14, bignum, BigNumber, "bignum", "bignum")                              \
  X(15, gid, uint32_t, "uint32", "GID")                                     \
  X(16, gid_list, std::vector<uint32_t>, "uint32 list", "GIDList")          \
  X(17, date, int64_t, "timestamp", "date")                                 \
  X(18, index, uint32_t, "uint", "index")                                   \
  X(19, int, int32_t, "int", "int")                                         \
  X(20, uint, uint32_t, "uint", "uint")                                     \
  X(21, boolean, bool, "bool", "boolean")                                   \
  X(22, blob, wire::Bytes, "BLOB", "blob")                                  \
  X(23, lob, wire::Bytes, "LOB", "lob")                                     \
  X(24, oid, std::vector<uint32_t>, "uint32 list", "GIDList")               \
  X(25, enum, enum_value_t, "enum", "int")

inline constexpr uint32_t kFirstPropertyCode = 7;
inline constexpr uint32_t kLastPropertyCode = 25;

template <uint32_t Code>
struct PropertyTraits;
#define VX_PROPERTY_TRAITS(code, id, T, tname, word) \
  template <>                                        \
  struct PropertyTraits<code> {                      \
    using value_type = T;                            \
    static constexpr const char* kTypeName = tname;  \
    static constexpr const char* kTypeWord = word;   \
  };
VX_PROPERTY_TYPES(VX_PROPERTY_TRAITS)
#undef VX_PROPERTY_TRAITS

template <uint32_t Code>
class property_value_t final : public property_t {
 public:
  using value_type = typename PropertyTraits<Code>::value_type;
  value_type value{};

  property_value_t() = default;
  explicit property_value_t(uint32_t property, value_type v = {}, bool null = false,
                            uint32_t mods = 0)
      : value(std::move(v)) {
    name = property;
    is_null = null;
    modifiers = mods;
  }

  uint32_t typeCode() const override { return Code; }
  std::unique_ptr<property_t> clone() const override {
    return std::make_unique<property_value_t>(*this);
  }
  std::string toString() const override;
  std::string typeName() const override;
  bool compare(uint32_t op, const property_t& other) const override;
  bool equals(const property_t& other) const override {
    if (other.typeCode() != Code) return false;
    const auto& o = static_cast<const property_value_t&>(other);
    return name == o.name && is_null == o.is_null && modifiers == o.modifiers && value == o.value;
  }
  void writeValue(protocol::ioprim& io) const override {
    wire::Codec<value_type>::write(io, value);
  }
  void readValue(protocol::ioprim& io) override { wire::Codec<value_type>::read(io, value); }
};

#define VX_PROPERTY_ALIAS(code, id, T, tname, word) \
  using property_##id##_t = property_value_t<code>; \
  extern template class property_value_t<code>;
VX_PROPERTY_TYPES(VX_PROPERTY_ALIAS)
#undef VX_PROPERTY_ALIAS

}  // namespace tql
