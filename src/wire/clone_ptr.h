// An owning pointer to a polymorphic value that copies by cloning and compares by value. Payload
// fields that hold property values, data intervals or nested events use it, so payload
// structures keep plain value semantics (copy, equality) like every other field.
#pragma once

#include <memory>
#include <utility>

namespace wire {

// T provides `std::unique_ptr<T> clone() const` and `bool equals(const T&) const`.
template <typename T>
class clone_ptr {
 public:
  clone_ptr() = default;
  clone_ptr(std::nullptr_t) {}
  template <typename U>
  clone_ptr(std::unique_ptr<U> p) : p_(std::move(p)) {}
  clone_ptr(const clone_ptr& o) : p_(o.p_ ? o.p_->clone() : nullptr) {}
  clone_ptr(clone_ptr&&) noexcept = default;
  clone_ptr& operator=(const clone_ptr& o) {
    if (this != &o) p_ = o.p_ ? o.p_->clone() : nullptr;
    return *this;
  }
  clone_ptr& operator=(clone_ptr&&) noexcept = default;

  T* get() const { return p_.get(); }
  T& operator*() const { return *p_; }
  T* operator->() const { return p_.get(); }
  explicit operator bool() const { return p_ != nullptr; }
  std::unique_ptr<T> release() { return std::move(p_); }

  friend bool operator==(const clone_ptr& a, const clone_ptr& b) {
    if (!a.p_ || !b.p_) return !a.p_ && !b.p_;
    return a.p_->equals(*b.p_);
  }

 private:
  std::unique_ptr<T> p_;
};

}  // namespace wire
