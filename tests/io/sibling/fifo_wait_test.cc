// How a loop waits on its FIFO: in the FIFO's own read when that is all it waits for, in epoll
// otherwise, and shortly after traffic first polling for a few microseconds. A wrong choice either
// hangs the loop (a timer or a signal that never fires) or loses the wake-up, so every case runs
// with a watchdog that writes to the FIFO after a few seconds: a loop stuck in the read is then
// freed and the test fails instead of hanging.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "io/selector.h"
#include "io/sibling/fifo.h"
#include "io/signal.h"
#include "io/timer.h"
#include "support/test_support.h"

namespace vxtest {
namespace {

void writeWord(const std::string& path, uint64_t word) {
  int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, &word, 8), 8);
  ::close(fd);
}

// Writes the word 0xdead to the FIFO after `delay` unless stopped first.
class Watchdog {
 public:
  Watchdog(std::string path, std::chrono::milliseconds delay)
      : thread_([this, path = std::move(path), delay] {
          std::unique_lock<std::mutex> lock(mu_);
          if (!cv_.wait_for(lock, delay, [this] { return stopped_; })) writeWord(path, 0xdead);
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stopped_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool stopped_ = false;
  std::thread thread_;
};

uint64_t firstWord(io::FifoReader& r) {
  uint64_t w = 0;
  if (r.size() >= 8) std::memcpy(&w, r.data(), 8);
  return w;
}

constexpr auto kWatchdog = std::chrono::milliseconds(3000);

TEST(FifoWait, LoneFifoSleepsInItsReadAndWakesForAWriter) {
  TempDir dir;
  io::FifoReader reader(dir.path() + "/f");
  io::BareSelector sel;
  sel.add(reader);
  Watchdog dog(reader.path(), kWatchdog);
  std::thread writer([&] { writeWord(reader.path(), 42); });
  io::Selectable& got = sel.wait();
  writer.join();
  EXPECT_EQ(&got, &reader);
  EXPECT_EQ(firstWord(reader), 42u);
  reader.consume(reader.size());
  // Data already waiting is taken without sleeping.
  writeWord(reader.path(), 43);
  EXPECT_EQ(&sel.wait(), &reader);
  EXPECT_EQ(firstWord(reader), 43u);
  reader.consume(reader.size());
  sel.remove(reader);
}

TEST(FifoWait, ATimerOrASignalKeepsTheLoopInEpoll) {
  TempDir dir;
  io::FifoReader reader(dir.path() + "/f");
  {
    io::BareSelector sel;
    io::Timer timer(TimeValue::now() + TimeValue::make(0, 2000));
    sel.add(reader);
    sel.add(timer);
    Watchdog dog(reader.path(), kWatchdog);
    EXPECT_EQ(&sel.wait(), &timer);
    sel.remove(timer);
    sel.remove(reader);
  }
  EXPECT_EQ(reader.size(), 0u);
  {
    // A handler wakes a loop by setting a signal, from any thread.
    io::BareSelector sel;
    io::Signal wake("wake");
    sel.add(reader);
    sel.add(wake);
    Watchdog dog(reader.path(), kWatchdog);
    std::thread setter([&] { wake.set(); });
    EXPECT_EQ(&sel.wait(), &wake);
    setter.join();
    sel.remove(wake);
    sel.remove(reader);
  }
  reader.readNow();
  EXPECT_EQ(reader.size(), 0u) << "the watchdog had to wake the loop";
}

// A signal that interrupts the read starts a new pass; the loop sleeps again and still gets
// the message.
TEST(FifoWait, InterruptedReadWaitsAgain) {
  TempDir dir;
  io::FifoReader reader(dir.path() + "/f");
  struct sigaction sa = {}, old = {};
  sa.sa_handler = [](int) {};
  ::sigaction(SIGUSR2, &sa, &old);  // no SA_RESTART: the read returns EINTR
  io::BareSelector sel;
  sel.add(reader);
  pthread_t self = ::pthread_self();
  Watchdog dog(reader.path(), kWatchdog);
  std::thread poker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::pthread_kill(self, SIGUSR2);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    writeWord(reader.path(), 7);
  });
  EXPECT_EQ(&sel.wait(), &reader);
  poker.join();
  EXPECT_EQ(firstWord(reader), 7u);
  EXPECT_EQ(reader.error(), 0);
  sel.remove(reader);
  ::sigaction(SIGUSR2, &old, nullptr);
}

// Right after a message the loop polls before it sleeps; whatever comes next, a message, a
// signal or a timer, is served as when it sleeps at once, and a timer not before its time.
// Each case has a loop of its own, whose first wait after the message polls.
TEST(FifoWait, AfterTrafficThePollingLoopServesWhateverComesNext) {
  TempDir dir;
  io::FifoReader reader(dir.path() + "/f");
  Watchdog dog(reader.path(), kWatchdog);
  auto traffic = [&](io::BareSelector& sel) {
    writeWord(reader.path(), 1);
    ASSERT_EQ(&sel.wait(), &reader);
    reader.consume(reader.size());
  };
  for (int delay_us : {0, 10, 200, 2000}) {
    SCOPED_TRACE(delay_us);
    io::BareSelector sel;
    sel.add(reader);
    traffic(sel);
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
      writeWord(reader.path(), 2);
    });
    EXPECT_EQ(&sel.wait(), &reader);
    writer.join();
    EXPECT_EQ(firstWord(reader), 2u);
    reader.consume(reader.size());
    sel.remove(reader);
  }
  for (int delay_us : {0, 10, 2000}) {
    SCOPED_TRACE(delay_us);
    io::BareSelector sel;
    io::Signal wake("wake");
    sel.add(reader);
    sel.add(wake);
    traffic(sel);
    std::thread setter([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
      wake.set();
    });
    EXPECT_EQ(&sel.wait(), &wake);
    setter.join();
    sel.remove(wake);
    sel.remove(reader);
  }
  for (int delay_us : {5, 20, 3000}) {
    SCOPED_TRACE(delay_us);
    io::BareSelector sel;
    sel.add(reader);
    traffic(sel);
    TimeValue due = TimeValue::now() + TimeValue::make(0, delay_us);
    io::Timer timer(due);
    sel.add(timer);
    EXPECT_EQ(&sel.wait(), &timer);
    EXPECT_GE(TimeValue::now(), due);
    sel.remove(timer);
    sel.remove(reader);
  }
  reader.readNow();
  EXPECT_EQ(reader.size(), 0u) << "the watchdog had to wake the loop";
}

double threadCpuSeconds() {
  struct rusage ru;
  ::getrusage(RUSAGE_THREAD, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Polling is bounded: a loop whose next message comes late sleeps for it, and one that keeps
// waiting in vain soon stops polling at all.
TEST(FifoWait, ALoopWaitingLongSleepsInsteadOfPolling) {
  TempDir dir;
  io::FifoReader reader(dir.path() + "/f");
  io::BareSelector sel;
  sel.add(reader);
  Watchdog dog(reader.path(), kWatchdog);
  double cpu0 = threadCpuSeconds();
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) {
    writeWord(reader.path(), 1);
    ASSERT_EQ(&sel.wait(), &reader);
    reader.consume(reader.size());
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      writeWord(reader.path(), 2);
    });
    EXPECT_EQ(&sel.wait(), &reader);
    writer.join();
    reader.consume(reader.size());
  }
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // 20 waits of 5 ms each: polling through them would cost 100 ms of CPU; one budget of
  // polling per wait (at most) costs well under a millisecond.
  EXPECT_LT(threadCpuSeconds() - cpu0, 0.02 + wall / 20);
  sel.remove(reader);
}

}  // namespace
}  // namespace vxtest
