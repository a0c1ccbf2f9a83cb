// Structures, lists and the owned pointers of choices: the value objects the generic
// operations of ber_schema.cc work through.
#include <cstring>

#include "protocol/ber_schema.h"

namespace protocol {

// --- StructBox -------------------------------------------------------------------------------

StructBox::StructBox(const StructBox& other)
    : object_(other.object_ ? static_cast<BerStruct*>(other.object_->clone().release()) : nullptr) {
}

StructBox& StructBox::operator=(const StructBox& other) {
  if (this != &other) *this = StructBox(other);
  return *this;
}

StructBox::~StructBox() = default;

void StructBox::reset(std::unique_ptr<BerStruct> object) {
  object_ = std::move(object);
}

// --- BerStruct -------------------------------------------------------------------------------

TagCode structTag(const StructDesc& desc, bool legacy) {
  switch (desc.rule) {
    case TagRule::Sequence:
      return sequenceTag(legacy);
    case TagRule::TopLevel:
      return applicationTag(desc.number);
    case TagRule::Alternative:
      return legacy ? applicationTag(desc.number) : contextTag(desc.number);
  }
  return 0;
}

void BerStruct::write(BerOutput& out, bool legacy) const {
  const StructDesc& d = desc();
  writeTag(out, structTag(d, legacy));
  writeIndefiniteLength(out);
  auto& self = const_cast<BerStruct&>(*this);
  for (size_t i = 0; i < d.fieldCount; ++i) {
    const FieldDesc& f = d.fields[i];
    schema::writeValue(f.type, f.access(self), out, legacy, {d.name, f.name});
  }
  writeEndOfContents(out);
}

BerValue& BerStruct::createChild(size_t index, TagCode tag, bool legacy, ChildSlot& slot) {
  const StructDesc& d = desc();
  if (index >= d.fieldCount) return makeSkipper(tag, slot);
  const FieldDesc& f = d.fields[index];
  return schema::childValue(f.type, f.access(*this), tag, legacy, slot, {d.name, f.name});
}

void BerStruct::print(std::ostream& os) const {
  const StructDesc& d = desc();
  auto& self = const_cast<BerStruct&>(*this);
  os << d.name << '{';
  for (size_t i = 0; i < d.fieldCount; ++i) {
    const FieldDesc& f = d.fields[i];
    os << (i == 0 ? "" : ", ") << f.name << ": ";
    schema::printValue(f.type, f.access(self), os);
  }
  os << '}';
}

std::string BerStruct::describeTag(bool legacy) const {
  return schema::expectedTagName(TypeDesc{.kind = Kind::Struct, .structure = &desc()}, legacy);
}

int BerStruct::compareTo(const BerValue& other) const {
  return schema::compareValues(TypeDesc{.kind = Kind::Struct}, this,
                               &static_cast<const BerStruct&>(other));
}

// --- BerList ---------------------------------------------------------------------------------

std::unique_ptr<BerValue> BerList::clone() const {
  return std::make_unique<BerList>(*this);
}

TagCode BerList::tag(bool legacy) const {
  return desc_->isSet ? setTag(legacy) : sequenceTag(legacy);
}

void BerList::write(BerOutput& out, bool legacy) const {
  writeTag(out, tag(legacy));
  writeIndefiniteLength(out);
  const size_t n = desc_->ops.size(container_);
  for (size_t i = 0; i < n; ++i) {
    schema::writeValue(desc_->element, desc_->ops.at(container_, i), out, legacy,
                       {desc_->name, "element"});
  }
  writeEndOfContents(out);
}

BerValue& BerList::createChild(size_t, TagCode tag, bool legacy, ChildSlot& slot) {
  // The tag is checked before the element is appended, so a refused element leaves no trace.
  schema::checkTag(desc_->element, tag, legacy);
  if (const size_t bytes = desc_->ops.growth(container_)) slot.charge(bytes);
  void* element = desc_->ops.append(container_);
  return schema::childValue(desc_->element, element, tag, legacy, slot, {desc_->name, "element"});
}

void BerList::print(std::ostream& os) const {
  os << '[';
  const size_t n = desc_->ops.size(container_);
  for (size_t i = 0; i < n; ++i) {
    if (i != 0) os << ", ";
    schema::printValue(desc_->element, desc_->ops.at(container_, i), os);
  }
  os << ']';
}

int BerList::compareTo(const BerValue& other) const {
  const auto& theirs = static_cast<const BerList&>(other);
  if (desc_ != theirs.desc_) {
    const int c = std::strcmp(desc_->name, theirs.desc_->name);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  return schema::compareValues(TypeDesc{.kind = Kind::List, .list = desc_}, container_,
                               theirs.container_);
}

}  // namespace protocol
