#include "config/registry.h"

#include <cstring>
#include <stdexcept>

#include "error/exception.h"
#include "util/text.h"

namespace config {

namespace {

std::pair<std::string, std::string> splitPath(const std::string& path) {
  const std::size_t slash = path.rfind('\\');
  if (slash == std::string::npos) throw std::out_of_range("invalid string position");
  return {path.substr(0, slash), path.substr(slash + 1)};
}

std::string quote(const std::string& s) {
  return "\"" + s + "\"";
}

error::syserror keyFailure(const std::string& path, int rc) {
  return error::syserror(
      "Couldn't create registrykey " + quote(path) + " errorcode returned : " + util::dec(rc), rc);
}

// Opens parent\leaf, creating the leaf under an existing parent; `parentFailure` is the
// message head for a parent that cannot be opened.
void openOrCreate(Registry& root, const std::string& path, const char* parentFailure) {
  auto [parent, leaf] = splitPath(path);
  if (int rc = root.openKey(parent)) {
    throw error::syserror(parentFailure + quote(parent) + " returncode " + util::dec(rc), rc);
  }
  if (int rc = root.createKey(parent, leaf)) throw keyFailure(path, rc);
}

}  // namespace

void read_registry(Registry& root, const std::string& path, ConfigMap& map, bool create) {
  // A key that exists is only opened, created or not: creating it is a write of its own (the
  // database's write lock and a commit) that every start of the server paid for nothing.
  if (int rc = root.openKey(path)) {
    if (!create) {
      throw error::syserror("Cannot open path " + quote(path) + " returncode " + util::dec(rc), rc);
    }
    openOrCreate(root, path, "Cannot hardopen path ");
  }
  std::vector<RegistryValue> values;
  if (int rc = root.readValues(path, values)) {
    throw error::syserror("Cannot get registry info on key " + path, rc);
  }
  // Enumerated from the last index down; the line is the index less one.
  for (std::size_t i = values.size(); i-- > 0;) {
    const std::string& data = values[i].data;
    std::string text(data.c_str(), strnlen(data.c_str(), data.size()));
    if (text.empty()) continue;
    map.emplace(values[i].name, ConfigValue{std::move(text), static_cast<uint32_t>(i) - 1u, true});
  }
}

void write_registry(Registry& root, const std::string& path,
                    const std::map<std::string, std::string>& values,
                    const std::set<std::string>& withheld) {
  // A key that exists already (every save after the first) is written in one transaction:
  // creating it is a write of its own, which takes the database's write lock and commits even
  // when there is nothing to create. Any other answer goes the long way, whose messages name
  // the parent or the key that failed.
  const bool existed = root.openKey(path) == 0;
  if (!existed) openOrCreate(root, path, "Cannot open path ");
  std::vector<std::pair<std::string, std::string>> list(values.begin(), values.end());
  std::string failed;
  if (int rc = root.writeValues(path, list, failed)) {
    // Failed before any value (the database could not be opened for writing, or another
    // process holds it): where the key's creation used to fail first, with this message.
    if (existed && failed.empty()) throw keyFailure(path, rc);
    auto it = values.find(failed);
    const std::string text = it == values.end()            ? std::string()
                             : withheld.count(failed) != 0 ? std::string("(withheld)")
                                                           : it->second;
    throw error::syserror(
        "Couldn't create registryvalue in key " + path + " valuename " + failed + " value " + text,
        rc);
  }
}

}  // namespace config
