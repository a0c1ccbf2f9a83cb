// Assertions guard this process's own invariants. A failed one writes "Assertion failed: ",
// the message and a line end to standard error and aborts at once: continuing on a broken
// invariant could corrupt what other processes share with us. Input from another process, a
// file or the network is never checked with these; it raises an error::Exception instead.
#pragma once

#include <sstream>
#include <string>

namespace error {

[[noreturn]] void assertionFailed(const std::string& message) noexcept;

// Concatenates the pieces with operator<< and fails the assertion with the result.
// Cold and never inlined, so that a check costs its caller only a test and a branch.
template <typename... Parts>
[[noreturn, gnu::cold, gnu::noinline]] void assertionFailedWith(const Parts&... parts) noexcept {
  std::ostringstream os;
  (os << ... << parts);
  assertionFailed(os.str());
}

}  // namespace error

// VX_ASSERT(condition, pieces of the message...): the message is only built on failure.
#define VX_ASSERT(cond, ...)                                                     \
  do {                                                                           \
    if (__builtin_expect(!(cond), 0)) ::error::assertionFailedWith(__VA_ARGS__); \
  } while (0)
