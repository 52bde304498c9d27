// The message store as the program keeps it through a failing disk: a store that cannot be
// written is said once, tried again and never lied about. Changes that could not be written
// wait in memory, in their order, and go to the file as soon as it takes them again; until
// then the messages they carry are counted as not kept. A damaged file is moved aside
// (<name>.damaged-<yyyymmdd-hhnnss>) and a new store started. A file deleted or replaced
// under the open store (or its write-ahead log) is noticed before each write and once a
// second, and a fresh store with everything the open one holds is written at the path.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/OwnerThread.h"
#include "store/MessageStore.h"

namespace qm {

// "N unprinted messages are kept for the next start", and how many are not.
std::string KeptForNextStartText(std::size_t kept, std::size_t lost);

class TDurableStore {
 public:
  // A sentence for the operator and the log: a failure or a file moved aside (`trouble`), or
  // the news that it passed.
  using TNoteEvent = std::function<void(const std::string& note, bool trouble)>;

  // The first wait before a failed store is tried again, doubled after each failed try.
  static constexpr std::chrono::milliseconds kFirstRetry{1000};
  static constexpr std::chrono::milliseconds kLastRetry{60000};
  // Messages of an older build added to the text index in one step on the commit thread.
  static constexpr std::size_t kTextIndexStep = 2000;
  // What waited in memory goes to the file in transactions of at most this many changes or
  // bytes, each kept once committed, so a disk that comes back with less room than the
  // backlog keeps what fits and is not filled again by one transaction's log.
  static constexpr std::size_t kBatchChanges = 256;
  static constexpr std::size_t kBatchBytes = 512 * 1024;
  // A list job's messages go to the file this many at a time, each piece a batch of its own
  // (some tens of milliseconds), so messages taken meanwhile do not wait seconds behind a
  // page of a long outage's backlog.
  static constexpr std::size_t kJobPiece = 2000;
  // What changes waiting in memory may take (SetHeldBound); past it new messages are not held
  // (see docs/reliability.md), and the operator hears of it once a minute.
  static constexpr std::size_t kHeldBound = 64 * 1024 * 1024;
  static constexpr std::chrono::seconds kDroppedNoteEvery{60};
  // With the commit thread, a log mark (MarkLogged) alone waits this long for a change to go
  // with, so a steady flow commits once a message, not once for the message and once for
  // its log line. A kill meanwhile only has those lines logged again at the next start.
  static constexpr std::chrono::seconds kMarkWait{5};
  // Less free room than this in the store's folder (asked once a batch) and the write-ahead
  // log is folded into the file and emptied after every batch instead of keeping the room it
  // grew to (up to TCheckpointer::kLogLimitBytes, about 8 MB): the message log beside the
  // store needs that room more. About four times that limit.
  static constexpr std::uintmax_t kLowRoomBytes = 32 * 1024 * 1024;

  // Opens the store at `path`; a failure to open is noted and tried again by Retry().
  explicit TDurableStore(std::string path, TNoteEvent onNote = {});
  ~TDurableStore();  // one last try to write what waits, without notes
  TDurableStore(const TDurableStore&) = delete;
  TDurableStore& operator=(const TDurableStore&) = delete;

  const std::string& Path() const { return FPath; }

  // Hands what a call of the store's thread has for the owner to the owner's thread.
  using TPost = std::function<void(std::function<void()> call)>;
  // From now on new messages, full texts, log marks and jobs (their start, their text, their
  // fate) are committed on a thread of the store's own, what waits going in bounded
  // transactions, in their order but for a new message, which goes ahead of the jobs' and
  // marks' changes still waiting (a long job's pieces); Add and BeginJob return an id of their
  // own (negative) at once, and the message counts as kept (IsKept) once its commit returned;
  // a change refused there is noted instead of thrown. Every other change (a clear) and read
  // first waits until what was queued is committed (or the store fails), then runs as before;
  // HasRepeatSince also sees what is queued. The notes
  // of the thread reach the owner through `post`. While nothing waits, the thread adds the
  // messages of an older build to the text index, a step at a time (TMessageStore::
  // FillTextIndex). Called once, from the owner's thread.
  void CommitOnThread(TPost post);
  // Called through the post of CommitOnThread each time the thread's try at a batch has
  // returned (committed or failed); set before CommitOnThread.
  void OnCommitReturned(std::function<void()> call) { FOnReturned = std::move(call); }
  // Whether the try at the message `id` (as Add returned it) has returned: it is in the file,
  // the store refused it, or it waits in memory because the store fails.
  bool Settled(std::int64_t id) const;

  // The changes of TMessageStore. Each is written at once when the store takes it; otherwise
  // it waits in memory behind the ones before it. Add and BeginJob return the id to use in
  // later calls: negative while the message or job waits in memory. A change the store
  // refuses (an unknown id) throws as TMessageStore's does; a failing disk never throws.
  std::int64_t Add(const TStoredMessage& message, const TNwsEnding& ending = {});
  void SetFullText(std::int64_t id, const std::string& text, bool toPrint = true);
  // TMessageStore::EndNwsAlerts, queued behind the messages before it.
  void EndNwsAlerts(const TStoredMessage& by, const TNwsEnding& ending);
  // Queued like a full text: the acknowledgement goes out only once the message is kept.
  void SetAnswered(std::int64_t id, const std::string& answered);
  std::int64_t BeginJob(TJobKind kind, const std::vector<std::int64_t>& messages, const std::string& printer,
                        double utcTime, const std::string& document, const std::string& token = {});
  // Queued like a full text: the alarms of `ids` (as Add handed them out) that still sound are
  // acknowledged by `by` at `where` at `utc`.
  void AcknowledgeAlarms(const std::vector<std::int64_t>& ids, const std::string& by,
                         const std::string& where, double utc);
  void SetSpoolerJob(std::int64_t job, std::int64_t spoolerJob);
  // The text of a page begun before it was laid out; before its page leaves.
  void SetJobDocument(std::int64_t job, std::string document);
  void CompleteJob(std::int64_t job);
  void FailJob(std::int64_t job, const std::string& failure);
  // Clears the messages this run listed (a store opened late keeps an earlier run's for the
  // next start). Returns how many were cleared now; 0 when the change waits.
  // `keep`: a message (as Add handed it out) still on its way to the list, which stays.
  int ClearListed(std::int64_t keep = 0);
  int FailPendingWithoutSpooler(const std::string& failure);  // 0 when it waits
  // Messages whose log line is written; with the commit thread it goes with the next change,
  // or alone after kMarkWait (at once when the owner reads or flushes).
  void MarkLogged(const std::vector<std::int64_t>& ids);
  // Skipped (0) while the store fails: a purge can wait for a day.
  int Purge(double utcCutoff);

  // What the file holds; empty while no store is open. Ids still waiting in memory are
  // unknown to the file (Message and Job throw for them).
  std::vector<TStoredMessage> Listed() const;
  std::vector<TStoredMessage> FullTextsUnprinted() const;
  std::vector<TStoredMessage> Messages(const std::vector<std::int64_t>& ids) const;
  TStoredMessage Message(std::int64_t id) const;
  std::vector<TStoredJob> PendingJobs() const;
  TStoredJob Job(std::int64_t id) const;
  // TMessageStore::JobByNumber, once what is held is written.
  std::optional<TStoredJob> JobByNumber(std::int64_t number) const;
  std::vector<TStoredMessage> Unlogged() const;
  // The messages whose alarm still sounds in the file, oldest first.
  std::vector<TStoredMessage> Sounding() const;
  // The sent messages, written at once (what was queued before them first): a message goes
  // out only once the file holds it, and its end is in the file before it is logged. While
  // the store fails they throw (ekStorage), and nothing waits in memory. A store repaired
  // past damage or started anew gets the messages still being sent back, and their numbers
  // are never given again.
  // With `listingFor`, also the row that lists it as the desk's own traffic, in the same
  // transaction (TMessageStore::AddSent); its id, as the file gave it, goes to `listedId`.
  TSentMessage AddSent(const TSentMessage& message, const std::function<std::string(std::int64_t)>& numberFor,
                       const TMessageStore::TListingFor& listingFor = {}, std::int64_t* listedId = nullptr);
  void UpdateSent(const TSentMessage& message);
  std::vector<TSentMessage> SentSince(double sinceUtc) const;
  // TMessageStore::HasRepeatSince, also over the messages still waiting in memory.
  bool HasRepeatSince(const TStoredMessage& m, bool byNumber, double utcFrom, double utcBefore) const;
  // The store for reading (the history), or null while none was ever opened; what was queued
  // for the commit thread is committed first. The object stays the same for the run; its
  // calls throw while it is closed.
  TMessageStore* Store() {
    Drain();
    return FStore.get();
  }

  // Waits until what was queued for the commit thread has returned (committed, or waiting in
  // memory because the store fails).
  void WaitForCommits() const { Drain(); }
  // Called often (each second): whether the files are still in place, and while the store
  // fails, another try once its wait is over.
  void Retry();
  // One try now; true when nothing waits.
  bool Flush();

  // The memory bound of the changes waiting while the store fails (kHeldBound unless set).
  void SetHeldBound(std::size_t bytes);
  // Free room in the store's folder below which the log is emptied after every batch
  // (kLowRoomBytes unless set).
  void SetLowRoom(std::uintmax_t bytes);
  // How long a log mark alone waits for company (kMarkWait unless set).
  void SetMarkWait(std::chrono::milliseconds wait);
  // New messages not held because the bound was reached; none of them is in the file.
  std::size_t Dropped() const;

  bool Failing() const;
  // Whether the commit thread found every message in the store's text index.
  bool TextIndexed() const;
  // Changes waiting in memory (with the commit thread, also those queued for it).
  std::size_t Waiting() const;
  // Whether the message with this id (as Add returned it) is in the file.
  bool IsKept(std::int64_t id) const;
  // The id the file gave the message `id` (as Add returned it); 0 while it is not in the file.
  std::int64_t IdInFile(std::int64_t id) const;
  // The end of a run: one more try, then the lines that say how many of the listed messages
  // (their ids) are kept for the next start and how many are lost.
  std::vector<std::string> EndOfRunLines(const std::vector<std::int64_t>& listed);

 private:
  // One change as it waits: its kind and what it carries.
  struct TChange {
    enum class TOp {
      opAdd,
      opSetFullText,
      opSetAnswered,
      opAcknowledgeAlarms,
      opBeginJob,
      opAddToJob,
      opSetJobDocument,
      opPrintPiece,
      opSetSpoolerJob,
      opCompleteJob,
      opFailJob,
      opClear,
      opFailPending,
      opMarkLogged,
      opEndNwsAlerts
    };
    using enum TOp;
    TOp Op = opAdd;
    std::int64_t Id = 0;  // the message or job as handed out
    TStoredMessage Message;
    TNwsEnding Ending;  // opAdd, opEndNwsAlerts
    std::string Text;   // full text, failure, document, or who acknowledged
    std::string Token;
    std::string Place;  // where an alarm was acknowledged
    TJobKind Kind = jkList;
    std::vector<std::int64_t> Messages;
    std::string Printer;
    double UtcTime = 0;
    std::int64_t SpoolerJob = 0;
    std::int64_t Position = 0;  // opAddToJob, opPrintPiece, opCompleteJob: the first message's
    std::int64_t Until = 0;     // opPrintPiece: the position past its last message
    bool ToPrint = true;        // a full text to print
  };
  std::int64_t Submit(TChange change);
  // `made`: where the file's ids of new messages and jobs go (null: the maps of the store).
  using TIdMap = std::map<std::int64_t, std::int64_t>;
  std::int64_t Apply(const TChange& change, TIdMap* madeMessages = nullptr, TIdMap* madeJobs = nullptr);
  static bool Queued(const TChange& change);
  void Drain() const;
  void CommitThread();
  // Tells the owner that a try at a batch has returned.
  void Returned() const;
  // One step of TMessageStore::FillTextIndex, on the commit thread while nothing else waits.
  void FillTextIndex(std::unique_lock<std::recursive_mutex>& guard);
  std::int64_t MessageInFile(std::int64_t id) const;
  std::int64_t JobInFile(std::int64_t id) const;
  bool IsOpen() const { return FStore && FStore->IsOpen(); }
  bool Open();
  bool InPlace();
  bool WriteFresh(const std::string& what);
  bool WriteHeld();
  void StartFailing(const std::string& reason);
  // A change or a read found the file damaged: its indexes rebuilt in place, or, the second
  // time or when that fails, what it holds carried into a new store put in its place. True
  // when an open store is ready to try again.
  bool Repair(const std::string& reason);
  // Carries what the damaged file at the path holds into a new file put in its place, the
  // damaged one moved aside, and says so; false when it could not (nothing read, or a file
  // not moved). Leaves the store closed.
  bool CarryOverDamaged(const std::string& reason);
  // Runs a read, repairing the store once when it finds damage.
  template <class TRead>
  auto Reading(TRead read) const;
  static std::size_t Footprint(const TChange& change);
  void Hold(TChange change);
  void Release(std::size_t count);
  // The store takes writes again after failing; `stored`: the changes that waited for it.
  void Recovered(std::size_t stored);
  void Note(const std::string& text, bool trouble = true) const;
  // Whether the store's folder has less than SetLowRoom's bound free; a folder that cannot
  // tell counts as short.
  bool ShortOfRoom() const;

  std::string FPath;
  TNoteEvent FOnNote;
  std::unique_ptr<TMessageStore> FStore;
  std::deque<TChange> FHeld;
  // Ids handed out for what waited in memory, and the ids the file gave them.
  std::int64_t FLastHeldMessage = 0, FLastHeldJob = 0;
  std::map<std::int64_t, std::int64_t> FMessageIds, FJobIds;
  // The sent messages still being sent, as last written or read, and the highest sent id seen:
  // a store started anew or carried over past damage gets them back whole at its opening, and
  // gives none of their numbers out again.
  mutable std::map<std::int64_t, TSentMessage> FSending;
  mutable std::int64_t FLastSentId = 0;
  void NoteSent(const TSentMessage& message) const;
  // Writes back what FSending holds; a failure leaves it for the next opening or change.
  void PutBackSent();
  // Clear only from here: 0 when the store opened at the start, else the first id of this run.
  std::int64_t FClearFrom = 0;
  bool FOpenedOnce = false;
  bool FFailing = false;
  std::size_t FWrittenWhileFailing = 0;
  std::chrono::milliseconds FRetryWait = kFirstRetry;
  std::chrono::steady_clock::time_point FNextTry{};
  // With the commit thread: the state above is the guard's (the thread commits without it);
  // the batch being committed stays at the front of FHeld until its commit returned.
  mutable std::recursive_mutex FGuard;
  mutable std::condition_variable_any FChanged;
  TPost FPost;
  std::function<void()> FOnReturned;
  std::thread FThread;
  // The thread that called CommitOnThread: the changes and the notes are its.
  TOwnerThread FOwner;
  std::size_t FInFlight = 0;
  std::uint64_t FAttempts = 0;  // batches tried
  bool FLastTryFailed = false;
  bool FCheck = false;  // the files are to be checked
  bool FStop = false;
  bool FTextIndexed = false;      // every message is in the store's text index, or it cannot be
  bool FRepairedInPlace = false;  // since the last change that went through
  std::size_t FHeldBytes = 0, FHeldBound = kHeldBound;
  std::atomic<std::uintmax_t> FLowRoom{kLowRoomBytes};
  // Of FHeld: the log marks, since when the oldest of them waits, and the other changes.
  std::size_t FMarksHeld = 0, FOthersHeld = 0;
  std::chrono::steady_clock::time_point FMarksSince{};
  std::chrono::milliseconds FMarkWait = kMarkWait;
  mutable bool FFlushMarks = false;  // the owner waits for them (Drain, Flush)
  std::set<std::int64_t> FDropped;
  // List jobs begun in pieces (as BeginJob handed them out) and how many messages they carry:
  // their completion goes in pieces too. The owner's only.
  std::map<std::int64_t, std::size_t> FPiecedJobs;
  std::size_t FDroppedSinceNote = 0;
  std::chrono::steady_clock::time_point FNextDroppedNote{};
};

}  // namespace qm
