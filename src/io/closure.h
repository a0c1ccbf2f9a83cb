// Reference-counted callbacks: the main loop keeps one closure per watched selectable and runs
// the one a wait returns. The count is intrusive so that a closure can be shared between the
// selector and the code that registered it without a separate control block.
#pragma once

#include <utility>

namespace io {

class RefCounted {
 public:
  RefCounted() = default;
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;
  virtual ~RefCounted() = default;

  void ref() const { ++refs_; }
  // Drops one reference; deletes the object with the last one.
  void unref() const {
    if (--refs_ == 0) delete this;
  }
  int refs() const { return refs_; }

 private:
  mutable int refs_ = 0;
};

}  // namespace io

template <typename T>
class refcount_ptr {
 public:
  refcount_ptr() = default;
  explicit refcount_ptr(T* p) : p_(p) {
    if (p_) p_->ref();
  }
  refcount_ptr(const refcount_ptr& o) : p_(o.p_) {
    if (p_) p_->ref();
  }
  refcount_ptr(refcount_ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <typename U>
  refcount_ptr(const refcount_ptr<U>& o) : refcount_ptr(o.get()) {}  // NOLINT: upcast
  ~refcount_ptr() { reset(); }
  refcount_ptr& operator=(refcount_ptr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  void reset() {
    if (p_) std::exchange(p_, nullptr)->unref();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  friend bool operator==(const refcount_ptr& a, const refcount_ptr& b) { return a.p_ == b.p_; }

 private:
  T* p_ = nullptr;
};

template <typename R>
class BindBase : public io::RefCounted {
 public:
  virtual R operator()() = 0;
};

// A member function of an object, called without arguments.
template <typename C, typename R>
class Closure0 : public BindBase<R> {
 public:
  Closure0(C* object, R (C::*fn)()) : object_(object), fn_(fn) {}
  R operator()() override { return (object_->*fn_)(); }

 private:
  C* object_;
  R (C::*fn_)();
};

template <typename C, typename R>
refcount_ptr<BindBase<R>> makeClosure(C* object, R (C::*fn)()) {
  return refcount_ptr<BindBase<R>>(new Closure0<C, R>(object, fn));
}

// Any callable, for callers that bind more than an object.
template <typename R, typename F>
class FunctionClosure : public BindBase<R> {
 public:
  explicit FunctionClosure(F f) : f_(std::move(f)) {}
  R operator()() override { return f_(); }

 private:
  F f_;
};

template <typename R = void, typename F>
refcount_ptr<BindBase<R>> makeFunctionClosure(F f) {
  return refcount_ptr<BindBase<R>>(new FunctionClosure<R, F>(std::move(f)));
}
