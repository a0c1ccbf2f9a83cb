// The generic operations on fields and list elements: one switch over the field kinds for each
// operation, driven by the descriptors that messages.cc expands from messages.def.
#include "protocol/ber_schema.h"

#include <cctype>
#include <cstring>

#include "error/assert.h"

namespace protocol {
namespace schema {
namespace {

template <typename T>
T& ref(void* value) {
  return *static_cast<T*>(value);
}

template <typename T>
const T& ref(const void* value) {
  return *static_cast<const T*>(value);
}

template <typename T>
int compareScalars(const void* a, const void* b) {
  const T& x = ref<T>(a);
  const T& y = ref<T>(b);
  return x < y ? -1 : y < x ? 1 : 0;
}

// "CheckResult" -> "CHECK_RESULT", "HWScanReq" -> "HW_SCAN_REQ".
std::string upperSnake(const char* name) {
  std::string out;
  const size_t n = std::strlen(name);
  for (size_t i = 0; i < n; ++i) {
    const bool upper = std::isupper(static_cast<unsigned char>(name[i])) != 0;
    if (upper && i > 0) {
      const bool prevLower = std::islower(static_cast<unsigned char>(name[i - 1])) != 0 ||
                             std::isdigit(static_cast<unsigned char>(name[i - 1])) != 0;
      const bool nextLower = i + 1 < n && std::islower(static_cast<unsigned char>(name[i + 1]));
      const bool prevUpper = std::isupper(static_cast<unsigned char>(name[i - 1])) != 0;
      if (prevLower || (prevUpper && nextLower)) out += '_';
    }
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
  }
  return out;
}

TagCode expectedTag(const TypeDesc& type, bool legacy) {
  switch (type.kind) {
    case Kind::Int32:
    case Kind::UInt32:
    case Kind::Int64:
    case Kind::UInt64:
      return type.tag;
    case Kind::BigNum:
      return BE_INTEGER;
    case Kind::Bool:
      return BE_BOOLEAN;
    case Kind::Null:
      return BE_NULL;
    case Kind::Real:
      return BE_REAL;
    case Kind::String:
      return stringTag(legacy);
    case Kind::Struct:
    case Kind::Ptr:
      return structTag(*type.structure, legacy);
    case Kind::List:
      return type.list->isSet ? setTag(legacy) : sequenceTag(legacy);
    case Kind::Choice:
    case Kind::CheckValue:
      break;
  }
  error::assertionFailed("expectedTag of a choice");
}

[[noreturn]] void unexpectedInUnion(TagCode tag, const Place& place) {
  throw EBer("Unexpected tag " + std::to_string(tag) + " received in Union " + place.owner +
             ".this->" + place.field);
}

const BerStruct& boxed(const void* value, const Place& place) {
  const BerStruct* object = ref<StructBox>(value).get();
  VX_ASSERT(object != nullptr, "this->", place.field, " is NULL during BER write");
  return *object;
}

bool isAlternative(const ChoiceDesc& choice, const StructDesc& desc) {
  for (size_t i = 0; i < choice.count; ++i) {
    if (choice.alternatives[i] == &desc) return true;
  }
  return false;
}

int compareStructs(const BerStruct& a, const BerStruct& b) {
  const StructDesc& desc = a.desc();
  if (&desc != &b.desc()) {
    if (desc.number != b.desc().number) return desc.number < b.desc().number ? -1 : 1;
    const int c = std::strcmp(desc.name, b.desc().name);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  auto& x = const_cast<BerStruct&>(a);
  auto& y = const_cast<BerStruct&>(b);
  for (size_t i = 0; i < desc.fieldCount; ++i) {
    const FieldDesc& f = desc.fields[i];
    const int c = compareValues(f.type, f.access(x), f.access(y));
    if (c != 0) return c;
  }
  return 0;
}

int compareBoxes(const void* a, const void* b) {
  const BerStruct* x = ref<StructBox>(a).get();
  const BerStruct* y = ref<StructBox>(b).get();
  if (x == nullptr || y == nullptr) return x != nullptr ? 1 : y != nullptr ? -1 : 0;
  return compareStructs(*x, *y);
}

int compareLists(const ListDesc& desc, const void* a, const void* b) {
  void* x = const_cast<void*>(a);
  void* y = const_cast<void*>(b);
  const size_t nx = desc.ops.size(x), ny = desc.ops.size(y);
  for (size_t i = 0; i < nx && i < ny; ++i) {
    const int c = compareValues(desc.element, desc.ops.at(x, i), desc.ops.at(y, i));
    if (c != 0) return c;
  }
  return nx < ny ? -1 : nx > ny ? 1 : 0;
}

int compareCheckValues(const CheckValue& a, const CheckValue& b) {
  if (a.index() != b.index()) return a.index() < b.index() ? -1 : 1;
  if (const auto* x = std::get_if<int32_t>(&a)) {
    const int32_t y = std::get<int32_t>(b);
    return *x < y ? -1 : *x > y ? 1 : 0;
  }
  if (const auto* x = std::get_if<double>(&a)) return compareReals(*x, std::get<double>(b));
  if (const auto* x = std::get_if<std::string>(&a)) {
    const int c = x->compare(std::get<std::string>(b));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  return 0;
}

// The view that writes or decodes one scalar field.
template <typename Visit>
decltype(auto) withScalarView(const TypeDesc& type, void* value, bool legacy, Visit&& visit) {
  switch (type.kind) {
    case Kind::Int32: {
      BerIntegerTemplate<int32_t> v(ref<int32_t>(value), static_cast<int32_t>(type.min),
                                    static_cast<int32_t>(type.max), type.tag);
      return visit(v);
    }
    case Kind::UInt32: {
      BerIntegerTemplate<uint32_t> v(ref<uint32_t>(value), static_cast<uint32_t>(type.min),
                                     static_cast<uint32_t>(type.max), type.tag);
      return visit(v);
    }
    case Kind::Int64: {
      BerIntegerTemplate<int64_t> v(ref<int64_t>(value), type.min, static_cast<int64_t>(type.max),
                                    type.tag);
      return visit(v);
    }
    case Kind::UInt64: {
      BerIntegerTemplate<uint64_t> v(ref<uint64_t>(value), static_cast<uint64_t>(type.min),
                                     type.max, type.tag);
      return visit(v);
    }
    case Kind::Bool: {
      BerBoolean v(ref<bool>(value));
      return visit(v);
    }
    case Kind::Null: {
      BerNull v;
      return visit(v);
    }
    case Kind::Real: {
      BerReal v(ref<double>(value));
      return visit(v);
    }
    case Kind::String: {
      BerString v(ref<std::string>(value), type.maxLength, stringTag(legacy));
      return visit(v);
    }
    case Kind::BigNum: {
      BerBigNum v(ref<BigNum>(value));
      return visit(v);
    }
    default:
      error::assertionFailed("withScalarView of a constructed kind");
  }
}

bool isScalar(Kind kind) {
  return kind != Kind::Struct && kind != Kind::Ptr && kind != Kind::List && kind != Kind::Choice &&
         kind != Kind::CheckValue;
}

// A CheckValue is written and decoded through the scalar view of its alternative.
TypeDesc checkValueAlternative(const CheckValue& v, size_t maxLength) {
  switch (v.index()) {
    case 1:
      return TypeDesc{.kind = Kind::Int32, .tag = BE_INTEGER, .min = kI32Min, .max = kI32Max};
    case 2:
      return TypeDesc{.kind = Kind::Null};
    case 3:
      return TypeDesc{.kind = Kind::Real};
    case 4:
      return TypeDesc{.kind = Kind::String, .maxLength = maxLength};
    default:
      error::assertionFailed("empty CheckValue");
  }
}

void* checkValueStorage(CheckValue& v) {
  return std::visit([](auto& alternative) -> void* { return &alternative; }, v);
}

}  // namespace

void writeValue(const TypeDesc& type, const void* value, BerOutput& out, bool legacy,
                const Place& place) {
  if (isScalar(type.kind)) {
    withScalarView(type, const_cast<void*>(value), legacy,
                   [&](const BerValue& v) { v.write(out, legacy); });
    return;
  }
  switch (type.kind) {
    case Kind::Struct:
      ref<BerStruct>(value).write(out, legacy);
      return;
    case Kind::Ptr:
      boxed(value, place).write(out, legacy);
      return;
    case Kind::Choice: {
      const BerStruct& alternative = boxed(value, place);
      VX_ASSERT(isAlternative(*type.choice, alternative.desc()), alternative.desc().name,
                " is not an alternative of ", place.owner, ".this->", place.field);
      alternative.write(out, legacy);
      return;
    }
    case Kind::List:
      BerList(*type.list, const_cast<void*>(value)).write(out, legacy);
      return;
    case Kind::CheckValue: {
      auto& v = const_cast<CheckValue&>(ref<CheckValue>(value));
      VX_ASSERT(v.index() != 0, "this->", place.field, " is NULL during BER write");
      writeValue(checkValueAlternative(v, type.maxLength), checkValueStorage(v), out, legacy,
                 place);
      return;
    }
    default:
      error::assertionFailed("writeValue: unknown kind");
  }
}

BerValue& childValue(const TypeDesc& type, void* value, TagCode tag, bool legacy, ChildSlot& slot,
                     const Place& place) {
  if (type.kind == Kind::Choice) {
    const ChoiceDesc& choice = *type.choice;
    for (size_t i = 0; i < choice.count; ++i) {
      if (structTag(*choice.alternatives[i], legacy) == tag) {
        auto& box = ref<StructBox>(value);
        slot.charge(choice.alternatives[i]->size);
        box.reset(choice.alternatives[i]->create());
        return *box.get();
      }
    }
    unexpectedInUnion(tag, place);
  }
  if (type.kind == Kind::CheckValue) {
    auto& v = ref<CheckValue>(value);
    if (tag == BE_INTEGER) {
      v.emplace<int32_t>(0);
    } else if (tag == BE_NULL) {
      v.emplace<Null>();
    } else if (tag == BE_REAL) {
      v.emplace<double>(0.0);
    } else if (tag == stringTag(legacy)) {
      v.emplace<std::string>();
    } else {
      unexpectedInUnion(tag, place);
    }
    return childValue(checkValueAlternative(v, type.maxLength), checkValueStorage(v), tag, legacy,
                      slot, place);
  }
  checkTag(type, tag, legacy);
  switch (type.kind) {
    case Kind::Struct:
      return ref<BerStruct>(value);
    case Kind::Ptr: {
      auto& box = ref<StructBox>(value);
      slot.charge(type.structure->size);
      box.reset(type.structure->create());
      return *box.get();
    }
    case Kind::List:
      return slot.emplace<BerList>(*type.list, value);
    default:
      return withScalarView(type, value, legacy, [&](auto& v) -> BerValue& {
        return slot.emplace<std::remove_reference_t<decltype(v)>>(v);
      });
  }
}

int compareValues(const TypeDesc& type, const void* a, const void* b) {
  switch (type.kind) {
    case Kind::Int32:
      return compareScalars<int32_t>(a, b);
    case Kind::UInt32:
      return compareScalars<uint32_t>(a, b);
    case Kind::Int64:
      return compareScalars<int64_t>(a, b);
    case Kind::UInt64:
      return compareScalars<uint64_t>(a, b);
    case Kind::Bool:
      return compareScalars<bool>(a, b);
    case Kind::Null:
      return 0;
    case Kind::Real:
      return compareReals(ref<double>(a), ref<double>(b));
    case Kind::String:
      return compareScalars<std::string>(a, b);
    case Kind::BigNum:
      return compareBigNums(ref<BigNum>(a), ref<BigNum>(b));
    case Kind::Struct:
      return compareStructs(ref<BerStruct>(a), ref<BerStruct>(b));
    case Kind::Ptr:
    case Kind::Choice:
      return compareBoxes(a, b);
    case Kind::List:
      return compareLists(*type.list, a, b);
    case Kind::CheckValue:
      return compareCheckValues(ref<CheckValue>(a), ref<CheckValue>(b));
  }
  return 0;
}

void printValue(const TypeDesc& type, const void* value, std::ostream& os) {
  switch (type.kind) {
    case Kind::Struct:
      ref<BerStruct>(value).print(os);
      return;
    case Kind::Ptr:
    case Kind::Choice:
      if (const BerStruct* object = ref<StructBox>(value).get()) {
        object->print(os);
      } else {
        os << "<none>";
      }
      return;
    case Kind::List:
      BerList(*type.list, const_cast<void*>(value)).print(os);
      return;
    case Kind::CheckValue: {
      auto& v = const_cast<CheckValue&>(ref<CheckValue>(value));
      if (v.index() == 0) {
        os << "<none>";
      } else {
        printValue(checkValueAlternative(v, type.maxLength), checkValueStorage(v), os);
      }
      return;
    }
    default:
      withScalarView(type, const_cast<void*>(value), false,
                     [&](const BerValue& v) { v.print(os); });
  }
}

void checkTag(const TypeDesc& type, TagCode tag, bool legacy) {
  if (tag != expectedTag(type, legacy)) {
    throw EBer("Tag mismatch, got " + std::to_string(tag) + " expected " +
               expectedTagName(type, legacy));
  }
}

std::string expectedTagName(const TypeDesc& type, bool legacy) {
  if (type.kind == Kind::Struct || type.kind == Kind::Ptr) {
    return "BE_" + upperSnake(type.structure->name) + (legacy ? "_LEGACY" : "_CURRENT");
  }
  return tagName(expectedTag(type, legacy));
}

}  // namespace schema

}  // namespace protocol
