// Encoding and decoding throughput of two realistic messages: an agent's check-in of 1000
// results and the configuration a server sends an agent. The peer is a plain memcpy of the
// same octets, measured in the same run; the last lines print our time over the peer's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kept_times.h"
#include "protocol/gui_protocol.h"
#include "protocol/messages.h"

namespace {

using namespace protocol;

CheckinReq makeCheckin() {
  CheckinReq m;
  for (int i = 0; i < 1000; ++i) {
    CheckResult& r = m.results.emplace_back();
    r.checkId = 100000 + i;
    r.name = "check." + std::to_string(i) + ".filesystem.used";
    r.status = i % 4;
    r.details = {"mount point /var/lib/data" + std::to_string(i % 7), "threshold 90%"};
    switch (i % 3) {
      case 0:
        r.value = int32_t(i * 37);
        break;
      case 1:
        r.value = 12.5 + i;
        break;
      default:
        r.value = std::string("OK - 42 processes");
        break;
    }
    r.unit = "%";
    r.instance = "disk" + std::to_string(i % 4);
  }
  return m;
}

CheckConf makeCheckConf(int i) {
  CheckConf c;
  c.id = 5000 + i;
  c.name = "Service check " + std::to_string(i);
  c.type = i % 5;
  c.interval = 300;
  c.arguments = {"--host=127.0.0.1", "--port=" + std::to_string(1000 + i), "--timeout=10"};
  c.severity = i % 3;
  switch (i % 3) {
    case 0: {
      auto& t = c.thresholds.emplace<ContinuousConf>();
      t.op = 2;
      t.warning = 80;
      t.critical = 95;
      break;
    }
    case 1:
      c.thresholds.emplace<EnumConf>().statuses = {0, 1, 3};
      break;
    default: {
      auto& t = c.thresholds.emplace<RealContinuousConf>();
      t.warning = 0.75;
      t.critical = 0.9;
      break;
    }
  }
  return c;
}

// 20 groups of 25 checks, each with a subgroup of 5 more: 600 checks in all.
ConfigureResp makeConfigure() {
  ConfigureResp m;
  m.name = "agent-0042.site-a.example.net";
  for (int i = 0; i < 3; ++i) {
    m.servers.push_back(ServerNamePort());
    m.servers.back().host = "collector" + std::to_string(i) + ".example.net";
    m.servers.back().port = 7100 + i;
  }
  int n = 0;
  for (int g = 0; g < 20; ++g) {
    CheckConfGroup& group = m.groups.emplace_back();
    group.name = "Group " + std::to_string(g);
    for (int i = 0; i < 25; ++i)
      group.checks.push_back(makeCheckConf(n++));
    CheckConfGroup& sub = group.groups.emplace_back();
    sub.name = "Subgroup " + std::to_string(g);
    for (int i = 0; i < 5; ++i)
      sub.checks.push_back(makeCheckConf(n++));
  }
  for (int i = 0; i < 10; ++i) {
    m.alertGroups.emplace_back().name = "Alert group " + std::to_string(i);
  }
  return m;
}

const CheckinReq& checkin() {
  static const CheckinReq m = makeCheckin();
  return m;
}

const ConfigureResp& configure() {
  static const ConfigureResp m = makeConfigure();
  return m;
}

void setCounters(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(int64_t(state.iterations() * bytes));
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["octets"] = double(bytes);
}

void encodeBench(benchmark::State& state, const BerValue& message) {
  BerBytes out;
  for (auto _ : state) {
    out.bytes.clear();
    message.write(out, false);
    benchmark::DoNotOptimize(out.bytes.data());
  }
  setCounters(state, out.bytes.size());
}

void decodeBench(benchmark::State& state, const BerValue& message) {
  static const guiProtocol gui;
  const std::vector<uint8_t> bytes = encode(message, false);
  BerDecoder decoder(gui, false);
  for (auto _ : state) {
    decoder.feed(bytes.data(), bytes.size());
    auto decoded = decoder.take();
    benchmark::DoNotOptimize(decoded.get());
  }
  setCounters(state, bytes.size());
}

void memcpyBench(benchmark::State& state, const BerValue& message) {
  const std::vector<uint8_t> bytes = encode(message, false);
  std::vector<uint8_t> copy(bytes.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  setCounters(state, bytes.size());
}

void BM_EncodeCheckin(benchmark::State& s) {
  encodeBench(s, checkin());
}
void BM_DecodeCheckin(benchmark::State& s) {
  decodeBench(s, checkin());
}
void BM_MemcpyCheckin(benchmark::State& s) {
  memcpyBench(s, checkin());
}
void BM_EncodeConfigure(benchmark::State& s) {
  encodeBench(s, configure());
}
void BM_DecodeConfigure(benchmark::State& s) {
  decodeBench(s, configure());
}
void BM_MemcpyConfigure(benchmark::State& s) {
  memcpyBench(s, configure());
}

BENCHMARK(BM_MemcpyCheckin);
BENCHMARK(BM_EncodeCheckin);
BENCHMARK(BM_DecodeCheckin);
BENCHMARK(BM_MemcpyConfigure);
BENCHMARK(BM_EncodeConfigure);
BENCHMARK(BM_DecodeConfigure);

// Keeps the time per iteration of every run so that the ratios can be printed at the end.
class RatioReporter : public vxbench::KeptTimesReporter {
 public:
  RatioReporter() : KeptTimesReporter(Clock::Cpu) {}

  void printRatios() const {
    std::printf("\nTime per message over a memcpy of the same octets:\n");
    for (const char* message : {"Checkin", "Configure"}) {
      const double peer = time(std::string("BM_Memcpy") + message);
      if (peer <= 0) continue;
      for (const char* operation : {"Encode", "Decode"}) {
        const double ours = time(std::string("BM_") + operation + message);
        if (ours > 0) std::printf("  %s %-9s %8.1fx\n", operation, message, ours / peer);
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
