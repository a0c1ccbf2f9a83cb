// Shared test helpers: temporary directories and child processes that re-execute the test
// binary itself, so that multi-process tests run real processes without extra programs.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vxtest {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets an environment variable of this process (unsets it for a null value) and puts back
// what it was when the scope ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Path of the running test binary.
std::string selfExe();

// Child entry points. A test binary started with VXTEST_CHILD=<name> in its environment runs
// the child registered under that name with the remaining arguments and exits with its result
// instead of running the tests.
using ChildMain = std::function<int(const std::vector<std::string>& args)>;
bool registerChild(const std::string& name, ChildMain fn);

// Environment entry that selects a child: "VXTEST_CHILD=<name>".
std::string childSelector(const std::string& name);

// Writes a whole file (truncating) / reads a whole file; failures fail the current test.
void writeFile(const std::string& path, const std::string& contents);
std::string readFile(const std::string& path);

// A second, unprivileged local user: the uid and gid of "nobody".
inline constexpr unsigned kOtherUid = 65534;
inline constexpr unsigned kOtherGid = 65534;
// Acting as that user needs root; a test that needs it skips with this reason otherwise.
bool canActAsOtherUser();
inline constexpr const char* kNeedsRoot =
    "needs root, to act as a second, unprivileged uid (65534) in a child process";
// Runs `fn` in a forked child that has dropped every privilege to kOtherUid/kOtherGid (no
// supplementary groups) and returns its result, or -1 when the child did not end normally.
// Only async-signal-safe work and plain system calls belong in `fn`.
int asOtherUser(const std::function<int()>& fn);

}  // namespace vxtest

// VXTEST_CHILD(name) { ...; return code; } defines a child entry point; `args` holds its
// arguments.
#define VXTEST_CHILD(name)                                              \
  static int vxtest_child_##name(const std::vector<std::string>& args); \
  [[maybe_unused]] static const bool vxtest_child_reg_##name =          \
      ::vxtest::registerChild(#name, vxtest_child_##name);              \
  static int vxtest_child_##name([[maybe_unused]] const std::vector<std::string>& args)
