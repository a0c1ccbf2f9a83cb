// vexlan-worker: the reference worker program (see behaviours.cc for its --help).
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "meter/registry.h"
#include "queues/worker_table.h"
#include "reference/behaviours.h"
#include "reference/reference_worker.h"
#include "sdk/worker.h"

namespace {

// A link named after every program of the worker table, next to this program.
int makeLinks(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  for (const queues::WorkerRow& row : queues::workerTable()) {
    std::string name = row.exe;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) {
      name.resize(name.size() - 4);
    }
    fs::path link = dir / name;
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink("vexlan-worker", link, ec);
    if (ec) {
      std::cerr << "Cannot create " << link.string() << ": " << ec.message() << "\n";
      return 1;
    }
  }
  return 0;
}

void setUpLogging(const std::string& sname) {
  auto logger =
      std::make_shared<spdlog::logger>("", std::make_shared<spdlog::sinks::stderr_sink_mt>());
  logger->set_pattern(sname + " %l: %v");
  spdlog::set_default_logger(logger);
  spdlog::set_level(spdlog::level::info);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    std::cout << reference::helpText();
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--make-links") == 0) return makeLinks(argv[2]);
  if (argc > 1) {
    std::cerr << reference::helpText();
    return 1;
  }
  worker::Identity identity = worker::Identity::fromProgram(argv[0]);
  setUpLogging(identity.sname);
  try {
    reference::Behaviours behaviours = reference::Behaviours::fromEnvironment(identity.upperName());
    if (behaviours.stderr_text) {
      std::cerr << *behaviours.stderr_text << std::endl;
    }
    meter::Registry::start();
    worker::Worker w(identity);
    const int linger_ms = behaviours.linger_ms;
    reference::ReferenceWorker ref(w, std::move(behaviours));
    const int code = ref.run();
    // Done, and the leave is acknowledged: what the destructors would still do is give memory
    // back, which the kernel does faster when the process ends. Unmapping the pool from a
    // running process makes every processor it ran on flush its address cache, and that was a
    // quarter of a worker's part of an orderly stop. What is batched still leaves first.
    w.messenger().flush();
    spdlog::default_logger()->flush();
    std::cout.flush();
    if (linger_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(linger_ms));
    std::_Exit(code);
  } catch (const worker::ESupervisorGone& e) {
    spdlog::error("{}", e.what());
    return worker::kExitSupervisorGone;
  } catch (const error::Exception& e) {
    spdlog::error("{}", e.what());
    return 1;
  }
}
