// Descriptors of the protocol's structures, lists and choices, and the generic runtime that
// writes, decodes, compares and prints any of them from its descriptor. The message classes
// themselves are declared once, in messages.def; messages.h and messages.cc expand those rows
// into C++ types and into the descriptor tables below.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "protocol/ber_primitives.h"

namespace protocol {

class BerStruct;
struct StructDesc;
struct ListDesc;
struct ChoiceDesc;

inline constexpr int64_t kI32Min = INT32_MIN;
inline constexpr uint64_t kI32Max = INT32_MAX;
inline constexpr uint64_t kU32Max = UINT32_MAX;
inline constexpr int64_t kI64Min = INT64_MIN;
inline constexpr uint64_t kI64Max = INT64_MAX;
inline constexpr uint64_t kU64Max = UINT64_MAX;

// The value of a check result: absent, an integer, NULL, a real or a string. Absent is only a
// state of a message being built; writing it is a programming error.
using CheckValue = std::variant<std::monostate, int32_t, Null, double, std::string>;

// An owned pointer to a structure, copied deeply with its object; empty until set.
class StructBox {
 public:
  StructBox() = default;
  StructBox(const StructBox& other);
  StructBox(StructBox&& other) noexcept = default;
  StructBox& operator=(const StructBox& other);
  StructBox& operator=(StructBox&& other) noexcept = default;
  ~StructBox();

  explicit operator bool() const { return object_ != nullptr; }
  BerStruct* get() const { return object_.get(); }
  void reset(std::unique_ptr<BerStruct> object = nullptr);

 protected:
  std::unique_ptr<BerStruct> object_;
};

// A mandatory structure held by pointer (a member named "this->x" in assertion texts).
template <typename T>
class Owned : public StructBox {
 public:
  T& emplace() {
    auto object = std::make_unique<T>();
    T& ref = *object;
    object_ = std::move(object);
    return ref;
  }
  T* get() const { return static_cast<T*>(object_.get()); }
  T* operator->() const { return get(); }
  T& operator*() const { return *get(); }
};

// The chosen alternative of a choice field. Writing a choice whose object is not one of the
// field's alternatives is a programming error.
class Choice : public StructBox {
 public:
  template <typename T>
  T& emplace() {
    auto object = std::make_unique<T>();
    T& ref = *object;
    object_ = std::move(object);
    return ref;
  }
  // The alternative as T, or null when another one (or none) is chosen.
  template <typename T>
  T* as() const {
    return dynamic_cast<T*>(object_.get());
  }
};

enum class Kind : uint8_t {
  Int32,       // int32_t; INTEGER or ENUMERATED
  UInt32,      // uint32_t
  Int64,       // int64_t
  UInt64,      // uint64_t
  Bool,        // bool
  Null,        // Null
  Real,        // double
  String,      // std::string, with the dialect's string tag
  BigNum,      // BigNum
  Struct,      // a structure by value
  Ptr,         // Owned<T>
  List,        // std::vector of the list's element
  Choice,      // Choice
  CheckValue,  // CheckValue
};

// The kind of a field or list element and what constrains it.
struct TypeDesc {
  Kind kind;
  TagCode tag = 0;  // integers: BE_INTEGER or BE_ENUMERATED
  int64_t min = 0;  // integers: inclusive range, converted to the field's type
  uint64_t max = 0;
  size_t maxLength = 0;  // strings and the string of a CheckValue, in octets
  const StructDesc* structure = nullptr;
  const ListDesc* list = nullptr;
  const ChoiceDesc* choice = nullptr;
  const char* enumName = nullptr;  // enumerations: the class printed in messages
};

struct FieldDesc {
  const char* name;
  void* (*access)(BerStruct&);
  TypeDesc type;
};

enum class TagRule : uint8_t {
  Sequence,     // 20 legacy, 30 current
  TopLevel,     // [APPLICATION n] constructed in both dialects
  Alternative,  // [APPLICATION n] legacy, [n] context-specific current
};

struct StructDesc {
  const char* name;
  TagRule rule;
  uint32_t number;
  const FieldDesc* fields;
  size_t fieldCount;
  size_t required;  // leading fields an element must carry
  std::unique_ptr<BerStruct> (*create)();
  size_t size;  // bytes of one object, as create allocates it
};

// Type-erased access to the std::vector behind a list.
struct ListOps {
  size_t (*size)(const void* container);
  void* (*at)(void* container, size_t index);
  // Appends a default element; a full vector first moves to a buffer of twice the elements.
  void* (*append)(void* container);
  // Bytes of the buffer the next append allocates; 0 while there is room.
  size_t (*growth)(const void* container);
};

constexpr size_t grownCapacity(size_t size) {
  return size == 0 ? 1 : 2 * size;
}

template <typename E>
constexpr ListOps listOps() {
  using V = std::vector<E>;
  return ListOps{
      [](const void* c) { return static_cast<const V*>(c)->size(); },
      [](void* c, size_t i) -> void* { return &(*static_cast<V*>(c))[i]; },
      [](void* c) -> void* {
        auto& v = *static_cast<V*>(c);
        if (v.size() == v.capacity()) v.reserve(grownCapacity(v.size()));
        return &v.emplace_back();
      },
      [](const void* c) -> size_t {
        const auto& v = *static_cast<const V*>(c);
        return v.size() == v.capacity() ? grownCapacity(v.size()) * sizeof(E) : 0;
      },
  };
}

struct ListDesc {
  const char* name;
  bool isSet;
  TypeDesc element;
  ListOps ops;
};

struct ChoiceDesc {
  const char* name;
  const StructDesc* const* alternatives;
  size_t count;
};

TagCode structTag(const StructDesc& desc, bool legacy);

// The base of every structure class. Its fields are plain members; writing, decoding,
// comparison and printing all walk the class's descriptor.
class BerStruct : public BerConstructed {
 public:
  virtual const StructDesc& desc() const = 0;

  TagCode tag(bool legacy) const override { return structTag(desc(), legacy); }
  void write(BerOutput& out, bool legacy) const override;
  // Beyond the last known field, a skipper: newer peers may append fields.
  BerValue& createChild(size_t index, TagCode tag, bool legacy, ChildSlot& slot) override;
  size_t count() const override { return desc().required; }
  bool isRepeated() const override { return false; }
  void print(std::ostream& os) const override;
  std::string describeTag(bool legacy) const override;

 protected:
  int compareTo(const BerValue& other) const override;
};

// A view of the std::vector behind a list or set field.
class BerList : public BerConstructed {
 public:
  BerList(const ListDesc& desc, void* container) : desc_(&desc), container_(container) {}

  const ListDesc& desc() const { return *desc_; }
  std::unique_ptr<BerValue> clone() const override;
  TagCode tag(bool legacy) const override;
  void write(BerOutput& out, bool legacy) const override;
  // Checks the element's tag, then appends a default element and returns its value object; a
  // new element buffer is charged to the slot's budget.
  BerValue& createChild(size_t index, TagCode tag, bool legacy, ChildSlot& slot) override;
  size_t count() const override { return 0; }
  bool isRepeated() const override { return true; }
  void print(std::ostream& os) const override;

 protected:
  int compareTo(const BerValue& other) const override;

 private:
  const ListDesc* desc_;
  void* container_;
};

// The generic operations on one field or element described by a TypeDesc. `owner` and `field`
// name the place in messages ("CheckResult" and "value").
namespace schema {

struct Place {
  const char* owner;
  const char* field;
};

void writeValue(const TypeDesc& type, const void* value, BerOutput& out, bool legacy,
                const Place& place);
BerValue& childValue(const TypeDesc& type, void* value, TagCode tag, bool legacy, ChildSlot& slot,
                     const Place& place);
int compareValues(const TypeDesc& type, const void* a, const void* b);
void printValue(const TypeDesc& type, const void* value, std::ostream& os);
// The name of the tag a field of this type expects ("BE_CHECK_RESULT_CURRENT").
std::string expectedTagName(const TypeDesc& type, bool legacy);
// Throws EBer "Tag mismatch" unless a field of this type (not a choice) may have this tag.
void checkTag(const TypeDesc& type, TagCode tag, bool legacy);

}  // namespace schema
}  // namespace protocol
