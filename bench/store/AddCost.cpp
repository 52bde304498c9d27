// CPU a kept message costs the store: TMessageStore::Add of one message in its own
// transaction (WAL, synchronous FULL), as the store's thread makes it, into a store that
// already holds some messages; the process's CPU (every thread: the checkpoints too) over all
// the adds, divided by them. Built by compare-add-cost.sh against each build's own store
// library, so one run compares two builds with the same program.
// Usage: add_cost FILE [KEPT_BEFORE [ADDS [PER_SECOND]]]   (defaults 20000, 600, 20; 300 more
// adds first, not counted). Paced as messages come: back to back (PER_SECOND 0) the store's
// checkpoint thread never catches up with the writer and checkpoints after every commit.
#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "store/MessageStore.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

qm::TStoredMessage Msg(int n) {
  qm::TStoredMessage m;
  m.LocalTime = 46000.5 + n / 86400.0;
  m.UtcTime = m.LocalTime - 1.0 / 24;
  m.Source = "KB1XY-" + std::to_string(n % 16);
  m.Destination = "APRS";
  m.Path = "WIDE1-1,WIDE2-1,qAR,KB1ZZ";
  m.Addressee = "BLN" + std::to_string(n % 10);
  m.MessageText = "Net tonight at 2000 on the club repeater, bulletin " + std::to_string(n);
  m.Kind = 2;
  m.RawText = m.Source + ">APRS,WIDE1-1,WIDE2-1,qAR,KB1ZZ::" + m.Addressee + "    :" + m.MessageText;
  m.Line1 = "12:34:56 / 11:34:56z  From " + m.Source + " to " + m.Addressee;
  m.Line2 = "Bulletin";
  m.Line3 = m.MessageText;
  return m;
}

// Messages kept before, written quickly through a connection of its own (one transaction, no
// syncs), as printed ones.
bool Fill(const std::string& path, int count) {
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;
  bool ok =
      sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
      sqlite3_exec(db, "PRAGMA synchronous = OFF; BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db,
                         "INSERT INTO messages(local_time, utc_time, source, destination, path, addressee, "
                         "message_text, message_no, kind, state_code, raw_text, line1, line2, line3, "
                         "print_state) VALUES (?, ?, ?, ?, ?, ?, ?, '', ?, '', ?, ?, ?, ?, 2)",
                         -1, &insert, nullptr) == SQLITE_OK;
  for (int n = 0; ok && n < count; ++n) {
    const qm::TStoredMessage m = Msg(n);
    int i = 0;
    sqlite3_bind_double(insert, ++i, m.LocalTime);
    sqlite3_bind_double(insert, ++i, m.UtcTime);
    for (const std::string* t : {&m.Source, &m.Destination, &m.Path, &m.Addressee, &m.MessageText})
      sqlite3_bind_text(insert, ++i, t->data(), static_cast<int>(t->size()), SQLITE_STATIC);
    sqlite3_bind_int(insert, ++i, m.Kind);
    for (const std::string* t : {&m.RawText, &m.Line1, &m.Line2, &m.Line3})
      sqlite3_bind_text(insert, ++i, t->data(), static_cast<int>(t->size()), SQLITE_STATIC);
    ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
  }
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_finalize(insert);
  sqlite3_close(db);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: add_cost FILE [KEPT_BEFORE [ADDS]]\n");
    return 2;
  }
  const std::string path = argv[1];
  const int before = argc > 2 ? std::atoi(argv[2]) : 20000;
  const int adds = argc > 3 ? std::atoi(argv[3]) : 600;
  const int perSecond = argc > 4 ? std::atoi(argv[4]) : 20;
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ec);
  { qm::TMessageStore made(path); }
  if (!Fill(path, before)) {
    std::fprintf(stderr, "add_cost: cannot fill %s\n", path.c_str());
    return 1;
  }
  qm::TMessageStore store(path);
  // The first adds take what the store does once after its open (a build with a text index
  // adds the messages written past it).
  constexpr int kWarmUp = 300;
  for (int n = before; n < before + kWarmUp; ++n) store.Add(Msg(n));
  const double start = CpuSeconds();
  auto due = std::chrono::steady_clock::now();
  for (int n = before + kWarmUp; n < before + kWarmUp + adds; ++n) {
    if (perSecond > 0) {
      due += std::chrono::microseconds(1000000 / perSecond);
      std::this_thread::sleep_until(due);
    }
    store.Add(Msg(n));
  }
  const double cpu = CpuSeconds() - start;
  const auto listed = store.Listed().size();
  if (listed != static_cast<std::size_t>(kWarmUp + adds)) {
    std::fprintf(stderr, "add_cost: %zu listed of %d added\n", listed, kWarmUp + adds);
    return 1;
  }
  std::printf("%.1f\n", cpu / adds * 1e6);
  return 0;
}
