// The message store on the hot paths: Add of one message in its own transaction (WAL,
// synchronous FULL) into a store that already holds 100,000 printed messages, and Listed()
// with 10,000 messages in the list; the history window's questions (every message's id, then
// the first screenful of rows; each filter) on 100,000 messages of every kind, and on 1,000,000
// the first rows shown and the whole answer that follows. References in the same run:
// the same row inserted through a bare connection with synchronous NORMAL, and one 4 KiB write + fdatasync
// (the floor of any write that survives a power cut). The folder is QM_STORE_BENCH_DIR, else the system's
// temporary folder: it must be on a real disk for the figures to mean anything.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "store/DurableStore.h"
#include "store/MessageStore.h"

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

constexpr int kHistory = 100000;
constexpr int kHistoryMillion = 1000000;
constexpr int kListed = 10000;

fs::path BenchDir() {
  const char* dir = std::getenv("QM_STORE_BENCH_DIR");
  fs::path path = fs::path(dir && *dir ? dir : fs::temp_directory_path().string()) /
                  ("qm-store-bench-" + std::to_string(::getpid()));
  fs::create_directories(path);
  return path;
}

// A fresh store file in its own folder, removed afterwards.
struct TBenchFile {
  fs::path Dir = BenchDir();
  std::string Path = (Dir / "bench.db").string();
  ~TBenchFile() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
};

qm::TStoredMessage Msg(int n) {
  qm::TStoredMessage m;
  m.LocalTime = 46000.5 + n / 86400.0;
  m.UtcTime = m.LocalTime - 1.0 / 24;
  m.Source = "KB1XY-" + std::to_string(n % 16);
  m.Destination = "APRS";
  m.Path = "WIDE1-1,WIDE2-1,qAR,KB1ZZ";
  m.Addressee = "NOCALL-9";
  m.MessageText = "Net tonight at 2000 on the club repeater, message " + std::to_string(n);
  m.MessageId = std::to_string(n % 1000);
  m.Kind = 1;
  m.RawText = m.Source + ">APRS,WIDE1-1,WIDE2-1,qAR,KB1ZZ::NOCALL-9 :" + m.MessageText + "{" + m.MessageId;
  m.Line1 = "12:34:56 / 11:34:56z  From " + m.Source + " to " + m.Addressee;
  m.Line2 = "Personal message #" + m.MessageId;
  m.Line3 = m.MessageText;
  return m;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "store_bench: %s\n", what);
    std::exit(1);
  }
}

void Exec(sqlite3* db, const char* sql) {
  Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK, sqlite3_errmsg(db));
}

// The store's own insert, through a connection of the bench's own.
struct TRawInsert {
  sqlite3* Db = nullptr;
  sqlite3_stmt* Stmt = nullptr;
  TRawInsert(const std::string& path, const char* synchronous) {
    Check(sqlite3_open(path.c_str(), &Db) == SQLITE_OK, "cannot open the store");
    Exec(Db, (std::string("PRAGMA synchronous = ") + synchronous).c_str());
    Check(sqlite3_prepare_v2(Db,
                             "INSERT INTO messages(local_time, utc_time, source, destination, path, "
                             "addressee, message_text, message_no, kind, state_code, raw_text, line1, line2, "
                             "line3, print_state) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                             -1, &Stmt, nullptr) == SQLITE_OK,
          sqlite3_errmsg(Db));
  }
  ~TRawInsert() {
    sqlite3_finalize(Stmt);
    sqlite3_close(Db);
  }
  void Insert(const qm::TStoredMessage& m, qm::TPrintState printState) {
    int i = 0;
    sqlite3_bind_double(Stmt, ++i, m.LocalTime);
    sqlite3_bind_double(Stmt, ++i, m.UtcTime);
    for (const std::string* s :
         {&m.Source, &m.Destination, &m.Path, &m.Addressee, &m.MessageText, &m.MessageId})
      sqlite3_bind_text(Stmt, ++i, s->data(), static_cast<int>(s->size()), SQLITE_STATIC);
    sqlite3_bind_int(Stmt, ++i, m.Kind);
    for (const std::string* s : {&m.State, &m.RawText, &m.Line1, &m.Line2, &m.Line3})
      sqlite3_bind_text(Stmt, ++i, s->data(), static_cast<int>(s->size()), SQLITE_STATIC);
    sqlite3_bind_int(Stmt, ++i, qm::StoredNumber(printState));
    Check(sqlite3_step(Stmt) == SQLITE_DONE, sqlite3_errmsg(Db));
    sqlite3_reset(Stmt);
  }
};

// Fills a new store quickly (one transaction, no syncs): `printed` printed messages, then
// `listed` listed ones.
void Fill(const std::string& path, int printed, int listed) {
  qm::TMessageStore{path};
  TRawInsert raw(path, "OFF");
  Exec(raw.Db, "BEGIN");
  for (int n = 0; n < printed + listed; ++n)
    raw.Insert(Msg(n), n < printed ? qm::psPrinted : qm::psUnprinted);
  Exec(raw.Db, "COMMIT");
}

void Percentiles(benchmark::State& state, std::vector<double> us) {
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  auto at = [&](double q) { return us[std::min(us.size() - 1, static_cast<std::size_t>(q * us.size()))]; };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
  state.counters["p999_us"] = at(0.999);
  state.counters["over_1ms"] = static_cast<double>(us.end() - std::upper_bound(us.begin(), us.end(), 1000.0));
  state.counters["max_us"] = us.back();
}

template <typename Step>
void TimeEach(benchmark::State& state, Step step) {
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(state.max_iterations));
  int n = kHistory;
  for (auto _ : state) {
    const auto start = TClock::now();
    step(n++);
    const auto end = TClock::now();
    const double seconds = std::chrono::duration<double>(end - start).count();
    state.SetIterationTime(seconds);
    us.push_back(seconds * 1e6);
  }
  Percentiles(state, std::move(us));
}

void BM_Add(benchmark::State& state) {
  TBenchFile file;
  Fill(file.Path, kHistory, 0);
  qm::TMessageStore store(file.Path);
  TimeEach(state, [&](int n) { benchmark::DoNotOptimize(store.Add(Msg(n))); });
  Check(static_cast<benchmark::IterationCount>(store.Listed().size()) == state.iterations(),
        "Add lost messages");
}

void BM_AddReference_SynchronousNormal(benchmark::State& state) {
  TBenchFile file;
  Fill(file.Path, kHistory, 0);
  TRawInsert raw(file.Path, "NORMAL");
  TimeEach(state, [&](int n) {
    Exec(raw.Db, "BEGIN IMMEDIATE");
    raw.Insert(Msg(n), qm::psUnprinted);
    Exec(raw.Db, "COMMIT");
  });
}

void BM_AddReference_WriteAndFdatasync(benchmark::State& state) {
  TBenchFile file;
  const int fd = ::open(file.Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  Check(fd >= 0, "cannot create the file");
  const std::string page(4096, 'x');
  TimeEach(state, [&](int n) {
    Check(::pwrite(fd, page.data(), page.size(), static_cast<off_t>(n % 256) * 4096) == 4096, "write failed");
    Check(::fdatasync(fd) == 0, "fdatasync failed");
  });
  ::close(fd);
}

void BM_Listed(benchmark::State& state) {
  TBenchFile file;
  const int history = static_cast<int>(state.range(0));
  Fill(file.Path, history - kListed, kListed);
  qm::TMessageStore store(file.Path);
  Check(store.Listed().size() == kListed && store.Listed().back().MessageText == Msg(history - 1).MessageText,
        "Listed() does not give the listed messages");
  for (auto _ : state) benchmark::DoNotOptimize(store.Listed());
  state.SetItemsProcessed(state.iterations() * kListed);
}

// A realistic history: personal messages among 2,000 stations, bulletins, announcements and
// NWS alerts of the three categories, one alert in four with a fetched full text.
qm::TStoredMessage HistoryMsg(int n) {
  qm::TStoredMessage m = Msg(n);
  m.Source = std::to_string(n % 2000);
  m.Source.insert(0, 1, 'K');
  m.Source += "AB-" + std::to_string(n % 10);
  switch (n % 10) {
    case 0:
      m.Kind = 2;
      m.Addressee = "BLN" + std::to_string(n % 9 + 1);
      break;
    case 1:
      m.Kind = 3;
      m.Addressee = "BLNQ";
      break;
    case 2:
      m.Kind = 4;
      m.Source = "WXSVR";
      m.Addressee = n % 3 == 0 ? "NWS-WATCH" : n % 3 == 1 ? "NWS-WARN" : "NWS-ADVIS";
      m.MessageText = "281500z,SVRTSM,TX_C" + std::to_string(n % 254) + " severe thunderstorm";
      break;
    default:
      m.Addressee = "NOCALL-" + std::to_string(n % 16);
      break;
  }
  return m;
}

void FillHistory(const std::string& path, int count = kHistory) {
  qm::TMessageStore{path};
  TRawInsert raw(path, "OFF");
  Exec(raw.Db, "BEGIN");
  for (int n = 0; n < count; ++n) raw.Insert(HistoryMsg(n), qm::psPrinted);
  const std::string fullText = std::string(1200, 'x') + " TAKE COVER in a basement " + std::string(300, 'y');
  const std::string update =
      "UPDATE messages SET full_text = '" + fullText + "' WHERE kind = 4 AND id % 4 = 3";
  Exec(raw.Db, update.c_str());
  Exec(raw.Db, "COMMIT");
}

struct THistoryCase {
  const char* Name;
  qm::THistoryFilter Filter;
};

const THistoryCase kHistoryCases[] = {
    {"none (open)", {}},
    {"exact call", {"K1234AB-4", qm::hkAll, ""}},
    {"call prefix", {"K12*", qm::hkAll, ""}},
    {"kind NWS warning", {"", qm::hkNwsWarning, ""}},
    {"text, rare", {"", qm::hkAll, "message 99999"}},
    {"text in full texts", {"", qm::hkAll, "basement"}},
    {"text, common", {"", qm::hkAll, "club"}},
    {"call prefix + personal + text", {"K1*", qm::hkPersonal, "repeater"}},
};

// What the window does on open and on each filter: the ids, then the first screenful of rows.
void BM_History(benchmark::State& state) {
  static TBenchFile file;  // made once for every case
  static bool filled = false;
  if (!filled) {
    FillHistory(file.Path);
    filled = true;
  }
  qm::TMessageStore store(file.Path);
  const THistoryCase& c = kHistoryCases[state.range(0)];
  state.SetLabel(c.Name);
  const std::vector<std::int64_t> all = store.FindMessages({});
  Check(all.size() == kHistory && all.front() == kHistory && all.back() == 1, "the history is not all there");
  Check(!store.FindMessages(c.Filter).empty(), "a filter found nothing");
  std::size_t found = 0;
  for (auto _ : state) {
    const std::vector<std::int64_t> ids = store.FindMessages(c.Filter);
    const std::vector<std::int64_t> screen(ids.begin(), ids.begin() + std::min<std::size_t>(ids.size(), 200));
    benchmark::DoNotOptimize(store.Messages(screen));
    found = ids.size();
  }
  state.counters["found"] = static_cast<double>(found);
  state.counters["file_MB"] = static_cast<double>(fs::file_size(file.Path)) / 1e6;
}

// The history on 1,000,000 messages as the window answers a filter: its searching thread
// opens a connection of its own and asks for the newest screenful, which the table then
// reads (the first rows shown); and, apart, the whole answer that follows on that thread.
const std::string& MillionFile() {
  static TBenchFile file;
  static bool filled = false;
  if (!filled) {
    FillHistory(file.Path, kHistoryMillion);
    filled = true;
  }
  return file.Path;
}

void BM_HistoryFirstRows(benchmark::State& state) {
  const std::string& path = MillionFile();
  qm::TMessageStore store(path);
  const THistoryCase& c = kHistoryCases[state.range(0)];
  state.SetLabel(c.Name);
  Check(store.FindMessages({}, 1) == std::vector<std::int64_t>{kHistoryMillion},
        "the history is not all there");
  std::size_t shown = 0;
  for (auto _ : state) {
    qm::THistoryReader reader(path);
    const std::vector<std::int64_t> ids = reader.FindMessages(c.Filter, 200);
    benchmark::DoNotOptimize(store.Messages(ids));
    shown = ids.size();
  }
  Check(shown > 0, "a filter found nothing");
  state.counters["shown"] = static_cast<double>(shown);
  state.counters["file_MB"] = static_cast<double>(fs::file_size(path)) / 1e6;
}

void BM_HistoryWholeAnswer(benchmark::State& state) {
  const std::string& path = MillionFile();
  const THistoryCase& c = kHistoryCases[state.range(0)];
  state.SetLabel(c.Name);
  std::size_t found = 0;
  for (auto _ : state) {
    qm::THistoryReader reader(path);
    found = reader.FindMessages(c.Filter).size();
  }
  state.counters["found"] = static_cast<double>(found);
}

// A store of a build before the text index, 100,000 messages, opened by this one: each step
// of the commit thread that adds kTextIndexStep of them to the index, until all are in it.
void BM_TextIndexFill(benchmark::State& state) {
  TBenchFile file;
  FillHistory(file.Path);
  TRawInsert older(file.Path, "FULL");
  Exec(older.Db,
       "DROP TRIGGER messages_text_insert; DROP TRIGGER messages_text_update; "
       "DROP TRIGGER messages_text_delete; DROP TABLE messages_text; DROP TABLE text_index_fill");
  qm::TMessageStore store(file.Path);
  const qm::THistoryFilter rare{"", qm::hkAll, "message 99999"};
  const std::vector<std::int64_t> scanned = store.FindMessages(rare);
  bool done = false;
  int steps = 0;
  for (auto _ : state) {
    Check(!done, "filled before the steps ran out");
    done = store.FillTextIndex(qm::TDurableStore::kTextIndexStep);
    ++steps;
  }
  Check(done && store.FindMessages(rare) == scanned && scanned.size() == 1, "the index answers otherwise");
  state.counters["steps"] = steps;
}

// The floor in the same run: every id, newest first, through a bare connection.
void BM_HistoryReference_AllIds(benchmark::State& state) {
  TBenchFile file;
  Fill(file.Path, kHistory, 0);
  sqlite3* db = nullptr;
  Check(sqlite3_open(file.Path.c_str(), &db) == SQLITE_OK, "cannot open the store");
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_prepare_v2(db, "SELECT id FROM messages ORDER BY id DESC", -1, &stmt, nullptr) == SQLITE_OK,
        sqlite3_errmsg(db));
  for (auto _ : state) {
    std::vector<std::int64_t> ids;
    while (sqlite3_step(stmt) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(stmt, 0));
    sqlite3_reset(stmt);
    benchmark::DoNotOptimize(ids);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

}  // namespace

BENCHMARK(BM_History)->DenseRange(0, std::size(kHistoryCases) - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryReference_AllIds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryFirstRows)->DenseRange(0, std::size(kHistoryCases) - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryWholeAnswer)->DenseRange(0, std::size(kHistoryCases) - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextIndexFill)
    ->Iterations(kHistory / qm::TDurableStore::kTextIndexStep)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Add)->UseManualTime()->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AddReference_SynchronousNormal)
    ->UseManualTime()
    ->Iterations(5000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AddReference_WriteAndFdatasync)
    ->UseManualTime()
    ->Iterations(5000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Listed)->Arg(kListed)->Arg(kHistory)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
