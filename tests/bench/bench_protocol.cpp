// Throughput of the wire codec in lines per second, with bare cJSON parsing as
// the yardstick measured in the same run; the closing table gives each figure
// as a ratio to it, which stays comparable across noisy machines.

#include <benchmark/benchmark.h>
#include <cjson/cJSON.h>

#include <string>

#include "net/protocol.h"
#include "tests/bench/ratio_reporter.h"

namespace {

const std::string kTextAscii =
    R"({"type":"text","content":"please send the quarterly report to the whole team"})";
// A typical Chinese utterance, as the recogniser streams it.
const std::string kTextChinese =
    "{\"type\":\"text\",\"content\":"
    "\"今天下午三点我们在会议室讨论一下新版本的发布计划\"}";
const std::string kCommit = R"({"type":"commit","press_enter":false})";
const std::string kPing = R"({"type":"ping","ts":1733650000123})";

void BM_BareCJsonParse(benchmark::State& state) {
  for (auto _ : state) {
    cJSON* tree = cJSON_Parse(kTextChinese.c_str());
    if (tree == nullptr) {
      state.SkipWithError("cJSON rejected the line");
      break;
    }
    benchmark::DoNotOptimize(tree);
    cJSON_Delete(tree);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareCJsonParse);

void ParseLine(benchmark::State& state, const std::string& line) {
  lumora::ClientMessage message;
  std::string error;
  for (auto _ : state) {
    // A rejected line would time the error path instead.
    if (!lumora::ParseClientMessage(line, message, &error)) {
      state.SkipWithError(("the codec rejected the line: " + error).c_str());
      break;
    }
    benchmark::DoNotOptimize(message);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(ParseLine, text_chinese, kTextChinese);
BENCHMARK_CAPTURE(ParseLine, text_ascii, kTextAscii);
BENCHMARK_CAPTURE(ParseLine, commit, kCommit);
BENCHMARK_CAPTURE(ParseLine, ping, kPing);

void BM_BuildAck(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(lumora::BuildAck("commit"));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildAck);

void BM_BuildPong(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(lumora::BuildPong(1733650000123));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildPong);

void BM_BuildWelcome(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        lumora::BuildWelcome(lumora::kServerName, lumora::kServerVersion, lumora::kProtocolVersion));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildWelcome);

}  // namespace

int main(int argc, char** argv) {
  return lumora::bench::RunWithRatios(argc, argv, "BM_BareCJsonParse", "lines/s");
}
