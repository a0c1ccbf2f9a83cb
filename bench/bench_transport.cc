// Transport benchmark: messages between two processes through the sibling streams, next to an
// AF_UNIX SOCK_STREAM socketpair and a pipe carrying the same bytes, all measured in the same
// run.
//
//   bench_transport [--rounds N] [--scale F] [--sizes 32,256,4096,65536] [--events-only]
//                   [--summary]
//   bench_transport --only-sibling[-throughput|-rtt] [--sibling-epoll] [...]   (no peers)
//   bench_transport --wakeups [--rounds N]    (how a waiting process is woken, bare pipes)
//   bench_transport --idle SECONDS            (CPU of a parent and a child idle in their loops)
//
// The main figures are events: RETURN_PSEUDO_RANDOM, the supervisor's answer to a worker that
// asked for random bytes, whose payload is a byte string of any length. The 16-byte header,
// the 8-byte string length and size - 24 payload bytes make `size` bytes on the wire. Both
// sides of every transport write it with `prim << ev; prim.endWrite();` and read it with
// queues::readEvent through a protocol::ioprim: over the sibling streams, or over a stream on
// the socket or pipe descriptor that sends each message in one send(2) and reads whatever one
// read(2) returns. Beside them (unless --events-only): raw length-prefixed byte messages of
// the same sizes, and two catalogue events, a small SYS_EXIT and a TSDB_APPEND_DATA of 100
// data intervals that the reader decodes into its structure.
//
// The socketpair and pipe readers sleep in read(2); "sock-epoll" reads the socketpair the way
// a server loop does (epoll, then read). The sibling loops wait for nothing but their streams,
// so they sleep in the read of their FIFO; "sib-epoll" adds a descriptor to each loop (a
// signal that is never set), as the supervisor's loop has, which makes them wait in epoll.
// Both poll before they sleep while that pays (see io::SpinPolicy); VX_NO_BUSY_POLL=1 in the
// environment turns that off for both processes.
//
// One-way throughput: the child writes, the parent reads (after one untimed pass over the
// child's area, which backs its pages). Round trip: the parent writes, the
// child answers with a message of the same size. The sibling side uses the default pool
// (128 MiB; the parent's area 4 slice units, the child's, a worker of 16 units, 6.75 MB) and
// waits in selectors like the server's loops. Each figure is the best of the rounds; the
// spread over the rounds is printed beside it. CPU time per message and per round trip is
// both processes together.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "io/exceptions.h"
#include "io/process.h"
#include "io/selector.h"
#include "io/sibling/messenger_parent.h"
#include "io/sibling/sibling_messenger.h"
#include "io/signal.h"
#include "io/timer.h"
#include "queues/catalogue.h"
#include "wire/memory_stream.h"

namespace {

using Clock = std::chrono::steady_clock;
using Event = queues::ev<queues::RETURN_PSEUDO_RANDOM>;
// Header (number, dest, inresponse, exception) and the string's length.
constexpr size_t kEventOverhead = 24;

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

double cpuSeconds() {
  struct rusage ru;
  ::getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Times this process went to sleep (each one is a wake-up later).
double sleeps() {
  struct rusage ru;
  ::getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_nvcsw);
}

// An event of `size` bytes on the wire.
Event makeEvent(size_t size) {
  std::string bytes(std::max(size, kEventOverhead) - kEventOverhead, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(i * 7);
  return Event(queues::QUEUE_MAIN, 0, std::move(bytes));
}

// What one message is. "event": the random-bytes event of `size` bytes. "bytes": `size` raw
// bytes whose first four hold the length, written in one piece and copied out by the reader.
// "exit": a small control event, SYS_EXIT. "append": a TSDB_APPEND_DATA carrying kIntervals
// data intervals, which the reader decodes into its structure (one allocation per interval).
enum class Kind { Event, Bytes, Exit, Append };
const char* const kKindNames[] = {"event", "bytes", "exit", "append"};
constexpr int kIntervals = 100;

Kind kindNamed(const std::string& name) {
  for (int k = 0; k < 4; ++k) {
    if (name == kKindNames[k]) return static_cast<Kind>(k);
  }
  std::abort();
}

class Message {
 public:
  Message(Kind kind, size_t size) : kind_(kind) {
    switch (kind) {
      case Kind::Event:
        ev_ = std::make_unique<Event>(makeEvent(size));
        break;
      case Kind::Bytes:
        bytes_.resize(std::max<size_t>(size, 4));
        for (size_t i = 4; i < bytes_.size(); ++i)
          bytes_[i] = static_cast<uint8_t>(i * 7);
        wire_ = bytes_.size();
        std::memcpy(bytes_.data(), &wire_, 4);
        scratch_.resize(wire_);
        return;
      case Kind::Exit:
        ev_ = std::make_unique<queues::ev<queues::SYS_EXIT>>(
            queues::QUEUE_SCHD, 7, control::Sys_Exit_Data{0, queues::QUEUE_MAIN, ""});
        break;
      case Kind::Append: {
        dbms::TSDB_Append_Data_Data d;
        d.id = {1, 2, 3};
        for (int i = 0; i < kIntervals; ++i) {
          auto c = std::make_unique<tsdb::data_interval_continuous_t>();
          c->start = 1000 * i, c->end = 1000 * i + 999, c->min = 1, c->avg = 2, c->max = 3;
          c->ngood = 60, c->nbad = i % 3;
          d.data.push_back(std::move(c));
        }
        d.encoded_result = "ok";
        ev_ = std::make_unique<queues::ev<queues::TSDB_APPEND_DATA>>(queues::QUEUE_DBMS, 0,
                                                                     std::move(d));
        break;
      }
    }
    protocol::MemoryOStream out;
    protocol::ioprim prim(nullptr, &out);
    prim << *ev_;
    prim.endWrite();
    wire_ = out.bytes().size();
  }
  size_t wireBytes() const { return wire_; }
  void put(protocol::ioprim& prim) const {
    if (ev_ != nullptr) {
      prim << *ev_;
    } else {
      prim.writeField(bytes_.size(), bytes_.data());
    }
    prim.endWrite();
  }
  // Reads one message and aborts unless it is like this one.
  void take(protocol::ioprim& prim) {
    if (ev_ == nullptr) {
      uint32_t len = 0;
      prim.readField(4, &len);
      if (len != wire_) std::abort();
      prim.readField(len - 4, scratch_.data() + 4);
      return;
    }
    std::unique_ptr<queues::event> got = queues::readEvent(prim);
    if (got->type != ev_->type) std::abort();
    if (kind_ == Kind::Event &&
        queues::as<queues::RETURN_PSEUDO_RANDOM>(*got)->payload.size() + kEventOverhead != wire_) {
      std::abort();
    }
    if (kind_ == Kind::Append &&
        queues::as<queues::TSDB_APPEND_DATA>(*got)->payload.data.size() != kIntervals) {
      std::abort();
    }
  }

 private:
  Kind kind_;
  std::unique_ptr<queues::event> ev_;  // every kind but Bytes
  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> scratch_;
  size_t wire_ = 0;
};

// A short event carrying two numbers (the child's CPU time and its voluntary context
// switches) or nothing.
Event makeNote(double a = 0, double b = 0) {
  std::string bytes(2 * sizeof(double), '\0');
  std::memcpy(bytes.data(), &a, sizeof a);
  std::memcpy(bytes.data() + sizeof a, &b, sizeof b);
  return Event(queues::QUEUE_MAIN, 0, std::move(bytes));
}

// Reads one event and checks it is the benchmark's own; returns its payload.
std::string takeEvent(protocol::ioprim& prim) {
  std::unique_ptr<queues::event> ev = queues::readEvent(prim);
  auto* e = queues::as<queues::RETURN_PSEUDO_RANDOM>(*ev);
  if (e == nullptr) std::abort();
  return std::move(e->payload);
}

void putEvent(protocol::ioprim& prim, const Event& ev) {
  prim << ev;
  prim.endWrite();
}

// ---- the sibling side ----------------------------------------------------------------------

constexpr uint64_t kPoolBytes = uint64_t{128} << 20;
// The server's slice unit for the default pool: 128 MiB over 316 units, in whole pages.
constexpr uint64_t kSliceUnit = (kPoolBytes / 316) / 4096 * 4096;

class BenchParent : public io::SiblingMessengerParent {
 public:
  BenchParent() : SiblingMessengerParent("SMem", kPoolBytes) {}
  uint64_t smemSliceSize(int32_t id) override { return (id == 0 ? 4 : 16) * kSliceUnit; }
  bool messageToNonexistantSibling(int32_t, int32_t) override { return false; }
};

// Messages the writer sends before a throughput run: one pass over its area. Pages of the pool
// are backed when first written, as in the server; a server that has run a while has its
// areas backed, and the figures are for that state.
size_t warmUpCount(size_t size) {
  return 16 * kSliceUnit / size + 1;
}

// A loop's selector holding the two streams of one peer: events are read and written when it
// reports them ready, as the server's loops do.
class Loop {
 public:
  // `busy`: the loop also waits for a descriptor of its own.
  Loop(io::SiblingMessenger::SiblingImplementation& peer, bool busy)
      : in_(peer.istream()), out_(peer.ostream()), prim_(&in_, &out_) {
    if (busy) sel_.add(other_, 0);
  }
  ~Loop() {
    if (in_added_) sel_.remove(in_);
    if (out_added_) sel_.remove(out_);
    if (sel_.isRegistered(other_)) sel_.remove(other_);
  }
  std::string read() {
    waitFor(in_, in_added_);
    return takeEvent(prim_);
  }
  void read(Message& msg, size_t count = 1) {
    for (size_t i = 0; i < count; ++i) {
      waitFor(in_, in_added_);
      msg.take(prim_);
    }
  }
  void write(const Event& ev) {
    waitFor(out_, out_added_);
    putEvent(prim_, ev);
  }
  void write(const Message& msg) {
    waitFor(out_, out_added_);
    msg.put(prim_);
  }

 private:
  void waitFor(io::Selectable& s, bool& added) {
    if (s.isReady()) return;
    if (!added) {
      sel_.add(s, 0);
      added = true;
    }
    while (!s.isReady())
      sel_.poll();
  }
  io::Signal other_{"other"};
  io::Selector<int> sel_;
  io::IStream& in_;
  io::OStream& out_;
  bool in_added_ = false;
  bool out_added_ = false;
  protocol::ioprim prim_;
};

struct Result {
  double secs = 0;          // throughput: time for all events
  double cpu = 0;           // both processes
  double sleeps = 0;        // both processes
  std::vector<double> rtt;  // round trips, seconds
};

int oursChild(const std::string& mode, Kind kind, size_t size, size_t count, bool busy) {
  io::SiblingMessenger m(io::siblingmessenger_conf_t::fromEnvironment(), 1);
  auto parent = m.sibling(0);
  Message msg(kind, size);
  if (mode == "tp") {
    // A loop of its own: one that has waited to write would find its output ready and never
    // wait for the input below.
    Loop warm(*parent, busy);
    for (size_t i = 0; i < warmUpCount(msg.wireBytes()); ++i)
      warm.write(msg);
  }
  Loop loop(*parent, busy);
  loop.read();  // "go"
  double cpu0 = cpuSeconds(), sleeps0 = sleeps();
  if (mode == "tp") {
    for (size_t i = 0; i < count; ++i)
      loop.write(msg);
  } else if (mode == "idle") {
    // Nothing to do until "done".
  } else {
    for (size_t i = 0; i < count; ++i) {
      loop.read(msg);
      loop.write(msg);
    }
  }
  // "done": the acknowledgements of everything we wrote came before it.
  loop.read();
  loop.write(makeNote(cpuSeconds() - cpu0, sleeps() - sleeps0));
  loop.read();  // "bye"
  return 0;
}

Result runOurs(const std::string& mode, Kind kind, size_t size, size_t count, bool busy) {
  BenchParent parent;
  io::SiblingMessenger pm(parent);
  io::ProcessSpec spec;
  spec.program = std::filesystem::read_symlink("/proc/self/exe").string();
  spec.arguments = {"--child",
                    "ours-" + mode,
                    kKindNames[static_cast<int>(kind)],
                    std::to_string(size),
                    std::to_string(count),
                    busy ? "busy" : "lone"};
  spec.passables["smem"] = &parent;
  spec.stdin_mode = io::StdMode::Null;
  spec.stdout_mode = io::StdMode::Inherit;
  spec.stderr_mode = io::StdMode::Inherit;
  io::Process child(spec);
  {
    io::Selector<int> sel;
    sel.add(pm.newSiblings(), 0);
    while (!pm.newSiblings().isReady())
      sel.poll();
    sel.remove(pm.newSiblings());
  }
  auto peer = pm.takeNewSibling();
  Result r;
  {
    Loop loop(*peer, busy);
    Message msg(kind, size);
    Event note = makeNote();
    if (mode == "tp") loop.read(msg, warmUpCount(msg.wireBytes()));
    double cpu0 = cpuSeconds(), sleeps0 = sleeps();
    auto t0 = Clock::now();
    loop.write(note);  // "go"
    if (mode == "tp") {
      loop.read(msg, count);
      r.secs = seconds(t0, Clock::now());
    } else if (mode == "idle") {
      // The loop waits for its peer and a timer `count` milliseconds away.
      io::Timer timer(TimeValue::now() + TimeValue::fromMilliseconds(static_cast<int64_t>(count)));
      io::Selector<int> sel;
      sel.add(timer, 0);
      sel.add(peer->istream(), 1);
      while (sel.poll().first != &timer) {
      }
      sel.remove(timer);
      sel.remove(peer->istream());
      r.secs = seconds(t0, Clock::now());
    } else {
      r.rtt.reserve(count);
      for (size_t i = 0; i < count; ++i) {
        auto a = Clock::now();
        loop.write(msg);
        loop.read(msg);
        r.rtt.push_back(seconds(a, Clock::now()));
      }
    }
    r.cpu = cpuSeconds() - cpu0;
    r.sleeps = sleeps() - sleeps0;
    loop.write(note);  // "done"
    double child[2] = {0, 0};
    std::string report = loop.read();
    if (report.size() == sizeof child) std::memcpy(child, report.data(), sizeof child);
    r.cpu += child[0];
    r.sleeps += child[1];
    loop.write(note);  // "bye"
  }
  pm.flush();
  {
    io::Selector<int> sel;
    sel.add(child, 0);
    sel.poll();
    sel.remove(child);
  }
  pm.siblingDied(1);
  return r;
}

// ---- socketpair and pipe ---------------------------------------------------------------------

// Writes everything; a descriptor made non-blocking (a socket shares that with its reading
// end) waits for room like a server's loop would.
void writeAll(int fd, const uint8_t* p, size_t n, bool socket = false) {
  while (n != 0) {
    ssize_t w = socket ? ::send(fd, p, n, 0) : ::write(fd, p, n);
    if (w < 0 && errno == EAGAIN) {
      struct pollfd pfd = {fd, POLLOUT, 0};
      ::poll(&pfd, 1, -1);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) std::abort();
    p += w, n -= static_cast<size_t>(w);
  }
}

// Room for the largest event; each commit (one per event, at endWrite) is one send(2).
class FdOStream : public io::OStream {
 public:
  FdOStream(int fd, bool socket) : fd_(fd), socket_(socket), buf_(1 << 18) {}
  std::string describe() const override { return "FdOStream"; }
  bool isReady() const override { return true; }
  size_t writeBegin(uint8_t*& p) override {
    p = buf_.data();
    return buf_.size();
  }
  void writeCommit(size_t n) override { writeAll(fd_, buf_.data(), n, socket_); }
  bool flush() override { return true; }
  void close() override {}

 private:
  int fd_;
  bool socket_;
  std::vector<uint8_t> buf_;
};

// Offers what one read(2) returned. Driven like a server's loop, it waits for readiness with
// epoll and then reads; a blocking reader instead sleeps in read(2) itself.
class FdIStream : public io::IStream {
 public:
  FdIStream(int fd, bool reactor) : fd_(fd), reactor_(reactor), buf_(1 << 18) {
    if (!reactor_) return;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ep_ = ::epoll_create1(EPOLL_CLOEXEC);
    struct epoll_event ev = {};
    ev.events = EPOLLIN;
    if (::epoll_ctl(ep_, EPOLL_CTL_ADD, fd, &ev) != 0) std::abort();
  }
  ~FdIStream() override {
    if (ep_ >= 0) ::close(ep_);
  }
  std::string describe() const override { return "FdIStream"; }
  bool isReady() const override { return true; }
  size_t readBegin(const uint8_t*& p) override {
    while (pos_ == end_)
      fill();
    p = buf_.data() + pos_;
    return end_ - pos_;
  }
  void readCommit(size_t n) override { pos_ += n; }
  void close() override {}

 private:
  void fill() {
    pos_ = end_ = 0;
    if (reactor_) {
      struct epoll_event ev;
      if (::epoll_wait(ep_, &ev, 1, -1) != 1) return;
    }
    ssize_t got = ::read(fd_, buf_.data(), buf_.size());
    if (got > 0) {
      end_ = static_cast<size_t>(got);
    } else if (!(got < 0 && (errno == EAGAIN || errno == EINTR))) {
      std::abort();
    }
  }
  int fd_;
  bool reactor_;
  int ep_ = -1;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
};

Result runKernel(bool socket, bool reactor, const std::string& mode, Kind kind, size_t size,
                 size_t count) {
  int down[2], up[2], report[2];  // parent -> child, child -> parent, child's CPU time
  if (socket) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, down) != 0) std::abort();
    up[0] = ::dup(down[0]);
    up[1] = ::dup(down[1]);
  } else if (::pipe(down) != 0 || ::pipe(up) != 0) {
    std::abort();
  }
  if (::pipe(report) != 0) std::abort();
  // A socket end both reads and writes; the dups let the code below treat both kinds alike.
  int p_write = socket ? down[0] : down[1], p_read = up[0];
  int c_read = socket ? down[1] : down[0], c_write = up[1];
  Message msg(kind, size);
  Event note = makeNote();
  pid_t pid = ::fork();
  if (pid == 0) {
    FdIStream in(c_read, reactor);
    FdOStream out(c_write, socket);
    protocol::ioprim prim(&in, &out);
    takeEvent(prim);  // "go"
    double cpu0 = cpuSeconds();
    if (mode == "tp") {
      for (size_t i = 0; i < count; ++i)
        msg.put(prim);
    } else {
      for (size_t i = 0; i < count; ++i) {
        msg.take(prim);
        msg.put(prim);
      }
    }
    double cpu = cpuSeconds() - cpu0;
    writeAll(report[1], reinterpret_cast<uint8_t*>(&cpu), sizeof cpu);
    ::_exit(0);
  }
  Result r;
  {
    FdIStream in(p_read, reactor);
    FdOStream out(p_write, socket);
    protocol::ioprim prim(&in, &out);
    double cpu0 = cpuSeconds();
    auto t0 = Clock::now();
    putEvent(prim, note);  // "go"
    if (mode == "tp") {
      for (size_t i = 0; i < count; ++i)
        msg.take(prim);
      r.secs = seconds(t0, Clock::now());
    } else {
      r.rtt.reserve(count);
      for (size_t i = 0; i < count; ++i) {
        auto a = Clock::now();
        msg.put(prim);
        msg.take(prim);
        r.rtt.push_back(seconds(a, Clock::now()));
      }
    }
    r.cpu = cpuSeconds() - cpu0;
  }
  double child_cpu = 0;
  if (::read(report[0], &child_cpu, sizeof child_cpu) != sizeof child_cpu) std::abort();
  r.cpu += child_cpu;
  ::waitpid(pid, nullptr, 0);
  for (int fd : {down[0], down[1], up[0], up[1], report[0], report[1]})
    ::close(fd);
  return r;
}

// ---- reporting -------------------------------------------------------------------------------

// The socketpair and the pipe are used plainly: their readers sleep in read(2). A socketpair
// read the way a server's loop reads (epoll, then read), and the sibling streams in a loop
// that waits for more than them, are shown for reference.
enum Transport { kOurs, kSocket, kPipe, kSocketEpoll, kOursEpoll, kTransports };
const char* const kNames[] = {"sibling", "socketpair", "pipe", "sock-epoll", "sib-epoll"};

// One line of the tables: what travels and, for the random-bytes event and raw bytes, its size.
struct Workload {
  Kind kind;
  size_t size;
  bool operator<(const Workload& o) const { return kind != o.kind ? kind < o.kind : size < o.size; }
};

Result run(Transport t, const std::string& mode, Workload w, size_t count) {
  if (t == kOurs || t == kOursEpoll) return runOurs(mode, w.kind, w.size, count, t == kOursEpoll);
  return runKernel(t != kPipe, t == kSocketEpoll, mode, w.kind, w.size, count);
}

double percentile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

struct Figures {
  std::vector<double> rate;    // events/s per round
  std::vector<double> cpu;     // CPU seconds per event per round
  std::vector<double> median;  // round-trip median per round
  std::vector<double> p99;
  std::vector<double> rtt_cpu;  // CPU seconds per round trip per round
  double bestRate() const { return *std::max_element(rate.begin(), rate.end()); }
  double bestMedian() const { return *std::min_element(median.begin(), median.end()); }
  double bestP99() const { return *std::min_element(p99.begin(), p99.end()); }
  double bestCpu() const { return *std::min_element(cpu.begin(), cpu.end()); }
  double bestRttCpu() const { return *std::min_element(rtt_cpu.begin(), rtt_cpu.end()); }
};

std::string spread(const std::vector<double>& v) {
  auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  char b[64];
  std::snprintf(b, sizeof b, "%.0f%%", *lo > 0 ? 100.0 * (*hi - *lo) / *lo : 0.0);
  return b;
}

// ---- how a waiting process is woken ----------------------------------------------------------

// Round trips of 8 bytes over two pipes, the bare cost of the wake-ups under every transport:
// the reader sleeps in read(2), in epoll_wait(2) and then reads, or first spins on epoll with
// a zero time-out for up to `spin_us` before it sleeps (a busy poll). The two processes run
// where the scheduler puts them, or on two different CPUs.
enum class Wake { Read, Epoll, Spin };

double wakeStudy(Wake how, bool split, int spin_us, size_t count) {
  int down[2], up[2];
  if (::pipe(down) != 0 || ::pipe(up) != 0) std::abort();
  cpu_set_t saved;
  ::sched_getaffinity(0, sizeof saved, &saved);
  auto pin = [&](int cpu) {
    if (!split) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    ::sched_setaffinity(0, sizeof one, &one);
  };
  auto side = [&](int in, int out, bool first, std::vector<double>* rtt) {
    if (how != Wake::Read) ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) | O_NONBLOCK);
    int ep = ::epoll_create1(EPOLL_CLOEXEC);
    struct epoll_event ev = {};
    ev.events = EPOLLIN;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, in, &ev);
    uint64_t word = 0;
    auto take = [&] {
      for (;;) {
        if (how == Wake::Spin) {
          auto until = Clock::now() + std::chrono::microseconds(spin_us);
          while (::epoll_wait(ep, &ev, 1, 0) == 0 && Clock::now() < until) {
          }
        }
        if (how != Wake::Read) ::epoll_wait(ep, &ev, 1, -1);
        if (::read(in, &word, 8) == 8) return;
      }
    };
    for (size_t i = 0; i < count; ++i) {
      auto a = Clock::now();
      if (first) writeAll(out, reinterpret_cast<uint8_t*>(&word), 8);
      take();
      if (!first) writeAll(out, reinterpret_cast<uint8_t*>(&word), 8);
      if (rtt != nullptr) rtt->push_back(seconds(a, Clock::now()));
    }
    ::close(ep);
  };
  pid_t pid = ::fork();
  if (pid == 0) {
    pin(1);
    side(down[0], up[1], false, nullptr);
    ::_exit(0);
  }
  pin(0);
  std::vector<double> rtt;
  rtt.reserve(count);
  side(up[0], down[1], true, &rtt);
  ::sched_setaffinity(0, sizeof saved, &saved);
  ::waitpid(pid, nullptr, 0);
  for (int fd : {down[0], down[1], up[0], up[1]})
    ::close(fd);
  return percentile(
      std::vector<double>(rtt.begin() + static_cast<ptrdiff_t>(count / 20), rtt.end()), 0.5);
}

void runWakeStudy(int rounds) {
  struct Variant {
    const char* name;
    Wake how;
    int spin_us;
  };
  const Variant variants[] = {{"read(2)", Wake::Read, 0},
                              {"epoll, read", Wake::Epoll, 0},
                              {"spin 10 us, epoll, read", Wake::Spin, 10},
                              {"spin 50 us, epoll, read", Wake::Spin, 50}};
  bool two_cpus = ::sysconf(_SC_NPROCESSORS_ONLN) >= 2;
  std::printf("pipe round trips of 8 bytes, median, best of %d (spread)\n", rounds);
  std::printf("%-26s %22s %22s\n", "the reader waits in", "where scheduled", "on two CPUs");
  for (const Variant& v : variants) {
    std::vector<double> shared, split;
    for (int r = 0; r < rounds; ++r) {
      shared.push_back(wakeStudy(v.how, false, v.spin_us, 20000));
      if (two_cpus) split.push_back(wakeStudy(v.how, true, v.spin_us, 20000));
    }
    auto best = [](const std::vector<double>& x) { return *std::min_element(x.begin(), x.end()); };
    std::printf("%-26s %13.2f us %6s", v.name, best(shared) * 1e6,
                ("[" + spread(shared) + "]").c_str());
    if (two_cpus) {
      std::printf(" %13.2f us %6s", best(split) * 1e6, ("[" + spread(split) + "]").c_str());
    }
    std::printf("\n");
  }
}

// A parent and a child attached to the pool, each idle in its loop for `ms` milliseconds.
void runIdle(size_t ms) {
  Result r = runOurs("idle", Kind::Event, 32, ms, false);
  std::printf("idle in their loops for %.1f s: %.2f ms CPU, %.0f wake-ups (both processes)\n",
              r.secs, r.cpu * 1e3, r.sleeps);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 7 && std::string(argv[1]) == "--child") {
    std::string mode = argv[2];
    return oursChild(mode.substr(5), kindNamed(argv[3]), std::stoul(argv[4]), std::stoul(argv[5]),
                     std::string(argv[6]) == "busy");
  }
  bool summary = false;
  bool only_ours = false;  // for profiling the sibling side alone
  Transport ours = kOurs;  // ... in a loop of its own, or with another descriptor
  bool wakeups = false;
  double idle_seconds = 0;
  bool no_rtt = false;
  bool no_tp = false;
  bool extras = true;  // raw bytes and catalogue events beside the sized events
  int rounds = 3;
  double scale = 1;
  std::vector<size_t> sizes{32, 256, 4096, 65536};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--summary") {
      summary = true;
    } else if (a == "--only-sibling") {
      only_ours = true;
    } else if (a == "--only-sibling-throughput") {
      only_ours = no_rtt = true;
    } else if (a == "--only-sibling-rtt") {
      only_ours = no_tp = true;
    } else if (a == "--sibling-epoll") {
      ours = kOursEpoll;
    } else if (a == "--events-only") {
      extras = false;
    } else if (a == "--wakeups") {
      wakeups = true;
    } else if (a == "--idle" && i + 1 < argc) {
      idle_seconds = std::atof(argv[++i]);
    } else if (a == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--scale" && i + 1 < argc) {
      scale = std::atof(argv[++i]);
    } else if (a == "--sizes" && i + 1 < argc) {
      sizes.clear();
      std::string list = argv[++i];
      for (size_t pos = 0; pos < list.size();) {
        size_t end = list.find(',', pos);
        size_t size = std::stoul(list.substr(pos, end - pos));
        sizes.push_back(std::max(size, kEventOverhead));
        pos = end == std::string::npos ? list.size() : end + 1;
      }
    } else {
      std::fprintf(stderr,
                   "usage: bench_transport [--rounds N] [--scale F] [--sizes a,b,...] "
                   "[--events-only] [--summary]\n"
                   "       bench_transport --only-sibling[-throughput|-rtt] [--sibling-epoll] "
                   "...\n"
                   "       bench_transport --wakeups [--rounds N] | --idle SECONDS\n");
      return 2;
    }
  }
  if (wakeups) {
    runWakeStudy(rounds);
    return 0;
  }
  if (idle_seconds > 0) {
    runIdle(static_cast<size_t>(idle_seconds * 1000));
    return 0;
  }
  // The events of every size go through all transports; raw bytes and the catalogue events
  // through the three plain ones.
  std::vector<Workload> loads;
  for (size_t size : sizes)
    loads.push_back({Kind::Event, size});
  if (!only_ours && extras) {
    for (size_t size : sizes)
      loads.push_back({Kind::Bytes, size});
    loads.push_back({Kind::Exit, 0});
    loads.push_back({Kind::Append, 0});
  }
  std::map<Workload, Figures[kTransports]> figs;
  for (int round = 0; round < rounds; ++round) {
    for (Workload w : loads) {
      double wire = static_cast<double>(Message(w.kind, w.size).wireBytes());
      // A gigabyte (at most 600000 messages) per throughput figure.
      size_t tp_count = static_cast<size_t>(
          scale * std::clamp<double>(1024.0 * 1024 * 1024 / wire, 4000.0, 600000.0));
      size_t rtt_count = static_cast<size_t>(scale * (wire >= 65536 ? 3000 : 10000));
      int transports = only_ours ? 1 : w.kind == Kind::Event ? kTransports : kSocketEpoll;
      for (int i = 0; i < transports; ++i) {
        Transport t = only_ours ? ours : static_cast<Transport>(i);
        Figures& f = figs[w][t];
        Result tp = no_tp ? Result{1, 0, 0, {}} : run(t, "tp", w, tp_count);
        f.rate.push_back(static_cast<double>(tp_count) / tp.secs);
        f.cpu.push_back(tp.cpu / static_cast<double>(tp_count));
        if (only_ours && no_rtt) {
          f.median.push_back(0);
          f.p99.push_back(0);
          f.rtt_cpu.push_back(0);
          continue;
        }
        Result rt = run(t, "rtt", w, rtt_count);
        std::vector<double> lat(rt.rtt.begin() + static_cast<ptrdiff_t>(rt.rtt.size() / 20),
                                rt.rtt.end());  // the first 5% warm up
        f.median.push_back(percentile(lat, 0.5));
        f.p99.push_back(percentile(lat, 0.99));
        f.rtt_cpu.push_back(rt.cpu / static_cast<double>(rtt_count));
      }
    }
  }
  if (only_ours) {
    for (size_t size : sizes) {
      const Figures& f = figs[{Kind::Event, size}][ours];
      std::printf("%7zu sibling %10.0f events/s, rtt median %.2f us [%s], cpu %.0f ns/event\n",
                  size, f.bestRate(), f.bestMedian() * 1e6, spread(f.median).c_str(),
                  f.bestCpu() * 1e9);
    }
    return 0;
  }
  std::printf("best of %d rounds (spread over the rounds in brackets)\n", rounds);
  std::printf("%-6s %7s %-10s %14s %10s %12s %12s %12s %10s\n", "what", "bytes", "transport",
              "messages/s", "MB/s", "rtt median", "rtt p99", "cpu/message", "cpu/rtt");
  for (Workload w : loads) {
    const Figures* f = figs[w];
    size_t wire = Message(w.kind, w.size).wireBytes();
    const char* name = kKindNames[static_cast<int>(w.kind)];
    int transports = w.kind == Kind::Event ? kTransports : kSocketEpoll;
    for (int t = 0; t < transports; ++t) {
      std::printf("%-6s %7zu %-10s %9.0f %4s %10.1f %7.2f us %4s %7.2f us %7.0f ns %7.2f us\n",
                  name, wire, kNames[t], f[t].bestRate(), ("[" + spread(f[t].rate) + "]").c_str(),
                  f[t].bestRate() * static_cast<double>(wire) / 1e6, f[t].bestMedian() * 1e6,
                  ("[" + spread(f[t].median) + "]").c_str(), f[t].bestP99() * 1e6,
                  f[t].bestCpu() * 1e9, f[t].bestRttCpu() * 1e6);
    }
    std::printf(
        "%-6s %7zu ratios vs socketpair: throughput %.2fx, rtt median %.2fx; vs pipe: %.2fx, "
        "%.2fx",
        name, wire, f[kOurs].bestRate() / f[kSocket].bestRate(),
        f[kOurs].bestMedian() / f[kSocket].bestMedian(), f[kOurs].bestRate() / f[kPipe].bestRate(),
        f[kOurs].bestMedian() / f[kPipe].bestMedian());
    if (transports == kTransports) {
      std::printf("; sib-epoll vs sock-epoll: %.2fx, %.2fx",
                  f[kOursEpoll].bestRate() / f[kSocketEpoll].bestRate(),
                  f[kOursEpoll].bestMedian() / f[kSocketEpoll].bestMedian());
    }
    std::printf("\n");
  }
  if (summary) {
    auto small = figs.find({Kind::Event, 32});
    if (small != figs.end()) {
      const Figures* f = small->second;
      std::printf("cpu per 32-byte event, both processes: sibling %.0f ns, socketpair %.0f ns\n",
                  f[kOurs].bestCpu() * 1e9, f[kSocket].bestCpu() * 1e9);
    }
    for (size_t size : sizes) {
      const Figures* f = figs[{Kind::Event, size}];
      std::printf("size=%zu throughput_ratio_vs_socketpair=%.2f rtt_ratio_vs_socketpair=%.2f\n",
                  size, f[kOurs].bestRate() / f[kSocket].bestRate(),
                  f[kOurs].bestMedian() / f[kSocket].bestMedian());
    }
  }
  return 0;
}
