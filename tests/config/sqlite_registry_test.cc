#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>

#include "config/registry.h"
#include "config/sqlite_registry.h"
#include "error/exception.h"
#include "support/test_support.h"

namespace config {
namespace {

const std::string kKey = "SOFTWARE\\Vexlan\\VXServer\\Variables";
constexpr int kValues = 40;

using vxtest::ScopedEnv;

TEST(SqliteRegistry, Locations) {
  {
    ScopedEnv u("VX_REGISTRY_USER", "/x/user.db"), m("VX_REGISTRY_MACHINE", "/x/machine.db");
    EXPECT_EQ(registryLocation(RegistryRoot::User), "/x/user.db");
    EXPECT_EQ(registryLocation(RegistryRoot::Machine), "/x/machine.db");
  }
  ScopedEnv u("VX_REGISTRY_USER", nullptr), m("VX_REGISTRY_MACHINE", nullptr);
  EXPECT_EQ(registryLocation(RegistryRoot::Machine), "/var/lib/vexlan/registry.db");
  {
    ScopedEnv s("XDG_STATE_HOME", "/state");
    EXPECT_EQ(registryLocation(RegistryRoot::User), "/state/vexlan/registry.db");
  }
  ScopedEnv s("XDG_STATE_HOME", "relative"), h("HOME", "/home/op");
  EXPECT_EQ(registryLocation(RegistryRoot::User), "/home/op/.local/state/vexlan/registry.db");
}

TEST(SqliteRegistry, CreatedOnFirstWritePrivateAndInWalMode) {
  vxtest::TempDir dir;
  const std::string file = dir.file("sub/dir/registry.db");
  SqliteRegistry reg(file, registrySkeleton(RegistryRoot::Machine));
  // Reading does not create the database.
  ConfigMap m;
  EXPECT_THROW(read_registry(reg, kKey, m, false), error::ESystemError);
  EXPECT_NE(::access(file.c_str(), F_OK), 0);
  // The machine root starts with the server's key, so the variables key can be created.
  read_registry(reg, kKey, m, true);
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &q, nullptr);
  ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)), "wal");
  sqlite3_finalize(q);
  sqlite3_close(db);

  // A second process-like opener sees the same data.
  write_registry(reg, kKey, {{"a", "1"}});
  SqliteRegistry other(file, {});
  m.clear();
  read_registry(other, kKey, m, false);
  EXPECT_EQ(m["a"].value, "1");
}

TEST(SqliteRegistry, UserRootHasNoServerKey) {
  vxtest::TempDir dir;
  SqliteRegistry reg(dir.file("user.db"), registrySkeleton(RegistryRoot::User));
  ConfigMap m;
  EXPECT_THROW(read_registry(reg, kKey, m, true), error::ESystemError);
  EXPECT_EQ(reg.openKey("SOFTWARE"), 0);
}

// A creation cut short (an empty file) or a first opener with other ideas about the
// skeleton must not hide the server key from the machine root.
TEST(SqliteRegistry, SkeletonSurvivesCutShortCreation) {
  vxtest::TempDir dir;
  const std::string file = dir.file("registry.db");
  vxtest::writeFile(file, "");
  {
    SqliteRegistry bare(file, {});
    ConfigMap m;
    EXPECT_THROW(read_registry(bare, kKey, m, false), error::ESystemError);
    EXPECT_THROW(write_registry(bare, kKey, {{"a", "1"}}), error::ESystemError);
  }
  SqliteRegistry machine(file, registrySkeleton(RegistryRoot::Machine));
  ConfigMap m;
  read_registry(machine, "SOFTWARE\\Vexlan\\VXServer", m, false);
  write_registry(machine, kKey, {{"a", "1"}});
  read_registry(machine, kKey, m, false);
  EXPECT_EQ(m["a"].value, "1");
}

TEST(SqliteRegistry, DamagedFilesAreErrorsNotCrashes) {
  vxtest::TempDir dir;
  vxtest::writeFile(dir.file("junk.db"), std::string(8192, 'J'));
  SqliteRegistry junk(dir.file("junk.db"), {});
  ConfigMap m;
  try {
    read_registry(junk, kKey, m, false);
    ADD_FAILURE() << "junk read as a database";
  } catch (const error::ESystemError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot open path", 0), 0u) << e.what();
  }
  ::mkdir(dir.file("adir").c_str(), 0700);
  SqliteRegistry notAFile(dir.file("adir"), {});
  EXPECT_NE(notAFile.openKey("SOFTWARE"), 0);
}

// Writes generation after generation of the same kValues names until killed; says "g" on
// descriptor 3 once it is about to write and "c" after each commit (dropped when the pipe is
// full, so the writer never blocks on its reporting).
VXTEST_CHILD(registry_writer) {
  SqliteRegistry reg(args.at(0), registrySkeleton(RegistryRoot::Machine));
  if (::write(3, "g", 1) != 1) return 1;
  ::fcntl(3, F_SETFL, O_NONBLOCK);
  for (int gen = 1;; ++gen) {
    std::map<std::string, std::string> values;
    for (int i = 0; i < kValues; ++i) {
      values["v" + std::to_string(i)] = "generation " + std::to_string(gen) + std::string(64, '.');
    }
    write_registry(reg, kKey, values);
    [[maybe_unused]] ssize_t n = ::write(3, "c", 1);
  }
}

// Starts the writer and returns once it has begun writing; with `after_commit`, once its
// first generation is committed (so the kill lands in a later write, however slow the
// machine is).
pid_t startWriter(const std::string& file, bool after_commit) {
  int go[2];
  if (::pipe(go) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(go[1], 3);
    const std::string exe = vxtest::selfExe();
    ::setenv("VXTEST_CHILD", "registry_writer", 1);
    ::execl(exe.c_str(), exe.c_str(), file.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(go[1]);
  char c;
  if (::read(go[0], &c, 1) != 1) pid = -1;
  if (after_commit && pid > 0 && ::read(go[0], &c, 1) != 1) pid = -1;
  ::close(go[0]);
  return pid;
}

// A writer killed at random moments leaves a database that opens, passes its integrity
// check and holds one whole generation (or nothing yet), never a mix.
TEST(SqliteRegistry, KilledWriterLeavesOldOrNewSet) {
  vxtest::TempDir dir;
  const std::string file = dir.file("registry.db");
  std::mt19937 rng(std::random_device{}());
  std::uniform_int_distribution<int> delayUs(0, 30000);
  int sawData = 0;
  const int rounds = 30;
  for (int round = 0; round < rounds; ++round) {
    // Odd rounds kill during a later generation; even rounds may also hit the first one.
    pid_t pid = startWriter(file, round % 2 == 1);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs(rng)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended by itself, status " << status;

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* q = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &q, nullptr), SQLITE_OK);
    if (sqlite3_step(q) == SQLITE_ROW) {
      EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)), "ok");
    }
    sqlite3_finalize(q);
    sqlite3_close(db);

    SqliteRegistry reg(file, {});
    ConfigMap m;
    try {
      read_registry(reg, kKey, m, false);
    } catch (const error::ESystemError&) {
      continue;  // killed before the first key existed
    }
    if (m.empty()) continue;
    ++sawData;
    ASSERT_EQ(m.size(), static_cast<std::size_t>(kValues));
    const std::string first = m.begin()->second.value;
    for (const auto& [name, v] : m)
      ASSERT_EQ(v.value, first) << name << " in round " << round;
  }
  EXPECT_GT(sawData, 0) << "no kill landed after a commit";
}

// Runs `fn` in a child with a private mount namespace and a small tmpfs at `dir`; its result,
// or -1 when no such namespace can be had here (not root, or no mount rights).
int withPrivateTmpfs(const std::string& dir, const std::function<int()>& fn) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=256k") != 0) {
      ::_exit(255);
    }
    ::_exit(fn());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

// Reading a key that exists, with `create`, takes no write lock: a server starting while
// another process writes the registry reads its variables at once.
TEST(SqliteRegistry, AnExistingKeyIsReadWhileAnotherConnectionHoldsTheWriteLock) {
  vxtest::TempDir dir;
  ScopedEnv busy("VX_REGISTRY_BUSY_MS", "100");
  const std::string file = dir.file("r.db");
  SqliteRegistry reg(file, registrySkeleton(RegistryRoot::Machine));
  write_registry(reg, kKey, {{"colour", "blue"}});
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  SqliteRegistry reader(file, registrySkeleton(RegistryRoot::Machine));
  ConfigMap m;
  EXPECT_NO_THROW(read_registry(reader, kKey, m, true));
  EXPECT_EQ(m["colour"].value, "blue");
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
}

TEST(SqliteRegistry, AReadOnlyOrFullFileSystemIsReportedAsSuch) {
  vxtest::TempDir dir;
  const std::string mnt = dir.file("mnt");
  ::mkdir(mnt.c_str(), 0700);
  int r = withPrivateTmpfs(mnt, [&] {
    {
      SqliteRegistry reg(mnt + "/r.db", registrySkeleton(RegistryRoot::Machine));
      write_registry(reg, kKey, {{"a", "1"}});
      // Full: the message names the value the write failed on.
      try {
        write_registry(reg, kKey, {{"a", "1"}, {"big", std::string(1 << 20, 'x')}});
        return 10;
      } catch (const error::ESystemError& e) {
        if (e.code() != ENOSPC) return 11;
        if (std::string(e.what()).find("valuename big value xxx") == std::string::npos) return 12;
      }
    }
    // Read-only, for a database that exists and for one that does not (a file system with a
    // file open for writing cannot be made read-only, hence the closed registry above).
    if (::mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) return 13;
    SqliteRegistry existing(mnt + "/r.db", registrySkeleton(RegistryRoot::Machine));
    std::string failed;
    if (int e = existing.writeValues(kKey, {{"a", "2"}}, failed); e != EROFS) return 20 + (e & 7);
    SqliteRegistry fresh(mnt + "/new.db", registrySkeleton(RegistryRoot::Machine));
    if (fresh.createKey("SOFTWARE\\Vexlan\\VXServer", "Variables") != EROFS) return 30;
    return 0;
  });
  if (r == -1) GTEST_SKIP() << "needs root to mount a private tmpfs";
  EXPECT_EQ(r, 0);
}

}  // namespace
}  // namespace config
