// Encode and decode throughput of events next to a plain memcpy of the same bytes, measured in
// the same run: a small control event, and a TSDB_APPEND_DATA carrying 1000 intervals. The
// streams write into and read from one flat buffer, as the shared-memory streams do.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kept_times.h"
#include "queues/catalogue.h"

namespace {

using namespace queues;

// One flat buffer offered as a single area, reset for every event.
class FlatOStream : public io::OStream {
 public:
  explicit FlatOStream(size_t size) : buf_(size) {}
  std::string describe() const override { return "FlatOStream"; }
  bool isReady() const override { return true; }
  size_t writeBegin(uint8_t*& p) override {
    p = buf_.data() + used_;
    return buf_.size() - used_;
  }
  void writeCommit(size_t n) override { used_ += n; }
  bool flush() override { return true; }
  void close() override {}
  void reset() { used_ = 0; }
  size_t used() const { return used_; }
  const uint8_t* data() const { return buf_.data(); }

 private:
  std::vector<uint8_t> buf_;
  size_t used_ = 0;
};

class FlatIStream : public io::IStream {
 public:
  FlatIStream(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  std::string describe() const override { return "FlatIStream"; }
  bool isReady() const override { return true; }
  size_t readBegin(const uint8_t*& p) override {
    p = p_ + pos_;
    return n_ - pos_;
  }
  void readCommit(size_t n) override { pos_ += n; }
  void close() override {}
  void reset() { pos_ = 0; }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
};

std::unique_ptr<event> smallEvent() {
  return std::make_unique<ev<SYS_EXIT>>(QUEUE_SCHD, 7, control::Sys_Exit_Data{0, QUEUE_MAIN, ""});
}

std::unique_ptr<event> appendEvent() {
  dbms::TSDB_Append_Data_Data d;
  d.id = {1, 2, 3};
  for (int i = 0; i < 1000; ++i) {
    auto c = std::make_unique<tsdb::data_interval_continuous_t>();
    c->start = 1000 * i, c->end = 1000 * i + 999, c->min = 1, c->avg = 2, c->max = 3;
    c->ngood = 60, c->nbad = i % 3;
    d.data.push_back(std::move(c));
  }
  d.encoded_result = "ok";
  return std::make_unique<ev<TSDB_APPEND_DATA>>(QUEUE_DBMS, 0, std::move(d));
}

size_t encodedSize(const event& e) {
  FlatOStream out(1 << 20);
  protocol::ioprim prim(nullptr, &out);
  prim << e;
  prim.endWrite();
  return out.used();
}

void encode(benchmark::State& state, const event& e) {
  FlatOStream out(1 << 20);
  protocol::ioprim prim(nullptr, &out);
  for (auto _ : state) {
    out.reset();
    prim << e;
    prim.endWrite();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.used()));
}

void decode(benchmark::State& state, const event& e) {
  FlatOStream out(1 << 20);
  {
    protocol::ioprim prim(nullptr, &out);
    prim << e;
    prim.endWrite();
  }
  FlatIStream in(out.data(), out.used());
  for (auto _ : state) {
    in.reset();
    protocol::ioprim prim(&in);
    std::unique_ptr<event> got = readEvent(prim);
    benchmark::DoNotOptimize(got.get());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.used()));
}

void copy(benchmark::State& state, size_t n) {
  std::vector<uint8_t> src(n, 1), dst(n);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), n);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

// Keeps the time per iteration of every run, then prints each codec against its memcpy peer.
class RatioReporter : public vxbench::KeptTimesReporter {
 public:
  void printRatios() const {
    std::printf("\nratio to memcpy of the same bytes (time per event / time per copy):\n");
    for (const char* which : {"small", "append1000"}) {
      for (const char* op : {"encode", "decode"}) {
        std::string name = std::string(op) + "/" + which;
        const double ours = time(name), peer = time(std::string("memcpy/") + which);
        if (ours > 0 && peer > 0) std::printf("  %-20s %8.1fx\n", name.c_str(), ours / peer);
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  static const auto small = smallEvent();
  static const auto append = appendEvent();
  benchmark::RegisterBenchmark("encode/small", [](benchmark::State& s) { encode(s, *small); });
  benchmark::RegisterBenchmark("decode/small", [](benchmark::State& s) { decode(s, *small); });
  benchmark::RegisterBenchmark("memcpy/small",
                               [](benchmark::State& s) { copy(s, encodedSize(*small)); });
  benchmark::RegisterBenchmark("encode/append1000",
                               [](benchmark::State& s) { encode(s, *append); });
  benchmark::RegisterBenchmark("decode/append1000",
                               [](benchmark::State& s) { decode(s, *append); });
  benchmark::RegisterBenchmark("memcpy/append1000",
                               [](benchmark::State& s) { copy(s, encodedSize(*append)); });
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
