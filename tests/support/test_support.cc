#include "support/test_support.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vxtest {

namespace {
std::map<std::string, ChildMain>& children() {
  static std::map<std::string, ChildMain> table;
  return table;
}
}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vxtest.XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
  }
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  value ? ::setenv(name, value, 1) : ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  old_ ? ::setenv(name_.c_str(), old_->c_str(), 1) : ::unsetenv(name_.c_str());
}

std::string selfExe() {
  return std::filesystem::read_symlink("/proc/self/exe").string();
}

bool registerChild(const std::string& name, ChildMain fn) {
  children()[name] = std::move(fn);
  return true;
}

std::string childSelector(const std::string& name) {
  return "VXTEST_CHILD=" + name;
}

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}

bool canActAsOtherUser() {
  return ::geteuid() == 0;
}

int asOtherUser(const std::function<int()>& fn) {
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kOtherGid, kOtherGid, kOtherGid) != 0 ||
        ::setresuid(kOtherUid, kOtherUid, kOtherUid) != 0 || ::geteuid() != kOtherUid) {
      ::_exit(126);
    }
    ::_exit(fn());
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vxtest

int main(int argc, char** argv) {
  if (const char* child = std::getenv("VXTEST_CHILD")) {
    auto it = vxtest::children().find(child);
    if (it == vxtest::children().end()) return 99;
    std::string name = child;
    ::unsetenv("VXTEST_CHILD");
    return it->second(std::vector<std::string>(argv + 1, argv + argc));
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
