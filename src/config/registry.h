// The registry: per root (user, machine) a tree of keys named by backslash paths
// ("SOFTWARE\Vexlan\VXServer"), each holding named text values in creation order. The server
// reads its configuration from it when no file is given and keeps its variables in it.
//
// `Registry` is the small storage interface one root implements; read_registry and
// write_registry hold the order of operations and every message, so each back end behaves
// the same towards the configuration code.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/config_map.h"

namespace config {

struct RegistryValue {
  std::string name;
  std::string data;
};

// Every operation returns 0 or an errno code; none throws for a storage failure.
class Registry {
 public:
  virtual ~Registry() = default;

  // 0 when the key exists (ENOENT when it does not).
  virtual int openKey(const std::string& path) = 0;
  // Creates `parent`\`leaf` unless it exists; `parent` must exist (ENOENT otherwise).
  virtual int createKey(const std::string& parent, const std::string& leaf) = 0;
  // The values of an existing key in creation order.
  virtual int readValues(const std::string& path, std::vector<RegistryValue>& out) = 0;
  // Sets every value of an existing key in one all-or-nothing step: a value that exists keeps
  // its place in the enumeration order, a new one goes last. On failure `failed` names the
  // value that could not be set (empty when the failure is not tied to one value).
  virtual int writeValues(const std::string& path,
                          const std::vector<std::pair<std::string, std::string>>& values,
                          std::string& failed) = 0;
  // Gives back what an open database holds (its connection, its write-ahead log folded into the
  // file); the next call opens it again. Nothing for a back end without such state.
  virtual void release() {}
};

// Loads the values of root\path into `map` as {text up to its first NUL, enumeration index
// less one, from_registry}; empty texts are dropped. With `create` the key is created under
// its existing parent first. Failures throw error::ESystemError (the codes appear in the
// messages); a path without a backslash with `create` throws std::out_of_range.
void read_registry(Registry& root, const std::string& path, ConfigMap& map, bool create);

// Creates root\path under its existing parent if needed and sets every value (never deletes
// one). The whole set is stored atomically; when the key exists, in a single write. A failure
// message names the value it failed on with its text, except for the names in `withheld` (secrets),
// whose text shows as
// "(withheld)".
void write_registry(Registry& root, const std::string& path,
                    const std::map<std::string, std::string>& values,
                    const std::set<std::string>& withheld = {});

}  // namespace config
