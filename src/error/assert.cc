#include "error/assert.h"

#include <unistd.h>

#include <cstdlib>

namespace error {

void assertionFailed(const std::string& message) noexcept {
  // write(2) directly: the process may be in any state, and the text must get out whole
  // before abort() runs.
  std::string text = "Assertion failed: " + message + "\n";
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  std::abort();
}

}  // namespace error
