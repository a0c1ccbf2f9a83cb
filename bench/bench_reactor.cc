// The reactor against the plain system calls under it, measured in the same run:
//   signal wake-up: io::Signal set on another thread -> its closure runs in a selector loop,
//                   against epoll_wait on an eventfd written from another thread;
//   timer lateness: io::Timer returned by a selector after its deadline, against a
//                   CLOCK_REALTIME timerfd waited for with epoll_wait;
//   idle CPU (--idle): CPU time of a selector waiting 5 s for a signal that never comes and a
//                   timer, against epoll_wait with a 5 s time-out. Must be about zero.
// Iteration times are the measured latencies; the summary prints medians and ours / peer.
#include <benchmark/benchmark.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "io/closure.h"
#include "io/selector.h"
#include "io/signal.h"
#include "io/timer.h"

namespace {

int64_t monoNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t realUs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

// Samples (microseconds) of the last run of each benchmark: Google Benchmark calls a function
// several times while it settles the iteration count; the last call is the one reported.
std::map<std::string, std::vector<double>> g_samples;

void keep(const std::string& key, std::vector<double> samples) {
  g_samples[key] = std::move(samples);
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double mean(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v)
    sum += x;
  return v.empty() ? 0 : sum / static_cast<double>(v.size());
}

void writeCounter(int fd) {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

void readCounter(int fd) {
  uint64_t v;
  [[maybe_unused]] ssize_t n = ::read(fd, &v, sizeof v);
}

// The benchmark thread sets, the loop thread serves and answers on a blocking eventfd, so
// neither side spins.
void BM_SignalWakeup_Selector(benchmark::State& state) {
  io::Signal sig("bench");
  int ack = ::eventfd(0, EFD_CLOEXEC);
  std::atomic<int64_t> handled{0};
  std::atomic<bool> quit{false};
  std::thread loop([&] {
    io::Selector<refcount_ptr<BindBase<void>>> sel;
    sel.add(sig, makeFunctionClosure([&] {
              handled.store(monoNs(), std::memory_order_release);
              sig.reset();
              writeCounter(ack);
            }));
    while (!quit.load()) {
      auto [s, fn] = sel.poll();
      (*fn)();
    }
    sel.remove(sig);
  });
  std::vector<double> samples;
  for (auto _ : state) {
    int64_t t0 = monoNs();
    sig.set();
    readCounter(ack);
    double us = static_cast<double>(handled.load(std::memory_order_acquire) - t0) / 1000.0;
    samples.push_back(us);
    state.SetIterationTime(us / 1e6);
  }
  quit = true;
  sig.set();
  loop.join();
  ::close(ack);
  keep("signal/ours", std::move(samples));
}

void BM_SignalWakeup_EpollEventfd(benchmark::State& state) {
  int ev = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  int ack = ::eventfd(0, EFD_CLOEXEC);
  int ep = ::epoll_create1(EPOLL_CLOEXEC);
  struct epoll_event e = {};
  e.events = EPOLLIN;
  ::epoll_ctl(ep, EPOLL_CTL_ADD, ev, &e);
  std::atomic<int64_t> handled{0};
  std::atomic<bool> quit{false};
  std::thread loop([&] {
    while (!quit.load()) {
      struct epoll_event got;
      if (::epoll_wait(ep, &got, 1, -1) != 1) continue;
      handled.store(monoNs(), std::memory_order_release);
      readCounter(ev);
      writeCounter(ack);
    }
  });
  std::vector<double> samples;
  for (auto _ : state) {
    int64_t t0 = monoNs();
    writeCounter(ev);
    readCounter(ack);
    double us = static_cast<double>(handled.load(std::memory_order_acquire) - t0) / 1000.0;
    samples.push_back(us);
    state.SetIterationTime(us / 1e6);
  }
  quit = true;
  writeCounter(ev);
  loop.join();
  ::close(ep);
  ::close(ev);
  ::close(ack);
  keep("signal/peer", std::move(samples));
}

// Deadlines 1 to 2 ms ahead, in the same pseudo-random sequence for both sides, so neither
// profits from a lucky phase against the millisecond.
int64_t nextDelayUs(uint32_t& seed) {
  seed = seed * 1664525u + 1013904223u;
  return 1000 + (seed >> 8) % 1000;
}

void BM_TimerLateness_Selector(benchmark::State& state) {
  io::BareSelector sel;
  io::Timer timer;
  sel.add(timer);
  uint32_t seed = 1;
  std::vector<double> samples;
  for (auto _ : state) {
    int64_t due = realUs() + nextDelayUs(seed);
    timer.set(TimeValue::make(due / 1000000, due % 1000000));
    sel.wait();
    double late = static_cast<double>(realUs() - due);
    samples.push_back(late);
    state.SetIterationTime(late / 1e6);
  }
  sel.remove(timer);
  keep("timer/ours", std::move(samples));
}

void BM_TimerLateness_Timerfd(benchmark::State& state) {
  int tfd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
  int ep = ::epoll_create1(EPOLL_CLOEXEC);
  struct epoll_event e = {};
  e.events = EPOLLIN;
  ::epoll_ctl(ep, EPOLL_CTL_ADD, tfd, &e);
  uint32_t seed = 1;
  std::vector<double> samples;
  for (auto _ : state) {
    int64_t due = realUs() + nextDelayUs(seed);
    struct itimerspec its = {};
    its.it_value.tv_sec = due / 1000000;
    its.it_value.tv_nsec = (due % 1000000) * 1000;
    ::timerfd_settime(tfd, TFD_TIMER_ABSTIME, &its, nullptr);
    struct epoll_event got;
    while (::epoll_wait(ep, &got, 1, -1) != 1) {
    }
    double late = static_cast<double>(realUs() - due);
    readCounter(tfd);
    samples.push_back(late);
    state.SetIterationTime(late / 1e6);
  }
  ::close(ep);
  ::close(tfd);
  keep("timer/peer", std::move(samples));
}

double threadCpuUs() {
  struct rusage ru;
  ::getrusage(RUSAGE_THREAD, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e6 +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec);
}

constexpr int kIdleSeconds = 5;

void BM_IdleCpu_Selector(benchmark::State& state) {
  for (auto _ : state) {
    io::BareSelector sel;
    io::Signal never;
    io::Timer timer(TimeValue::now() + TimeValue(kIdleSeconds, 0));
    sel.add(never);
    sel.add(timer);
    double before = threadCpuUs();
    sel.wait();
    double cpu = threadCpuUs() - before;
    sel.remove(never);
    sel.remove(timer);
    state.counters["cpu_us"] = cpu;
    keep("idle/ours", {cpu});
  }
}

void BM_IdleCpu_EpollWait(benchmark::State& state) {
  for (auto _ : state) {
    int ev = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    int ep = ::epoll_create1(EPOLL_CLOEXEC);
    struct epoll_event e = {};
    e.events = EPOLLIN;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, ev, &e);
    double before = threadCpuUs();
    struct epoll_event got;
    ::epoll_wait(ep, &got, 1, kIdleSeconds * 1000);
    double cpu = threadCpuUs() - before;
    ::close(ep);
    ::close(ev);
    state.counters["cpu_us"] = cpu;
    keep("idle/peer", {cpu});
  }
}

void summary(const char* what, const std::string& key, const char* unit) {
  auto ours = g_samples.find(key + "/ours");
  auto peer = g_samples.find(key + "/peer");
  if (ours == g_samples.end() || peer == g_samples.end()) return;
  double mo = median(ours->second), mp = median(peer->second);
  std::printf("%-16s median %9.1f %s (mean %9.1f), peer %9.1f %s (mean %9.1f); ours/peer %.2f\n",
              what, mo, unit, mean(ours->second), mp, unit, mean(peer->second),
              mp > 0 ? mo / mp : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  bool idle = false;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--idle") == 0) {
      idle = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;

  benchmark::RegisterBenchmark("SignalWakeup/Selector", BM_SignalWakeup_Selector)->UseManualTime();
  benchmark::RegisterBenchmark("SignalWakeup/EpollEventfd", BM_SignalWakeup_EpollEventfd)
      ->UseManualTime();
  benchmark::RegisterBenchmark("TimerLateness/Selector", BM_TimerLateness_Selector)
      ->UseManualTime()
      ->Iterations(500);
  benchmark::RegisterBenchmark("TimerLateness/Timerfd", BM_TimerLateness_Timerfd)
      ->UseManualTime()
      ->Iterations(500);
  if (idle) {
    benchmark::RegisterBenchmark("IdleCpu5s/Selector", BM_IdleCpu_Selector)->Iterations(1);
    benchmark::RegisterBenchmark("IdleCpu5s/EpollWait", BM_IdleCpu_EpollWait)->Iterations(1);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  std::printf("\n");
  summary("signal wake-up", "signal", "us");
  summary("timer lateness", "timer", "us");
  if (idle) {
    summary("idle CPU in 5 s", "idle", "us");
  } else {
    std::printf("(idle CPU of a 5 s wait: run with --idle)\n");
  }
  return 0;
}
