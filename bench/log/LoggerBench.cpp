// The logger's two costs, each beside spdlog's synchronous file logger in the same run:
// what LogMessage costs its caller, and how fast the writer empties the queue into the file.
#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "log/MessageLogger.h"

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A packet line of typical length (77 bytes).
const std::string kLine = "W1ABC-9>APRS,WIDE1-1,WIDE2-1::BLN1WX   :Severe thunderstorm watch until 9 PM{A17";
constexpr std::uintmax_t kStampBytes = 15;  // "<hh:nn:ss.zzz> "

fs::path FreshDir(const std::string& name) {
  const fs::path dir =
      fs::temp_directory_path() / ("qm_log_bench_" + std::to_string(::getpid()) + "_" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// The settings the main window uses.
void Configure(qm::TMessageLogger& logger, const fs::path& dir) {
  logger.SetLogFilePath(dir.string());
  logger.SetLogFileName("Bench");
  logger.SetPurgeFileDays(14);
  logger.SetShowLocalZulu(false);
  logger.SetUTC(true);
  logger.SetPriority(qm::tpNormal);
}

std::uintmax_t DirBytes(const fs::path& dir) {
  std::uintmax_t total = 0;
  for (const auto& e : fs::directory_iterator(dir)) total += e.file_size();
  return total;
}

std::shared_ptr<spdlog::logger> MakeSpdlog(const fs::path& dir) {
  auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>((dir / "spdlog.log").string(), true);
  auto logger = std::make_shared<spdlog::logger>("bench", sink);
  logger->set_pattern("<%H:%M:%S.%e> %v", spdlog::pattern_time_type::utc);
  return logger;
}

// Times calls in small groups and reports the median group's cost per call: a group that the
// scheduler interrupted (the machine is shared) lands in the tail, not in the figure.
template <typename Call>
void MedianPerCall(benchmark::State& state, Call&& call) {
  constexpr int kGroup = 16;
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kGroup; ++i) call();
    const auto end = std::chrono::steady_clock::now();
    samples.push_back(std::chrono::duration<double, std::nano>(end - start).count() / kGroup);
  }
  const auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
  std::nth_element(samples.begin(), middle, samples.end());
  state.counters["median_ns_per_call"] = *middle;
  state.SetItemsProcessed(state.iterations() * kGroup);
}

void BM_LogMessageMedian(benchmark::State& state) {
  const fs::path dir = FreshDir("caller_median");
  {
    qm::TMessageLogger logger;
    Configure(logger, dir);
    logger.LogMessage(kLine);
    if (!logger.WaitIdle(10s)) state.SkipWithError("the writer did not start");
    MedianPerCall(state, [&] { logger.LogMessage(kLine); });
  }
  fs::remove_all(dir);
}

void BM_SpdlogCallMedian(benchmark::State& state) {
  const fs::path dir = FreshDir("spdlog_caller_median");
  {
    auto logger = MakeSpdlog(dir);
    MedianPerCall(state, [&] { logger->log(spdlog::level::info, spdlog::string_view_t(kLine)); });
    logger->flush();
  }
  fs::remove_all(dir);
}

void BM_LogMessage(benchmark::State& state) {
  const fs::path dir = FreshDir("caller");
  std::uintmax_t lines = 0;
  {
    qm::TMessageLogger logger;
    Configure(logger, dir);
    logger.LogMessage(kLine);  // starts the writer and runs the day's purge
    if (!logger.WaitIdle(10s)) state.SkipWithError("the writer did not start");
    for (auto _ : state) logger.LogMessage(kLine);
    lines = static_cast<std::uintmax_t>(state.iterations()) + 1;
  }
  if (DirBytes(dir) != lines * (kStampBytes + kLine.size() + 2))
    state.SkipWithError("lines missing in the file");
  fs::remove_all(dir);
  state.SetItemsProcessed(state.iterations());
}

void BM_SpdlogCall(benchmark::State& state) {
  const fs::path dir = FreshDir("spdlog_caller");
  {
    auto logger = MakeSpdlog(dir);
    for (auto _ : state) logger->log(spdlog::level::info, spdlog::string_view_t(kLine));
    logger->flush();
  }
  fs::remove_all(dir);
  state.SetItemsProcessed(state.iterations());
}

// From the first LogMessage of N lines until the destructor returns with the file complete.
void BM_WriterThroughput(benchmark::State& state) {
  const auto n = static_cast<std::uintmax_t>(state.range(0));
  const fs::path dir = FreshDir("writer");
  for (auto _ : state) {
    {
      qm::TMessageLogger logger;
      Configure(logger, dir);
      for (std::uintmax_t i = 0; i < n; ++i) logger.LogMessage(kLine);
    }
    state.PauseTiming();
    if (DirBytes(dir) != n * (kStampBytes + kLine.size() + 2))
      state.SkipWithError("lines missing in the file");
    fs::remove_all(dir);
    fs::create_directories(dir);
    state.ResumeTiming();
  }
  fs::remove_all(dir);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

void BM_SpdlogThroughput(benchmark::State& state) {
  const auto n = static_cast<std::uintmax_t>(state.range(0));
  const fs::path dir = FreshDir("spdlog_writer");
  for (auto _ : state) {
    {
      auto logger = MakeSpdlog(dir);
      for (std::uintmax_t i = 0; i < n; ++i) logger->log(spdlog::level::info, spdlog::string_view_t(kLine));
      logger->flush();
    }
    state.PauseTiming();
    fs::remove_all(dir);
    fs::create_directories(dir);
    state.ResumeTiming();
  }
  fs::remove_all(dir);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

// Fixed iterations keep the queue (and memory) bounded; the median of the repetitions is the figure.
BENCHMARK(BM_LogMessageMedian)->Iterations(20000)->Repetitions(5)->UseRealTime();
BENCHMARK(BM_SpdlogCallMedian)->Iterations(20000)->Repetitions(5)->UseRealTime();
BENCHMARK(BM_LogMessage)->Iterations(200000)->Repetitions(15)->UseRealTime();
BENCHMARK(BM_SpdlogCall)->Iterations(200000)->Repetitions(15)->UseRealTime();
BENCHMARK(BM_WriterThroughput)
    ->Arg(1000000)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpdlogThroughput)
    ->Arg(1000000)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
