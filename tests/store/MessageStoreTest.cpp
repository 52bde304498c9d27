#include "store/MessageStore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <thread>

#include "store/Checkpointer.h"
#include "tests/support/ClockPairDriver.h"
#include "tests/support/DamagedPages.h"
#include "tests/support/StoredMessages.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using test::Msg;
using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

// The message as the store gives it back after Add.
TStoredMessage Stored(TStoredMessage m, std::int64_t id) {
  m.Id = id;
  return m;
}

std::string States(const TMessageStore& store, const std::vector<std::int64_t>& ids) {
  std::string states;
  for (const TStoredMessage& m : store.Messages(ids)) states += "UJPC"[StoredNumber(m.PrintState)];
  return states;
}

std::vector<std::int64_t> ListedIds(const TMessageStore& store) {
  std::vector<std::int64_t> ids;
  for (const TStoredMessage& m : store.Listed()) ids.push_back(m.Id);
  return ids;
}

struct TTransitionCase {
  const char* what;
  std::function<void(TMessageStore&, const std::vector<std::int64_t>&)> act;
  const char* states;  // per message: Unprinted, in Job, Printed, Cleared
};

TEST(TMessageStore, PrintStateTransitionsAreKept) {
  const TTransitionCase cases[] = {
      {"added messages are listed", [](auto&, auto&) {}, "UUUU"},
      {"a pending job keeps its messages listed",
       [](auto& s, auto& m) {
         s.BeginJob(jkList, {m[0], m[1]}, "", 1, "");
       },
       "JJUU"},
      {"a confirmed job prints them",
       [](auto& s, auto& m) {
         s.CompleteJob(s.BeginJob(jkList, {m[0], m[1]}, "", 1, ""));
       },
       "PPUU"},
      {"a failed job returns them",
       [](auto& s, auto& m) {
         s.FailJob(s.BeginJob(jkList, {m[0], m[1]}, "", 1, ""), "x");
       },
       "UUUU"},
      {"clear leaves a pending job's messages",
       [](auto& s, auto& m) {
         const auto job = s.BeginJob(jkList, {m[0], m[1]}, "", 1, "");
         EXPECT_EQ(s.ClearListed(), 2);
         s.CompleteJob(job);
       },
       "PPCC"},
      {"clear during a job that then fails: cleared stays cleared",
       [](auto& s, auto& m) {
         const auto job = s.BeginJob(jkList, {m[0], m[1]}, "", 1, "");
         s.ClearListed();
         s.FailJob(job, "x");
       },
       "CCCC"},
      {"clear during a job that then completes: printed",
       [](auto& s, auto& m) {
         const auto job = s.BeginJob(jkList, {m[0]}, "", 1, "");
         s.ClearListed();
         s.CompleteJob(job);
       },
       "PCCC"},
      {"a full text fetched while printing was disabled never waits for paper",
       [](auto& s, auto& m) {
         s.SetFullText(m[3], "alert", false);
         EXPECT_TRUE(s.FullTextsUnprinted().empty());
         EXPECT_FALSE(s.Message(m[3]).FullTextPrinted);
         EXPECT_TRUE(s.Message(m[3]).FullTextWanted);
       },
       "UUUU"},
      {"a failed job leaves messages a later job took",
       [](auto& s, auto& m) {
         const auto first = s.BeginJob(jkList, {m[0], m[1]}, "", 1, "");
         s.BeginJob(jkList, {m[1], m[2]}, "", 1, "");
         s.FailJob(first, "x");
       },
       "UJJU"},
      {"a late confirmation after a failure prints",
       [](auto& s, auto& m) {
         const auto job = s.BeginJob(jkList, {m[0]}, "", 1, "");
         s.FailJob(job, "timed out");
         s.CompleteJob(job);
       },
       "PUUU"},
      {"a job over printed messages does not list them again",
       [](auto& s, auto& m) {
         s.CompleteJob(s.BeginJob(jkList, {m[0]}, "", 1, ""));
         s.FailJob(s.BeginJob(jkList, {m[0], m[1]}, "", 1, ""), "x");
       },
       "PUUU"},
      {"at start, pending jobs without a spooler job or a token fail",
       [](auto& s, auto& m) {
         s.BeginJob(jkList, {m[0]}, "", 1, "");
         s.SetSpoolerJob(s.BeginJob(jkList, {m[1]}, "", 1, ""), 7);
         s.BeginJob(jkList, {m[2]}, "", 1, "", "tok");  // looked for at the spooler instead
         EXPECT_EQ(s.FailPendingWithoutSpooler("not confirmed before the end"), 1);
         EXPECT_EQ(s.Message(m[1]).SpoolerJob, 7);  // the number the history shows
       },
       "UJJU"},
      {"a full-text job leaves the list alone",
       [](auto& s, auto& m) {
         s.SetFullText(m[3], "");
         EXPECT_EQ(s.FullTextsUnprinted().size(), 1u);
         s.CompleteJob(s.BeginJob(jkFullText, {m[3]}, "", 1, ""));
         EXPECT_TRUE(s.FullTextsUnprinted().empty());
         EXPECT_TRUE(s.Message(m[3]).FullTextPrinted);
       },
       "UUUU"},
  };
  for (const TTransitionCase& c : cases) {
    SCOPED_TRACE(c.what);
    TTempDir dir;
    std::vector<std::int64_t> ids, listed;
    {
      TMessageStore store(dir.File("q.db"));
      for (int n = 0; n < 4; ++n) ids.push_back(store.Add(Msg(n)));
      c.act(store, ids);
      EXPECT_EQ(States(store, ids), c.states);
      for (std::size_t i = 0; i < ids.size(); ++i)
        if (c.states[i] == 'U' || c.states[i] == 'J') listed.push_back(ids[i]);
      EXPECT_EQ(ListedIds(store), listed);
    }
    TMessageStore reopened(dir.File("q.db"));
    EXPECT_EQ(States(reopened, ids), c.states);
    EXPECT_EQ(ListedIds(reopened), listed);
  }
}

TEST(TMessageStore, JobsKeepTheirRecord) {
  TTempDir dir;
  TMessageStore store(dir.File("q.db"));
  const auto a = store.Add(Msg(1)), b = store.Add(Msg(2));
  const auto job = store.BeginJob(jkList, {b, a}, "PDF", 46001.25, "page text", "tok-1");
  EXPECT_EQ(store.PendingJobs(),
            (std::vector<TStoredJob>{
                {job, jkList, 46001.25, "PDF", 0, jsPending, "", "page text", {b, a}, "tok-1"}}));
  store.FailJob(job, "Printer stopped");
  EXPECT_EQ(store.Job(job),
            (TStoredJob{
                job, jkList, 46001.25, "PDF", 0, jsFailed, "Printer stopped", "page text", {b, a}, "tok-1"}));
  EXPECT_EQ(store.Message(a).JobId, job);
  EXPECT_TRUE(store.PendingJobs().empty());
  EXPECT_THROW(store.CompleteJob(job + 1), EMessageStoreError);
  store.CompleteJob(job);
  EXPECT_THROW(store.FailJob(job, "again"), EMessageStoreError);

  // An unknown message refuses the whole job.
  EXPECT_THROW(store.BeginJob(jkList, {a, b + 100}, "", 1, ""), EMessageStoreError);
  EXPECT_TRUE(store.PendingJobs().empty());
  EXPECT_EQ(store.Message(a).PrintState, psPrinted);
  EXPECT_THROW(store.Message(b + 100), EMessageStoreError);
  EXPECT_THROW(store.SetFullText(b + 100, "x"), EMessageStoreError);
}

// A job is named as the history and the log show it: by the spooler's number, and one the
// spooler never numbered (a page to a file) by its own; the newest where a number came twice.
TEST(TMessageStore, AJobIsFoundByTheNumberTheOperatorSees) {
  TTempDir dir;
  TMessageStore store(dir.File("q.db"));
  const auto m = store.Add(Msg(1));
  const auto toFile = store.BeginJob(jkList, {m}, "", 1, "to a file");  // store id 1, no spooler number
  const auto spooled = store.BeginJob(jkList, {m}, "Q", 1, "spooled");  // id 2, spooler job 1
  store.SetSpoolerJob(spooled, 1);
  const auto later = store.BeginJob(jkList, {m}, "Q", 1, "later");  // id 3, spooler job 2324
  store.SetSpoolerJob(later, 2324);
  const auto again = store.BeginJob(jkList, {m}, "Q", 1, "again");  // id 4, spooler job 2324 again
  store.SetSpoolerJob(again, 2324);
  const struct {
    std::int64_t number;
    const char* document;  // "": none
  } cases[] = {{1, "spooled"}, {2324, "again"}, {3, ""}, {4, ""}, {2, ""}, {5, ""}, {0, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    const std::optional<TStoredJob> job = store.JobByNumber(c.number);
    EXPECT_EQ(job ? job->Document : std::string(), c.document);
  }
  // Alone, the page to a file is found by its own number.
  TMessageStore other(dir.File("r.db"));
  other.BeginJob(jkList, {other.Add(Msg(1))}, "", 1, "to a file");
  ASSERT_TRUE(other.JobByNumber(toFile).has_value());
  EXPECT_EQ(other.JobByNumber(toFile)->Document, "to a file");
}

TEST(TMessageStore, PurgeKeepsWhatIsStillWanted) {
  TTempDir dir;
  TMessageStore store(dir.File("q.db"));
  const double old = 46000, cutoff = 46010, recent = 46020;
  std::vector<std::int64_t> m;
  m.reserve(7);
  for (int n = 0; n < 7; ++n) m.push_back(store.Add(Msg(n, n == 5 ? recent : old)));
  // 0 cleared while its job failed, 1 printed, 2 cleared, 3 printed with its full text not,
  // 4 printed and in a pending full-text job, 5 printed recently, 6 printed in a job of its own
  const auto printedJob = store.BeginJob(jkList, {m[1], m[3], m[4]}, "", old, "");
  store.CompleteJob(printedJob);
  const auto goneJob = store.BeginJob(jkList, {m[6]}, "", old, "");
  store.CompleteJob(goneJob);
  store.CompleteJob(store.BeginJob(jkList, {m[5]}, "", recent, ""));
  store.SetFullText(m[3], "alert");
  const auto failedJob = store.BeginJob(jkList, {m[0]}, "", old, "");
  store.ClearListed();
  store.FailJob(failedJob, "x");
  store.BeginJob(jkFullText, {m[4]}, "", old, "");
  // 7 listed; 8 printed with a full text that was never to be printed
  m.push_back(store.Add(Msg(7, old)));
  m.push_back(store.Add(Msg(8, old)));
  store.SetFullText(m[8], "alert", false);
  store.CompleteJob(store.BeginJob(jkList, {m[8]}, "", old, ""));
  ASSERT_EQ(States(store, m), "CPCPPPPUP");

  EXPECT_EQ(store.Purge(cutoff), 5);
  std::vector<std::int64_t> kept;
  for (const auto& message : store.Messages(m)) kept.push_back(message.Id);
  EXPECT_EQ(kept, (std::vector<std::int64_t>{m[3], m[4], m[5], m[7]}));
  // A job goes with its last message; the others stay, without the purged ones.
  EXPECT_THROW(store.Job(goneJob), EMessageStoreError);
  EXPECT_THROW(store.Job(failedJob), EMessageStoreError);
  EXPECT_EQ(store.Job(printedJob).Messages, (std::vector<std::int64_t>{m[3], m[4]}));
}

// A wall clock 30 days ahead for a moment purges nothing a steady clock calls young; once the
// jump has held an hour it is the time.
TEST(TMessageStore, PurgeTrustsOnlyASteadyClock) {
  constexpr double kNow = 46000.5;
  test::TClockPairDriver clock(kNow);
  TTempDir dir;
  TMessageStore store(dir.File("q.db"));
  const std::int64_t old = store.Add(Msg(1, kNow - 20)), young = store.Add(Msg(2, kNow - 2));
  store.CompleteJob(store.BeginJob(jkList, {old, young}, "", kNow, ""));
  clock.Set(8, 30 * 86400.0);
  const double jumpedCutoff = kNow + 30 - 14;  // what the jumped wall clock makes of 14 days
  EXPECT_EQ(store.Purge(jumpedCutoff), 1);
  EXPECT_EQ(store.Messages({old, young}).size(), 1u);
  clock.Set(8 + 3600, 30 * 86400.0);
  EXPECT_EQ(store.Purge(jumpedCutoff + 3600 / 86400.0), 1);
  EXPECT_TRUE(store.Messages({young}).empty());
}

TEST(TMessageStore, EveryByteRoundTrips) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  TStoredMessage m = Msg(1);
  std::string* fields[] = {&m.Source,    &m.Destination, &m.Path,    &m.Addressee, &m.MessageText,
                           &m.MessageId, &m.State,       &m.RawText, &m.Line1,     &m.Line2,
                           &m.Line3,     &m.FullText,    &m.Answered};
  for (std::size_t i = 0; i < std::size(fields); ++i) *fields[i] = all.substr(i) + all.substr(0, i);
  m.FullTextWanted = true;
  TTempDir dir;
  std::int64_t id = 0, job = 0;
  {
    TMessageStore store(dir.File("q.db"));
    id = store.Add(m);
    job = store.BeginJob(jkFullText, {id}, all, 2, all + all);
    store.FailJob(job, std::string("\0\r\n", 3) + all);
  }
  TMessageStore store(dir.File("q.db"));
  EXPECT_EQ(store.Message(id), Stored(m, id));
  EXPECT_EQ(store.Job(job),
            (TStoredJob{
                job, jkFullText, 2, all, 0, jsFailed, std::string("\0\r\n", 3) + all, all + all, {id}, ""}));
  // Empty and missing full texts differ.
  store.SetFullText(id, "");
  EXPECT_TRUE(store.Message(id).FullTextWanted);
  EXPECT_EQ(store.Add(Msg(2)), id + 1);
  EXPECT_FALSE(store.Message(id + 1).FullTextWanted);
}

std::string SqliteFile(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
  return ReadFileBytes(path);
}

// Log lines are marked as written; messages an older build kept (no such column) count as
// logged, as that build logged them as it kept them.
TEST(TMessageStore, UnloggedMessagesUntilMarkedAndOlderOnesCountAsLogged) {
  TTempDir dir;
  const std::string path = dir.File("q.db");
  { TMessageStore(path).Add(Msg(0)); }
  SqliteFile(path, "DROP TABLE logged_upto; ALTER TABLE messages DROP COLUMN logged");
  std::int64_t a = 0, b = 0;
  {
    TMessageStore store(path);
    a = store.Add(Msg(1));
    b = store.Add(Msg(2));
    store.MarkLogged({a});
  }
  std::vector<std::int64_t> unlogged;
  for (const TStoredMessage& m : TMessageStore(path).Unlogged()) unlogged.push_back(m.Id);
  EXPECT_EQ(unlogged, std::vector<std::int64_t>{b});
}

// A start reads only the messages past the point every message is logged up to; that point
// must stop at the first one whose line never came, however many are marked after it, and
// hold in a store that an older build (with its own index, and no idea of the point) changed.
TEST(TMessageStore, AnUnloggedMessageIsFoundAtTheStartHoweverFarBack) {
  TTempDir dir;
  const std::string path = dir.File("q.db");
  const auto unloggedAtStart = [&] {
    std::vector<std::int64_t> ids;
    for (const TStoredMessage& m : TMessageStore(path).Unlogged()) ids.push_back(m.Id);
    return ids;
  };
  std::int64_t lost = 0, last = 0;
  {
    TMessageStore store(path);
    store.MarkLogged({store.Add(Msg(0))});
    lost = store.Add(Msg(1));
    for (int n = 0; n < 3 * TMessageStore::kLoggedUptoStep; ++n) {
      last = store.Add(Msg(n));
      store.MarkLogged({last});
    }
  }
  EXPECT_EQ(unloggedAtStart(), std::vector<std::int64_t>{lost});

  // An older build makes its index again and adds past the point.
  SqliteFile(path,
             "CREATE INDEX messages_unlogged ON messages(id) WHERE logged = 0;"
             "UPDATE messages SET logged = 1 WHERE id = (SELECT min(id) FROM messages WHERE logged = 0);"
             "INSERT INTO messages(local_time, utc_time, source, destination, path, addressee, message_text,"
             " message_no, kind, state_code, raw_text, line1, line2, line3, logged)"
             " SELECT local_time, utc_time, source, destination, path, addressee, message_text, message_no,"
             " kind, state_code, raw_text, line1, line2, line3, 0 FROM messages WHERE id = 1");
  EXPECT_EQ(unloggedAtStart(), std::vector<std::int64_t>{last + 1});
  SqliteFile(path, "CREATE INDEX messages_unlogged ON messages(id)");  // fails while the old one stays
}

TEST(TMessageStore, OtherFilesAreRefusedAndLeftAlone) {
  TTempDir dir;
  std::string noise;
  for (int i = 0; i < 8192; ++i) noise += static_cast<char>(i * 7919 >> 3);
  std::string newer;
  {
    TMessageStore store(dir.File("newer.db"));
    store.Add(Msg(1));
  }
  newer = SqliteFile(dir.File("newer.db"), "PRAGMA user_version = 2");
  const struct {
    const char* what;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"text file", "[Settings]\r\nKey=Value\r\n", "file is not a database"},
      {"binary file", noise, "file is not a database"},
      {"another program's database", SqliteFile(dir.File("other.db"), "CREATE TABLE t(x)"),
       "not a message store"},
      {"a later store", newer, "a message store of a later version (2), this program reads 1"},
  };
  int file = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.File("case" + std::to_string(++file) + ".db");
    WriteFileBytes(path, c.bytes);
    try {
      TMessageStore store(path);
      ADD_FAILURE() << "opened";
    } catch (const EMessageStoreError& e) {
      EXPECT_EQ(std::string(e.what()), path + ": " + c.reason);
    }
    EXPECT_EQ(ReadFileBytes(path), c.bytes);
  }
  // An empty file is a store not yet begun (a crash right after it was created).
  WriteFileBytes(dir.File("empty.db"), "");
  EXPECT_TRUE(TMessageStore(dir.File("empty.db")).Listed().empty());
}

// A child adds messages and reports each id once Add returned; it is killed mid-way, once its
// store's thread has checkpointed the log twice (it may be copying it again). Every reported
// message must be there after the parent reopens the store.
TEST(TMessageStore, KilledWriterLosesNoAcceptedMessage) {
  TTempDir dir;
  const std::string path = dir.File("q.db");
  TMessageStore(path).Add(Msg(-1));  // the schema exists before the race starts
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(fds[0]);
    try {
      TMessageStore store(path);
      for (int n = 0;; ++n) {
        const std::int64_t id = store.Add(Msg(n));
        const std::int64_t ids[3] = {n, id, static_cast<std::int64_t>(store.Checkpoints())};
        if (::write(fds[1], ids, sizeof ids) != sizeof ids) ::_exit(1);
      }
    } catch (...) {
    }
    ::_exit(2);
  }
  ::close(fds[1]);
  std::vector<std::pair<int, std::int64_t>> reported;
  std::int64_t ids[3];
  bool killed = false;
  while (::read(fds[0], ids, sizeof ids) == sizeof ids) {
    reported.emplace_back(static_cast<int>(ids[0]), ids[1]);
    if (!killed && reported.size() >= 200 && ids[2] >= 2) killed = ::kill(child, SIGKILL) == 0;
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

  TMessageStore store(path);
  const std::vector<TStoredMessage> listed = store.Listed();
  ASSERT_GE(listed.size(), reported.size() + 1);
  for (const auto& [n, id] : reported) EXPECT_EQ(store.Message(id), Stored(Msg(n), id));
  store.Add(Msg(0));
}

// The store's own thread copies the write-ahead log into the file once it holds 1000 pages,
// so the writer starts the log over instead of letting it grow with every message.
TEST(TMessageStore, TheLogIsCheckpointedAwayFromTheWriter) {
  TTempDir dir;
  const std::string path = dir.File("q.db");
  TMessageStore store(path);
  const auto logPages = [&] { return std::filesystem::file_size(path + "-wal") / (4096 + 24); };
  int n = 0;
  while (logPages() < 1000) store.Add(Msg(n++));
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (store.Checkpoints() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  ASSERT_GE(store.Checkpoints(), 1u);
  const auto pages = logPages();
  for (int more = 0; more < 50; ++more) store.Add(Msg(n++));
  EXPECT_LE(logPages(), pages);  // started over, and cut back to its limit
}

// Each time the log passes a multiple of the threshold without starting over, one checkpoint:
// the first asked of the store's thread, the later ones made by the writer. A reader holding
// the log keeps it from starting over; once it lets go the log starts over at the next
// multiple and is cut back to its limit.
TEST(TMessageStore, TheLogIsCheckpointedOnceEachThresholdItPasses) {
  TTempDir dir;
  const std::string path = dir.File("q.db");
  TMessageStore store(path);
  int n = 0;
  store.Add(Msg(n++));
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &reader), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM messages", nullptr, nullptr, nullptr),
            SQLITE_OK);
  const auto logPages = [&] { return std::filesystem::file_size(path + "-wal") / (4096 + 24); };
  const auto asked = [&] { return store.CheckpointsAsked(); };
  using TAsked = TMessageStore::TCheckpointsAsked;
  while (logPages() < 1000) store.Add(Msg(n++));
  EXPECT_EQ(asked(), (TAsked{1, 0}));
  while (logPages() < 3000) store.Add(Msg(n++));
  EXPECT_EQ(asked(), (TAsked{1, 2}));

  sqlite3_close(reader);
  const auto held = logPages();
  for (const int bound = n + 2000; logPages() >= held && n < bound;) store.Add(Msg(n++));
  EXPECT_EQ(asked(), (TAsked{1, 3}));
  EXPECT_LE(std::filesystem::file_size(path + "-wal"),
            static_cast<std::uintmax_t>(TCheckpointer::kLogLimitBytes));
  // The log as it starts over is written over in place, and passing the threshold again asks
  // the thread again.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (asked().OfTheThread < 2 && std::chrono::steady_clock::now() < until) store.Add(Msg(n++));
  EXPECT_EQ(asked(), (TAsked{2, 3}));
  EXPECT_EQ(store.Listed().size(), static_cast<std::size_t>(n));
}

// A small tmpfs in a private mount namespace of this process, filled up.
TEST(TMessageStore, FullDiskFailsAddAndRecovers) {
  TTempDir dir;
  const std::string mountPoint = dir.File("disk");
  ASSERT_EQ(::mkdir(mountPoint.c_str(), 0700), 0);
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    GTEST_SKIP() << "cannot make a mount namespace (needs root): " << std::strerror(errno);
  ASSERT_EQ(::mount("none", mountPoint.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
  const std::string path = mountPoint + "/q.db", filler = mountPoint + "/filler";
  {
    TMessageStore store(path);
    std::vector<std::int64_t> added = {store.Add(Msg(0))};
    WriteFileBytes(filler, std::string(1 << 20, 'x'));  // stops where the disk is full
    TStoredMessage big = Msg(1);
    big.Line3.assign(2000, 'y');
    std::string failure;
    for (int n = 0; n < 2000 && failure.empty(); ++n) {
      try {
        added.push_back(store.Add(big));
      } catch (const EMessageStoreError& e) {
        failure = e.what();
      }
    }
    EXPECT_EQ(failure, path + ": database or disk is full");
    ::unlink(filler.c_str());
    added.push_back(store.Add(Msg(2)));
    EXPECT_EQ(ListedIds(store), added);
    store.CompleteJob(store.BeginJob(jkList, added, "", 1, ""));
    EXPECT_TRUE(store.Listed().empty());
  }
  EXPECT_TRUE(TMessageStore(path).Listed().empty());
  ::umount2(mountPoint.c_str(), MNT_DETACH);
}

// The start reads the whole file only when the last run did not close it (its write-ahead log
// is still there): a damaged page is then found at once; after a clean end it is found when
// read.
TEST(TMessageStore, TheFileIsCheckedAtOpenOnlyAfterAnUncleanEnd) {
  for (const bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "killed" : "closed");
    test::TTempDir dir;
    const std::string path = dir.File("q.db");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      {
        TMessageStore store(path);
        TStoredMessage m = test::Msg(1);
        m.Line2.assign(600, 'w');
        for (int n = 0; n < 60; ++n) store.Add(m);
        store.TruncateLog();
        store.Add(m);
        if (killed) ::raise(SIGKILL);
      }
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(std::filesystem::exists(path + "-wal"), killed);
    // Looking the pages up folds the log in as a clean end would; the killed run's log goes back.
    if (killed) std::filesystem::copy_file(path + "-wal", path + "-wal.kept");
    const std::vector<int> pages = test::PagesOf(path, {"messages"});
    if (killed) std::filesystem::rename(path + "-wal.kept", path + "-wal");
    ASSERT_GT(pages.size(), 4u);
    ASSERT_TRUE(test::OverwritePages(path, {pages[pages.size() / 2]}));
    if (killed) {
      try {
        TMessageStore store(path);
        ADD_FAILURE() << "opened";
      } catch (const EMessageStoreError& e) {
        EXPECT_EQ(e.Kind(), EMessageStoreError::ekDamaged);
        EXPECT_NE(std::string(e.what()).find("fails its integrity check"), std::string::npos) << e.what();
      }
    } else {
      TMessageStore store(path);
      EXPECT_THROW(store.Listed(), EMessageStoreError);
    }
  }
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

std::vector<std::int64_t> SoundingIds(const TMessageStore& store) {
  std::vector<std::int64_t> ids;
  for (const TStoredMessage& m : store.Sounding()) ids.push_back(m.Id);
  return ids;
}

// An alarm is kept with its message: it sounds across a reopen until acknowledged, who, where
// and when stay with the message, and a purge keeps a message whose alarm still sounds. A store
// of a build before alarms opens with none.
TEST(TMessageStore, AlarmsSoundUntilAcknowledgedAndOlderStoresHaveNone) {
  TTempDir dir;
  const std::string path = dir.File("q.db");
  { TMessageStore(path).Add(Msg(0, 46000)); }
  SqliteFile(
      path,
      "DROP INDEX messages_sounding; ALTER TABLE messages DROP COLUMN alarm_state; ALTER TABLE messages "
      "DROP COLUMN alarm_kind; ALTER TABLE messages DROP COLUMN acknowledged_by; ALTER TABLE messages "
      "DROP COLUMN acknowledged_where; ALTER TABLE messages DROP COLUMN acknowledged_utc");
  std::vector<std::int64_t> ids;
  {
    TMessageStore store(path);
    EXPECT_EQ(store.Message(1).Alarm, asNone);
    for (int n = 1; n <= 3; ++n) {
      TStoredMessage m = Msg(n, 46000);
      m.Alarm = asSounding;
      m.AlarmKind = 4 + n;
      ids.push_back(store.Add(m));
    }
    EXPECT_EQ(store.AcknowledgeAlarms({ids[1], 1}, "alice", "board", 46001.25), 1);  // 1 raised none
  }
  TMessageStore store(path);
  EXPECT_EQ(SoundingIds(store), (std::vector<std::int64_t>{ids[0], ids[2]}));
  const TStoredMessage acknowledged = store.Message(ids[1]);
  EXPECT_EQ(acknowledged.Alarm, asAcknowledged);
  EXPECT_EQ(acknowledged.AlarmKind, 6);
  EXPECT_EQ(acknowledged.AcknowledgedBy, "alice");
  EXPECT_EQ(acknowledged.AcknowledgedWhere, "board");
  EXPECT_EQ(acknowledged.AcknowledgedUtc, 46001.25);
  // Acknowledged once: a second acknowledgement changes nothing of the first.
  EXPECT_EQ(store.AcknowledgeAlarms(ids, "bob", "command line", 46002), 2);
  EXPECT_EQ(store.Message(ids[1]).AcknowledgedBy, "alice");
  EXPECT_TRUE(SoundingIds(store).empty());

  TStoredMessage loud = Msg(9, 46000);
  loud.Alarm = asSounding;
  const std::int64_t stillSounding = store.Add(loud);
  store.CompleteJob(store.BeginJob(jkList, {1, ids[0], ids[1], ids[2], stillSounding}, "", 46000, ""));
  EXPECT_EQ(store.Purge(46010), 4);
  EXPECT_EQ(store.Message(stillSounding).Alarm, asSounding);
}

// A repair copies what the operator and the desk did to a message, not only what came in: the
// acknowledgement sent, who acknowledged its alarm, a bulletin line taken off the board.
TEST(MessageStore, ACarryOverKeepsTheAnswerTheAlarmsAcknowledgementAndAClearedBulletin) {
  test::TTempDir dir;
  const std::string path = dir.File("q.db");
  const TBulletinAges ages;
  TStoredMessage bulletin = test::Msg(3);
  bulletin.Kind = kStoredBulletin;
  bulletin.Addressee = "BLN1     ";
  std::int64_t answered = 0, alarmed = 0;
  {
    TMessageStore store(path);
    answered = store.Add(test::Msg(1));
    store.SetAnswered(answered, "14:05:33 on KISS 127.0.0.1:8001");
    TStoredMessage m = test::Msg(2);
    m.Alarm = asSounding;
    alarmed = store.Add(m);
    ASSERT_EQ(store.AcknowledgeAlarms({alarmed}, "alice", "board", bulletin.UtcTime), 1);
    store.Add(bulletin);
    ASSERT_EQ(store.ClearBulletin("KB1AB-3", "BLN1", bulletin.UtcTime, ages), 1);
  }
  ASSERT_EQ(CarryOver(path, dir.File("carried.db")).Messages, 3u);
  TMessageStore carried(dir.File("carried.db"));
  EXPECT_EQ(carried.Message(answered).Answered, "14:05:33 on KISS 127.0.0.1:8001");
  EXPECT_EQ(carried.Message(alarmed).Alarm, asAcknowledged);
  EXPECT_EQ(carried.Message(alarmed).AcknowledgedBy, "alice");
  EXPECT_TRUE(carried.BulletinBoard(bulletin.UtcTime, ages).empty());
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// The desk's sent messages in a table of their own: a store of a build before them opens with
// none and takes them, numbers follow the ids across a reopen, and a state written stays.
TSentMessage ToSend(const std::string& to, const std::string& text, double utc,
                    const std::string& source = {}) {
  TSentMessage m;
  m.To = to;
  m.Text = text;
  m.CreatedUtc = utc;
  m.Source = source;
  return m;
}

TEST(TMessageStore, SentMessagesAreKeptBesideAnOlderStoresMessages) {
  test::TTempDir dir;
  const std::string path = dir.File("q.db");
  { TMessageStore(path).Add(test::Msg(0, 46000)); }
  SqliteFile(path, "DROP TABLE sent_messages");
  // The communications log's reader only reads: a store without the table has sent nothing.
  EXPECT_TRUE(THistoryReader(path).SentBetween(0, 50000, "N0CALL-5").empty());
  const auto number = [](std::int64_t id) { return "N" + std::to_string(id); };
  TSentMessage first;
  {
    TMessageStore store(path);
    EXPECT_TRUE(store.SentSince(0).empty());
    EXPECT_EQ(store.Message(1).MessageText, test::Msg(0, 46000).MessageText);
    first = store.AddSent(ToSend("K2XYZ-9", "Roger", 46000.5, "KISS x"), number);
    EXPECT_EQ(first.Number, "N" + std::to_string(first.Id));
    first.Tries = 2;
    first.LastTryUtc = 46000.6;
    store.UpdateSent(first);
    TSentMessage old = store.AddSent(ToSend("W1AW", "Done", 45990), number);
    old.State = ssAcknowledged;
    old.EndedUtc = 45990.1;
    store.UpdateSent(old);
    TSentMessage unknown = old;
    unknown.Id = 999;
    EXPECT_THROW(store.UpdateSent(unknown), EMessageStoreError);
  }
  TMessageStore store(path);
  // Since a day: the old one has ended and is left out; one still sending never is.
  std::vector<TSentMessage> sent = store.SentSince(46000);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Id, first.Id);
  EXPECT_EQ(sent[0].Number, first.Number);
  EXPECT_EQ(sent[0].To, "K2XYZ-9");
  EXPECT_EQ(sent[0].Tries, 2);
  EXPECT_EQ(sent[0].LastTryUtc, 46000.6);
  EXPECT_EQ(sent[0].State, ssSending);
  EXPECT_EQ(sent[0].Source, "KISS x");
  // Created a day before the question, and still sending.
  sent = store.SentSince(47000);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Id, first.Id);
  // In the log: what was sent in the period, from the own call, marked outgoing.
  const std::vector<TLogRow> logged = THistoryReader(path).SentBetween(46000, 46001, "N0CALL-5");
  EXPECT_EQ(logged, (std::vector<TLogRow>{{46000.5, "N0CALL-5", "K2XYZ-9", "Roger", true}}));
  // Ids (and so numbers) go on past the last one kept.
  EXPECT_EQ(store.AddSent(ToSend("K2XYZ", "x", 46001), number).Number, "N3");
}

// The purge takes the sent messages of its days once they have ended, and no number comes
// back with the ids it freed.
TEST(TMessageStore, PurgeTakesOnlyEndedSentMessagesOfItsDays) {
  test::TTempDir dir;
  TMessageStore store(dir.File("q.db"));
  const auto number = [](std::int64_t id) { return "N" + std::to_string(id); };
  const struct {
    double Utc;
    TSentState State;
  } rows[] = {{45000, ssAcknowledged}, {45000, ssSending}, {46000, ssGaveUp}, {45000, ssCancelled}};
  for (const auto& r : rows) {
    TSentMessage m = store.AddSent(ToSend("K2XYZ", "x", r.Utc), number);
    m.State = r.State;
    store.UpdateSent(m);
  }
  store.Purge(45500);
  std::vector<std::string> kept;
  for (const TSentMessage& m : store.SentSince(0)) kept.push_back(m.Number);
  EXPECT_EQ(kept, (std::vector<std::string>{"N2", "N3"}));
  EXPECT_EQ(store.AddSent(ToSend("K2XYZ", "x", 46001), number).Number, "N5");
}

}  // namespace
}  // namespace qm
