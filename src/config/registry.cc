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

// Opens parent\leaf, creating the leaf under an existing parent; `parentFailure` is the
// message head for a parent that cannot be opened.
void openOrCreate(Registry& root, const std::string& path, const char* parentFailure) {
  auto [parent, leaf] = splitPath(path);
  if (int rc = root.openKey(parent)) {
    throw error::syserror(parentFailure + quote(parent) + " returncode " + util::dec(rc), rc);
  }
  if (int rc = root.createKey(parent, leaf)) {
    throw error::syserror(
        "Couldn't create registrykey " + quote(path) + " errorcode returned : " + util::dec(rc),
        rc);
  }
}

}  // namespace

void read_registry(Registry& root, const std::string& path, ConfigMap& map, bool create) {
  if (create) {
    openOrCreate(root, path, "Cannot hardopen path ");
  } else if (int rc = root.openKey(path)) {
    throw error::syserror("Cannot open path " + quote(path) + " returncode " + util::dec(rc), rc);
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
  openOrCreate(root, path, "Cannot open path ");
  std::vector<std::pair<std::string, std::string>> list(values.begin(), values.end());
  std::string failed;
  if (int rc = root.writeValues(path, list, failed)) {
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
