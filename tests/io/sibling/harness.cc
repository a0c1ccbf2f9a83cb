#include "harness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "io/exceptions.h"
#include "io/selector.h"
#include "io/timer.h"
#include "io/wait.h"
#include "support/test_support.h"

namespace vxtest {

Child::Child(io::SiblingMessengerParent& parent, const std::string& name,
             const std::vector<std::string>& args) {
  io::ProcessSpec spec;
  spec.program = selfExe();
  spec.arguments = args;
  spec.variables["VXTEST_CHILD"] = name;
  spec.passables["smem"] = &parent;
  spec.stdin_mode = io::StdMode::Null;
  spec.stdout_mode = io::StdMode::Inherit;
  spec.stderr_mode = io::StdMode::Inherit;
  proc_ = std::make_unique<io::Process>(spec);
}

Child::~Child() {
  if (status_ < 0) {
    proc_->kill();
    wait(10);
  }
}

int Child::wait(double seconds) {
  if (status_ >= 0) return status_;
  if (seconds > 0 && !waitReadyFor(*proc_, seconds)) return -1;
  try {
    status_ = proc_->exitCode();
  } catch (const io::ENotReady&) {
    return -1;
  }
  return status_;
}

bool waitReadyFor(io::Selectable& s, double seconds) {
  if (s.isReady()) return true;
  io::Selector<int> sel;
  io::Timer timer(TimeValue::now() +
                  TimeValue::fromMilliseconds(static_cast<int64_t>(seconds * 1000)));
  sel.add(s, 1);
  sel.add(timer, 2);
  bool ok = sel.poll().second == 1;
  sel.remove(timer);
  sel.remove(s);
  return ok;
}

void writeMessage(io::OStream& os, const std::string& bytes) {
  if (!waitReadyFor(os)) throw error::Exception("time-out waiting to write to " + os.describe());
  uint8_t* p;
  size_t cap = os.writeBegin(p);
  if (cap < bytes.size()) throw error::Exception("message does not fit the block offered");
  std::memcpy(p, bytes.data(), bytes.size());
  os.writeCommit(bytes.size());
}

std::string readMessage(io::IStream& is) {
  if (!waitReadyFor(is)) throw error::Exception("time-out waiting to read " + is.describe());
  const uint8_t* p;
  size_t n = is.readBegin(p);
  std::string s(reinterpret_cast<const char*>(p), n);
  is.readCommit(n);
  return s;
}

std::unique_ptr<io::SiblingMessenger> attachChild(int32_t id) {
  auto m =
      std::make_unique<io::SiblingMessenger>(io::siblingmessenger_conf_t::fromEnvironment(), id);
  // The parent's stream becomes writable when our own area has arrived.
  if (!waitReadyFor(m->sibling(0)->ostream())) throw error::Exception("no area from the parent");
  return m;
}

bool ParentLoop::run(const std::function<bool()>& done, double seconds) {
  // Like the supervisor: every connected sibling's input stream is watched on its own.
  io::Selector<int> sel;
  io::Timer timer(TimeValue::now() +
                  TimeValue::fromMilliseconds(static_cast<int64_t>(seconds * 1000)));
  constexpr int kNew = -1000, kTimer = -1001, kChildBase = 1000;
  sel.add(m.newSiblings(), kNew);
  sel.add(timer, kTimer);
  for (auto& [id, si] : streams) {
    if (ended.count(id) == 0) sel.add(si->istream(), id);
  }
  std::set<Child*> watched;
  bool ok = true;
  while (!done()) {
    // Children may be started while the loop runs (on a peer request).
    for (size_t i = 0; i < children.size(); ++i) {
      Child* c = children[i];
      if (watched.insert(c).second && c->wait(0) < 0) {
        sel.add(c->ended(), kChildBase + static_cast<int>(i));
      }
    }
    int what = sel.poll().second;
    if (what == kTimer) {
      ok = false;
      break;
    }
    if (what == kNew) {
      while (auto si = m.takeNewSibling()) {
        seen.insert(si->id());
        if (streams.count(si->id()) != 0 && sel.contains(streams[si->id()]->istream())) {
          sel.remove(streams[si->id()]->istream());
        }
        streams[si->id()] = si;
        ended.erase(si->id());
        sel.add(si->istream(), si->id());
      }
    } else if (what >= kChildBase) {
      Child& c = *children[static_cast<size_t>(what - kChildBase)];
      sel.remove(c.ended());
      c.wait(5);
      if (on_child_end) on_child_end(c);
    } else {
      auto si = streams[what];
      try {
        std::string msg = readMessage(si->istream());
        if (on_message) on_message(what, msg);
      } catch (const io::EEndOfStream&) {
        sel.remove(si->istream());
        ended.insert(what);
        if (on_message) on_message(what, "<eos>");
      }
    }
  }
  for (Child* c : children) {
    if (sel.contains(c->ended())) sel.remove(c->ended());
  }
  for (auto& [id, si] : streams) {
    if (sel.contains(si->istream())) sel.remove(si->istream());
  }
  sel.remove(timer);
  sel.remove(m.newSiblings());
  return ok;
}

bool pumpUntil(io::SiblingMessenger& m, const std::function<bool()>& pred, double seconds) {
  TimeValue end =
      TimeValue::now() + TimeValue::fromMilliseconds(static_cast<int64_t>(seconds * 1000));
  while (!pred()) {
    if (TimeValue::now() >= end) return false;
    if (m.someSibling().isReady()) {
      // Unread messages keep the front ready: wait a little for what else may come.
      io::sleep(TimeValue::fromMilliseconds(1));
    } else {
      // Served through a front, so that the messenger reads its FIFO while we wait.
      io::Selector<int> sel;
      io::Timer tick(TimeValue::now() + TimeValue::fromMilliseconds(5));
      sel.add(m.someSibling(), 1);
      sel.add(tick, 2);
      sel.poll();
      sel.remove(tick);
      sel.remove(m.someSibling());
    }
    m.flush();
    m.pollInput();
  }
  return true;
}

}  // namespace vxtest

#include <fcntl.h>

namespace vxtest {

Mesh::Mesh(uint64_t mapsize, uint64_t default_slice)
    : parent_(mapsize, default_slice), p_(std::make_unique<io::SiblingMessenger>(parent_)) {}

Mesh::~Mesh() {
  kids_.clear();
  p_.reset();
}

io::SiblingMessenger& Mesh::add(int32_t id) {
  io::siblingmessenger_conf_t conf;
  conf.mapfile = ::dup(parent_.pool().fd());
  conf.fifoprefix = parent_.fifoPrefix();
  conf.mapsize = parent_.mapSize();
  auto& m = kids_[id];
  m = std::make_unique<io::SiblingMessenger>(conf, id);
  settle();
  return *m;
}

void Mesh::settle() {
  for (int round = 0; round < 1000; ++round) {
    bool moved = false;
    p_->flush();
    for (auto& [id, k] : kids_)
      k->flush();
    moved |= p_->pollInput();
    for (auto& [id, k] : kids_)
      moved |= k->pollInput();
    if (!moved) return;
  }
  ADD_FAILURE() << "the mesh does not settle";
}

void Mesh::inject(int32_t to, const void* bytes, size_t n) {
  int fd = ::open(io::fifoPath(parent_.fifoPrefix(), to).c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, bytes, n), static_cast<ssize_t>(n));
  ::close(fd);
}

std::vector<io::ControlMessage> drain(io::FifoReader& r) {
  std::vector<io::ControlMessage> v;
  for (;;) {
    r.readNow();
    if (r.size() == 0) return v;
    while (r.size() >= 8) {
      uint64_t w;
      std::memcpy(&w, r.data(), 8);
      v.push_back(io::ControlMessage::unpack(w));
      r.consume(8);
    }
  }
}

}  // namespace vxtest
