// How late the window's event loop answers while wanted messages arrive: a real desk with a
// real store file (WAL, synchronous FULL) and its logger, fed 10 wanted bulletins a second
// through its event queue as the host link feeds it, and a 5 ms timer in the same loop that
// records how late each of its ticks comes. Printing is off: the figures are the store's (and
// the log's), not the page layout's. The counters are the longest lateness, the 99th and 50th
// percentile in milliseconds and the messages the store reports kept at the end.
// QM_DESK_BENCH_DIR names the folder (else the system's temporary folder; it must be on a
// real disk), QM_DESK_BENCH_SECONDS the length of the run (else 60).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/desk/DeskBenchKit.h"
#include "desk/MessageDesk.h"
#include "tests/support/DeskParts.h"

namespace {

namespace fs = std::filesystem;
using qm::bench::App;
using qm::bench::Bulletin;

constexpr int kMessagesPerSecond = 10;
constexpr int kProbeMs = 5;

int Seconds() {
  const char* text = std::getenv("QM_DESK_BENCH_SECONDS");
  const int seconds = text ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 60;
}

void BM_LoopLatenessUnderStoreLoad(benchmark::State& state) {
  App();
  const fs::path dir = qm::bench::BenchDir("qm-desk-bench");
  std::vector<double> late;
  std::size_t kept = 0;
  for (auto _ : state) {
    qm::TDeskSetup setup;
    setup.DataDir = dir.string();
    setup.Printers = qm::TPrinterList{{QStringLiteral("Bench-PDF")}, QStringLiteral("Bench-PDF")};
    setup.PrintToFile = QString::fromStdString((dir / "printed.pdf").string());
    qm::TMessageDesk desk(std::move(setup));
    qm::TDeskChoices choices;
    choices.Selection.Bulletins = true;
    choices.PrintingDisabled = true;
    desk.SetChoices(choices);
    desk.CreateLogger();
    desk.OpenStore();
    desk.RestoreListed();
    desk.SetReady();

    QTimer feeder;
    feeder.setTimerType(Qt::PreciseTimer);
    feeder.setInterval(1000 / kMessagesPerSecond);
    int sent = 0;
    QObject::connect(&feeder, &QTimer::timeout, [&] { desk.Take(Bulletin(++sent)); });
    QElapsedTimer clock;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kProbeMs);
    qint64 due = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      late.push_back(std::max<qint64>(0, now - due) / 1e6);
      due = now + kProbeMs * 1000000LL;
    });
    clock.start();
    due = kProbeMs * 1000000LL;
    feeder.start();
    probe.start();
    QTimer::singleShot(Seconds() * 1000, &App(), [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    feeder.stop();
    probe.stop();
    desk.KeepUnprintedForNextStart();
    for (const qm::TListedEntry& e : desk.Listed())
      kept +=
          qm::test::TDeskParts::Store(desk) && qm::test::TDeskParts::Store(desk)->IsKept(e.StoreId) ? 1 : 0;
    desk.Close();
  }
  std::sort(late.begin(), late.end());
  const auto at = [&](double q) {
    return late.empty() ? 0.0 : late[std::min(late.size() - 1, static_cast<std::size_t>(q * late.size()))];
  };
  state.counters["max_ms"] = late.empty() ? 0 : late.back();
  state.counters["p99_ms"] = at(0.99);
  state.counters["p50_ms"] = at(0.50);
  state.counters["ticks"] = static_cast<double>(late.size());
  state.counters["kept"] = static_cast<double>(kept);
  std::error_code ec;
  fs::remove_all(dir, ec);
}
BENCHMARK(BM_LoopLatenessUnderStoreLoad)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
