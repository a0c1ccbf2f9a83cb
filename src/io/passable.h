// An object a child process needs to attach to (the shared-memory pool) passes itself through
// the child's environment: it adds variables under a prefix and names the descriptors the
// child must inherit.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace io {

using Variables = std::map<std::string, std::string>;

class Passable {
 public:
  virtual ~Passable() = default;
  // Adds prefix + "::..." variables for a child about to start and appends to `inherit` the
  // descriptors it must keep open across exec.
  virtual void pass(Variables& variables, const std::string& prefix, std::vector<int>& inherit) = 0;
};

}  // namespace io
