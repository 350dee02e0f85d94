#pragma once

// Prints Google Benchmark's usual table, then each benchmark's items per
// second as a ratio to a baseline benchmark of the same run: figures taken
// side by side stay comparable on a noisy machine.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace lumora::bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter(std::string baseline, std::string unit)
      : baseline_(std::move(baseline)), unit_(std::move(unit)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto it = run.counters.find("items_per_second");
      if (it != run.counters.end() && run.run_type == Run::RT_Iteration) {
        rates_.emplace_back(run.benchmark_name(), it->second.value);
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    double base = 0;
    for (const auto& [name, rate] : rates_) {
      if (name.rfind(baseline_, 0) == 0) {
        base = rate;
      }
    }
    std::printf("\n%-36s %14s %10s\n", "benchmark", unit_.c_str(), ("vs " + baseline_).c_str());
    for (const auto& [name, rate] : rates_) {
      std::printf("%-36s %14.0f %10.3f\n", name.c_str(), rate, base > 0 ? rate / base : 0.0);
    }
  }

 private:
  std::string baseline_;
  std::string unit_;
  std::vector<std::pair<std::string, double>> rates_;
};

// main() for a benchmark executable reporting against `baseline`.
inline int RunWithRatios(int argc, char** argv, const char* baseline, const char* unit) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  RatioReporter reporter(baseline, unit);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace lumora::bench
