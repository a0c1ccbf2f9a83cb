// The two registry operations the server itself never needs, done directly on a root's
// database: listing its keys and deleting a value. Everything else goes through
// config::SqliteRegistry, so that the tool reads and writes exactly as the server does.
#pragma once

#include <string>
#include <vector>

struct sqlite3;

namespace vexlanctl {

class RegistryFile {
 public:
  // Opens an existing database; error::ESystemError (ENOENT and the like) otherwise.
  explicit RegistryFile(const std::string& file);
  ~RegistryFile();
  RegistryFile(const RegistryFile&) = delete;
  RegistryFile& operator=(const RegistryFile&) = delete;

  // Every key path, sorted.
  std::vector<std::string> keys();
  // Removes value `name` of key `path` in one transaction; false when there was none.
  bool deleteValue(const std::string& path, const std::string& name);

 private:
  [[noreturn]] void fail(const std::string& what);

  std::string file_;
  sqlite3* db_ = nullptr;
};

}  // namespace vexlanctl
