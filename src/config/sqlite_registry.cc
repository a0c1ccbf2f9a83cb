#include "config/sqlite_registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace config {

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string homeDirectory() {
  std::string home = env("HOME");
  if (!home.empty()) return home;
  struct passwd pw;
  struct passwd* found = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found) return found->pw_dir;
  return ".";
}

// A prepared statement that finalises itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &st_, nullptr); }
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  int prepared() const { return rc_; }
  void bind(int i, const std::string& s) {
    sqlite3_bind_blob(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  }
  void bind(int i, long long v) { sqlite3_bind_int64(st_, i, v); }
  int step() { return sqlite3_step(st_); }
  void reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }
  std::string blob(int col) const {
    const void* p = sqlite3_column_blob(st_, col);
    return p ? std::string(static_cast<const char*>(p),
                           static_cast<std::size_t>(sqlite3_column_bytes(st_, col)))
             : std::string();
  }
  long long integer(int col) const { return sqlite3_column_int64(st_, col); }

 private:
  sqlite3_stmt* st_ = nullptr;
  int rc_;
};

// How long an operation waits for a database another process holds: $VX_REGISTRY_BUSY_MS
// when set (tests), else kBusyTimeoutMs.
int busyTimeoutMs() {
  const std::string v = env("VX_REGISTRY_BUSY_MS");
  char* end = nullptr;
  long ms = v.empty() ? -1 : std::strtol(v.c_str(), &end, 10);
  return ms >= 0 && ms <= 3600000 && end != nullptr && *end == '\0'
             ? static_cast<int>(ms)
             : SqliteRegistry::kBusyTimeoutMs;
}

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, path BLOB NOT NULL UNIQUE);"
    "CREATE TABLE IF NOT EXISTS vals(id INTEGER PRIMARY KEY, key INTEGER NOT NULL,"
    " name BLOB NOT NULL, data BLOB NOT NULL, UNIQUE(key, name));";

}  // namespace

std::string registryLocation(RegistryRoot root) {
  if (root == RegistryRoot::Machine) {
    std::string p = env("VX_REGISTRY_MACHINE");
    return p.empty() ? "/var/lib/vexlan/registry.db" : p;
  }
  std::string p = env("VX_REGISTRY_USER");
  if (!p.empty()) return p;
  std::string state = env("XDG_STATE_HOME");
  if (state.empty() || state[0] != '/') state = homeDirectory() + "/.local/state";
  return state + "/vexlan/registry.db";
}

std::vector<std::string> registrySkeleton(RegistryRoot root) {
  if (root == RegistryRoot::Machine) {
    return {"SOFTWARE", "SOFTWARE\\Vexlan", "SOFTWARE\\Vexlan\\VXServer"};
  }
  return {"SOFTWARE"};
}

SqliteRegistry::SqliteRegistry(std::string file, std::vector<std::string> skeleton)
    : file_(std::move(file)), skeleton_(std::move(skeleton)) {}

void SqliteRegistry::release() {
  // Closing the last connection checkpoints the write-ahead log into the database and removes it.
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

SqliteRegistry::~SqliteRegistry() {
  sqlite3_close_v2(db_);
}

std::unique_ptr<SqliteRegistry> SqliteRegistry::forRoot(RegistryRoot root) {
  return std::make_unique<SqliteRegistry>(registryLocation(root), registrySkeleton(root));
}

bool SqliteRegistry::onReadOnlyFileSystem() const {
  struct statvfs fs;
  std::filesystem::path dir = std::filesystem::path(file_).parent_path();
  return ::statvfs(dir.empty() ? "." : dir.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0;
}

int SqliteRegistry::code(int rc) const {
  // SQLite reports a read-only file system in several ways (a read-only database, a journal
  // it cannot open, ENOENT for a file it could not create); the administrator needs to hear
  // the one reason behind them all.
  switch (rc & 0xff) {
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_PERM:
      if (onReadOnlyFileSystem()) return EROFS;
      break;
    default:
      break;
  }
  switch (rc & 0xff) {
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_FULL:
      if (int sys = db_ ? sqlite3_system_errno(db_) : 0) return sys;
      return (rc & 0xff) == SQLITE_FULL ? ENOSPC : EIO;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return EBUSY;
    case SQLITE_NOMEM:
      return ENOMEM;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return EACCES;
    case SQLITE_TOOBIG:
      return EOVERFLOW;
    default:
      return EIO;  // corrupt, not a database, and the like
  }
}

int SqliteRegistry::exec(const char* sql) {
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? 0 : code(rc);
}

int SqliteRegistry::open(bool create) {
  if (db_) return 0;
  if (::access(file_.c_str(), F_OK) != 0) {
    if (errno != ENOENT || !create) return errno;
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::path(file_).parent_path();
    if (!dir.empty()) std::filesystem::create_directories(dir, ec);
    if (ec) return ec.value();
    int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    ::close(fd);
  }
  int rc =
      sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    int err = code(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return err;
  }
  sqlite3_busy_timeout(db_, busyTimeoutMs());
  int err = exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
  if (err) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  return err;
}

// Inside a write transaction: the tables and the skeleton keys exist afterwards. Doing this
// in every write, rather than once at creation, keeps a database whose creation was cut
// short (or that a reader opened first) as good as a new one.
int SqliteRegistry::prepareWrite() {
  if (int err = exec(kSchema)) return err;
  Statement add(db_, "INSERT OR IGNORE INTO keys(path) VALUES(?)");
  if (add.prepared() != SQLITE_OK) return code(add.prepared());
  for (const auto& k : skeleton_) {
    add.bind(1, k);
    if (int rc = add.step(); rc != SQLITE_DONE) return code(rc);
    add.reset();
  }
  return 0;
}

// Opens the database (creating it), starts a write transaction and finds key `path`; on
// failure nothing is left open.
int SqliteRegistry::beginWrite(const std::string& path, long long& id) {
  if (int err = open(true)) return err;
  if (int err = exec("BEGIN IMMEDIATE")) return err;
  int err = prepareWrite();
  if (!err) err = keyId(path, id);
  if (err) exec("ROLLBACK");
  return err;
}

// Ends a write transaction: committed when `err` is 0, rolled back otherwise.
int SqliteRegistry::finish(int err) {
  if (err) {
    exec("ROLLBACK");
    return err;
  }
  return exec("COMMIT");
}

int SqliteRegistry::keyId(const std::string& path, long long& id) {
  Statement st(db_, "SELECT id FROM keys WHERE path=?");
  // No tables yet: nothing was ever written, so no key beyond the skeleton exists.
  if (st.prepared() != SQLITE_OK && !hasTables()) return ENOENT;
  if (st.prepared() != SQLITE_OK) return code(st.prepared());
  st.bind(1, path);
  int rc = st.step();
  if (rc == SQLITE_DONE) return ENOENT;
  if (rc != SQLITE_ROW) return code(rc);
  id = st.integer(0);
  return 0;
}

bool SqliteRegistry::inSkeleton(const std::string& path) const {
  return std::find(skeleton_.begin(), skeleton_.end(), path) != skeleton_.end();
}

bool SqliteRegistry::hasTables() {
  Statement st(db_, "SELECT 1 FROM sqlite_master WHERE type='table' AND name='vals'");
  return st.prepared() == SQLITE_OK && st.step() == SQLITE_ROW;
}

// The skeleton keys always exist, written or not: a root nobody wrote to yet reads as a
// freshly installed one.
int SqliteRegistry::openKey(const std::string& path) {
  if (inSkeleton(path)) return 0;
  if (int err = open(false)) return err;
  long long id = 0;
  return keyId(path, id);
}

int SqliteRegistry::createKey(const std::string& parent, const std::string& leaf) {
  long long id = 0;
  if (int err = beginWrite(parent, id)) return err;
  int err = 0;
  {
    Statement add(db_, "INSERT OR IGNORE INTO keys(path) VALUES(?)");
    add.bind(1, parent + "\\" + leaf);
    if (int rc = add.step(); rc != SQLITE_DONE) err = code(rc);
  }
  return finish(err);
}

int SqliteRegistry::readValues(const std::string& path, std::vector<RegistryValue>& out) {
  if (int err = open(false)) return err == ENOENT && inSkeleton(path) ? 0 : err;
  // One read transaction: the key and its values come from the same snapshot.
  if (int err = exec("BEGIN")) return err;
  long long id = 0;
  int err = keyId(path, id);
  if (!err) {
    Statement st(db_, "SELECT name, data FROM vals WHERE key=? ORDER BY id");
    st.bind(1, id);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW)
      out.push_back({st.blob(0), st.blob(1)});
    if (rc != SQLITE_DONE) err = code(rc);
  } else if (err == ENOENT && inSkeleton(path)) {
    err = 0;  // a skeleton key nobody wrote to yet
  }
  exec("COMMIT");
  return err;
}

int SqliteRegistry::writeValues(const std::string& path,
                                const std::vector<std::pair<std::string, std::string>>& values,
                                std::string& failed) {
  long long id = 0;
  if (int err = beginWrite(path, id)) return err;
  int err = 0;
  {
    // An update keeps the row, and with it the value's place in the enumeration order.
    Statement set(db_,
                  "INSERT INTO vals(key, name, data) VALUES(?, ?, ?)"
                  " ON CONFLICT(key, name) DO UPDATE SET data=excluded.data");
    for (const auto& [name, data] : values) {
      set.bind(1, id);
      set.bind(2, name);
      set.bind(3, data);
      if (int rc = set.step(); rc != SQLITE_DONE) {
        err = code(rc);
        failed = name;
        break;
      }
      set.reset();
    }
  }
  err = finish(err);
  // Every value was taken and the commit failed (a full disk shows up here): the write failed
  // on the last of them.
  if (err != 0 && failed.empty() && !values.empty()) failed = values.back().first;
  return err;
}

}  // namespace config
