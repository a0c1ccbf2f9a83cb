// Field lists: every payload structure names its fields once, in wire order, and the codec,
// the printer and equality walk that list. A structure declares
//
//   struct Sys_Exit_Data {
//     uint32_t reason = 0;
//     queue_t requested_by = QUEUE_MAIN;
//     std::string error_msg;
//     VX_FIELDS(Sys_Exit_Data, reason, requested_by, error_msg)
//   };
//
// and a structure whose header belongs to someone else gets an external list by specialising
// wire::FieldList<T> with a static constexpr get().
#pragma once

#include <cstddef>
#include <iosfwd>
#include <tuple>
#include <type_traits>

namespace wire {

template <auto Member>
struct MemberOf;
template <typename C, typename M, M C::*Member>
struct MemberOf<Member> {
  using Class = C;
  using Type = M;
};

// One field: where it lives and the label its text form prints. A field may replace the
// text form of its type (a TimeValue that is a duration, not a date).
template <auto Member>
struct Field {
  using Type = typename MemberOf<Member>::Type;
  using Printer = void (*)(std::ostream&, const Type&, int level);
  const char* name;
  Printer printer = nullptr;

  template <typename C>
  static constexpr const Type& get(const C& c) {
    return c.*Member;
  }
  template <typename C>
  static constexpr Type& get(C& c) {
    return c.*Member;
  }
};

template <auto Member>
constexpr Field<Member> field(const char* name, typename Field<Member>::Printer printer = nullptr) {
  return {name, printer};
}

// External field lists for structures declared elsewhere.
template <typename T>
struct FieldList;

template <typename T>
concept HasOwnFields = requires {
  T::fields();
};
template <typename T>
concept HasExternalFields = requires {
  FieldList<T>::get();
};
template <typename T>
concept Structure = HasOwnFields<T> || HasExternalFields<T>;

template <Structure T>
constexpr auto fieldsOf() {
  if constexpr (HasOwnFields<T>) {
    return T::fields();
  } else {
    return FieldList<T>::get();
  }
}

template <Structure T, typename F>
constexpr void forEachField(F&& f) {
  std::apply([&](const auto&... fd) { (f(fd), ...); }, fieldsOf<T>());
}

template <typename T>
bool fieldsEqual(const T& a, const T& b);

}  // namespace wire

#define VX_FE_1(m, T, x) m(T, x)
#define VX_FE_2(m, T, x, ...) m(T, x), VX_FE_1(m, T, __VA_ARGS__)
#define VX_FE_3(m, T, x, ...) m(T, x), VX_FE_2(m, T, __VA_ARGS__)
#define VX_FE_4(m, T, x, ...) m(T, x), VX_FE_3(m, T, __VA_ARGS__)
#define VX_FE_5(m, T, x, ...) m(T, x), VX_FE_4(m, T, __VA_ARGS__)
#define VX_FE_6(m, T, x, ...) m(T, x), VX_FE_5(m, T, __VA_ARGS__)
#define VX_FE_7(m, T, x, ...) m(T, x), VX_FE_6(m, T, __VA_ARGS__)
#define VX_FE_8(m, T, x, ...) m(T, x), VX_FE_7(m, T, __VA_ARGS__)
#define VX_FE_9(m, T, x, ...) m(T, x), VX_FE_8(m, T, __VA_ARGS__)
#define VX_FE_10(m, T, x, ...) m(T, x), VX_FE_9(m, T, __VA_ARGS__)
#define VX_FE_11(m, T, x, ...) m(T, x), VX_FE_10(m, T, __VA_ARGS__)
#define VX_FE_12(m, T, x, ...) m(T, x), VX_FE_11(m, T, __VA_ARGS__)
#define VX_FE_13(m, T, x, ...) m(T, x), VX_FE_12(m, T, __VA_ARGS__)
#define VX_FE_14(m, T, x, ...) m(T, x), VX_FE_13(m, T, __VA_ARGS__)
#define VX_FE_15(m, T, x, ...) m(T, x), VX_FE_14(m, T, __VA_ARGS__)
#define VX_FE_16(m, T, x, ...) m(T, x), VX_FE_15(m, T, __VA_ARGS__)
#define VX_FE_PICK(_1, _2, _3, _4, _5, _6, _7, _8, _9, _10, _11, _12, _13, _14, _15, _16, N, ...) N
#define VX_FOR_EACH(m, T, ...)                                                                  \
  VX_FE_PICK(__VA_ARGS__, VX_FE_16, VX_FE_15, VX_FE_14, VX_FE_13, VX_FE_12, VX_FE_11, VX_FE_10, \
             VX_FE_9, VX_FE_8, VX_FE_7, VX_FE_6, VX_FE_5, VX_FE_4, VX_FE_3, VX_FE_2, VX_FE_1)   \
  (m, T, __VA_ARGS__)
#define VX_FIELD_ENTRY(T, x) ::wire::field<&T::x>(#x)

// Declares the field list of T (members in wire order) and equality over it.
#define VX_FIELDS(T, ...)                                           \
  static constexpr auto fields() {                                  \
    return std::tuple{VX_FOR_EACH(VX_FIELD_ENTRY, T, __VA_ARGS__)}; \
  }                                                                 \
  friend bool operator==(const T& a, const T& b) {                  \
    return ::wire::fieldsEqual(a, b);                               \
  }

// A structure without fields: nothing is written after the event header.
#define VX_NO_FIELDS(T)                        \
  static constexpr auto fields() {             \
    return std::tuple<>{};                     \
  }                                            \
  friend bool operator==(const T&, const T&) { \
    return true;                               \
  }
