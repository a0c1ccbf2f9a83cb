#include "harness.h"

#include <gtest/gtest.h>

#include "io/exceptions.h"
#include "io/selector.h"
#include "io/timer.h"
#include "queues/worker_table.h"

namespace vxtest {

std::string binPath(const std::string& program) {
  return program.find('/') == std::string::npos ? std::string(VX_BINARY_DIR) + "/bin/" + program
                                                : program;
}

bool TestSupervisor::Worker::hasLog(const std::string& part) const {
  for (const std::string& l : logs) {
    if (l.find(part) != std::string::npos) return true;
  }
  return false;
}

std::vector<const queues::event*> TestSupervisor::Worker::received(queues::event_t type) const {
  std::vector<const queues::event*> v;
  for (const auto& e : events) {
    if (e->type == type) v.push_back(e.get());
  }
  return v;
}

TestSupervisor::TestSupervisor()
    : SiblingMessengerParent("SMem", 8 << 20), m_(std::make_unique<io::SiblingMessenger>(*this)) {
  config.host_name = "testhost";
}

TestSupervisor::~TestSupervisor() {
  for (auto& [q, w] : workers_) {
    if (w.exit_code < 0) w.proc->kill();
  }
  for (auto& [q, w] : workers_) {
    if (w.exit_code < 0) waitExit(q, 10);
  }
  workers_.clear();
  m_.reset();
}

TestSupervisor::Worker& TestSupervisor::start(const std::string& program, queues::queue_t queue,
                                              const std::map<std::string, std::string>& env,
                                              const std::vector<std::string>& args) {
  io::ProcessSpec spec;
  spec.program = binPath(program);
  spec.arguments = args;
  for (const auto& [k, v] : env)
    spec.variables[k] = v;
  spec.passables["smem"] = this;
  spec.stdin_mode = io::StdMode::Null;
  spec.stdout_mode = io::StdMode::Inherit;
  spec.stderr_mode = io::StdMode::Pipe;
  Worker& w = workers_[queue];
  w = Worker{};
  w.queue = queue;
  w.proc = std::make_unique<io::Process>(spec);
  return w;
}

void TestSupervisor::startOnDemand(queues::queue_t queue) {
  if (has(queue) && worker(queue).exit_code < 0) return;
  const OnDemand& d = demand_load.at(queue);
  start(d.program, queue, d.env);
}

bool TestSupervisor::messageToNonexistantSibling(int32_t target, int32_t requester) {
  peer_requests.emplace_back(target, requester);
  auto q = static_cast<queues::queue_t>(target);
  if (demand_load.count(q) == 0) return false;
  startOnDemand(q);
  return true;
}

bool TestSupervisor::runUntil(const std::function<bool()>& done, double seconds) {
  // Values: queue * 4 + kind.
  enum Kind { kStream = 0, kStderr = 1, kEnd = 2 };
  constexpr int kNew = -1, kTimeout = -2;
  io::Timer timer(TimeValue::now() +
                  TimeValue::fromMilliseconds(static_cast<int64_t>(seconds * 1000)));
  bool ok = true;
  while (!done()) {
    io::Selector<int> sel;
    sel.add(timer, kTimeout);
    if (m_) sel.add(m_->newSiblings(), kNew);
    for (auto& [q, w] : workers_) {
      if (w.si && !w.stream_ended && w.read_error.empty() && unread.count(q) == 0)
        sel.add(w.si->istream(), q * 4 + kStream);
      if (!w.stderr_ended) sel.add(w.proc->stdErr(), q * 4 + kStderr);
      if (w.exit_code < 0) sel.add(*w.proc, q * 4 + kEnd);
    }
    int what = sel.poll().second;
    if (what == kTimeout) {
      ok = false;
      break;
    }
    if (what == kNew) {
      while (auto si = m_->takeNewSibling()) {
        Worker& w = workers_[static_cast<queues::queue_t>(si->id())];
        w.queue = static_cast<queues::queue_t>(si->id());
        w.si = si;
        w.prim = std::make_unique<protocol::ioprim>(&si->istream(), &si->ostream());
      }
      continue;
    }
    Worker& w = workers_.at(static_cast<queues::queue_t>(what / 4));
    switch (what % 4) {
      case kStream:
        try {
          std::unique_ptr<queues::event> ev = queues::readEvent(*w.prim);
          if (!intercept || !intercept(w, *ev)) answer(w, *ev);
          w.events.push_back(std::move(ev));
        } catch (const io::EEndOfStream&) {
          w.stream_ended = true;
        } catch (const error::Exception& e) {
          w.read_error = e.what();
        }
        break;
      case kStderr:
        try {
          const uint8_t* p;
          size_t n = w.proc->stdErr().readBegin(p);
          w.stderr_text.append(reinterpret_cast<const char*>(p), n);
          w.proc->stdErr().readCommit(n);
        } catch (const error::Exception&) {
          w.stderr_ended = true;
        }
        break;
      case kEnd:
        w.exit_code = w.proc->exitCode();
        if (m_) {
          m_->pollInput();  // what it sent before it ended
          w.left_in_order = shuttingDown().count(w.queue) != 0;
          m_->siblingDied(w.queue);
        }
        break;
    }
  }
  return ok;
}

int TestSupervisor::waitExit(queues::queue_t queue, double seconds) {
  runUntil([&] { return worker(queue).exit_code >= 0; }, seconds);
  return worker(queue).exit_code;
}

void TestSupervisor::answer(Worker& w, queues::event& in) {
  using namespace queues;
  uint32_t r = in.inresponse;
  if (auto* log = as<SYSTEM_LOG_REQUEST>(in)) {
    w.logs.push_back(log->payload.msg);
  } else if (auto* init = as<INIT_OK>(in)) {
    w.init_oks.push_back(init->payload.depend_on);
  } else if (as<REQUEST_SERVER_CONFIGURATION>(in)) {
    ev<SERVER_CONFIGURATION> reply(QUEUE_MAIN, r, config);
    send(w.queue, reply);
  } else if (as<REQUEST_SERVER_VARIABLE_FIELDS>(in)) {
    ev<RETURN_SERVER_VARIABLE_FIELDS> reply(QUEUE_MAIN, r, {vars});
    send(w.queue, reply);
  } else if (auto* store = as<STORE_SERVER_VARIABLE_FIELDS>(in)) {
    for (const auto& [k, v] : store->payload.vars) {
      if (v.empty())
        vars.erase(k);
      else
        vars[k] = v;
    }
  } else if (auto* spawn = as<REQUEST_SPAWN_PROCESS>(in)) {
    if (demand_load.count(spawn->payload) != 0) startOnDemand(spawn->payload);
  } else if (auto* get = as<GET_PURE_ENTROPY>(in)) {
    ev<RETURN_PURE_ENTROPY> reply(QUEUE_MAIN, r,
                                  std::string(static_cast<size_t>(get->payload), 'e'));
    send(w.queue, reply);
  } else if (auto* get = as<GET_PSEUDO_RANDOM>(in)) {
    ev<RETURN_PSEUDO_RANDOM> reply(QUEUE_MAIN, r, std::string(get->payload.bytes, 'r'));
    send(w.queue, reply);
  }
}

void TestSupervisor::send(queues::queue_t to, queues::event& ev) {
  Worker& w = worker(to);
  ASSERT_TRUE(w.prim) << "worker " << to << " is not connected";
  ev.dest = queues::QUEUE_MAIN;
  *w.prim << ev;
  w.prim->endWrite();
}

void TestSupervisor::sendTogether(queues::queue_t to, const std::vector<queues::event*>& evs) {
  Worker& w = worker(to);
  ASSERT_TRUE(w.prim) << "worker " << to << " is not connected";
  for (queues::event* ev : evs) {
    ev->dest = queues::QUEUE_MAIN;
    *w.prim << *ev;
  }
  w.prim->endWrite();
}

void TestSupervisor::vanish() {
  for (auto& [q, w] : workers_) {
    w.prim.reset();
    w.si.reset();
  }
  m_.reset();
}

}  // namespace vxtest
