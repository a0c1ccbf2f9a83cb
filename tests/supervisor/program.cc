#include "supervisor/program.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "support/test_support.h"

extern char** environ;

namespace vxtest {

namespace {

std::vector<std::string> childEnvironment(const EnvChanges& changes) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e != nullptr; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq != nullptr) vars[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
  }
  for (const char* name : {"NOTIFY_SOCKET", "VX_RUN_IN_BACKGROUND", "VXTEST_CHILD"})
    vars.erase(name);
  for (const auto& [name, value] : changes) {
    if (value) {
      vars[name] = *value;
    } else {
      vars.erase(name);
    }
  }
  std::vector<std::string> out;
  for (const auto& [name, value] : vars)
    out.push_back(name + "=" + value);
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& v) {
  std::vector<char*> p;
  for (auto& s : v)
    p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

}  // namespace

Program::Program(const std::string& path, const std::vector<std::string>& args,
                 const EnvChanges& env, const std::string& cwd) {
  std::vector<std::string> argv{path};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> envv = childEnvironment(env);
  std::vector<char*> argp = pointers(argv), envp = pointers(envv);
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execve(path.c_str(), argp.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  out_fd_ = out[0];
  err_fd_ = err[0];
}

Program::~Program() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_fd_ >= 0) ::close(out_fd_);
  if (err_fd_ >= 0) ::close(err_fd_);
}

// Reads what is there; false once both outputs are closed or the time is out.
bool Program::pump(std::chrono::steady_clock::time_point until) {
  pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (out_fd_ < 0 && err_fd_ < 0) return false;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      until - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) return true;
  for (int i = 0; i < 2; ++i) {
    if (fds[i].revents == 0) continue;
    int& fd = i == 0 ? out_fd_ : err_fd_;
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      (i == 0 ? outcome_.out : outcome_.err).append(buf, static_cast<size_t>(n));
    } else {
      ::close(fd);
      fd = -1;
    }
  }
  return true;
}

bool Program::waitForErr(const std::string& text, std::chrono::milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (outcome_.err.find(text) == std::string::npos) {
    if (!pump(until)) return false;
  }
  return true;
}

void Program::signal(int sig) const {
  if (pid_ > 0) ::kill(pid_, sig);
}

Outcome Program::wait(std::chrono::milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (pump(until)) {
  }
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      if (WIFEXITED(status)) {
        outcome_.status = WEXITSTATUS(status);
      } else {
        outcome_.signal = WTERMSIG(status);
      }
      return outcome_;
    }
    if (std::chrono::steady_clock::now() >= until) {
      ADD_FAILURE() << "child " << pid_ << " still running; killed. stderr: " << outcome_.err;
      return outcome_;  // the destructor kills it
    }
    std::this_thread::sleep_for(5ms);
  }
}

Outcome run(const std::string& path, const std::vector<std::string>& args, const EnvChanges& env,
            const std::string& cwd) {
  return Program(path, args, env, cwd).wait();
}

std::vector<pid_t> processesWith(const std::string& name, const std::string& value) {
  std::string entry = name + "=" + value;
  std::vector<pid_t> found;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return found;
  while (dirent* d = ::readdir(proc)) {
    char* end;
    long pid = std::strtol(d->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    std::string env = readFile("/proc/" + std::string(d->d_name) + "/environ");
    for (size_t i = 0; i < env.size();) {
      size_t end_of_entry = env.find('\0', i);
      if (end_of_entry == std::string::npos) end_of_entry = env.size();
      if (env.compare(i, end_of_entry - i, entry) == 0) {
        found.push_back(static_cast<pid_t>(pid));
        break;
      }
      i = end_of_entry + 1;
    }
  }
  ::closedir(proc);
  return found;
}

DaemonTag::DaemonTag() {
  static int counter = 0;
  value_ = std::to_string(::getpid()) + "." + std::to_string(++counter);
}

DaemonTag::~DaemonTag() {
  for (pid_t pid : running())
    ::kill(pid, SIGKILL);
}

bool DaemonTag::waitGone(std::chrono::milliseconds limit) const {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!running().empty()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

}  // namespace vxtest
