// Real processes: the test binary re-executes itself as the children, which attach to the pool
// from the "smem::" variables exactly as a worker does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "harness.h"
#include "io/exceptions.h"
#include "io/selector.h"
#include "io/sibling/diagnostics.h"
#include "io/timer.h"
#include "support/test_support.h"
#include "util/parse.h"

namespace vxtest {
namespace {

std::string meshPayload(int from, int to, int k) {
  return std::to_string(from) + ">" + std::to_string(to) + "#" + std::to_string(k) + ":" +
         std::string(static_cast<size_t>(k % 300), static_cast<char>('a' + k % 26));
}

// Asks to leave and reads the parent's stream until it ends (which needs every message of ours
// acknowledged).
int leave(io::SiblingMessenger& m) {
  m.initShutdown();
  auto parent = m.sibling(0);
  for (;;) {
    if (!waitReadyFor(parent->istream(), 20)) return 70;
    try {
      readMessage(parent->istream());
    } catch (const io::EEndOfStream&) {
      return m.outstandingMessages() == 0 ? 0 : 71;
    }
  }
}

std::vector<int> idList(const std::string& s) {
  std::vector<int> v;
  std::stringstream in(s);
  for (std::string part; std::getline(in, part, ',');)
    v.push_back(util::parse<int>(part));
  return v;
}

// Writes `count` messages to every peer and reads as many from each, interleaved, so that no
// two members wait on each other's full areas.
VXTEST_CHILD(mesh_member) {
  int id = util::parse<int>(args.at(0));
  std::vector<int> peers = idList(args.at(1));
  int count = util::parse<int>(args.at(2));
  auto m = attachChild(id);
  io::Selector<int> sel;
  io::Timer timeout(TimeValue::now() + TimeValue::fromMilliseconds(30000));
  sel.add(timeout, -1);
  std::map<int, int> sent, got;
  std::vector<io::SiblingMessenger::SiblingRef> refs;
  for (int p : peers) {
    refs.push_back(m->sibling(p));
    sel.add(refs.back()->ostream(), p);
    sel.add(refs.back()->istream(), 1000 + p);
  }
  size_t open = 2 * peers.size();
  while (open != 0) {
    int what = sel.poll().second;
    if (what == -1) return 60;
    int peer = what % 1000;
    auto si = m->sibling(peer);
    if (what < 1000) {
      writeMessage(si->ostream(), meshPayload(id, peer, sent[peer]));
      if (++sent[peer] == count) {
        sel.remove(si->ostream());
        --open;
      }
    } else {
      if (readMessage(si->istream()) != meshPayload(peer, id, got[peer])) return 61;
      if (++got[peer] == count) {
        sel.remove(si->istream());
        --open;
      }
    }
  }
  sel.remove(timeout);
  writeMessage(m->sibling(0)->ostream(), "done " + std::to_string(id));
  return leave(*m);
}

TEST(SiblingProcesses, SeveralSiblingsIntroducedToEachOtherWriteDirectly) {
  // Areas that hold everything a member writes: no member ever waits in the middle of a
  // message for a peer that waits for it.
  TestParent parent(8 << 20, 1 << 20);
  parent.on_request = [](int32_t target, int32_t) { return target >= 1 && target <= 3; };
  io::SiblingMessenger pm(parent);
  Child c1(parent, "mesh_member", {"1", "2,3", "400"});
  Child c2(parent, "mesh_member", {"2", "1,3", "400"});
  Child c3(parent, "mesh_member", {"3", "1,2", "400"});
  std::map<Child*, int> ids{{&c1, 1}, {&c2, 2}, {&c3, 3}};
  std::set<std::string> done;
  int ended = 0;
  ParentLoop loop{pm, {&c1, &c2, &c3}};
  loop.on_message = [&](int32_t, const std::string& msg) {
    if (msg != "<eos>") done.insert(msg);
  };
  loop.on_child_end = [&](Child& c) {
    pm.siblingDied(ids[&c]);
    ++ended;
  };
  ASSERT_TRUE(loop.run([&] { return ended == 3; }));
  EXPECT_EQ(c1.wait(), 0);
  EXPECT_EQ(c2.wait(), 0);
  EXPECT_EQ(c3.wait(), 0);
  EXPECT_EQ(done, (std::set<std::string>{"done 1", "done 2", "done 3"}));
  EXPECT_EQ(loop.seen, (std::set<int32_t>{1, 2, 3}));
  // Everything the children sent the parent was read; nothing of the parent's is outstanding.
  EXPECT_EQ(pm.outstandingMessages(), 0u);
  for (const auto& a : parent.areas()) {
    EXPECT_TRUE(a.id == 0 || !a.used) << a.id;
  }
}

VXTEST_CHILD(requester) {
  auto m = attachChild(1);
  writeMessage(m->sibling(5)->ostream(), "to nobody");
  writeMessage(m->sibling(2)->ostream(), "hello from 1");
  auto s5 = m->sibling(5);
  if (!pumpUntil(*m, [&] { return s5->gone(); })) return 62;
  if (m->outstandingMessages() > 1) return 63;  // only the one to 2 may still wait
  uint8_t* p;
  try {
    s5->ostream().writeBegin(p);
    return 64;
  } catch (const io::EEndOfStream& e) {
    if (std::string(e.what()).find("Write to failed process") == std::string::npos) return 65;
  }
  if (readMessage(m->sibling(2)->istream()) != "hello back") return 66;
  writeMessage(m->sibling(0)->ostream(), "denied and granted");
  return leave(*m);
}

VXTEST_CHILD(greeter) {
  auto m = attachChild(2);
  if (readMessage(m->sibling(1)->istream()) != "hello from 1") return 67;
  writeMessage(m->sibling(1)->ostream(), "hello back");
  return leave(*m);
}

TEST(SiblingProcesses, PeerRequestStartsOneSiblingAndRefusesAnother) {
  TestParent parent;
  io::SiblingMessenger pm(parent);
  Child c1(parent, "requester");
  std::unique_ptr<Child> c2;
  ParentLoop loop{pm, {&c1}};
  parent.on_request = [&](int32_t target, int32_t) {
    if (target != 2) return false;
    if (!c2) {
      c2 = std::make_unique<Child>(parent, "greeter");
      loop.children.push_back(c2.get());
    }
    return true;
  };
  std::vector<std::string> msgs;
  int ended = 0;
  loop.on_message = [&](int32_t from, const std::string& msg) {
    if (msg != "<eos>") msgs.push_back(std::to_string(from) + ":" + msg);
  };
  loop.on_child_end = [&](Child& c) {
    pm.siblingDied(&c == &c1 ? 1 : 2);
    ++ended;
  };
  ASSERT_TRUE(loop.run([&] { return ended == 2; }));
  EXPECT_EQ(c1.wait(), 0);
  EXPECT_EQ(c2->wait(), 0);
  EXPECT_EQ(msgs, (std::vector<std::string>{"1:denied and granted"}));
  EXPECT_EQ(parent.requests, (std::vector<std::pair<int32_t, int32_t>>{{5, 1}, {2, 1}}));
}

VXTEST_CHILD(flooder) {
  auto m = attachChild(1);
  auto parent = m->sibling(0);
  int waits = 0;
  for (int k = 0; k < 20; ++k) {
    if (!parent->ostream().isReady()) ++waits;
    writeMessage(parent->ostream(), std::string(100, static_cast<char>('A' + k)));
  }
  writeMessage(parent->ostream(), "waited " + std::to_string(waits));
  return leave(*m);
}

TEST(SiblingProcesses, FullAreaStopsTheWriterUntilTheReaderCatchesUp) {
  TestParent parent;
  parent.slices[1] = 8 * 120;  // eight 100-byte messages fill it
  io::SiblingMessenger pm(parent);
  Child c1(parent, "flooder");
  auto in = pm.sibling(1);
  ASSERT_TRUE(pumpUntil(pm, [&] { return in->unread() == 8; }));
  // The writer is stuck: nothing more comes while we do not read.
  pumpUntil(
      pm, [&] { return in->unread() > 8; }, 0.05);
  EXPECT_EQ(in->unread(), 8u);
  std::vector<std::string> msgs;
  bool ended = false;
  ParentLoop loop{pm, {&c1}};
  loop.streams[1] = in;
  loop.on_message = [&](int32_t, const std::string& msg) {
    if (msg != "<eos>") msgs.push_back(msg);
  };
  loop.on_child_end = [&](Child&) {
    pm.siblingDied(1);
    ended = true;
  };
  ASSERT_TRUE(loop.run([&] { return ended; }));
  EXPECT_EQ(c1.wait(), 0);
  ASSERT_EQ(msgs.size(), 21u);  // 20 and the report
  for (int k = 0; k < 20; ++k)
    EXPECT_EQ(msgs[static_cast<size_t>(k)], std::string(100, static_cast<char>('A' + k)));
  EXPECT_NE(msgs[20], "waited 0");
}

VXTEST_CHILD(leaver) {
  auto m = attachChild(1);
  // The holder has been introduced, so the parent asks it before acknowledging us.
  if (!pumpUntil(*m, [&] { return m->sibling(2)->fifoOpen(); })) return 76;
  for (int k = 0; k < 5; ++k)
    writeMessage(m->sibling(2)->ostream(), "unread " + std::to_string(k));
  m->initShutdown();
  writeMessage(m->sibling(0)->ostream(), "initiated");
  return leave(*m);
}

VXTEST_CHILD(holder) {
  auto m = attachChild(2);
  if (readMessage(m->sibling(0)->istream()) != "go") return 68;
  // The parent's InitShutdown(1) came before its "go": the leaver waits for us.
  auto x = m->sibling(1);
  if (!x->shutdownPending() || x->unread() != 5) return 69;
  for (int k = 0; k < 5; ++k) {
    if (readMessage(x->istream()) != "unread " + std::to_string(k)) return 72;
  }
  writeMessage(m->sibling(0)->ostream(), "read 5");
  return leave(*m);
}

TEST(SiblingProcesses, ShutdownWaitsForTheReceiverStillHoldingUnreadMessages) {
  TestParent parent;
  parent.on_request = [](int32_t target, int32_t) { return target == 2; };
  io::SiblingMessenger pm(parent);
  Child c2(parent, "holder");
  Child c1(parent, "leaver");
  std::vector<std::string> msgs;
  int ended = 0;
  ParentLoop loop{pm, {&c1, &c2}};
  loop.on_message = [&](int32_t from, const std::string& msg) {
    if (msg == "<eos>") return;
    msgs.push_back(std::to_string(from) + ":" + msg);
    if (msg == "initiated") writeMessage(pm.sibling(2)->ostream(), "go");
  };
  loop.on_child_end = [&](Child& c) {
    pm.siblingDied(&c == &c1 ? 1 : 2);
    ++ended;
  };
  ASSERT_TRUE(loop.run([&] { return ended == 2; }));
  EXPECT_EQ(c1.wait(), 0);
  EXPECT_EQ(c2.wait(), 0);
  EXPECT_EQ(msgs, (std::vector<std::string>{"1:initiated", "2:read 5"}));
}

VXTEST_CHILD(victim) {
  auto m = attachChild(3);
  // Never reads: its writers fill their areas and its FIFO until it is killed.
  for (;;)
    ::pause();
}

VXTEST_CHILD(kill_writer) {
  int id = util::parse<int>(args.at(0));
  auto m = attachChild(id);
  auto target = m->sibling(3);
  for (int k = 0;; ++k) {
    if (k == 100) writeMessage(m->sibling(0)->ostream(), "writing");
    if (!waitReadyFor(target->ostream(), 20)) return 73;
    try {
      // Whatever the block offered holds: the area wraps around and leaves small tails.
      uint8_t* p;
      size_t n = std::min<size_t>(target->ostream().writeBegin(p), 8 + k % 64);
      std::memset(p, 'k', n);
      target->ostream().writeCommit(n);
    } catch (const io::EEndOfStream& e) {
      if (std::string(e.what()).find("Write to failed process") == std::string::npos) return 74;
      break;
    }
  }
  writeMessage(m->sibling(0)->ostream(), "survived");
  return leave(*m);  // only possible when the blocks sent to 3 were freed
}

TEST(SiblingProcesses, KilledSiblingReleasesTheWritersBlockedOnIt) {
  TestParent parent(4 << 20, 16 * 1024);
  parent.on_request = [](int32_t target, int32_t) { return target == 3; };
  io::SiblingMessenger pm(parent);
  Child victim(parent, "victim");
  Child w1(parent, "kill_writer", {"1"});
  Child w2(parent, "kill_writer", {"2"});
  std::map<Child*, int> ids{{&victim, 3}, {&w1, 1}, {&w2, 2}};
  int writing = 0, survived = 0, ended = 0;
  ParentLoop loop{pm, {&victim, &w1, &w2}};
  loop.on_message = [&](int32_t, const std::string& msg) {
    if (msg == "writing" && ++writing == 2) victim.kill();
    if (msg == "survived") ++survived;
  };
  loop.on_child_end = [&](Child& c) {
    pm.siblingDied(ids[&c]);
    ++ended;
  };
  ASSERT_TRUE(loop.run([&] { return ended == 3; }));
  EXPECT_EQ(victim.wait(), 128 + SIGKILL);
  EXPECT_EQ(w1.wait(), 0);
  EXPECT_EQ(w2.wait(), 0);
  EXPECT_EQ(survived, 2);
}

VXTEST_CHILD(talker) {
  auto m = attachChild(4);
  for (int k = 0; k < 3; ++k)
    writeMessage(m->sibling(0)->ostream(), "unread " + std::to_string(k));
  m->flush();
  for (;;)
    ::pause();
}

// A peer lost with messages of it still unread, as the operator meets it: the reader gets
// them all, each acknowledgement is reported lost, and a write that was under way when the
// process went is reported broken.
TEST(SiblingProcesses, APeerLostWithMessagesUnreadIsReported) {
  std::vector<std::string> lines;
  io::setSiblingDiagnosticSink([&](const std::string& l) { lines.push_back(l); });
  TestParent parent;
  io::SiblingMessenger pm(parent);
  Child talker(parent, "talker");
  io::SiblingMessenger::SiblingRef s4;
  ASSERT_TRUE(pumpUntil(pm, [&] {
    if (!s4) s4 = pm.findSibling(4);
    return s4 && s4->unread() == 3;
  }));
  talker.kill();
  ASSERT_EQ(talker.wait(), 128 + SIGKILL);
  writeMessage(s4->ostream(), "to nobody");
  pm.flush();
  pm.siblingDied(4);
  std::vector<std::string> got;
  for (int k = 0; k < 3; ++k)
    got.push_back(readMessage(s4->istream()));
  io::setSiblingDiagnosticSink(nullptr);
  EXPECT_EQ(got, (std::vector<std::string>{"unread 0", "unread 1", "unread 2"}));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Caught exception: 'Broken pipe' while flushing sibling: 4");
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_TRUE(lines[i].starts_with("Lost connection on ACK of message at offset ")) << lines[i];
    EXPECT_TRUE(lines[i].ends_with(" for sibling 4")) << lines[i];
  }
}

VXTEST_CHILD(vandal) {
  auto m = attachChild(1);
  int fd = ::open(io::fifoPath(m->fifoprefix, 0).c_str(), O_WRONLY);
  if (args.at(0) == "offset") {
    // A block just past the end of its own area.
    uint64_t w =
        io::ControlMessage::withValue(io::MessageType::MessageAt, m->allocator().areaEnd(), 1)
            .pack();
    if (::write(fd, &w, 8) != 8) return 75;
  } else {
    if (::write(fd, "\x01\x02\x03", 3) != 3) return 75;
  }
  for (;;)
    ::pause();
}

TEST(SiblingProcesses, HostileChildMakesTheParentRaiseNotCrash) {
  for (std::string mode : {"offset", "bytes"}) {
    TestParent parent;
    io::SiblingMessenger pm(parent);
    Child c1(parent, "vandal", {mode});
    ParentLoop loop{pm, {&c1}};
    try {
      loop.run([] { return false; }, 20);
      ADD_FAILURE() << "no error for " << mode;
    } catch (const io::ESiblingProtocolError& e) {
      EXPECT_EQ(e.sibling(), mode == "offset" ? 1 : io::ESiblingProtocolError::kUnknownSibling)
          << e.what();
    }
    // The emergency path: the offender is killed; the messenger still works for the rest.
    c1.kill();
    EXPECT_EQ(c1.wait(), 128 + SIGKILL);
    pm.siblingDied(1);
    EXPECT_TRUE(pm.sibling(1)->gone());
  }
}

}  // namespace
}  // namespace vxtest
