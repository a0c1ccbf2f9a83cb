#include "config/memory_registry.h"

#include <cerrno>

namespace config {

MemoryRegistry::MemoryRegistry(const std::vector<std::string>& keys) {
  for (const auto& k : keys)
    keys_[k];
}

int MemoryRegistry::openKey(const std::string& path) {
  if (fail_) return fail_;
  return keys_.count(path) ? 0 : ENOENT;
}

int MemoryRegistry::createKey(const std::string& parent, const std::string& leaf) {
  if (fail_) return fail_;
  if (!keys_.count(parent)) return ENOENT;
  keys_[parent + "\\" + leaf];
  return 0;
}

int MemoryRegistry::readValues(const std::string& path, std::vector<RegistryValue>& out) {
  if (fail_) return fail_;
  auto it = keys_.find(path);
  if (it == keys_.end()) return ENOENT;
  out = it->second;
  return 0;
}

int MemoryRegistry::writeValues(const std::string& path,
                                const std::vector<std::pair<std::string, std::string>>& values,
                                std::string& failed) {
  if (fail_) {
    failed = values.empty() ? std::string() : values.front().first;
    return fail_;
  }
  auto it = keys_.find(path);
  if (it == keys_.end()) return ENOENT;
  std::vector<RegistryValue> next = it->second;
  for (const auto& [name, data] : values) {
    bool found = false;
    for (auto& v : next) {
      if (v.name == name) {
        v.data = data;
        found = true;
        break;
      }
    }
    if (!found) next.push_back({name, data});
  }
  it->second = std::move(next);
  return 0;
}

}  // namespace config
