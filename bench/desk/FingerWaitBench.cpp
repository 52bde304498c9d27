// The longest wait of the desk's event loop while NWS alerts are accepted whose full texts
// come from a Finger server on loopback that drips its reply, one byte per interval (the
// argument, in ms). A timer ticks every 5 ms throughout; longest_wait_ms is the longest gap
// between two ticks, i.e. the longest time the window's thread handled no event. The
// alerts are posted as the host link posts them; printing is off, so the time goes to the
// fetch alone. Before it times anything the program checks that the full texts were fetched
// and logged.
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "tests/support/DeskRig.h"
#include "tests/support/LoopbackServer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kReply[] = "TORNADO WARNING\r\n";  // 17 bytes, dripped one by one
constexpr int kAlerts = 3;

// Answers every connection in turn: reads the query line, then drips kReply and closes.
class TDrippingServer {
 public:
  explicit TDrippingServer(std::chrono::milliseconds perByte) : FPerByte(perByte), FServer(nullptr, 8) {
    FThread = std::thread([this] { Serve(); });
  }
  ~TDrippingServer() {
    ::shutdown(FServer.ListenFd(), SHUT_RDWR);  // wakes the accept
    FThread.join();
  }
  int Port() const { return FServer.Port(); }

 private:
  void Serve() {
    for (;;) {
      const int client = ::accept(FServer.ListenFd(), nullptr, nullptr);
      if (client < 0) return;
      char query[256];
      (void)::recv(client, query, sizeof query, 0);
      for (const char* byte = kReply; *byte != '\0'; ++byte) {
        std::this_thread::sleep_for(FPerByte);  // the server's pace, not a wait for a result
        if (::send(client, byte, 1, MSG_NOSIGNAL) != 1) break;
      }
      ::close(client);
    }
  }

  std::chrono::milliseconds FPerByte;
  qm::test::TLoopbackServer FServer;  // only its listening socket; this class accepts
  std::thread FThread;
};

void BM_EventLoopWaitDuringDrippingFetches(benchmark::State& state) {
  const std::chrono::milliseconds perByte(state.range(0));
  TDrippingServer server(perByte);
  qm::test::TDeskRig rig;
  rig.Choices.Selection.NwsWarnings = true;
  for (auto& [code, checked] : rig.Choices.Selection.States) checked = code == "OK";
  rig.Choices.FullText.WarningText = true;
  rig.Choices.PrintingDisabled = true;
  qm::TMessageDesk& desk = rig.Make();
  desk.SetFingerServer("127.0.0.1", server.Port());
  QCoreApplication::processEvents();  // the desk's start

  int number = 0;
  double longestMs = 0;
  double totalMs = 0;
  for (auto _ : state) {
    const std::size_t listedBefore = desk.Listed().size();
    for (int i = 0; i < kAlerts; ++i) {
      const std::string text =
          "*NOCALL>APRS,WIDE2-1::NWS-WARN :072130z,TORNADO,OK_C017 CLEVELAND{" + std::to_string(++number);
      desk.Take(qm::ParseAprsPacket(qm::CleanPacketText(text), rig.Tick, rig.Utc));
    }
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    const auto start = Clock::now();
    auto last = start;
    double longest = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const auto now = Clock::now();
      longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
      last = now;
      if (desk.Listed().size() == listedBefore + kAlerts) loop.quit();
    });
    tick.start();
    loop.exec();
    totalMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    longestMs = std::max(longestMs, longest);
  }
  // Every alert fetched its full text: the reply is in the log once per alert.
  const int fetched = rig.LogCount(QStringLiteral("TORNADO WARNING"));
  if (fetched != number) {
    state.SkipWithError(
        ("full texts logged: " + std::to_string(fetched) + " of " + std::to_string(number)).c_str());
    return;
  }
  state.counters["longest_wait_ms"] = longestMs;
  state.counters["ms_per_alert"] = totalMs / number;
}
BENCHMARK(BM_EventLoopWaitDuringDrippingFetches)
    ->Arg(20)
    ->Arg(60)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  qm::test::GuiApp();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
