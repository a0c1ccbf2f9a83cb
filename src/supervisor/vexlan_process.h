// The supervisor's record of one running worker: its process, its event streams once it has
// connected, where it is in its life, and what it still needs while the server shuts down.
#pragma once

#include <deque>
#include <memory>
#include <set>
#include <string>

#include "io/process.h"
#include "io/sibling/sibling_messenger.h"
#include "queues/event.h"
#include "supervisor/stop_order.h"
#include "supervisor/worker_entry.h"
#include "supervisor/worker_streams.h"
#include "util/time_value.h"

namespace supervisor {

class MainProcess;

class VexlanProcess {
 public:
  // Events the supervisor holds for a worker that has not connected yet, beyond which further
  // ones are dropped (logged): a worker that never connects must not grow the supervisor.
  static constexpr size_t kMaxHeld = 4096;

  VexlanProcess(MainProcess& owner, WorkerEntry entry, std::unique_ptr<io::Process> child);
  ~VexlanProcess();
  VexlanProcess(const VexlanProcess&) = delete;
  VexlanProcess& operator=(const VexlanProcess&) = delete;

  // Takes over the worker's event streams when it has connected.
  void connect(io::SiblingMessenger::SiblingRef sibling);
  bool connected() const { return prim_ != nullptr; }
  protocol::ioprim& prim() { return *prim_; }
  io::SiblingMessenger::SiblingImplementation& sibling() { return *sibling_; }
  WorkerInput& input() { return *in_; }
  WorkerOutput& output() { return *out_; }

  // Done when its events have ended (or it was killed), its process has ended and its
  // standard error has been read to the end.
  bool isDone() const { return (killed || istream_eos) && process_gone && stderr_eos; }
  // "state=N process_gone=B istream_eos=B stderr_eos=B"
  std::string stateDump() const;
  // "[sname]", as every log line names a worker.
  std::string tag() const { return "[" + entry.sname + "]"; }
  // Leaving on its own or told to: a new peer request for its queue must wait for its end.
  bool leaving() const { return state == WorkerState::Exiting || istream_eos; }

  // Selector handlers.
  void onReadable();
  void onWritable();
  void onStderr();
  void onGone();

  MainProcess& owner;
  std::unique_ptr<io::Process> child;
  WorkerEntry entry;
  WorkerState state = WorkerState::Starting;
  bool killed = false;
  TimeValue start_time;
  bool process_gone = false;
  bool istream_eos = false;
  bool stderr_eos = false;
  std::set<queues::queue_t> depend_on;
  // Events for it while it is still starting, written once it connects.
  std::deque<std::unique_ptr<queues::event>> held;
  // A peer asked for it while it was leaving: start it again once it has gone.
  bool respawn = false;
  // Its events are not read while too much waits to be written to it (its requests then wait
  // in its own area).
  bool reading_paused = false;

  // How long it has kept the supervisor waiting: with an incomplete event, and with events for
  // it waiting while it holds part of the supervisor's area without acknowledging any.
  struct StallClock {
    bool running = false;
    bool warned = false;  // logged at a tenth of the limit
    TimeValue since;
    void start(TimeValue now) { running = true, warned = false, since = now; }
    void stop() { running = false, warned = false; }
  };
  StallClock partial_event;
  StallClock untaken;
  uint64_t untaken_acks = 0;  // acknowledgements counted when `untaken` started

 private:
  io::SiblingMessenger::SiblingRef sibling_;
  std::unique_ptr<WorkerInput> in_;
  std::unique_ptr<WorkerOutput> out_;
  std::unique_ptr<protocol::ioprim> prim_;
};

const char* stateName(WorkerState state);

}  // namespace supervisor
