// Transport benchmark: messages between two processes through the sibling streams, next to an
// AF_UNIX SOCK_STREAM socketpair (one send per message) and a pipe carrying the same bytes,
// all measured in the same run. The socketpair and the pipe readers sleep in read(2); a
// socketpair read the way a server loop reads (epoll, then read) is shown for reference.
//
//   bench_transport [--rounds N] [--scale F] [--sizes 32,256,4096,65536] [--summary]
//
// Every message is length-prefixed: 4 bytes of length, then payload, `size` bytes in all. The
// receiver copies each message out, as an event reader would. One-way throughput: the child
// writes, the parent reads. Round trip: the parent writes, the child answers with a message of
// the same size. The sibling side uses the default pool (128 MiB; the parent's area 4 slice
// units, the child's, a worker of 16 units, 6.75 MB) and runs in selectors like the server's
// loops. Each figure is the best of the rounds; the spread over the rounds is printed beside
// it. CPU time per message is both processes together.
#include <fcntl.h>
#include <poll.h>
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

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

double cpuSeconds() {
  struct rusage ru;
  ::getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::vector<uint8_t> makeMessage(size_t size) {
  std::vector<uint8_t> m(size);
  uint32_t len = static_cast<uint32_t>(size);
  std::memcpy(m.data(), &len, 4);
  for (size_t i = 4; i < size; ++i)
    m[i] = static_cast<uint8_t>(i * 7);
  return m;
}

// Reassembles length-prefixed messages from a byte stream, copying each one out.
class Frames {
 public:
  explicit Frames(size_t max) : buf_(max) {}
  // Returns the number of messages completed by these bytes.
  size_t feed(const uint8_t* p, size_t n) {
    size_t done = 0;
    while (n != 0) {
      if (have_ < 4) {
        size_t k = std::min(n, 4 - have_);
        std::memcpy(buf_.data() + have_, p, k);
        have_ += k, p += k, n -= k;
        if (have_ == 4) std::memcpy(&want_, buf_.data(), 4);
        continue;
      }
      size_t k = std::min<size_t>(n, want_ - have_);
      std::memcpy(buf_.data() + have_, p, k);
      have_ += k, p += k, n -= k;
      if (have_ == want_) {
        ++done;
        have_ = 0;
      }
    }
    return done;
  }

 private:
  std::vector<uint8_t> buf_;
  size_t have_ = 0;
  uint32_t want_ = 0;
};

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

// Blocks (serving the messenger) until the stream is ready.
struct Waiter {
  io::Selector<int> sel;
  io::Selectable& s;
  explicit Waiter(io::Selectable& stream) : s(stream) { sel.add(s, 0); }
  ~Waiter() { sel.remove(s); }
  void wait() {
    while (!s.isReady())
      sel.poll();
  }
};

void writeFramed(io::OStream& os, Waiter& w, const uint8_t* m, size_t size) {
  while (size != 0) {
    w.wait();
    uint8_t* p;
    size_t n = std::min(os.writeBegin(p), size);
    std::memcpy(p, m, n);
    os.writeCommit(n);
    m += n, size -= n;
  }
}

// Reads until `count` whole messages have been completed.
void readFramed(io::IStream& is, Waiter& w, Frames& f, size_t count) {
  while (count != 0) {
    w.wait();
    const uint8_t* p;
    size_t n = is.readBegin(p);
    size_t done = f.feed(p, n);
    is.readCommit(n);
    count -= done;
  }
}

struct Result {
  double secs = 0;          // throughput: time for all messages
  double cpu = 0;           // both processes
  std::vector<double> rtt;  // round trips, seconds
};

int oursChild(const std::string& mode, size_t size, size_t count) {
  io::SiblingMessenger m(io::siblingmessenger_conf_t::fromEnvironment(), 1);
  auto parent = m.sibling(0);
  Waiter wo(parent->ostream()), wi(parent->istream());
  Frames f(size + 64);
  std::vector<uint8_t> msg = makeMessage(size);
  readFramed(parent->istream(), wi, f, 1);  // "go"
  double cpu0 = cpuSeconds();
  if (mode == "tp") {
    for (size_t i = 0; i < count; ++i)
      writeFramed(parent->ostream(), wo, msg.data(), size);
  } else {
    for (size_t i = 0; i < count; ++i) {
      readFramed(parent->istream(), wi, f, 1);
      writeFramed(parent->ostream(), wo, msg.data(), size);
    }
  }
  // "done": the acknowledgements of everything we wrote came before it.
  readFramed(parent->istream(), wi, f, 1);
  double cpu = cpuSeconds() - cpu0;
  std::vector<uint8_t> report = makeMessage(16);
  std::memcpy(report.data() + 8, &cpu, 8);
  writeFramed(parent->ostream(), wo, report.data(), report.size());
  readFramed(parent->istream(), wi, f, 1);  // "bye"
  return 0;
}

Result runOurs(const std::string& mode, size_t size, size_t count) {
  BenchParent parent;
  io::SiblingMessenger pm(parent);
  io::ProcessSpec spec;
  spec.program = std::filesystem::read_symlink("/proc/self/exe").string();
  spec.arguments = {"--child", "ours-" + mode, std::to_string(size), std::to_string(count)};
  spec.passables["smem"] = &parent;
  spec.stdin_mode = io::StdMode::Null;
  spec.stdout_mode = io::StdMode::Inherit;
  spec.stderr_mode = io::StdMode::Inherit;
  io::Process child(spec);
  {
    Waiter wn(pm.newSiblings());
    wn.wait();
  }
  auto peer = pm.takeNewSibling();
  Waiter wo(peer->ostream()), wi(peer->istream());
  Frames f(size + 64);
  std::vector<uint8_t> msg = makeMessage(size), go = makeMessage(8);
  Result r;
  double cpu0 = cpuSeconds();
  auto t0 = Clock::now();
  if (mode == "tp") {
    writeFramed(peer->ostream(), wo, go.data(), go.size());
    readFramed(peer->istream(), wi, f, count);
    r.secs = seconds(t0, Clock::now());
  } else {
    writeFramed(peer->ostream(), wo, go.data(), go.size());
    r.rtt.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      auto a = Clock::now();
      writeFramed(peer->ostream(), wo, msg.data(), size);
      readFramed(peer->istream(), wi, f, 1);
      r.rtt.push_back(seconds(a, Clock::now()));
    }
  }
  r.cpu = cpuSeconds() - cpu0;
  writeFramed(peer->ostream(), wo, go.data(), go.size());  // "done"
  // The child's own CPU time comes in its last message.
  double child_cpu = 0;
  {
    wi.wait();
    const uint8_t* p;
    size_t n = peer->istream().readBegin(p);
    if (n >= 16) std::memcpy(&child_cpu, p + 8, 8);
    peer->istream().readCommit(n);
  }
  r.cpu += child_cpu;
  writeFramed(peer->ostream(), wo, go.data(), go.size());
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

// One send (or write) per message.
void sendOne(int fd, bool socket, const uint8_t* p, size_t n) {
  writeAll(fd, p, n, socket);
}

// The reading end of a socketpair or pipe. Driven like a server's loop, it waits for readiness
// with epoll and then reads once; a blocking reader instead sleeps in read(2) itself.
class KernelReader {
 public:
  KernelReader(int fd, bool reactor) : fd_(fd), reactor_(reactor) {
    if (!reactor_) return;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ep_ = ::epoll_create1(EPOLL_CLOEXEC);
    struct epoll_event ev = {};
    ev.events = EPOLLIN;
    if (::epoll_ctl(ep_, EPOLL_CTL_ADD, fd, &ev) != 0) std::abort();
  }
  ~KernelReader() {
    if (ep_ >= 0) ::close(ep_);
  }
  size_t read(uint8_t* p, size_t n) {
    for (;;) {
      if (reactor_) {
        struct epoll_event ev;
        if (::epoll_wait(ep_, &ev, 1, -1) != 1) continue;
      }
      ssize_t got = ::read(fd_, p, n);
      if (got > 0) return static_cast<size_t>(got);
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      std::abort();
    }
  }
  // Reads until `count` messages are complete.
  void readCount(Frames& f, std::vector<uint8_t>& buf, size_t count) {
    while (count != 0)
      count -= f.feed(buf.data(), read(buf.data(), buf.size()));
  }
  // Reads exactly one message of `size` bytes (round trips never have more in flight).
  void readOne(std::vector<uint8_t>& buf, size_t size) {
    for (size_t have = 0; have < size;)
      have += read(buf.data() + have, size - have);
  }

 private:
  int fd_;
  bool reactor_;
  int ep_ = -1;
};

Result runKernel(bool socket, bool reactor, const std::string& mode, size_t size, size_t count) {
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
  std::vector<uint8_t> msg = makeMessage(size), buf(std::max<size_t>(size, 256 * 1024));
  pid_t pid = ::fork();
  if (pid == 0) {
    KernelReader in(c_read, reactor);
    in.readOne(buf, 1);
    double cpu0 = cpuSeconds();
    if (mode == "tp") {
      for (size_t i = 0; i < count; ++i)
        sendOne(c_write, socket, msg.data(), size);
    } else {
      for (size_t i = 0; i < count; ++i) {
        in.readOne(buf, size);
        sendOne(c_write, socket, msg.data(), size);
      }
    }
    double cpu = cpuSeconds() - cpu0;
    writeAll(report[1], reinterpret_cast<uint8_t*>(&cpu), sizeof cpu);
    ::_exit(0);
  }
  KernelReader in(p_read, reactor);
  Frames f(size + 64);
  Result r;
  uint8_t go = 1;
  double cpu0 = cpuSeconds();
  auto t0 = Clock::now();
  writeAll(p_write, &go, 1);
  if (mode == "tp") {
    in.readCount(f, buf, count);
    r.secs = seconds(t0, Clock::now());
  } else {
    r.rtt.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      auto a = Clock::now();
      sendOne(p_write, socket, msg.data(), size);
      in.readOne(buf, size);
      r.rtt.push_back(seconds(a, Clock::now()));
    }
  }
  r.cpu = cpuSeconds() - cpu0;
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
// read the way a server's loop reads (epoll, then read) is shown for reference.
enum Transport { kOurs, kSocket, kPipe, kSocketEpoll, kTransports };
const char* const kNames[] = {"sibling", "socketpair", "pipe", "sock-epoll"};

Result run(Transport t, const std::string& mode, size_t size, size_t count) {
  if (t == kOurs) return runOurs(mode, size, count);
  return runKernel(t != kPipe, t == kSocketEpoll, mode, size, count);
}

double percentile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

struct Figures {
  std::vector<double> rate;    // messages/s per round
  std::vector<double> cpu;     // CPU seconds per message per round
  std::vector<double> median;  // round-trip median per round
  std::vector<double> p99;
  double bestRate() const { return *std::max_element(rate.begin(), rate.end()); }
  double bestMedian() const { return *std::min_element(median.begin(), median.end()); }
  double bestP99() const { return *std::min_element(p99.begin(), p99.end()); }
  double bestCpu() const { return *std::min_element(cpu.begin(), cpu.end()); }
};

std::string spread(const std::vector<double>& v) {
  auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  char b[64];
  std::snprintf(b, sizeof b, "%.0f%%", *lo > 0 ? 100.0 * (*hi - *lo) / *lo : 0.0);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::string(argv[1]) == "--child") {
    std::string mode = argv[2];
    return oursChild(mode.substr(5), std::stoul(argv[3]), std::stoul(argv[4]));
  }
  bool summary = false;
  bool only_ours = false;  // for profiling the sibling side alone
  bool no_rtt = false;
  bool no_tp = false;
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
    } else if (a == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--scale" && i + 1 < argc) {
      scale = std::atof(argv[++i]);
    } else if (a == "--sizes" && i + 1 < argc) {
      sizes.clear();
      std::string list = argv[++i];
      for (size_t pos = 0; pos < list.size();) {
        size_t end = list.find(',', pos);
        sizes.push_back(std::stoul(list.substr(pos, end - pos)));
        pos = end == std::string::npos ? list.size() : end + 1;
      }
    } else {
      std::fprintf(stderr,
                   "usage: bench_transport [--rounds N] [--scale F] [--sizes a,b,...] "
                   "[--summary]\n");
      return 2;
    }
  }
  std::map<size_t, Figures[kTransports]> figs;
  for (int round = 0; round < rounds; ++round) {
    for (size_t size : sizes) {
      // A gigabyte (at most 600000 messages) per throughput figure.
      size_t tp_count = static_cast<size_t>(
          scale *
          std::clamp<double>(1024.0 * 1024 * 1024 / static_cast<double>(size), 4000.0, 600000.0));
      size_t rtt_count = static_cast<size_t>(scale * (size >= 65536 ? 3000 : 10000));
      for (int t = 0; t < (only_ours ? 1 : kTransports); ++t) {
        Figures& f = figs[size][t];
        Result tp = no_tp ? Result{1, 0, {}} : run(static_cast<Transport>(t), "tp", size, tp_count);
        f.rate.push_back(static_cast<double>(tp_count) / tp.secs);
        f.cpu.push_back(tp.cpu / static_cast<double>(tp_count));
        if (only_ours && no_rtt) {
          f.median.push_back(0);
          f.p99.push_back(0);
          continue;
        }
        Result rt = run(static_cast<Transport>(t), "rtt", size, rtt_count);
        std::vector<double> lat(rt.rtt.begin() + static_cast<ptrdiff_t>(rt.rtt.size() / 20),
                                rt.rtt.end());  // the first 5% warm up
        f.median.push_back(percentile(lat, 0.5));
        f.p99.push_back(percentile(lat, 0.99));
      }
    }
  }
  if (only_ours) {
    for (size_t size : sizes) {
      const Figures& f = figs[size][kOurs];
      std::printf("%7zu sibling %10.0f messages/s, rtt median %.2f us, cpu %.0f ns/message\n", size,
                  f.bestRate(), f.bestMedian() * 1e6, f.bestCpu() * 1e9);
    }
    return 0;
  }
  std::printf("best of %d rounds (spread over the rounds in brackets)\n", rounds);
  std::printf("%7s %-10s %14s %10s %12s %12s %12s\n", "size", "transport", "messages/s", "MB/s",
              "rtt median", "rtt p99", "cpu/msg");
  for (size_t size : sizes) {
    for (int t = 0; t < kTransports; ++t) {
      const Figures& f = figs[size][t];
      std::printf("%7zu %-10s %9.0f %4s %10.1f %7.2f us %4s %7.2f us %7.0f ns\n", size, kNames[t],
                  f.bestRate(), ("[" + spread(f.rate) + "]").c_str(),
                  f.bestRate() * static_cast<double>(size) / 1e6, f.bestMedian() * 1e6,
                  ("[" + spread(f.median) + "]").c_str(), f.bestP99() * 1e6, f.bestCpu() * 1e9);
    }
    const Figures* f = figs[size];
    std::printf(
        "%7zu ratios vs socketpair: throughput %.2fx, rtt median %.2fx;"
        " vs pipe: %.2fx, %.2fx; vs sock-epoll: %.2fx, %.2fx\n",
        size, f[kOurs].bestRate() / f[kSocket].bestRate(),
        f[kOurs].bestMedian() / f[kSocket].bestMedian(), f[kOurs].bestRate() / f[kPipe].bestRate(),
        f[kOurs].bestMedian() / f[kPipe].bestMedian(),
        f[kOurs].bestRate() / f[kSocketEpoll].bestRate(),
        f[kOurs].bestMedian() / f[kSocketEpoll].bestMedian());
  }
  if (summary) {
    for (size_t size : sizes) {
      const Figures* f = figs[size];
      std::printf("size=%zu throughput_ratio_vs_socketpair=%.2f rtt_ratio_vs_socketpair=%.2f\n",
                  size, f[kOurs].bestRate() / f[kSocket].bestRate(),
                  f[kOurs].bestMedian() / f[kSocket].bestMedian());
    }
  }
  return 0;
}
