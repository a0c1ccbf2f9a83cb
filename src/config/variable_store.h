// The server variables: small named texts the workers keep across restarts. The store holds
// them in memory and keeps the registry key "SOFTWARE\Vexlan\VXServer\Variables" in step,
// preferring the user root and falling back to the machine root.
#pragma once

#include <map>
#include <string>

#include "config/registry.h"

namespace config {

inline constexpr const char* kVariablesKey = "SOFTWARE\\Vexlan\\VXServer\\Variables";
// The variable that keeps the server's entropy pool across restarts. It is the server's own:
// workers neither see it nor set it.
inline constexpr const char* kEntropyVariable = "entropy";

class VariableStore {
 public:
  using Vars = std::map<std::string, std::string>;

  VariableStore(Registry& user, Registry& machine) : user_(user), machine_(machine) {}

  // Reads the user root's key; on any error the machine root's, creating the key there when
  // it is missing. An error of that second read passes on.
  void load();

  // A copy of every variable.
  Vars snapshot() const { return vars_; }
  // The value of `name`, or "" when there is no such variable.
  std::string get(const std::string& name) const;

  // Applies `updates` (an empty value removes the variable) and writes the whole store to the
  // user root, or to the machine root when that fails. An error of the second write passes
  // on. A removed variable keeps its last value in the registry, since writes never delete.
  // A store that was never loaded is loaded first, keeping what could be read; a failure of
  // that read that is not an error::Exception writes "Caught fatal exception reading system
  // variables" to standard error and ends the process with exit code 1.
  void store(const Vars& updates);
  // Closes both registries until the next load or store (see Registry::release).
  void release() {
    user_.release();
    machine_.release();
  }

 private:
  void readFrom(Registry& root, bool create);

  Registry& user_;
  Registry& machine_;
  Vars vars_;
  bool loaded_ = false;
};

}  // namespace config
