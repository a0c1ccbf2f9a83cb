#include "registry_file.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>

#include "error/exception.h"

namespace vexlanctl {

namespace {

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : ok_(sqlite3_prepare_v2(db, sql, -1, &st_, nullptr)) {}
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool prepared() const { return ok_ == SQLITE_OK; }
  void bind(int i, const std::string& s) {
    sqlite3_bind_blob(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  }
  int step() { return sqlite3_step(st_); }
  std::string blob(int col) const {
    const void* p = sqlite3_column_blob(st_, col);
    return p ? std::string(static_cast<const char*>(p),
                           static_cast<size_t>(sqlite3_column_bytes(st_, col)))
             : std::string();
  }

 private:
  sqlite3_stmt* st_ = nullptr;
  int ok_;
};

}  // namespace

RegistryFile::RegistryFile(const std::string& file) : file_(file) {
  // Never creates a database: a missing one is reported, not replaced by an empty one.
  if (::access(file.c_str(), F_OK) != 0) error::throwErrno("Cannot open registry " + file);
  if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    fail("Cannot open registry " + file);
  }
  sqlite3_busy_timeout(db_, 5000);
}

RegistryFile::~RegistryFile() {
  sqlite3_close_v2(db_);
}

void RegistryFile::fail(const std::string& what) {
  throw error::Exception(what + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory"));
}

std::vector<std::string> RegistryFile::keys() {
  Statement st(db_, "SELECT path FROM keys ORDER BY path");
  if (!st.prepared()) fail("Cannot read registry " + file_);
  std::vector<std::string> out;
  int rc;
  while ((rc = st.step()) == SQLITE_ROW)
    out.push_back(st.blob(0));
  if (rc != SQLITE_DONE) fail("Cannot read registry " + file_);
  return out;
}

bool RegistryFile::deleteValue(const std::string& path, const std::string& name) {
  // One statement is one transaction: a reader sees the value or its absence, nothing between.
  Statement st(db_, "DELETE FROM vals WHERE name=? AND key=(SELECT id FROM keys WHERE path=?)");
  if (!st.prepared()) fail("Cannot change registry " + file_);
  st.bind(1, name);
  st.bind(2, path);
  if (st.step() != SQLITE_DONE) fail("Cannot change registry " + file_);
  return sqlite3_changes(db_) > 0;
}

}  // namespace vexlanctl
