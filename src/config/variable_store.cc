#include "config/variable_store.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <set>

#include "error/exception.h"

namespace config {

void VariableStore::readFrom(Registry& root, bool create) {
  ConfigMap map;
  read_registry(root, kVariablesKey, map, create);
  for (auto& [name, v] : map)
    vars_[name] = std::move(v.value);
}

void VariableStore::load() {
  loaded_ = true;
  try {
    readFrom(user_, false);
  } catch (const std::exception&) {
    readFrom(machine_, true);
  }
}

std::string VariableStore::get(const std::string& name) const {
  auto it = vars_.find(name);
  return it == vars_.end() ? std::string() : it->second;
}

void VariableStore::store(const Vars& updates) {
  if (!loaded_) {
    try {
      load();
    } catch (const error::Exception&) {
      // Keep what was read: the registry will be written with the store as it stands.
    } catch (...) {
      // Not a failure of the registry but of the process (memory, a broken invariant of a
      // library): writing the store now could lose every variable.
      std::fputs("Caught fatal exception reading system variables\n", stderr);
      std::fflush(stderr);
      std::_Exit(1);
    }
  }
  for (const auto& [name, value] : updates) {
    if (value.empty()) {
      vars_.erase(name);
    } else {
      vars_[name] = value;
    }
  }
  // The saved entropy pool never appears in a message: logs are read by more people.
  const std::set<std::string> secret = {kEntropyVariable};
  try {
    write_registry(user_, kVariablesKey, vars_, secret);
  } catch (const std::exception&) {
    write_registry(machine_, kVariablesKey, vars_, secret);
  }
}

}  // namespace config
