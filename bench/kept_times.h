// A console reporter that also keeps the time per iteration of every benchmark by name, so a
// benchmark binary can print its figures next to a peer measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace vxbench {

class KeptTimesReporter : public benchmark::ConsoleReporter {
 public:
  enum class Clock { Real, Cpu };
  explicit KeptTimesReporter(Clock clock = Clock::Real) : clock_(clock) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;  // aggregates would overwrite the run
      times_[run.benchmark_name()] =
          clock_ == Clock::Cpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

 protected:
  // The time per iteration of `name` in its time unit; 0 when it did not run.
  double time(const std::string& name) const {
    auto it = times_.find(name);
    return it == times_.end() ? 0 : it->second;
  }

 private:
  Clock clock_;
  std::map<std::string, double> times_;
};

}  // namespace vxbench
