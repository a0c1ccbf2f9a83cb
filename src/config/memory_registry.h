// A registry root held in memory, for tests of the code above the registry. It behaves like
// the SQLite store (keys must be created under an existing parent, values keep creation
// order, a write is all or nothing) and can be told to fail.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "config/registry.h"

namespace config {

class MemoryRegistry : public Registry {
 public:
  // A new root holds the given keys, like a freshly installed registry.
  explicit MemoryRegistry(const std::vector<std::string>& keys = {"SOFTWARE"});

  // Every following operation fails with `code` (0 stops the failures).
  void failWith(int code) { fail_ = code; }

  int openKey(const std::string& path) override;
  int createKey(const std::string& parent, const std::string& leaf) override;
  int readValues(const std::string& path, std::vector<RegistryValue>& out) override;
  int writeValues(const std::string& path,
                  const std::vector<std::pair<std::string, std::string>>& values,
                  std::string& failed) override;

 private:
  std::map<std::string, std::vector<RegistryValue>> keys_;
  int fail_ = 0;
};

}  // namespace config
