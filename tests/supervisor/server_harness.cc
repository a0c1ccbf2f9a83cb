#include "supervisor/server_harness.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace vxtest {

Server::Server(const std::string& config) {
  ::mkdir(dir_.file("run").c_str(), 0700);
  const std::string d = dir_.path();
  writeFile(configFile(), "logdir = \"" + d + "/log\"\n" + "working_directory = \"" + d + "\"\n" +
                              "layout_conf = \"" + d + "/layout.conf\"\n" + "dbms_tsdb = \"" + d +
                              "/tsdb\"\n" + "dbms_odb = \"" + d + "/odb\"\n" + config + "\n" +
                              "smem_size = 16\npassive = true\nworker_stall_limit = 1\n");
}

Server::~Server() {
  program_.reset();  // kills vexland if still running; the tag kills what is left
}

std::map<std::string, std::string> Server::env(std::map<std::string, std::string> more) const {
  more.emplace("VX_REGISTRY_USER", dir_.file("registry-user.db"));
  more.emplace("VX_REGISTRY_MACHINE", dir_.file("registry-machine.db"));
  more.emplace("RUNTIME_DIRECTORY", dir_.file("run"));
  return tag_.env(std::move(more));
}

void Server::start(const std::map<std::string, std::string>& env_more) {
  program_ = std::make_unique<Program>(
      VX_VEXLAND, std::vector<std::string>{"-v", "-f", configFile()}, env(env_more));
  pid_ = program_->pid();
}

bool Server::waitErr(const std::string& text, std::chrono::milliseconds limit) {
  return program_->waitForErr(text, limit);
}

std::string Server::log() const {
  return readFile(dir_.file("log/server.log"));
}

bool Server::waitLog(const std::string& text, std::chrono::milliseconds limit) const {
  for (auto until = std::chrono::steady_clock::now() + limit;
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(5ms)) {
    if (log().find(text) != std::string::npos) return true;
  }
  return false;
}

size_t Server::countLog(const std::string& text) const {
  std::string all = log();
  size_t n = 0;
  for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
    ++n;
  return n;
}

std::string Server::statusPath() const {
  return dir_.file("run/status-pid" + std::to_string(pid_) + ".json");
}

Outcome Server::stop(int sig) {
  ::kill(program_->pid(), sig);
  return wait();
}

Outcome Server::wait() {
  return program_->wait();
}

pid_t Server::daemon() const {
  for (pid_t pid : running()) {
    if (::getsid(pid) == pid) return pid;
  }
  return -1;
}

pid_t Server::workerPid(const std::string& exe) const {
  std::string all = log();
  std::string key = "Spawned " + exe + " with pid ";
  size_t at = all.rfind(key);
  return at == std::string::npos ? -1 : std::atoi(all.c_str() + at + key.size());
}

std::map<std::string, std::string> probeWorker(const std::string& script,
                                               const std::string& out_file) {
  return {{"VX_EXTRA_PROCESS", selfExe()},
          {"VXTEST_CHILD", "probe_worker"},
          {"VXPW_SCRIPT", script},
          {"VXPW_OUT", out_file}};
}

}  // namespace vxtest
