// Helpers for the sibling tests: a parent with test policies, children that re-execute the test
// binary with the pool passed exactly as the supervisor passes it, bounded waits, and whole
// messages over the sibling streams.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "io/process.h"
#include "io/sibling/messenger_parent.h"
#include "io/sibling/sibling_messenger.h"

namespace vxtest {

// Slice sizes per id (default for others) and a peer-request policy.
class TestParent : public io::SiblingMessengerParent {
 public:
  explicit TestParent(uint64_t mapsize = 4 << 20, uint64_t default_slice = 64 * 1024)
      : SiblingMessengerParent("SMem", mapsize), default_slice_(default_slice) {}

  uint64_t smemSliceSize(int32_t id) override {
    auto it = slices.find(id);
    return it == slices.end() ? default_slice_ : it->second;
  }
  bool messageToNonexistantSibling(int32_t target, int32_t requester) override {
    requests.emplace_back(target, requester);
    return on_request ? on_request(target, requester) : false;
  }

  std::map<int32_t, uint64_t> slices;
  std::function<bool(int32_t target, int32_t requester)> on_request;
  std::vector<std::pair<int32_t, int32_t>> requests;

 private:
  uint64_t default_slice_;
};

// A child process running VXTEST_CHILD `name`, started the way the supervisor starts a
// worker: io::Process with the parent passed under "smem". The process is the selectable that
// becomes ready when the child ends.
class Child {
 public:
  Child(io::SiblingMessengerParent& parent, const std::string& name,
        const std::vector<std::string>& args = {});
  ~Child();
  io::Process& ended() { return *proc_; }
  // Waits for the end (at most `seconds`; 0: only looks) and returns the exit status (128 +
  // signal for a signal); -1 while it runs.
  int wait(double seconds = 20);
  void kill() { proc_->kill(); }

 private:
  std::unique_ptr<io::Process> proc_;
  int status_ = -1;
};

// Waits until s is ready, serving only what feeds it; false after `seconds`.
bool waitReadyFor(io::Selectable& s, double seconds = 20);

// Writes one message (it must fit the block offered).
void writeMessage(io::OStream& os, const std::string& bytes);
// Reads one whole message.
std::string readMessage(io::IStream& is);

// A child's messenger attached from its environment, waiting for its own area.
std::unique_ptr<io::SiblingMessenger> attachChild(int32_t id);

// Runs the parent's loop until `done` is true: takes new siblings and watches their input
// streams, hands every message to `on_message` ("<eos>" when a stream ends), and calls
// `on_child_end` for children that end. False on time-out.
struct ParentLoop {
  io::SiblingMessenger& m;
  std::vector<Child*> children;
  std::function<void(int32_t from, const std::string& msg)> on_message;
  std::function<void(Child&)> on_child_end;
  std::set<int32_t> seen;
  std::set<int32_t> ended;
  std::map<int32_t, io::SiblingMessenger::SiblingRef> streams;
  bool run(const std::function<bool()>& done, double seconds = 30);
};

// Serves the messenger until `pred` holds; false after `seconds`.
bool pumpUntil(io::SiblingMessenger& m, const std::function<bool()>& pred, double seconds = 20);

}  // namespace vxtest

namespace vxtest {

// The parent and any number of children in this one process, each with its own FIFO and its
// own mapping of the pool: the whole protocol runs deterministically, driven by settle().
class Mesh {
 public:
  explicit Mesh(uint64_t mapsize = 4 << 20, uint64_t default_slice = 64 * 1024);
  ~Mesh();
  TestParent& parent() { return parent_; }
  io::SiblingMessenger& p() { return *p_; }
  io::SiblingMessenger& child(int32_t id) { return *kids_.at(id); }
  // Attaches a child the way a worker does and lets the start-up run.
  io::SiblingMessenger& add(int32_t id);
  void remove(int32_t id) { kids_.erase(id); }
  // Flushes and reads every FIFO until nothing moves.
  void settle();
  // Raw bytes into a sibling's FIFO, as any process could write them.
  void inject(int32_t to, const void* bytes, size_t n);
  void inject(int32_t to, io::ControlMessage m) {
    uint64_t w = m.pack();
    inject(to, &w, 8);
  }
  uint8_t* pool() { return parent_.pool().base(); }

 private:
  TestParent parent_;
  std::unique_ptr<io::SiblingMessenger> p_;
  std::map<int32_t, std::unique_ptr<io::SiblingMessenger>> kids_;
};

// Control messages waiting in a FIFO we hold the reading end of (for fakes of a peer).
std::vector<io::ControlMessage> drain(io::FifoReader& r);

}  // namespace vxtest
