#include "supervisor/program.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

extern char** environ;

namespace vxtest {

Program::Program(const std::string& path, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, const std::string& cwd) {
  std::vector<std::string> argv{path}, envv;
  argv.insert(argv.end(), args.begin(), args.end());
  for (char** e = environ; *e != nullptr; ++e) {
    std::string var = *e, name = var.substr(0, var.find('='));
    if (name != "NOTIFY_SOCKET" && name != "VX_RUN_IN_BACKGROUND" && env.count(name) == 0) {
      envv.push_back(var);
    }
  }
  for (const auto& [name, value] : env)
    envv.push_back(name + "=" + value);
  std::vector<char*> argp, envp;
  for (auto& s : argv)
    argp.push_back(s.data());
  for (auto& s : envv)
    envp.push_back(s.data());
  argp.push_back(nullptr);
  envp.push_back(nullptr);
  std::string out = output_.file("out"), err = output_.file("err");
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT, 0600), 1);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT, 0600), 2);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execve(path.c_str(), argp.data(), envp.data());
    ::_exit(127);
  }
}

Program::~Program() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool Program::waitForErr(const std::string& text, std::chrono::milliseconds limit) {
  for (auto until = std::chrono::steady_clock::now() + limit;
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(5ms)) {
    if (readFile(output_.file("err")).find(text) != std::string::npos) return true;
  }
  return false;
}

Outcome Program::wait(std::chrono::milliseconds limit) {
  Outcome o;
  int status = 0;
  auto until = std::chrono::steady_clock::now() + limit;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= until) {
      ADD_FAILURE() << "child " << pid_ << " still running; killed";
      return o;
    }
    std::this_thread::sleep_for(5ms);
  }
  pid_ = -1;
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  o.out = readFile(output_.file("out"));
  o.err = readFile(output_.file("err"));
  return o;
}

Outcome run(const std::string& path, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, const std::string& cwd) {
  return Program(path, args, env, cwd).wait();
}

DaemonTag::DaemonTag() {
  static int counter = 0;
  entry_ = "VXTEST_DAEMON_TAG=" + std::to_string(::getpid()) + "." + std::to_string(++counter);
}

DaemonTag::~DaemonTag() {
  for (pid_t pid : running())
    ::kill(pid, SIGKILL);
}

std::map<std::string, std::string> DaemonTag::env(std::map<std::string, std::string> more) const {
  more["VXTEST_DAEMON_TAG"] = entry_.substr(entry_.find('=') + 1);
  return more;
}

std::vector<pid_t> DaemonTag::running() const {
  std::vector<pid_t> found;
  DIR* proc = ::opendir("/proc");
  while (dirent* d = proc != nullptr ? ::readdir(proc) : nullptr) {
    // A zombie's environment reads as empty: only living processes count.
    std::string env = readFile("/proc/" + std::string(d->d_name) + "/environ");
    if (env.find('\0' + entry_ + '\0') != std::string::npos || env.rfind(entry_ + '\0', 0) == 0) {
      found.push_back(std::atoi(d->d_name));
    }
  }
  if (proc != nullptr) ::closedir(proc);
  return found;
}

bool DaemonTag::waitGone(std::chrono::milliseconds limit) const {
  for (auto until = std::chrono::steady_clock::now() + limit; !running().empty();
       std::this_thread::sleep_for(10ms)) {
    if (std::chrono::steady_clock::now() >= until) return false;
  }
  return true;
}

NotifySocket::NotifySocket(const std::string& path)
    : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
}

NotifySocket::~NotifySocket() {
  ::close(fd_);
}

std::string NotifySocket::until(const std::string& text) {
  std::string all;
  pollfd pfd = {fd_, POLLIN, 0};
  while (all.find(text) == std::string::npos && ::poll(&pfd, 1, 10000) > 0) {
    char buf[512];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n > 0) all += std::string(buf, static_cast<size_t>(n)) + "|";
  }
  return all;
}

}  // namespace vxtest
