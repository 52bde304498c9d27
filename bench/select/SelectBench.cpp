// Selection verdict and duplicate filter over a stream of wanted messages while the
// duplicate list holds about 10,000 live entries (one accepted message every 2 ms; the clock moves on
// accepted ones). Reference in the same run: the same filter on a plain list scanned from end to end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "select/DupMessages.h"
#include "select/Selection.h"

namespace {

constexpr int kLive = 10000;
constexpr std::uint32_t kStepMs = qm::TDupMessageList::kMaxAgeMs / kLive;

qm::TSelectionChoices Choices() {
  qm::TSelectionChoices choices;
  choices.StationCall = "NOCALL-9";
  choices.UseStationList = true;
  choices.StationList = {"W1AW", "KB1*", "N0*", "VE3XYZ-1", "DL*", "G4ABC", "JA1*", "K*"};
  choices.Bulletins = choices.Announcements = true;
  choices.NwsWarnings = choices.NwsWatches = true;
  for (auto& [code, checked] : choices.States) checked = code < "N";
  return choices;
}

// Every packet is wanted; every eighth repeats the one before it.
std::vector<qm::TAprsMsgPacket> Stream() {
  const char* prefixes[] = {"KB1", "N0", "DL", "JA1", "K"};
  std::vector<qm::TAprsMsgPacket> packets;
  for (int i = 0; i < 4 * kLive; ++i) {
    if (i % 8 == 7) {
      packets.push_back(packets.back());  // the same message heard again
      continue;
    }
    qm::TAprsMsgPacket p;
    p.Selected = true;
    const int sender = (i * 7919) % (2 * kLive);
    p.Source.FullCall =
        std::string(prefixes[sender % 5]) + "X" + std::to_string(sender) + "-" + std::to_string(sender % 16);
    p.Kind = i % 10 == 0 ? qm::mkBulletin : qm::mkPersonal;
    p.Addressee = i % 10 == 0 ? "BLN1" : "NOCALL-9";
    p.Body = p.Addressee + std::string(9 - p.Addressee.size(), ' ') + ":message number " + std::to_string(i);
    packets.push_back(std::move(p));
  }
  return packets;
}

// The plain list: pruned from the last entry to the first, looked up from the first.
struct TPlainList {
  std::vector<std::pair<std::string, qm::TDupMessage>> Items;
  void Prune(std::uint32_t now) {
    for (std::size_t i = Items.size(); i-- > 0;)
      if (now - Items[i].second.TickCount >= qm::TDupMessageList::kMaxAgeMs) Items.erase(Items.begin() + i);
  }
  bool IsDuplicate(const qm::TAprsMsgPacket& p) {
    const std::string key = qm::UpperCase(p.Source.FullCall);
    for (auto& [k, m] : Items) {
      if (qm::UpperCase(k) != key) continue;
      if (m.Body != p.Body) return false;
      m.TickCount = p.TickCount;
      return true;
    }
    return false;
  }
  void Add(const std::string& k, std::uint32_t t, const std::string& b) { Items.push_back({k, {t, b}}); }
};

std::size_t Live(const qm::TDupMessageList& list) {
  return list.Count();
}
std::size_t Live(const TPlainList& list) {
  return list.Items.size();
}

// One wanted packet through the window's steps: verdict, prune, repeat check, record.
template <typename List>
bool Handle(List& list, qm::TAprsMsgPacket& p, const qm::TSelectionChoices& choices, std::uint32_t now) {
  p.TickCount = now;
  if (!qm::IsWantedMessage(p, choices)) return false;
  list.Prune(now);
  if (list.IsDuplicate(p)) return false;
  list.Add(p.Source.FullCall, p.TickCount, p.Body);
  return true;
}

template <typename List>
void RunStream(benchmark::State& state, List& list) {
  const qm::TSelectionChoices choices = Choices();
  std::vector<qm::TAprsMsgPacket> packets = Stream();
  std::uint32_t now = 0xFFFF0000u;  // crosses the tick counter's wrap during the run
  std::size_t i = 0;
  for (int warm = 0; warm < 2 * kLive; ++warm)
    if (Handle(list, packets[i++ % packets.size()], choices, now)) now += kStepMs;
  std::int64_t accepted = 0;
  for (auto _ : state) {
    if (Handle(list, packets[i++ % packets.size()], choices, now)) {
      ++accepted;
      now += kStepMs;
    }
  }
  state.counters["live"] = static_cast<double>(Live(list));
  state.counters["accepted"] =
      benchmark::Counter(static_cast<double>(accepted), benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations());
}

void BM_SelectAndFilter(benchmark::State& state) {
  qm::TDupMessageList list;
  RunStream(state, list);
}

void BM_SelectAndFilter_PlainListReference(benchmark::State& state) {
  TPlainList list;
  RunStream(state, list);
}

void BM_SelectionVerdictOnly(benchmark::State& state) {
  const qm::TSelectionChoices choices = Choices();
  const std::vector<qm::TAprsMsgPacket> packets = Stream();
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(qm::IsWantedMessage(packets[i++ % packets.size()], choices));
  state.SetItemsProcessed(state.iterations());
}

// Both lists must give the same verdicts before either is timed.
bool SameVerdicts() {
  const qm::TSelectionChoices choices = Choices();
  std::vector<qm::TAprsMsgPacket> packets = Stream();
  qm::TDupMessageList indexed;
  TPlainList plain;
  std::uint32_t now = 0xFFFF0000u;
  for (int round = 0; round < 3 * kLive; ++round) {
    qm::TAprsMsgPacket& p = packets[static_cast<std::size_t>(round) % packets.size()];
    const bool accepted = Handle(indexed, p, choices, now);
    if (accepted != Handle(plain, p, choices, now)) return false;
    if (accepted) now += kStepMs;
  }
  return indexed.Count() == plain.Items.size() && indexed.Count() > kLive / 2;
}

}  // namespace

BENCHMARK(BM_SelectAndFilter);
BENCHMARK(BM_SelectAndFilter_PlainListReference)->Iterations(20000);
BENCHMARK(BM_SelectionVerdictOnly);

int main(int argc, char** argv) {
  if (!SameVerdicts()) {
    std::fprintf(stderr, "select_bench: the indexed and the plain list disagree\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
