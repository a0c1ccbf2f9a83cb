// What the supervisor's own meters cost on its hot path, next to the least the supervisor does
// for any event it handles, measured in the same run.
//
//   bench_meters [benchmark options]
//
//   Meters/PerControlRequest  what one control request adds: the worker's received event and
//                             bytes, the reply's sent event and bytes (counter increments),
//                             and the request timed by kind (two reads of the steady clock);
//   Meters/PerEvent           what any other event adds (the counter increments alone);
//   Peer/DecodeSmallEvent     reading one small event (INIT_OK, 28 bytes) from memory, which
//                             the supervisor does for every event it is sent.
//
// The summary prints each meter figure over the peer's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "kept_times.h"
#include "meter/group.h"
#include "meter/metric.h"
#include "meter/registry.h"
#include "queues/events_control.h"
#include "supervisor/supervisor_meters.h"
#include "wire/memory_stream.h"

namespace {

supervisor::SupervisorMeters& meters() {
  static supervisor::SupervisorMeters m([] { return supervisor::AreaUse{}; }, [] { return 0; });
  return m;
}

supervisor::WorkerMeters& dbms() {
  return meters().worker(queues::QUEUE_DBMS, "dbms", [] { return supervisor::AreaUse{}; });
}

void BM_Meters_PerControlRequest(benchmark::State& state) {
  supervisor::WorkerMeters& w = dbms();
  meter::MicroSecondTiming& timing = meters().control(queues::INIT_OK);
  for (auto _ : state) {
    w.received_bytes += 28;
    ++w.events_received;
    {
      meter::MicroSecondTiming::Scope timed(timing);
      w.sent_bytes += 900;
      ++w.events_sent;
    }
    benchmark::ClobberMemory();
  }
}

void BM_Meters_PerEvent(benchmark::State& state) {
  supervisor::WorkerMeters& w = dbms();
  for (auto _ : state) {
    w.received_bytes += 28;
    ++w.events_received;
    benchmark::ClobberMemory();
  }
}

void BM_Peer_DecodeSmallEvent(benchmark::State& state) {
  protocol::MemoryOStream out;
  {
    protocol::ioprim prim(nullptr, &out);
    queues::ev<queues::INIT_OK> ok(queues::QUEUE_MAIN, 0);
    ok.payload.depend_on = {queues::QUEUE_TSDB};
    prim << ok;
    prim.endWrite();
  }
  const std::string bytes = out.bytes();
  for (auto _ : state) {
    protocol::MemoryIStream in(bytes);
    protocol::ioprim prim(&in);
    std::unique_ptr<queues::event> ev = queues::readEvent(prim);
    benchmark::DoNotOptimize(ev.get());
  }
}

class RatioReporter : public vxbench::KeptTimesReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double peer = time("Peer/DecodeSmallEvent");
    std::printf("\nours / peer (time per operation / time to decode one small event):\n");
    for (const char* name : {"Meters/PerControlRequest", "Meters/PerEvent"}) {
      std::printf("  %-26s %8.2f ns   peer %8.2f ns   ratio %.3f\n", name, time(name), peer,
                  time(name) / peer);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  meter::Registry::start();
  benchmark::RegisterBenchmark("Meters/PerControlRequest", BM_Meters_PerControlRequest);
  benchmark::RegisterBenchmark("Meters/PerEvent", BM_Meters_PerEvent);
  benchmark::RegisterBenchmark("Peer/DecodeSmallEvent", BM_Peer_DecodeSmallEvent);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
