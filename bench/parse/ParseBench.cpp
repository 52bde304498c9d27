// Intake cleaning + parsing + the selection verdict per packet line, beside a plain scan
// of the same lines for their first ">" and ":" in the same run, so the ratio holds on a
// busy machine.
//
// Corpus: the first argument that is not a --benchmark flag, else $QM_CORPUS, else the
// file the build generated. Each line gets the station program's marker character in
// front, as every host link hands it over.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "parse/HostIntake.h"
#include "parse/QuillmarkParse.h"
#include "select/Selection.h"

namespace {

std::vector<std::string> gHostLines;   // "*" + corpus line
std::vector<std::string> gTimedLines;  // "*hh:mm:ss " + corpus line
std::size_t gBytes = 0;

// An operator's choices as the window holds them: own call, a few stations typed in
// (one in lower case, one wildcard), bulletins and announcements, NWS watches and
// warnings for a handful of states.
qm::TSelectionChoices MakeChoices() {
  qm::TSelectionChoices choices;
  choices.StationCall = "KK1H-4";
  choices.UseStationList = true;
  choices.StationList = {"WA8S", "ki3m", "KD6QOS-8", "VE3*"};
  choices.Bulletins = choices.Announcements = true;
  choices.NwsWatches = choices.NwsWarnings = true;
  for (auto& [code, checked] : choices.States)
    checked = code == "AR" || code == "CA" || code == "FL" || code == "NY" || code == "TX";
  return choices;
}
const qm::TSelectionChoices gChoices = MakeChoices();

bool LoadCorpus(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    gHostLines.push_back("*" + line);
    gTimedLines.push_back("*12:34:56 " + line);
    gBytes += line.size();
  }
  return !gHostLines.empty();
}

// The reference: the least any reader of these lines must do.
void BM_PlainScan(benchmark::State& state) {
  for (auto _ : state) {
    std::size_t found = 0;
    for (const std::string& line : gHostLines) {
      const void* g = std::memchr(line.data(), '>', line.size());
      const void* c = std::memchr(line.data(), ':', line.size());
      found += (g != nullptr) + (c != nullptr);
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * gHostLines.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * gBytes));
}

// A count for each message kind.
struct TByKind {
  std::array<std::size_t, 5> N{};
  std::size_t& operator[](qm::TAprsMsgKind k) { return N[static_cast<std::size_t>(k)]; }
  std::size_t operator[](qm::TAprsMsgKind k) const { return N[static_cast<std::size_t>(k)]; }
  bool operator==(const TByKind&) const = default;
};

struct TCounts {
  std::size_t Selected = 0, Starred = 0, WithState = 0;
  TByKind Kinds, Wanted;
  bool operator==(const TCounts&) const = default;
};

template <typename ParseFn>
TCounts CountAll(const std::vector<std::string>& lines, ParseFn parse) {
  TCounts n;
  for (const std::string& line : lines) {
    const auto p = parse(qm::CleanPacketText(line));
    n.Selected += p->Selected;
    ++n.Kinds[p->Kind];
    n.Starred += p->SourceStarred;
    n.WithState += !p->State.empty();
    n.Wanted[p->Kind] += p->Selected && qm::IsWantedMessage(*p, gChoices);
  }
  return n;
}

// Checked once before anything is timed: the corpus is a realistic mix, so about a
// quarter of its lines are usable messages of every kind, and reading the clocks or
// not changes nothing but the stamps.
bool CheckResults() {
  const TCounts a = CountAll(gHostLines, [](std::string s) { return qm::ParseAprsPacket(s); });
  const TCounts b = CountAll(gHostLines, [](std::string s) { return qm::ParseAprsPacket(s, 1u, 2.0); });
  const TCounts c = CountAll(gTimedLines, [](std::string s) { return qm::ParseAprsPacket(s, 1u, 2.0); });
  const double share = static_cast<double>(a.Selected) / static_cast<double>(gHostLines.size());
  std::printf(
      "check: %zu lines, %zu usable (%.1f%%): personal %zu, bulletin %zu, announcement %zu, "
      "NWS %zu (%zu with a state)\n",
      gHostLines.size(), a.Selected, share * 100, a.Kinds[qm::mkPersonal], a.Kinds[qm::mkBulletin],
      a.Kinds[qm::mkAnnouncement], a.Kinds[qm::mkNwsAlert], a.WithState);
  bool ok = a == b && a == c && share > 0.15 && share < 0.35;
  for (const qm::TAprsMsgKind k : {qm::mkPersonal, qm::mkBulletin, qm::mkAnnouncement, qm::mkNwsAlert})
    ok = ok && a.Kinds[k] > 0;
  ok = ok && a.Kinds[qm::mkNone] == gHostLines.size() - a.Selected;
  std::printf(
      "check: wanted with the benchmark's choices: personal %zu, bulletin %zu, announcement %zu, NWS %zu\n",
      a.Wanted[qm::mkPersonal], a.Wanted[qm::mkBulletin], a.Wanted[qm::mkAnnouncement],
      a.Wanted[qm::mkNwsAlert]);
  // Some personal messages and some NWS alerts are wanted, not all; every bulletin and
  // announcement is.
  ok = ok && a.Wanted[qm::mkNone] == 0 && a.Wanted[qm::mkPersonal] > 0 &&
       a.Wanted[qm::mkPersonal] < a.Kinds[qm::mkPersonal] / 2 && a.Wanted[qm::mkNwsAlert] > 0 &&
       a.Wanted[qm::mkNwsAlert] < a.Kinds[qm::mkNwsAlert] &&
       a.Wanted[qm::mkBulletin] == a.Kinds[qm::mkBulletin] &&
       a.Wanted[qm::mkAnnouncement] == a.Kinds[qm::mkAnnouncement];
  return ok;
}

template <bool kReadClocks>
void RunIntakeAndParse(benchmark::State& state, const std::vector<std::string>& lines) {
  for (auto _ : state) {
    std::size_t selected = 0;
    for (const std::string& line : lines) {
      // The cleaned text is handed over, so it becomes the packet's RawText without a copy.
      const auto p = kReadClocks ? qm::ParseAprsPacket(qm::CleanPacketText(line))
                                 : qm::ParseAprsPacket(qm::CleanPacketText(line), 1u, 2.0);
      // The verdict is asked for usable packets only and kept in Selected, as the window does.
      if (p->Selected) p->Selected = qm::IsWantedMessage(*p, gChoices);
      selected += p->Selected;
    }
    benchmark::DoNotOptimize(selected);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * gBytes));
}

// The production path: the tick counter and the UTC clock are read for every packet.
void BM_IntakeAndParse(benchmark::State& state) {
  RunIntakeAndParse<true>(state, gHostLines);
}
// Without the two clock reads, to show what they cost.
void BM_IntakeAndParseFixedStamps(benchmark::State& state) {
  RunIntakeAndParse<false>(state, gHostLines);
}
// Lines with a time word after the marker, which the intake cuts off.
void BM_IntakeAndParseTimeWord(benchmark::State& state) {
  RunIntakeAndParse<true>(state, gTimedLines);
}

BENCHMARK(BM_PlainScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntakeAndParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntakeAndParseFixedStamps)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntakeAndParseTimeWord)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string path = QM_PARSE_CORPUS;
  if (const char* env = std::getenv("QM_CORPUS"); env && *env) path = env;
  if (argc > 1) path = argv[1];  // benchmark::Initialize has taken its own flags out
  if (!LoadCorpus(path)) {
    std::cerr
        << "parse_bench: cannot read the corpus " << path
        << " (make it with gen_corpus.py 1000000 <file>, name it as the first argument or in QM_CORPUS)\n";
    return 1;
  }
  if (!CheckResults()) {
    std::cerr << "parse_bench: the parser's results on the corpus are not as expected; nothing timed\n";
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
