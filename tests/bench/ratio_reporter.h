#pragma once

// Prints Google Benchmark's usual table, then each benchmark's items per
// second as a ratio to a baseline benchmark of the same run: figures taken
// side by side stay comparable on a noisy machine.
//
// A benchmark that reports an error (SkipWithError), or a run without its
// baseline, makes the executable exit with 1: a figure measured against a
// failure is no figure, and the test suite's smoke runs must see it.

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
      if (run.error_occurred) {
        errors_.push_back(run.benchmark_name() + ": " + run.error_message);
        continue;
      }
      const auto it = run.counters.find("items_per_second");
      if (it != run.counters.end() && run.run_type == Run::RT_Iteration) {
        rates_.emplace_back(run.benchmark_name(), it->second.value);
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    const double base = BaselineRate();
    std::printf("\n%-36s %14s %10s\n", "benchmark", unit_.c_str(), ("vs " + baseline_).c_str());
    for (const auto& [name, rate] : rates_) {
      std::printf("%-36s %14.0f %10.3f\n", name.c_str(), rate, base > 0 ? rate / base : 0.0);
    }
  }

  // Says on standard error what went wrong; true when something did.
  bool ReportFailures() const {
    for (const std::string& error : errors_) {
      std::fprintf(stderr, "error: %s\n", error.c_str());
    }
    // Also when nothing ran at all: a filter that matched nothing.
    if (BaselineRate() <= 0) {
      std::fprintf(stderr, "error: no figure for the baseline %s\n", baseline_.c_str());
      return true;
    }
    return !errors_.empty();
  }

 private:
  double BaselineRate() const {
    double base = 0;
    for (const auto& [name, rate] : rates_) {
      if (name.rfind(baseline_, 0) == 0) {
        base = rate;
      }
    }
    return base;
  }

  std::string baseline_;
  std::string unit_;
  std::vector<std::pair<std::string, double>> rates_;
  std::vector<std::string> errors_;
};

// main() for a benchmark executable reporting against `baseline`: 0 when
// every benchmark ran without an error and the baseline was measured, else 1.
inline int RunWithRatios(int argc, char** argv, const char* baseline, const char* unit) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  RatioReporter reporter(baseline, unit);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.ReportFailures() ? 1 : 0;
}

}  // namespace lumora::bench
