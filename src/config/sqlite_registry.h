// A registry root stored in one SQLite database file. The file uses a write-ahead log and
// every write is one transaction, so a process killed in the middle of a write leaves the
// old or the new set of values, and readers in other processes never see half a write.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "config/registry.h"

struct sqlite3;

namespace config {

enum class RegistryRoot { User, Machine };

// Where a root's database lives: $VX_REGISTRY_USER, else $XDG_STATE_HOME/vexlan/registry.db,
// else ~/.local/state/vexlan/registry.db for the user; $VX_REGISTRY_MACHINE, else
// /var/lib/vexlan/registry.db for the machine.
std::string registryLocation(RegistryRoot root);

// The keys a new database of that root starts with: every root has "SOFTWARE", and the
// machine root has the server's own key as an installed system does, so that the variables
// key can be created beneath it on first use.
std::vector<std::string> registrySkeleton(RegistryRoot root);

class SqliteRegistry : public Registry {
 public:
  // How long an operation waits for a database that another process holds (an administrator's
  // sqlite3, a backup) before it fails with EBUSY; $VX_REGISTRY_BUSY_MS overrides it.
  static constexpr int kBusyTimeoutMs = 20000;

  // Nothing is opened yet: reading a database that does not exist reports ENOENT without
  // creating it; the first key creation or write creates it (mode 0600, as it holds the
  // saved entropy) with its directory and `skeleton`.
  SqliteRegistry(std::string file, std::vector<std::string> skeleton);
  ~SqliteRegistry() override;
  void release() override;
  SqliteRegistry(const SqliteRegistry&) = delete;
  SqliteRegistry& operator=(const SqliteRegistry&) = delete;

  static std::unique_ptr<SqliteRegistry> forRoot(RegistryRoot root);

  int openKey(const std::string& path) override;
  int createKey(const std::string& parent, const std::string& leaf) override;
  int readValues(const std::string& path, std::vector<RegistryValue>& out) override;
  int writeValues(const std::string& path,
                  const std::vector<std::pair<std::string, std::string>>& values,
                  std::string& failed) override;

  const std::string& file() const { return file_; }

 private:
  int open(bool create);
  bool inSkeleton(const std::string& path) const;
  int prepareWrite();
  int beginWrite(const std::string& path, long long& id);
  int finish(int err);
  bool hasTables();
  // The id of key `path` in `id`; ENOENT when there is none.
  int keyId(const std::string& path, long long& id);
  int exec(const char* sql);
  // The errno for an SQLite result; EROFS whenever the database's file system is read-only.
  int code(int rc) const;
  bool onReadOnlyFileSystem() const;

  std::string file_;
  std::vector<std::string> skeleton_;
  sqlite3* db_ = nullptr;
};

}  // namespace config
