// The descriptor tables of the message classes, expanded from messages.def. Everything here is
// constant-initialized, so no table depends on the order in which translation units start.
#include "protocol/messages.h"

#include <iterator>

namespace protocol {
namespace {

template <typename T>
std::unique_ptr<BerStruct> createStruct() {
  return std::make_unique<T>();
}

constexpr size_t kAllFields = SIZE_MAX;

constexpr size_t requiredFields(size_t required, size_t fieldCount) {
  return required == kAllFields ? fieldCount : required;
}

struct TagSpec {
  TagRule rule;
  uint32_t number;
};

}  // namespace

// clang-format off
#define VX_ALL kAllFields
#define VX_SEQ TagRule::Sequence, 0
#define VX_TOP(n) TagRule::TopLevel, n
#define VX_ALT(k) TagRule::Alternative, k

// A structure's field table ends with an empty row, so that classes without fields still have
// a table; the row is not counted.
#define VX_BER_STRUCT(Class, Tag, Required)                                   \
  namespace fields_##Class {                                                  \
  using Self = Class;                                                         \
  constexpr size_t required = Required;                                       \
  constexpr TagSpec tag{Tag};                                                 \
  constinit const FieldDesc table[] = {
#define VX_BER_END(Class)                                                     \
  FieldDesc{}};                                                               \
  constexpr size_t count = std::size(table) - 1;                              \
  }                                                                           \
  constinit const StructDesc Class::schema{                                   \
      #Class, fields_##Class::tag.rule, fields_##Class::tag.number,           \
      fields_##Class::table, fields_##Class::count,                           \
      requiredFields(fields_##Class::required, fields_##Class::count),        \
      &createStruct<Class>, sizeof(Class)};

#define VX_FIELD(name, ...)                                                   \
  FieldDesc{#name, [](BerStruct& s) -> void* { return &static_cast<Self&>(s).name; }, \
            TypeDesc{__VA_ARGS__}},
#define VX_INTEGER(kind_, lo, hi) .kind = kind_, .tag = BE_INTEGER, .min = lo, .max = hi
#define VX_ENUMERATED(Class)                                                  \
  .kind = Kind::Int32, .tag = BE_ENUMERATED, .min = kI32Min, .max = kI32Max,  \
  .enumName = #Class

#define VX_INT(name, lo, hi) VX_FIELD(name, VX_INTEGER(Kind::Int32, lo, hi))
#define VX_UINT(name, lo, hi) VX_FIELD(name, VX_INTEGER(Kind::UInt32, lo, hi))
#define VX_INT64(name, lo, hi) VX_FIELD(name, VX_INTEGER(Kind::Int64, lo, hi))
#define VX_UINT64(name, lo, hi) VX_FIELD(name, VX_INTEGER(Kind::UInt64, lo, hi))
#define VX_ENUM(name, Class) VX_FIELD(name, VX_ENUMERATED(Class))
#define VX_BOOL(name) VX_FIELD(name, .kind = Kind::Bool)
#define VX_NULL(name) VX_FIELD(name, .kind = Kind::Null)
#define VX_REAL(name) VX_FIELD(name, .kind = Kind::Real)
#define VX_STRING(name, max) VX_FIELD(name, .kind = Kind::String, .maxLength = max)
#define VX_BIGNUM(name) VX_FIELD(name, .kind = Kind::BigNum)
#define VX_STRUCT(name, Class) VX_FIELD(name, .kind = Kind::Struct, .structure = &Class::schema)
#define VX_PTR(name, Class) VX_FIELD(name, .kind = Kind::Ptr, .structure = &Class::schema)
#define VX_LIST(name, ListClass) VX_FIELD(name, .kind = Kind::List, .list = &ListClass::schema)
#define VX_CHOICE(name, ChoiceName) \
  VX_FIELD(name, .kind = Kind::Choice, .choice = &ChoiceName::schema)
#define VX_CHECK_VALUE(name, max) VX_FIELD(name, .kind = Kind::CheckValue, .maxLength = max)

#define VX_E_STRUCT(Class) TypeDesc{.kind = Kind::Struct, .structure = &Class::schema}
#define VX_E_ENUM(Class) TypeDesc{VX_ENUMERATED(Class)}
#define VX_E_REAL() TypeDesc{.kind = Kind::Real}
#define VX_E_UINT32(lo, hi) TypeDesc{VX_INTEGER(Kind::UInt32, lo, hi)}
#define VX_E_STRING(max) TypeDesc{.kind = Kind::String, .maxLength = max}
#define VX_FORM_SEQ false
#define VX_FORM_SET true
#define VX_BER_LIST(Class, Form, Element)                                     \
  constinit const ListDesc Class::schema{#Class, VX_FORM_##Form, Element,     \
                                         listOps<Class::Container::value_type>()};

#define VX_BER_CHOICE(Name)                                                   \
  namespace alternatives_##Name {                                             \
  constinit const StructDesc* const table[] = {
#define VX_ALTERNATIVE(Class) &Class::schema,
#define VX_BER_CHOICE_END(Name)                                               \
  };                                                                          \
  }                                                                           \
  constinit const ChoiceDesc Name::schema{#Name, alternatives_##Name::table,  \
                                          std::size(alternatives_##Name::table)};
#include "protocol/messages.def"

namespace {

#define VX_BER_STRUCT(Class, Tag, Required) &Class::schema,
constinit const StructDesc* const kStructs[] = {
#include "protocol/messages.def"
};

#define VX_BER_LIST(Class, Form, Element) &Class::schema,
constinit const ListDesc* const kLists[] = {
#include "protocol/messages.def"
};

}  // namespace
// clang-format on

std::span<const StructDesc* const> allStructs() {
  return kStructs;
}
std::span<const ListDesc* const> allLists() {
  return kLists;
}

}  // namespace protocol
