// The message classes of the network protocol, expanded from messages.def: one C++ class per
// structure (plain public members in declaration order), per list or set (a view of the
// std::vector member that holds its elements), per enumeration (a view of an int32_t member),
// and a descriptor holder per choice.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "protocol/ber_schema.h"

namespace protocol {

// clang-format off
#define VX_BER_STRUCT(Class, Tag, Required) struct Class;
#include "protocol/messages.def"

#define VX_BER_ENUM(Class)                                                   \
  class Class final : public BerEnumerated {                                 \
   public:                                                                   \
    explicit Class(int32_t& field) : BerEnumerated(field) {}                 \
    std::unique_ptr<BerValue> clone() const override {                       \
      return std::make_unique<Class>(*this);                                 \
    }                                                                        \
  };
#define VX_E_STRUCT(Class) Class
#define VX_E_ENUM(Class) int32_t
#define VX_E_REAL() double
#define VX_E_UINT32(min, max) uint32_t
#define VX_E_STRING(max) std::string
#define VX_BER_LIST(Class, Form, Element)                                    \
  class Class final : public BerList {                                       \
   public:                                                                   \
    using Container = std::vector<Element>;                                  \
    static const ListDesc schema;                                            \
    explicit Class(Container& elements) : BerList(schema, &elements) {}      \
    std::unique_ptr<BerValue> clone() const override {                       \
      return std::make_unique<Class>(*this);                                 \
    }                                                                        \
  };
#define VX_BER_CHOICE(Name) struct Name { static const ChoiceDesc schema;
#define VX_BER_CHOICE_END(Name) };
#include "protocol/messages.def"
#undef VX_E_STRUCT
#undef VX_E_ENUM
#undef VX_E_REAL
#undef VX_E_UINT32
#undef VX_E_STRING

#define VX_BER_STRUCT(Class, Tag, Required) struct Class final : BerStruct {
#define VX_BER_END(Class)                                                    \
    static const StructDesc schema;                                          \
    const StructDesc& desc() const override { return schema; }               \
    std::unique_ptr<BerValue> clone() const override {                       \
      return std::make_unique<Class>(*this);                                 \
    }                                                                        \
  };
#define VX_INT(name, min, max) int32_t name = 0;
#define VX_UINT(name, min, max) uint32_t name = 0;
#define VX_INT64(name, min, max) int64_t name = 0;
#define VX_UINT64(name, min, max) uint64_t name = 0;
#define VX_ENUM(name, Class) int32_t name = 0;
#define VX_BOOL(name) bool name = false;
#define VX_NULL(name) Null name;
#define VX_REAL(name) double name = 0.0;
#define VX_STRING(name, max) std::string name;
#define VX_BIGNUM(name) BigNum name;
#define VX_STRUCT(name, Class) Class name;
#define VX_PTR(name, Class) Owned<Class> name;
#define VX_LIST(name, ListClass) ListClass::Container name;
#define VX_CHOICE(name, ChoiceName) Choice name;
#define VX_CHECK_VALUE(name, max) CheckValue name;
#include "protocol/messages.def"
// clang-format on

// Every structure and list descriptor, in declaration order.
std::span<const StructDesc* const> allStructs();
std::span<const ListDesc* const> allLists();

}  // namespace protocol
