// The store through a failing disk, with the real part failing: a small tmpfs filled up and
// freed, a read-only mount, damaged files. Nothing said to be kept may be missing, and what
// waited in memory must reach the file once it can.
#include "store/DurableStore.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/DamagedPages.h"
#include "tests/support/OlderStore.h"
#include "tests/support/PrivateTmpfs.h"
#include "tests/support/StoredMessages.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::Msg;
using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

struct TNotes {
  std::vector<std::string> Lines;
  TDurableStore::TNoteEvent Handler() {
    return [this](const std::string& note, bool trouble) { Lines.push_back((trouble ? "! " : "") + note); };
  }
};

// What the commit thread hands to the owner, run when the test says.
struct TPosted {
  std::mutex Lock;
  std::vector<std::function<void()>> Calls;
  TDurableStore::TPost Post() {
    return [this](std::function<void()> call) {
      const std::lock_guard lock(Lock);
      Calls.push_back(std::move(call));
    };
  }
  void Run() {
    std::vector<std::function<void()>> calls;
    {
      const std::lock_guard lock(Lock);
      calls.swap(Calls);
    }
    for (const auto& call : calls) call();
  }
};

// The message texts of the listed messages, oldest first.
std::vector<std::string> ListedTexts(const TMessageStore& store) {
  std::vector<std::string> texts;
  for (const TStoredMessage& m : store.Listed()) texts.push_back(m.MessageText);
  return texts;
}

// Once with every change written as it comes, once with messages committed on the store's
// thread.
class TFullDisk : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(TDurableStore, TFullDisk, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "OnTheCommitThread" : "AsTheyCome"; });

TEST_P(TFullDisk, HoldsChangesInOrderAndWritesThemOnceFreed) {
  const bool onThread = GetParam();
  TTempDir dir;
  const std::string point = dir.File("disk");
  ASSERT_EQ(::mkdir(point.c_str(), 0700), 0);
  // Large enough for the write-ahead log of every change that waits, once the filler goes.
  test::TPrivateTmpfs disk(point, "4m");
  if (!disk.Skip().empty()) GTEST_SKIP() << disk.Skip();
  const std::string path = disk.File("q.db");
  TNotes notes;
  TPosted posted;
  TDurableStore store(path, notes.Handler());
  if (onThread) store.CommitOnThread(posted.Post());
  std::vector<std::int64_t> ids = {store.Add(Msg(0)), store.Add(Msg(1))};
  ASSERT_TRUE(store.Flush());
  ASSERT_TRUE(disk.FillUp(disk.File("filler")));

  // From the first failure on, everything waits.
  TStoredMessage big = Msg(2);
  big.Line2.assign(3000, 'y');
  for (int n = 2; n < 40; ++n) {
    big.MessageText = "message " + std::to_string(n);
    ids.push_back(store.Add(big));
  }
  // The thread fails on its own time.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!store.Failing() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  ASSERT_TRUE(store.Failing()) << "the disk never filled";
  ASSERT_LT(ids.back(), 0);
  // A page with messages of both kinds goes to paper while the disk is full.
  const std::int64_t job = store.BeginJob(jkList, {ids[0], ids.back()}, "Desk", 46000.6, "page");
  store.SetSpoolerJob(job, 7);
  store.CompleteJob(job);
  store.SetFullText(ids[1], "full text");
  posted.Run();
  ASSERT_EQ(notes.Lines.size(), 1u);
  EXPECT_EQ(notes.Lines[0].rfind(
                "! The message store cannot be written (" + path + ": database or disk is full)", 0),
            0u)
      << notes.Lines[0];

  std::size_t held = 0;
  for (const std::int64_t id : ids) held += store.IsKept(id) ? 0 : 1;
  const std::size_t kept = ids.size() - held;
  EXPECT_GT(held, 0u);
  const std::vector<std::int64_t> listed(ids.begin() + 1, ids.end() - 1);  // the page took the first and last
  const std::size_t listedHeld = held - 1;
  EXPECT_EQ(store.EndOfRunLines(listed).front(),
            KeptForNextStartText(listed.size() - listedHeld, listedHeld));

  ::unlink(disk.File("filler").c_str());
  EXPECT_TRUE(store.Flush()) << ::testing::PrintToString(notes.Lines);
  EXPECT_FALSE(store.Failing());
  EXPECT_EQ(store.Waiting(), 0u);
  posted.Run();
  ASSERT_EQ(notes.Lines.size(), 2u);
  EXPECT_EQ(notes.Lines[1], "The message store " + path + " is written again; " + std::to_string(held + 4) +
                                " changes kept in memory were stored");
  EXPECT_EQ(store.EndOfRunLines(listed), std::vector<std::string>{KeptForNextStartText(listed.size(), 0)});
  EXPECT_GT(kept, 0u);

  // The next start finds every message in its order, the page printed and the full text.
  TMessageStore reopened(path);
  std::vector<std::string> expected;
  for (int n = 1; n < 39; ++n) expected.push_back("message " + std::to_string(n));
  EXPECT_EQ(ListedTexts(reopened), expected);
  const TStoredJob stored = reopened.Job(store.Job(job).Id);
  EXPECT_EQ(stored.State, jsCompleted);
  EXPECT_EQ(stored.SpoolerJob, 7);
  EXPECT_EQ(reopened.Messages(stored.Messages).back().MessageText, "message 39");
  EXPECT_EQ(reopened.FullTextsUnprinted().front().FullText, "full text");
}

// A store that cannot be opened at the start (its disk read-only) is opened once the disk
// takes writes again; the earlier run's listed messages stay for the next start, and the
// operator's clearing of this run's list does not clear them.
TEST(TDurableStore, StoreReadOnlyAtTheStartIsOpenedLater) {
  TTempDir dir;
  const std::string point = dir.File("disk");
  ASSERT_EQ(::mkdir(point.c_str(), 0700), 0);
  test::TPrivateTmpfs disk(point, "4m");
  if (!disk.Skip().empty()) GTEST_SKIP() << disk.Skip();
  const std::string path = disk.File("q.db");
  {
    TMessageStore earlier(path);
    earlier.Add(Msg(100));
    earlier.Add(Msg(101));
  }
  ASSERT_TRUE(disk.SetReadOnly(true)) << std::strerror(errno);
  TNotes notes;
  TDurableStore store(path, notes.Handler());
  EXPECT_TRUE(store.Listed().empty());
  const std::int64_t cleared = store.Add(Msg(1));
  store.ClearListed();
  const std::int64_t listed = store.Add(Msg(2));
  EXPECT_FALSE(store.IsKept(cleared));
  EXPECT_EQ(store.EndOfRunLines({listed}).front(),
            "0 unprinted messages are kept for the next start; 1 could "
            "not be stored and are lost");

  ASSERT_TRUE(disk.SetReadOnly(false));
  EXPECT_TRUE(store.Flush());
  EXPECT_TRUE(store.IsKept(listed));
  ASSERT_EQ(notes.Lines.size(), 3u) << ::testing::PrintToString(notes.Lines);
  // SQLite cannot make the write-ahead log's index on a read-only disk.
  EXPECT_EQ(notes.Lines[0].rfind(
                "! The message store cannot be written (" + path + ": unable to open database file)", 0),
            0u)
      << notes.Lines[0];
  EXPECT_EQ(notes.Lines[1],
            "The message store " + path +
                " holds 2 unprinted messages of an earlier run; they are listed at the next start");
  EXPECT_EQ(ListedTexts(*store.Store()),
            (std::vector<std::string>{"message 100", "message 101", "message 2"}));
}

// A damaged file is moved aside with its bytes and a new store begun, said once; a store of
// a later version is not this program's to move.
TEST(TDurableStore, DamagedFileIsMovedAsideAndANewStoreBegun) {
  TTempDir dir;
  {
    TMessageStore model(dir.File("model.db"));
    TStoredMessage m = Msg(0);
    m.Line2.assign(1500, 'z');  // fewer commits for the pages wanted
    for (int n = 0; n < 50; ++n) model.Add(m);
  }
  const std::string sound = ReadFileBytes(dir.File("model.db"));
  std::string pages = sound;
  // Past the first pages: the header and the schema still read, the table's pages do not.
  ASSERT_GT(pages.size(), 12u * 4096);
  for (std::size_t i = 8 * 4096; i < 12 * 4096; ++i) pages[i] = '\x5a';
  std::string newer = sound;
  newer[60 + 3] = 2;  // user_version, big-endian at offset 60
  sqlite3* other = nullptr;
  sqlite3_open(dir.File("other.db").c_str(), &other);
  sqlite3_exec(other, "CREATE TABLE t(x); INSERT INTO t VALUES (1)", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  const struct {
    const char* what;
    std::string bytes;
    const char* reason;  // the start of the reason; null: left where it is
    bool carried;        // what could be read is carried over into the new store
  } cases[] = {
      {"no database", std::string(8192, 'x'), "file is not a database", false},
      {"pages damaged", pages, "fails its integrity check", true},
      {"another program's database", ReadFileBytes(dir.File("other.db")), "not a message store", false},
      {"a later version", newer, nullptr, false},
  };
  int file = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path folder = dir.Path() / ("case" + std::to_string(++file));
    fs::create_directories(folder);
    const std::string path = (folder / "q.db").string();
    WriteFileBytes(path, c.bytes);
    WriteFileBytes(path + "-wal", "");  // left by a run that never closed the store: checked at open
    TNotes notes;
    TDurableStore store(path, notes.Handler());
    std::vector<fs::path> aside;
    for (const auto& entry : fs::directory_iterator(folder))
      if (const std::string name = entry.path().filename().string();
          name.rfind("q.db.damaged-", 0) == 0 && !name.ends_with("-wal"))
        aside.push_back(entry.path());
    ASSERT_EQ(notes.Lines.size(), 1u) << ::testing::PrintToString(notes.Lines);
    if (c.reason == nullptr) {
      EXPECT_TRUE(aside.empty());
      EXPECT_EQ(ReadFileBytes(path), c.bytes);
      EXPECT_LT(store.Add(Msg(1)), 0);
      continue;
    }
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadFileBytes(aside[0].string()), c.bytes);
    EXPECT_EQ(notes.Lines[0].rfind(std::string("! The message store ")
                                       .append(path)
                                       .append(" was damaged (")
                                       .append(path)
                                       .append(": ")
                                       .append(c.reason),
                                   0),
              0u)
        << notes.Lines[0];
    EXPECT_NE(notes.Lines[0].find(
                  c.carried ? "were carried over into a new store; the damaged file was moved to " +
                                  aside[0].string()
                            : "it was moved to " + aside[0].string() + " and a new store was started"),
              std::string::npos)
        << notes.Lines[0];
    EXPECT_GT(store.Add(Msg(1)), 0);
    const std::vector<std::string> listed = ListedTexts(*store.Store());
    EXPECT_EQ(listed.back(), "message 1");
    EXPECT_EQ(listed.size() > 1, c.carried);
  }
}

// The files deleted or replaced under the open store, then more messages, then a kill (or a
// close and a kill): the next start has every message, and the event was said once.
TEST(TDurableStore, FilesRemovedUnderTheOpenStoreAreWrittenAfresh) {
  const struct {
    const char* what;
    std::vector<const char*> removed;  // suffixes of the files deleted
    bool replace;                      // another file is put at the path
    bool close;                        // the store is closed before the kill
    const char* said;
  } cases[] = {
      {"store and log deleted", {"", "-wal"}, false, false, "deleted"},
      {"store and log deleted, closed", {"", "-wal"}, false, true, "deleted"},
      {"log deleted", {"-wal"}, false, false, "its write-ahead log deleted"},
      {"store deleted", {""}, false, false, "deleted"},
      {"store replaced", {}, true, false, "replaced"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TTempDir dir;
    const std::string path = dir.File("q.db");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(fds[0]);
      std::string notes;
      {
        TDurableStore store(path, [&](const std::string& note, bool) { notes += note + "\n"; });
        for (int n = 0; n < 3; ++n) store.Add(Msg(n));
        for (const char* suffix : c.removed) ::unlink((path + suffix).c_str());
        if (c.replace) {
          WriteFileBytes(path + ".other", "someone's file");
          ::rename((path + ".other").c_str(), path.c_str());
        }
        for (int n = 3; n < 6; ++n) store.Add(Msg(n));
        if (!c.close) {
          if (::write(fds[1], notes.data(), notes.size() + 1) < 0) ::_exit(1);
          ::pause();  // killed here, the store open
        }
      }
      if (::write(fds[1], notes.data(), notes.size() + 1) < 0) ::_exit(1);
      ::pause();
    }
    ::close(fds[1]);
    std::string notes;
    char ch = 0;
    while (::read(fds[0], &ch, 1) == 1 && ch != '\0') notes += ch;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(fds[0]);

    std::string said = "The message store " + path + " was " + c.said +
                       " while the program ran; a fresh store with everything it held was written there";
    if (c.replace) {
      std::string aside;
      for (const auto& entry : fs::directory_iterator(dir.Path()))
        if (entry.path().filename().string().rfind("q.db.replaced-", 0) == 0) aside = entry.path().string();
      EXPECT_EQ(ReadFileBytes(aside), "someone's file");
      said += " (the file found there was moved to " + aside + ")";
    }
    EXPECT_EQ(notes, said + "\n");
    std::vector<std::string> expected;
    expected.reserve(6);
    for (int n = 0; n < 6; ++n) expected.push_back("message " + std::to_string(n));
    EXPECT_EQ(ListedTexts(TMessageStore(path)), expected);
  }
}

// The history window keeps the store's object: it stays the same, and reads the fresh file.
TEST(TDurableStore, TheStoreObjectOutlivesAFreshCopy) {
  TTempDir dir;
  const std::string path = dir.File("q.db");
  TDurableStore store(path);
  TMessageStore* reader = store.Store();
  store.Add(Msg(1));
  ::unlink(path.c_str());
  store.Add(Msg(2));
  EXPECT_EQ(store.Store(), reader);
  EXPECT_EQ(ListedTexts(*reader), (std::vector<std::string>{"message 1", "message 2"}));
  EXPECT_EQ(reader->Displaced(), "");
}

// What a kill between the fresh copy and its rename leaves: a complete copy beside the old
// file is newer and taken; one with a rollback journal, or still under the name it is
// written by, was never finished and goes.
TEST(TDurableStore, FreshCopyLeftByAKillIsTakenOnlyWhenComplete) {
  const struct {
    const char* what;
    const char* name;  // the copy's
    bool journal;
    bool taken;
  } cases[] = {
      {"finished", ".fresh", false, true},
      {"with its journal", ".fresh", true, false},
      {"still being written", ".copying", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TTempDir dir;
    const std::string path = dir.File("q.db");
    {
      TMessageStore old(path);
      old.Add(Msg(1));
      old.CopyTo(path + c.name);
      old.Add(Msg(2));  // in the old file only
    }
    {
      TMessageStore newer(path + c.name);
      newer.Add(Msg(3));  // in the copy only
    }
    if (c.journal) WriteFileBytes(path + c.name + "-journal", std::string(512, '\0'));
    TDurableStore store(path);
    EXPECT_EQ(ListedTexts(*store.Store()), c.taken ? (std::vector<std::string>{"message 1", "message 3"})
                                                   : (std::vector<std::string>{"message 1", "message 2"}));
    EXPECT_FALSE(fs::exists(path + c.name));
  }
}

// The commit thread fills the text index of an older build's store while nothing else waits;
// messages added meanwhile are kept as ever.
TEST(TDurableStore, CommitThreadFillsTheTextIndexOfAnOlderStore) {
  TTempDir dir;
  const std::string path = dir.File("q.db");
  {
    TMessageStore older(path);
    for (int n = 1; n <= 5; ++n) older.Add(Msg(n));
  }
  test::DropTextIndex(path);
  TPosted posted;
  TDurableStore store(path);
  store.CommitOnThread(posted.Post());
  const std::int64_t added = store.Add(Msg(6));
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!store.TextIndexed() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  ASSERT_TRUE(store.TextIndexed());
  EXPECT_TRUE(store.Flush());
  EXPECT_TRUE(store.IsKept(added));
  EXPECT_TRUE(store.Store()->FillTextIndex(1));  // nothing left to add
  EXPECT_EQ(store.Store()->FindMessages({"", hkAll, "message 3"}), std::vector<std::int64_t>{3});
}

// Waits for the commit thread until `done` holds or 20 s passed.
bool WaitFor(const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  return done();
}

// The commit thread adds the new messages to the text index once a batch of them is kept.
TEST(TDurableStore, CommitThreadAddsNewMessagesToTheTextIndex) {
  TTempDir dir;
  const std::string path = dir.File("q.db");
  TPosted posted;
  TDurableStore store(path);
  store.CommitOnThread(posted.Post());
  const auto batch = static_cast<int>(TMessageStore::kTextIndexBatch);
  for (int n = 1; n <= batch; ++n) store.Add(Msg(n));
  EXPECT_TRUE(WaitFor([&] {
    return test::QueryStoreFile(path, "SELECT count(*) FROM messages_text WHERE messages_text MATCH 'ess'") ==
           batch;
  }));
}

// A page of a long outage goes to the file in pieces on the commit thread, its completion too;
// a message taken while they wait goes ahead of them, and every message keeps its order.
TEST(TDurableStore, ALongJobGoesInPiecesAndMessagesTakenMeanwhileGoAhead) {
  TTempDir dir;
  const std::string path = dir.File("q.db");
  TPosted posted;
  TDurableStore store(path);
  store.CommitOnThread(posted.Post());
  const int count = 2 * static_cast<int>(TDurableStore::kJobPiece) + 5;
  std::vector<std::int64_t> listed, inFile;
  listed.reserve(count);
  inFile.reserve(count);
  for (int n = 0; n < count; ++n) listed.push_back(store.Add(Msg(n)));
  ASSERT_TRUE(store.Flush());
  for (const std::int64_t id : listed) inFile.push_back(store.Message(id).Id);

  const std::int64_t job = store.BeginJob(jkList, listed, "Desk", 46000.6, "");
  const std::int64_t later = store.Add(Msg(count));
  store.SetJobDocument(job, "the page");
  store.CompleteJob(job);
  const std::int64_t last = store.Add(Msg(count + 1));
  ASSERT_TRUE(store.Flush());
  const TStoredJob kept = store.Job(job);
  EXPECT_EQ(kept.Messages, inFile);
  EXPECT_EQ(kept.State, jsCompleted);
  EXPECT_EQ(kept.Document, "the page");
  EXPECT_LT(store.Message(later).Id, store.Message(last).Id);
  EXPECT_EQ(ListedTexts(*store.Store()),
            (std::vector<std::string>{Msg(count).MessageText, Msg(count + 1).MessageText}));
}

// A message's log mark goes in the commit of the next change; alone it waits its time, and
// the owner's flush writes it at once. A steady flow thus commits once a message.
TEST(TDurableStore, ALogMarkGoesWithTheNextChangeOrAloneAfterItsWait) {
  TTempDir dir;
  const std::string path = dir.File("q.db");
  TPosted posted;
  int commits = 0;
  TDurableStore store(path);
  constexpr auto kWait = std::chrono::milliseconds(300);
  store.SetMarkWait(kWait);
  store.OnCommitReturned([&] { ++commits; });
  store.CommitOnThread(posted.Post());
  const auto unlogged = [&] {
    return test::QueryStoreFile(path, "SELECT count(*) FROM messages WHERE logged = 0");
  };
  const auto addSettled = [&](int n) {
    const std::int64_t id = store.Add(Msg(n));
    EXPECT_TRUE(WaitFor([&] { return store.Settled(id); }));
    return id;
  };
  const std::int64_t a = addSettled(1);
  store.MarkLogged({a});
  const std::int64_t b = addSettled(2);
  EXPECT_EQ(unlogged(), 1);  // only b's line is still to come
  const auto alone = std::chrono::steady_clock::now();
  store.MarkLogged({b});
  ASSERT_TRUE(WaitFor([&] { return unlogged() == 0; }));
  EXPECT_GE(std::chrono::steady_clock::now() - alone, kWait);
  store.MarkLogged({addSettled(3)});
  EXPECT_TRUE(store.Flush());
  EXPECT_EQ(unlogged(), 0);
  posted.Run();
  EXPECT_EQ(commits, 5);  // a; a's mark with b; b's mark; c; c's mark
}

// `damage` done to the store's file under the open store (everything in the file itself first,
// and a change by another connection after, so the store reads its pages from the file again),
// or between its close and its next opening, committing on its thread when `posted` is given.
void DamageStore(std::unique_ptr<TDurableStore>& store, const std::string& path, bool running, TNotes& notes,
                 const std::function<void()>& damage, TPosted* posted = nullptr) {
  if (running) {
    ASSERT_TRUE(store->Store()->TruncateLog());
    damage();
    test::RunOnStoreFile(path, "CREATE TABLE bump(x); DROP TABLE bump");
    return;
  }
  store.reset();
  damage();
  store = std::make_unique<TDurableStore>(path, notes.Handler());
  if (posted) store->CommitOnThread(posted->Post());
}

// Pages of the text index and a history index overwritten with dd, before a start and under a
// running store; or a page of the messages table itself. Every message that can still be read
// comes back and new ones are kept; what was done is said once, with counts.
TEST(TDurableStore, DamagedPagesCostOnlyWhatIsDamaged) {
  const std::vector<std::string> indexes = {"messages_text_data", "messages_text_idx",
                                            "messages_source_upper"};
  const struct {
    const char* what;
    bool running;
    std::vector<std::string> damaged;
    int lost;  // kept messages that cannot come back
  } cases[] = {
      {"indexes, at the start", false, indexes, 0},
      {"indexes, while running", true, indexes, 0},
      {"a page of the messages, at the start", false, {"messages"}, -1},
  };
  constexpr int kKept = 40;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TTempDir dir;
    const std::string path = dir.File("q.db");
    TStoredMessage m = Msg(0);
    m.Line2.assign(600, 'w');  // the messages span some pages
    const auto damage = [&] {
      std::vector<int> pages = test::PagesOf(path, c.damaged);
      ASSERT_FALSE(pages.empty());
      if (c.damaged.front() == "messages") pages = {pages[pages.size() / 2]};  // one leaf in the middle
      ASSERT_TRUE(test::OverwritePages(path, pages));
    };
    TNotes notes;
    TPosted posted;
    auto store = std::make_unique<TDurableStore>(path, notes.Handler());
    store->CommitOnThread(posted.Post());
    for (int n = 1; n <= kKept; ++n) {
      m.MessageText = "message " + std::to_string(n);
      store->Add(m);
    }
    ASSERT_TRUE(store->Flush());
    DamageStore(store, path, c.running, notes, damage, &posted);
    const std::size_t back = store->Listed().size();
    std::vector<std::int64_t> added;
    for (int n = kKept + 1; n <= kKept + 5; ++n) {
      m.MessageText = "message " + std::to_string(n);
      added.push_back(store->Add(m));
    }
    ASSERT_TRUE(store->Flush());
    for (const std::int64_t id : added) EXPECT_TRUE(store->IsKept(id));
    posted.Run();
    ASSERT_EQ(notes.Lines.size(), 1u) << ::testing::PrintToString(notes.Lines);
    const std::string& said = notes.Lines[0];
    EXPECT_EQ(
        said.rfind(std::string("! The message store ").append(path).append(" was damaged (").append(path), 0),
        0u)
        << said;
    EXPECT_NE(said.find("were carried over into a new store"), std::string::npos) << said;
    store.reset();

    TMessageStore reopened(path);
    const std::vector<std::string> texts = ListedTexts(reopened);
    if (c.lost == 0) {
      EXPECT_EQ(back, static_cast<std::size_t>(kKept));
      std::vector<std::string> expected;
      for (int n = 1; n <= kKept + 5; ++n) expected.push_back("message " + std::to_string(n));
      EXPECT_EQ(texts, expected);
    } else {
      // The messages of the one page are gone, the others and the new ones are all there.
      EXPECT_GT(texts.size(), 5u + kKept / 2);
      EXPECT_LT(texts.size(), 5u + kKept);
      EXPECT_EQ(texts.back(), "message " + std::to_string(kKept + 5));
      EXPECT_NE(
          said.find(std::to_string(texts.size() - 5) + " messages (" + std::to_string(texts.size() - 5) +
                    " of them unprinted) and 0 print jobs were carried over into a new store"),
          std::string::npos)
          << said;
    }
    EXPECT_EQ(reopened.FindMessages({"KB1AB-0", hkAll, ""}).size(), texts.size());
  }
}

// The desk's own messages through a repair: carried over with the messages when those are
// damaged; when their own page is, the ones still being sent come back whole and the ended one
// is lost with it. No number is given out twice either way.
TEST(TDurableStore, SentMessagesComeThroughARepair) {
  const struct {
    const char* what;
    const char* damaged;
    bool running;
    const char* back;  // the tries of each sent message read back
    const char* said;
  } cases[] = {
      {"a page of the messages, at the start", "messages", false, "0 1 2 ",
       "0 print jobs and 3 sent messages were carried over"},
      {"the sent messages' page, while running", "sent_messages", true, "0 2 ",
       "0 print jobs were carried over into a new store, 3 rows"},
  };
  const auto number = [](std::int64_t id) { return "N" + std::to_string(id); };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TTempDir dir;
    const std::string path = dir.File("q.db");
    TNotes notes;
    auto store = std::make_unique<TDurableStore>(path, notes.Handler());
    TStoredMessage m = Msg(0);
    m.Line2.assign(600, 'w');  // the messages span some pages
    for (int n = 0; n < 40; ++n) store->Add(m);
    // Number 2 is acknowledged, 1 and 3 are still being sent.
    std::vector<TSentMessage> sent(3);
    for (int n = 0; n < 3; ++n) {
      TSentMessage one;
      one.To = "K2XYZ";
      sent[n] = store->AddSent(one, number);
      sent[n].Tries = n;
      if (n == 1) sent[n].State = ssAcknowledged;
      store->UpdateSent(sent[n]);
    }
    DamageStore(store, path, c.running, notes, [&] {
      const std::vector<int> pages = test::PagesOf(path, {c.damaged});
      ASSERT_FALSE(pages.empty());
      ASSERT_TRUE(test::OverwritePages(path, {pages[pages.size() / 2]}));
    });
    store->Listed();  // a read of the messages meets their damage
    std::string back;
    for (const TSentMessage& k : store->SentSince(0)) back += std::to_string(k.Tries) + " ";
    EXPECT_EQ(back, c.back);
    ASSERT_FALSE(notes.Lines.empty());
    EXPECT_NE(notes.Lines[0].find(c.said), std::string::npos) << notes.Lines[0];
    // Its end is kept, and the next message takes a number never given before.
    sent[0].State = ssCancelled;
    EXPECT_NO_THROW(store->UpdateSent(sent[0]));
    EXPECT_EQ(store->AddSent(sent[0], number).Number, "N4");
  }
}

// A disk full for a while, then freed with less room than what waited: each batch that fits
// stays, the log is cut back after each, and the rest is written once there is room.
TEST(TDurableStore, BacklogLargerThanTheRoomThatCameBackGoesInBatches) {
  TTempDir dir;
  const std::string point = dir.File("disk");
  ASSERT_EQ(::mkdir(point.c_str(), 0700), 0);
  test::TPrivateTmpfs disk(point, "8m");
  if (!disk.Skip().empty()) GTEST_SKIP() << disk.Skip();
  const std::string path = disk.File("q.db");
  const std::string filler = disk.File("filler");
  TNotes notes;
  TPosted posted;
  TDurableStore store(path, notes.Handler());
  store.CommitOnThread(posted.Post());
  ASSERT_TRUE(store.Flush());
  ASSERT_TRUE(disk.FillUp(filler));
  TStoredMessage big = Msg(0);
  big.Line2.assign(3000, 'y');
  std::vector<std::int64_t> ids;
  for (int n = 0; n < 1500; ++n) {  // about 5 MB in the file
    big.MessageText = "message " + std::to_string(n);
    ids.push_back(store.Add(big));
  }
  ASSERT_TRUE(WaitFor([&] { return store.Failing(); })) << "the disk never filled";

  // 3 MB freed: less than the backlog.
  struct stat st {};
  ASSERT_EQ(::stat(filler.c_str(), &st), 0);
  ASSERT_EQ(::truncate(filler.c_str(), st.st_size - 3 * 1024 * 1024), 0);
  const std::size_t before = store.Waiting();
  store.Flush();
  ASSERT_TRUE(WaitFor([&] {
    store.Flush();
    return store.Waiting() < before;
  }));
  EXPECT_TRUE(store.Failing());
  EXPECT_GT(store.Waiting(), 0u);
  // The log holds no batch that failed, nor more than a batch that stayed.
  ASSERT_EQ(::stat((path + "-wal").c_str(), &st), 0);
  EXPECT_LE(st.st_size, static_cast<off_t>(TDurableStore::kBatchBytes * 2)) << "the log was not cut back";
  std::size_t kept = 0;
  for (const std::int64_t id : ids) kept += store.IsKept(id) ? 1 : 0;
  EXPECT_GT(kept, 200u);
  EXPECT_EQ(kept + store.Waiting(), ids.size());

  ::unlink(filler.c_str());
  ASSERT_TRUE(WaitFor([&] { return store.Flush(); }));
  for (const std::int64_t id : ids) EXPECT_TRUE(store.IsKept(id));
  std::vector<std::string> expected;
  expected.reserve(1500);
  for (int n = 0; n < 1500; ++n) expected.push_back("message " + std::to_string(n));
  EXPECT_EQ(ListedTexts(*store.Store()), expected);
}

// A disk that fills once the log has started over and kept the room it grew to: what the store
// says it kept while the disk is full is there after a kill, and once the disk is freed what
// waited is written and the log gives its room back.
TEST(TDurableStore, FullDiskAfterTheLogStartedOverLosesNothingSaidKept) {
  for (const bool freed : {false, true}) {
    SCOPED_TRACE(freed ? "freed, then killed" : "killed while full");
    TTempDir dir;
    const std::string point = dir.File("disk");
    ASSERT_EQ(::mkdir(point.c_str(), 0700), 0);
    test::TPrivateTmpfs disk(point, "16m");
    if (!disk.Skip().empty()) GTEST_SKIP() << disk.Skip();
    const std::string path = disk.File("q.db"), filler = disk.File("filler");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Reports {n, 1} for each message kept, then {log bytes while full, log bytes at the end}.
      ::close(fds[0]);
      const auto report = [&](std::int64_t a, std::int64_t b) {
        const std::int64_t r[2] = {a, b};
        if (::write(fds[1], r, sizeof r) != sizeof r) ::_exit(1);
      };
      TNotes notes;
      TPosted posted;
      TDurableStore store(path, notes.Handler());
      store.SetLowRoom(0);  // as on a disk with room to spare until it filled
      store.CommitOnThread(posted.Post());
      TStoredMessage m = Msg(0);
      m.Line2.assign(600, 'w');
      int n = 0;
      const auto add = [&] {
        m.MessageText = "message " + std::to_string(n);
        const std::int64_t id = store.Add(m);
        store.Flush();
        if (store.IsKept(id)) report(n, 1);
        ++n;
        return store.IsKept(id);
      };
      while (store.Store()->Checkpoints() == 0 && n < 3000) add();
      for (int more = 0; more < 20; ++more) add();  // the log starts over
      if (!disk.FillUp(filler)) ::_exit(3);
      for (int held = 0; held < 20 && n < 6000;) held += add() ? 0 : 1;
      const auto full = static_cast<std::int64_t>(fs::file_size(path + "-wal"));
      if (freed) {
        ::unlink(filler.c_str());
        for (int tries = 0; !store.Flush() && tries < 100; ++tries)
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        report(full, static_cast<std::int64_t>(fs::file_size(path + "-wal")));
      } else {
        report(full, -1);
      }
      ::raise(SIGKILL);
    }
    ::close(fds[1]);
    std::vector<std::string> reported;
    std::int64_t r[2] = {0, 0}, logFull = 0, logEnd = 0;
    while (::read(fds[0], r, sizeof r) == sizeof r) {
      if (r[1] == 1)
        reported.push_back("message " + std::to_string(r[0]));
      else
        std::tie(logFull, logEnd) = std::pair(r[0], r[1]);
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    ASSERT_GT(logFull, 0) << "the child never filled the disk";
    ::unlink(filler.c_str());

    const std::vector<std::string> texts = ListedTexts(TMessageStore(path));
    if (freed) {
      EXPECT_EQ(texts.size(), reported.size() + 20);  // the 20 that waited
      EXPECT_LT(logEnd, logFull) << "the log kept its room";
    } else {
      EXPECT_EQ(texts.size(), reported.size());
    }
    EXPECT_EQ(
        std::vector<std::string>(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(reported.size())),
        reported);
  }
}

// Past the memory bound new messages are not held; what refers to them leaves them out, the
// operator hears of it, and the end counts them as lost.
TEST(TDurableStore, PastTheMemoryBoundNewMessagesAreNotHeld) {
  TTempDir dir;
  const std::string point = dir.File("disk");
  ASSERT_EQ(::mkdir(point.c_str(), 0700), 0);
  test::TPrivateTmpfs disk(point, "4m");
  if (!disk.Skip().empty()) GTEST_SKIP() << disk.Skip();
  const std::string path = disk.File("q.db");
  TNotes notes;
  TDurableStore store(path, notes.Handler());
  store.SetHeldBound(3 * (sizeof(TStoredMessage) + 400));  // about three messages
  ASSERT_TRUE(disk.FillUp(disk.File("filler")));
  std::vector<std::int64_t> ids;
  ids.reserve(8);
  for (int n = 0; n < 8; ++n) ids.push_back(store.Add(Msg(n)));
  EXPECT_TRUE(store.Failing());
  EXPECT_EQ(store.Dropped(), 8u - store.Waiting());
  ASSERT_GT(store.Dropped(), 0u);
  // A page carrying held and dropped messages goes to paper.
  const std::int64_t job = store.BeginJob(jkList, {ids.front(), ids.back()}, "Desk", 46000.6, "page");
  store.CompleteJob(job);
  ASSERT_EQ(notes.Lines.size(), 2u) << ::testing::PrintToString(notes.Lines);
  EXPECT_NE(notes.Lines[1].find(" new messages are not kept in the store"), std::string::npos)
      << notes.Lines[1];
  EXPECT_EQ(store.EndOfRunLines(ids).front(), KeptForNextStartText(0, ids.size()));

  ::unlink(disk.File("filler").c_str());
  ASSERT_TRUE(store.Flush());
  EXPECT_TRUE(store.IsKept(ids.front()));
  EXPECT_FALSE(store.IsKept(ids.back()));
  const TStoredJob printed = store.Job(job);
  EXPECT_EQ(printed.State, jsCompleted);
  EXPECT_EQ(printed.Messages, std::vector<std::int64_t>{store.Message(ids.front()).Id});
}

}  // namespace
}  // namespace qm
