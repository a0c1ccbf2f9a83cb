// A stand-in for the supervisor, for the worker tests: the pool, sibling 0, worker processes
// started the way the supervisor starts them (io::Process, the pool passed under "smem"), and
// the few control answers the tests need. Everything a worker sends is recorded.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "io/process.h"
#include "io/sibling/messenger_parent.h"
#include "io/sibling/sibling_messenger.h"
#include "queues/catalogue.h"

namespace vxtest {

class TestSupervisor : public io::SiblingMessengerParent {
 public:
  struct Worker {
    queues::queue_t queue = queues::QUEUE_NONE;
    std::unique_ptr<io::Process> proc;
    io::SiblingMessenger::SiblingRef si;
    std::unique_ptr<protocol::ioprim> prim;  // destroyed before si
    bool stream_ended = false;
    // It had asked to leave (the leave handshake) when its process ended.
    bool left_in_order = false;
    bool stderr_ended = false;
    int exit_code = -1;  // -1 while it runs
    std::string stderr_text;
    std::vector<std::unique_ptr<queues::event>> events;  // everything read from it
    std::vector<std::string> logs;                       // SYSTEM_LOG_REQUEST texts
    std::vector<std::set<queues::queue_t>> init_oks;
    std::string read_error;  // why its stream could not be read on
    bool hasLog(const std::string& part) const;
    // The events of one number read so far.
    std::vector<const queues::event*> received(queues::event_t type) const;
  };

  TestSupervisor();
  // Kills what still runs.
  ~TestSupervisor() override;

  // Starts build/bin/<program> (or the path given) as the worker of `queue`, with `env` over
  // the test's environment.
  Worker& start(const std::string& program, queues::queue_t queue,
                const std::map<std::string, std::string>& env = {},
                const std::vector<std::string>& args = {});
  Worker& worker(queues::queue_t queue) { return workers_.at(queue); }
  bool has(queues::queue_t queue) const { return workers_.count(queue) != 0; }

  // Serves workers until `done` holds; false after `seconds`.
  bool runUntil(const std::function<bool()>& done, double seconds = 20);
  // Waits for the worker's end and returns its exit code (-1 on time-out).
  int waitExit(queues::queue_t queue, double seconds = 20);
  // Writes ev to a connected worker (dest 0, as the supervisor sends).
  void send(queues::queue_t to, queues::event& ev);
  // Writes the events in one message, as a writer that batches its events may.
  void sendTogether(queues::queue_t to, const std::vector<queues::event*>& evs);
  // The supervisor goes away: its messenger and FIFO close; the workers keep running.
  void vanish();

  // Policy and answers.
  control::Server_Configuration_Fields config;
  std::map<std::string, std::string> vars;
  // Queues a peer request or REQUEST_SPAWN_PROCESS may start, with the program and the
  // environment to start them with.
  struct OnDemand {
    std::string program;
    std::map<std::string, std::string> env;
  };
  std::map<queues::queue_t, OnDemand> demand_load;
  std::vector<std::pair<int32_t, int32_t>> peer_requests;  // (target, requester)
  // Sees each event first; true when the test answered it itself.
  std::function<bool(Worker& from, queues::event& ev)> intercept;
  // Workers whose streams are left unread: what they send stays in their write areas.
  std::set<queues::queue_t> unread;

 private:
  bool messageToNonexistantSibling(int32_t target, int32_t requester) override;
  uint64_t smemSliceSize(int32_t) override { return 256 * 1024; }
  void answer(Worker& w, queues::event& ev);
  void startOnDemand(queues::queue_t queue);

  std::unique_ptr<io::SiblingMessenger> m_;
  std::map<queues::queue_t, Worker> workers_;  // destroyed before m_
};

// Path of a program of the build's bin directory.
std::string binPath(const std::string& program);

}  // namespace vxtest
