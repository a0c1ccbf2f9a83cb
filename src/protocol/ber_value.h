// The value objects of the BER codec. A value object converts between one field of a plain
// data structure and one BER element: it writes the field, and while the element is decoded
// it receives the element's content (primitive) or builds the value objects of its children
// (constructed). Structures of the protocol are value objects themselves; primitive fields are
// reached through short-lived views bound to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <utility>

#include "protocol/ber_encoding.h"

namespace protocol {

class BerValue {
 public:
  BerValue() = default;
  BerValue(const BerValue&) = default;
  BerValue(BerValue&&) = default;
  BerValue& operator=(const BerValue&) = default;
  BerValue& operator=(BerValue&&) = default;
  virtual ~BerValue() = default;

  virtual std::unique_ptr<BerValue> clone() const = 0;
  // The tag code this value is written with in the given dialect (legacy = true).
  virtual TagCode tag(bool legacy) const = 0;
  // Called once the whole element has arrived; converts the content into the bound field.
  virtual void readDone() {}
  // Comparison is by value within one class; values of different classes are never equal and
  // are ordered by class, so that the order stays strict and weak across classes.
  virtual bool equals(const BerValue& other) const;
  virtual bool less(const BerValue& other) const;
  virtual bool greater(const BerValue& other) const;
  // Tag, length and content.
  virtual void write(BerOutput& out, bool legacy) const = 0;
  // A readable one-line form for logs and test failures.
  virtual void print(std::ostream& os) const = 0;
  virtual bool isConstructed() const = 0;
  // The name of the tag this value expects, as "Tag mismatch" messages print it.
  virtual std::string describeTag(bool legacy) const { return tagName(tag(legacy)); }

 protected:
  // Three-way comparison with a value of the same dynamic class.
  virtual int compareTo(const BerValue& other) const = 0;

 private:
  int orderClasses(const BerValue& other) const;
};

bool operator==(const BerValue& a, const BerValue& b);
bool operator<(const BerValue& a, const BerValue& b);
std::ostream& operator<<(std::ostream& os, const BerValue& v);

class BerPrimitive : public BerValue {
 public:
  // Accepts the announced content length, refusing lengths the value can never hold. The
  // content itself arrives later, possibly in pieces; nothing is reserved for it here.
  virtual void beginContent(size_t length) = 0;
  virtual void appendContent(const uint8_t* bytes, size_t count) = 0;
  // Bytes of the heap buffers that hold the content now, in the view and in the bound field
  // (0 while everything fits inline). The decoder charges every change to its budget.
  virtual size_t allocated() const { return 0; }
  bool isConstructed() const final { return false; }
};

// What decoding one message may allocate. Each heap buffer the message's objects take is
// charged when it is allocated, at its full size plus the allocator's own overhead, and
// nothing is given back until the message is finished: the total is an upper bound on the
// memory the message holds at any moment.
class DecodeBudget {
 public:
  explicit DecodeBudget(size_t limit) : limit_(limit) {}
  // Throws EBer "Message exceeds the decoding budget of N bytes" when a block of `bytes` does
  // not fit; otherwise counts it.
  void charge(size_t bytes);
  // Throws the same unless a block of `bytes` would still fit; counts nothing.
  void require(size_t bytes) const;
  size_t used() const { return used_; }
  size_t limit() const { return limit_; }
  void restart() { used_ = 0; }

 private:
  size_t limit_;
  size_t used_ = 0;
};

// Storage in which a constructed value builds the temporary view that decodes one child, so
// that decoding a field allocates nothing. The slot owns what it holds until reset.
class ChildSlot {
 public:
  static constexpr size_t kSize = 96;

  ChildSlot() = default;
  ChildSlot(const ChildSlot&) = delete;
  ChildSlot& operator=(const ChildSlot&) = delete;
  ~ChildSlot() { reset(); }

  // Where the heap buffers made while decoding a child are charged; none outside a decoder.
  void setBudget(DecodeBudget* budget) { budget_ = budget; }
  void charge(size_t bytes) {
    if (budget_ != nullptr) budget_->charge(bytes);
  }

  template <typename T, typename... Args>
  T& emplace(Args&&... args) {
    static_assert(sizeof(T) <= kSize && alignof(T) <= alignof(std::max_align_t),
                  "value object too large for a ChildSlot");
    reset();
    T* value = new (storage_) T(std::forward<Args>(args)...);
    held_ = value;
    return *value;
  }

  void reset() {
    if (held_ != nullptr) {
      held_->~BerValue();
      held_ = nullptr;
    }
  }

 private:
  alignas(std::max_align_t) unsigned char storage_[kSize];
  BerValue* held_ = nullptr;
  DecodeBudget* budget_ = nullptr;
};

class BerConstructed : public BerValue {
 public:
  // The value object that decodes child number `index` (0-based), whose tag is `tag`: a part
  // of this object (a nested structure, a list element, a choice alternative) or a view bound
  // to one of its fields, built in `slot`. Throws EBer when the tag does not fit.
  virtual BerValue& createChild(size_t index, TagCode tag, bool legacy, ChildSlot& slot) = 0;
  // How many children an element of this class must have (the fields a peer must send);
  // 0 for lists and sets.
  virtual size_t count() const = 0;
  // True for lists and sets, whose children are elements rather than fields.
  virtual bool isRepeated() const = 0;
  bool isConstructed() const final { return true; }
};

}  // namespace protocol
