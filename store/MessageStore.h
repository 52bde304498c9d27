// The durable message list: every accepted message with its entry lines, its kind and times,
// and where it stands on the way to paper, kept in an SQLite database (WAL, one transaction
// per change). The window's list is a view of the messages not yet confirmed printed; after a
// crash they come back at the next start. Print jobs are recorded with the messages they carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

struct sqlite3;

namespace qm {

// A failure of the store (open, read or write); what() names the file and SQLite's reason.
class EMessageStoreError : public std::runtime_error {
 public:
  enum class TKind {
    ekRefused,  // the change itself is wrong (an unknown id, a store of a later version)
    ekStorage,  // the disk or the file system failed (full, read-only, I/O): worth another try
    ekDamaged,  // the file is no message store or not a sound one
  };
  using enum TKind;
  explicit EMessageStoreError(const std::string& what, TKind kind = ekRefused)
      : std::runtime_error(what), FKind(kind) {}
  TKind Kind() const { return FKind; }

 private:
  TKind FKind;
};

// The number a state or kind is written as in the store's tables.
template <class TEnum>
requires std::is_enum_v<TEnum>
constexpr int StoredNumber(TEnum value) {
  return static_cast<int>(value);
}

// Where a message stands on its way to paper.
enum class TPrintState : int {
  psUnprinted = 0,  // listed, in no job (or its job failed)
  psInJob = 1,      // listed, in a job the spooler has not yet confirmed
  psPrinted = 2,    // its job was confirmed; no longer listed
  psCleared = 3,    // the operator cleared the list; no longer listed, never printed
};
using enum TPrintState;

// How a job ended, or that it has not yet.
enum class TJobState : int { jsPending = 0, jsCompleted = 1, jsFailed = 2 };
using enum TJobState;

// An alarm a message raised: none, sounding until someone acknowledges it, or acknowledged.
enum class TAlarmState : int { asNone = 0, asSounding = 1, asAcknowledged = 2 };
using enum TAlarmState;

// What a job printed: a page of the message list, or one message's NWS full text.
enum class TJobKind : int { jkList = 0, jkFullText = 1 };
using enum TJobKind;

// What became of a kept NWS alert: still in force, cancelled by its office, or replaced by a
// later alert of the same office for the same event and areas. Expiry is no state of its own:
// it follows from the expiry kept and the clock, so it holds after a restart too.
enum class TNwsState : int { nsLive = 0, nsCancelled = 1, nsSuperseded = 2 };
using enum TNwsState;

// Where a message the desk sent stands: sent and waiting for its answer (resent meanwhile), or
// ended by the other side's ack or rej, by the desk giving up, or by the operator.
enum class TSentState : int {
  ssSending = 0,
  ssAcknowledged = 1,
  ssRejected = 2,
  ssGaveUp = 3,
  ssCancelled = 4
};
using enum TSentState;
// The state as the board and the window name it.
constexpr const char* SentStateName(TSentState state) {
  switch (state) {
    case ssSending:
      return "sending";
    case ssAcknowledged:
      return "acknowledged";
    case ssRejected:
      return "rejected";
    case ssGaveUp:
      return "gave up";
    case ssCancelled:
      return "cancelled";
  }
  return "?";
}

// A message the desk sent, as the store keeps it.
struct TSentMessage {
  std::int64_t Id = 0;  // given by AddSent
  std::string To, Text;
  std::string Number;     // its message number, made from Id by AddSent
  double CreatedUtc = 0;  // day counts from 1899-12-30
  TSentState State = ssSending;
  int Tries = 0;
  double LastTryUtc = 0;  // 0 while never sent
  double EndedUtc = 0;    // 0 while sending
  std::string Source;     // the source it goes out on ("KISS 127.0.0.1:8001")
};

// Where a sent message stands, in the words the window and the board show beside it:
// "acknowledged at 22:52 UTC after 2 tries", "gave up after 6 tries".
std::string SentStateText(const TSentMessage& m);

struct TStoredMessage {
  std::int64_t Id = 0;   // given by Add
  double LocalTime = 0;  // when the entry was built: day counts from 1899-12-30
  double UtcTime = 0;
  std::string Source;       // FullCall of the sender
  std::string Destination;  // FullCall
  std::string Path;
  std::string Addressee;
  std::string MessageText;
  std::string MessageId;
  int Kind = 0;                     // TAprsMsgKind
  std::string State;                // NWS state code, else empty
  std::string RawText;              // the packet as logged
  std::string Line1, Line2, Line3;  // the entry's three lines as listed
  TPrintState PrintState = psUnprinted;
  std::int64_t JobId = 0;       // the last list job that carried it; 0: none
  std::int64_t SpoolerJob = 0;  // that job's number at the spooler; 0: none known (read only)
  // The NWS full text fetched by Finger; FullTextWanted tells a fetched empty reply from
  // none, FullTextPrinted whether a job holding it was confirmed.
  bool FullTextWanted = false;
  std::string FullText;
  bool FullTextPrinted = false;
  // When and where it was acknowledged ("14:05:33 on KISS 127.0.0.1:8001", local time); empty:
  // not acknowledged (answering off, or the send failed).
  std::string Answered;
  // The alarm it raised, kept in the commit that keeps the message (Add writes Alarm and
  // AlarmKind); who acknowledged it (an account, a board key's name), where ("board",
  // "command line", "window") and when (UTC), once someone did.
  TAlarmState Alarm = asNone;
  int AlarmKind = 0;  // TAlarmKind
  std::string AcknowledgedBy, AcknowledgedWhere;
  double AcknowledgedUtc = 0;
  // An NWS alert read in plain words as it was kept; NwsEvent empty: not an alert, or one
  // whose text did not read (kept all the same). NwsAreas: the areas' names joined by "; ";
  // NwsExpiresUtc 0: no expiry given; NwsWords: the whole line as shown.
  std::string NwsEvent, NwsAreas, NwsWords;
  double NwsExpiresUtc = 0;
  TNwsState NwsState = nsLive;

  bool operator==(const TStoredMessage&) const = default;
};

// What a newly kept NWS alert makes of the live alerts kept before it (in the last
// kNwsEndingDays) from the same sender with the same event and areas and another message
// number: Makes nsCancelled (a cancel) or nsSuperseded (an update); nsLive: nothing. Only
// those to the addressee category Category (the word after "NWS-"; empty: any) are ended,
// never those of the category Spared.
struct TNwsEnding {
  TNwsState Makes = nsLive;
  std::string Category, Spared;
};
inline constexpr double kNwsEndingDays = 7;

struct TStoredJob {
  std::int64_t Id = 0;
  TJobKind Kind = jkList;
  double UtcTime = 0;           // when it was handed to the printer
  std::string Printer;          // the printer's name; empty: the system default / a file
  std::int64_t SpoolerJob = 0;  // the spooler's job number; 0: none known
  TJobState State = jsPending;
  std::string Failure;                 // why it failed
  std::string Document;                // the text as it was printed
  std::vector<std::int64_t> Messages;  // the messages it carries, in printed order
  // What the spooler keeps with the job to find it by (its job-uuid); empty for jobs of
  // older builds, which cannot be found that way.
  std::string Token;

  bool operator==(const TStoredJob&) const = default;
};

// The number the operator sees a message's job by and types to reprint it: the spooler's,
// or for a page the spooler never numbered (written to a file) the store's; 0: no job.
inline std::int64_t JobNumber(const TStoredMessage& m) {
  return m.SpoolerJob > 0 ? m.SpoolerJob : m.JobId;
}

// The message kinds as stored (the parser's numbers; the desk checks that they agree).
inline constexpr int kStoredPersonal = 1;
inline constexpr int kStoredBulletin = 2;
inline constexpr int kStoredAnnouncement = 3;
inline constexpr int kStoredNwsAlert = 4;

// What the history window may narrow the kind to; NWS alerts by their category (addressee).
enum class THistoryKind : int {
  hkAll = 0,
  hkPersonal,
  hkBulletin,
  hkAnnouncement,
  hkNwsWatch,
  hkNwsWarning,
  hkNwsAdvisory,
};
using enum THistoryKind;

struct THistoryFilter {
  // The sender or the addressee: a callsign, or its start followed by "*" as in the station
  // list; ASCII case does not matter. Empty: any.
  std::string Callsign;
  THistoryKind Kind = hkAll;
  // Found in the message text or its full text, ASCII case ignored; "%" and "_" are plain
  // characters. Empty: any.
  std::string Text;
};

// How long a line stays on the bulletin board after its newest copy came.
struct TBulletinAges {
  double BulletinHours = 4;
  double AnnouncementHours = 96;
  bool operator==(const TBulletinAges&) const = default;
};

// One line of the bulletin board: its newest copy.
struct TBulletinLine {
  std::int64_t Id = 0;  // the copy's message
  std::string From;     // the sender as sent
  std::string LineId;   // "BLN1", "BLN1WX", "BLNA": the addressee, trimmed and upper-cased
  int Kind = 0;         // kStoredBulletin or kStoredAnnouncement
  std::string Text;
  double UtcTime = 0;
  bool operator==(const TBulletinLine&) const = default;
};

// One line of the communications log: when (UTC), from whom, to whom, what. Outgoing: the
// desk's own traffic, which the caller hands in; what the store kept came in.
struct TLogRow {
  double UtcTime = 0;
  std::string From, To, Text;
  bool Outgoing = false;
  bool operator==(const TLogRow&) const = default;
};

class TCheckpointer;

// Text fields hold the program's single-byte text as it is (any byte, NUL included).
// Its calls may come from several threads: each waits for the one before (a batch for all of
// its changes). The write-ahead log is
// checkpointed on a thread of the store's own (TCheckpointer), so a commit never waits for
// one.
class TMessageStore {
 public:
  // PRAGMA user_version of the stores this build makes; older ones are migrated on open.
  static constexpr int kSchemaVersion = 1;

  // Opens (creating when missing) the database file; WAL journal, foreign keys on.
  // Throws EMessageStoreError when the file cannot be opened (ekStorage), is not a sound
  // message store (ekDamaged: no database, another program's, or failing SQLite's quick
  // check) or one of a later version (ekRefused). An empty file counts as a new store; any
  // other file is left untouched.
  explicit TMessageStore(const std::string& path);
  ~TMessageStore();
  TMessageStore(const TMessageStore&) = delete;
  TMessageStore& operator=(const TMessageStore&) = delete;

  const std::string& Path() const { return FPath; }
  // Closes the file and opens it again in this same object (the history keeps a pointer to
  // it), as the constructor does; when that throws the object stays closed and its calls
  // throw EMessageStoreError (ekStorage) until a Reopen succeeds.
  void Reopen();
  bool IsOpen() const { return FStatements != nullptr; }
  // Closes the file (its log folded in when this is the last connection); calls throw until
  // a Reopen.
  void Close();

  // Keeps a newly accepted message as unprinted, with its full text when FullTextWanted
  // (PrintState, JobId, FullTextPrinted and NwsState are ignored), and ends the earlier
  // alerts `ending` names; returns its id. One transaction.
  std::int64_t Add(const TStoredMessage& message, const TNwsEnding& ending = {});
  // Ends the earlier alerts `ending` names for an alert that is not kept (a cancel the
  // operator does not list): `by` gives its sender, number, time, event and areas.
  void EndNwsAlerts(const TStoredMessage& by, const TNwsEnding& ending);
  // Records a fetched full text (possibly empty) for message `id`, as not yet printed, or,
  // when it is not to be printed (printing disabled), as never to be printed: it then never
  // comes back for paper and is purged with its message. Throws EMessageStoreError when the
  // id is unknown (as do the job calls below).
  void SetFullText(std::int64_t id, const std::string& text, bool toPrint = true);
  // When and where the message was acknowledged, once the acknowledgement went out.
  void SetAnswered(std::int64_t id, const std::string& answered);
  // The alarms of `ids` that still sound are acknowledged by `by` at `where` at `utc`; returns
  // how many were. Ids that name no sounding alarm are left as they are.
  int AcknowledgeAlarms(const std::vector<std::int64_t>& ids, const std::string& by, const std::string& where,
                        double utc);
  // The messages whose alarm still sounds, oldest first.
  std::vector<TStoredMessage> Sounding() const;

  // Keeps a message the desk is about to send (Id and Number ignored): its number is
  // numberFor(its id), written in the same transaction, the id past `afterId` too (the ids a
  // store started anew after damage never gave out). Returns it as kept.
  // With `listingFor`, the row it makes of the message as kept (its number given) is written
  // into the messages in the same transaction, as the desk's own traffic: listed for the next
  // page, counted as logged (the sending's own lines log it) and left out of what was heard (a
  // repeat's question, the communications log's incoming rows); its id goes to `listedId`.
  using TListingFor = std::function<TStoredMessage(const TSentMessage&)>;
  TSentMessage AddSent(const TSentMessage& message, const std::function<std::string(std::int64_t)>& numberFor,
                       std::int64_t afterId = 0, const TListingFor& listingFor = {},
                       std::int64_t* listedId = nullptr);
  // Writes a sent message's state, tries, last try and end; an unknown id is refused.
  void UpdateSent(const TSentMessage& message);
  // Writes each message whole under its own id where the store lacks that id (one lost with
  // damaged pages, or a store started anew), and gives no id up to `lastId` again.
  void PutBackSent(const std::vector<TSentMessage>& messages, std::int64_t lastId);
  // The messages sent from `sinceUtc` on, and every one still sending, oldest first.
  std::vector<TSentMessage> SentSince(double sinceUtc) const;

  // The messages still listed (psUnprinted and psInJob), oldest first.
  std::vector<TStoredMessage> Listed() const;
  // Full texts fetched but never confirmed printed, oldest first.
  std::vector<TStoredMessage> FullTextsUnprinted() const;
  // Messages with their fields, in the order asked; unknown ids are left out.
  std::vector<TStoredMessage> Messages(const std::vector<std::int64_t>& ids) const;
  TStoredMessage Message(std::int64_t id) const;  // throws EMessageStoreError when unknown
  // The ids of every kept message the filter lets through, newest first (by UTC time, then
  // the later kept first); only the newest `limit` when it is not 0.
  std::vector<std::int64_t> FindMessages(const THistoryFilter& filter, std::size_t limit = 0) const;
  // The ids of at most `limit` messages kept after the message `after`, in the order kept.
  std::vector<std::int64_t> IdsAfter(std::int64_t after, std::size_t limit) const;

  // A new pending job carrying `messages` (list job: those still listed become psInJob with
  // this JobId, printed or cleared ones stay so; full-text job: the one message's full text).
  // One transaction; returns the job's id. An unknown message id throws and records nothing.
  std::int64_t BeginJob(TJobKind kind, const std::vector<std::int64_t>& messages, const std::string& printer,
                        double utcTime, const std::string& document, const std::string& token = {});
  // More messages of a list job, from `position` on in its order.
  void AddToJob(std::int64_t job, const std::vector<std::int64_t>& messages, std::int64_t position);
  void SetSpoolerJob(std::int64_t job, std::int64_t spoolerJob);
  // The page's text, for a job begun before it was laid out.
  void SetJobDocument(std::int64_t job, const std::string& document);
  // The spooler confirmed the job: its list messages become psPrinted (JobId this job), a
  // full text printed. Also for a job failed earlier (a late confirmation); paper is paper.
  void CompleteJob(std::int64_t job);
  // Of a list job the spooler confirmed, the messages at positions [from, to) counted printed
  // ahead of CompleteJob, so that no one transaction carries a long page's every message;
  // CompleteJob(job, from) then does the rest.
  void PrintJobPiece(std::int64_t job, std::int64_t from, std::int64_t to);
  void CompleteJob(std::int64_t job, std::int64_t from);
  // The job was refused, aborted or cancelled: its list messages that are still psInJob in
  // this job go back to psUnprinted; the failure is kept with the job. A completed job
  // cannot fail (throws); failing a failed job again only replaces its failure text.
  void FailJob(std::int64_t job, const std::string& failure);
  std::vector<TStoredJob> PendingJobs() const;
  TStoredJob Job(std::int64_t id) const;  // throws EMessageStoreError when unknown
  // The job the operator names by `number`, as the history, the log and the spooler show it:
  // the newest with that spooler number, else one the spooler never numbered with that id.
  std::optional<TStoredJob> JobByNumber(std::int64_t number) const;

  // The operator cleared the list: every psUnprinted message from id `fromId` on becomes
  // psCleared. Messages in a pending job stay as they are until the job ends: printed when it
  // completes, cleared when it fails. `keep` (an id, or 0) stays as it is: an entry not yet
  // listed when the operator cleared. Returns how many were cleared at once.
  int ClearListed(std::int64_t fromId = 0, std::int64_t keep = 0);
  // The highest message id given so far (0: none).
  std::int64_t LastMessageId() const;
  // Whether a message like `m` was stored at or after `utcFrom`, so a repeat is known across
  // a restart (stored from `utcFrom` to before `utcBefore`): by the sender (any case) and message number when
  // `byNumber` (an empty number never matches), else by the sender, the addressee (blanks trimmed) and the
  // text.
  bool HasRepeatSince(const TStoredMessage& m, bool byNumber, double utcFrom, double utcBefore) const;
  // At start: jobs still pending from an earlier run whose spooler job is unknown (0) and
  // that carry no token to find them by are failed with `failure`, so their messages are
  // listed as unprinted again. Returns how many.
  int FailPendingWithoutSpooler(const std::string& failure);

  // The bulletin board at `utcNow`: per sender and line ID (any case) the newest copy that is
  // not older than its kind's age; bulletins first, then announcements, each by sender and
  // ID. A line the operator cleared stays off it while its newest copy says the same.
  std::vector<TBulletinLine> BulletinBoard(double utcNow, const TBulletinAges& ages) const;
  // The operator cleared the line `lineId` of `from` (any case): its copies on the board are
  // marked so. One transaction; returns how many copies were marked (0: no such line).
  int ClearBulletin(const std::string& from, const std::string& lineId, double utcNow,
                    const TBulletinAges& ages);

  // Messages whose log line was never written (a kill between keeping and logging), oldest
  // first; messages kept by older builds count as logged.
  std::vector<TStoredMessage> Unlogged() const;
  // Their log lines are in the log file now. One transaction.
  void MarkLogged(const std::vector<std::int64_t>& ids);
  // How far the marks go before the store looks again for the first message still unlogged,
  // which a start reads from (every message before it is logged).
  static constexpr std::int64_t kLoggedUptoStep = 256;

  // Deletes messages and jobs older than `utcCutoff` that are no longer listed (printed or
  // cleared); listed messages are never purged, nor messages in a pending job or with a full
  // text not yet printed, nor jobs still carrying a kept message. Sent messages made before
  // the cutoff go once they have ended. The cutoff moves back by as
  // much as the wall clock reads ahead of what the steady clock backs (TTrustedClock).
  // Returns how many messages went.
  int Purge(double utcCutoff);

  // Whether the path still names the open file and its write-ahead log: empty when it does,
  // else what happened ("deleted", "replaced", each of the file or of its log). Two stat
  // calls; on Windows, where open files cannot be deleted, always empty.
  std::string Displaced() const;
  // Writes a complete copy of the store, as this connection sees it, to a new file `target`
  // (SQLite's backup). Throws EMessageStoreError.
  void CopyTo(const std::string& target) const;

  // Runs `changes` (calls of this store) in one transaction: each keeps its own all-or-nothing
  // (a refused one leaves nothing and the others go on), and one commit syncs them all. What
  // `changes` throws rolls all of them back and is thrown again, as is a failed commit.
  void Batch(const std::function<void()>& changes);

  // Adds up to `rows` of the messages a store held before its text index existed (made by an
  // older build) to the index, the newest first, in one transaction; until all are in it a
  // text filter reads every message. True once the index holds every message (or there is
  // none: no FTS5 in this SQLite).
  bool FillTextIndex(std::size_t rows);
  // New messages join the text index in batches: after a commit that leaves kTextIndexBatch
  // of them outside it, they are added in one transaction of their own on the committing
  // thread (a failure leaves them for the next batch). Until then a text search checks each
  // of them as it checks the messages the index names, so it finds every kept message. Each
  // batch is a segment of the index that later merges rewrite: over 2,000 adds, batches of
  // 100 cost about nine times the instructions of batches of 1,000, whose unindexed
  // messages a search checks in about a millisecond.
  static constexpr std::size_t kTextIndexBatch = 1000;
  // Adds every message not yet in the text index; returns how many.
  std::size_t IndexNewText();
  // IndexNewText once kTextIndexBatch messages wait, its failure left for the next batch. An
  // Add outside a Batch calls it; a Batch leaves it to its caller (TDurableStore calls it
  // once the batch's news is out).
  void IndexWhenDue();
  // Adds the message's row inside the caller's transaction; its id.
  std::int64_t InsertMessage(const TStoredMessage& m);

  // Checkpoints of the store's own thread that copied pages since the file was opened.
  std::uint64_t Checkpoints() const;
  // Since the file was opened: the times the store's thread was asked to checkpoint, and the
  // checkpoints the writer made itself (the log passed the threshold again before it could
  // start over).
  struct TCheckpointsAsked {
    std::uint64_t OfTheThread = 0, ByTheWriter = 0;
    bool operator==(const TCheckpointsAsked&) const = default;
  };
  TCheckpointsAsked CheckpointsAsked() const;
  // Copies the whole write-ahead log into the store and empties it, giving its room back to
  // the disk; false when a reader holds it or the disk fails.
  bool TruncateLog();

  // Rebuilds what SQLite can rebuild from the tables, for damage confined to an index (a
  // change or a read failed with SQLITE_CORRUPT): first the text index's triggers go, so
  // changes no longer touch it; then every index is rebuilt (REINDEX) and the text index
  // emptied, to be filled again a step at a time (FillTextIndex). Returns what was rebuilt.
  // Throws EMessageStoreError when SQLite cannot (the damaged pages themselves cannot be
  // read): the store is then to be carried over (CarryOver).
  std::string RepairInPlace();

 private:
  struct TFileId {
    std::uint64_t Device = 0, Inode = 0;
    bool operator==(const TFileId&) const = default;
  };
  static TFileId FileIdOf(const std::string& path);
  struct TStatements;
  void OpenFile();
  TStatements& S() const;  // throws while closed
  void RememberFiles();
  // The statement of Add and EndNwsAlerts, inside their transaction: alerts before id `before`.
  void EndEarlierAlerts(const TStoredMessage& m, std::int64_t before, const TNwsEnding& ending);

  std::string FPath;
  sqlite3* FDb = nullptr;
  TFileId FDbFile, FWalFile;  // as opened; zero: unknown
  std::unique_ptr<TStatements> FStatements;
  std::unique_ptr<TCheckpointer> FCheckpointer;  // null: the writer checkpoints as it commits
  mutable std::recursive_mutex FUse;
  std::int64_t FLoggedCheckAt = 0;  // marks past this move logged_upto on
  std::size_t FNotIndexed = 0;      // messages added since the text index's last batch, about
};

// What CarryOver brought into the new store.
struct TCarriedOver {
  std::size_t Messages = 0;
  std::size_t Listed = 0;  // of them, still on their way to paper
  std::size_t Jobs = 0;
  std::size_t Sent = 0;  // messages the desk sent
  // Rows asked for that could not be read (damaged pages); each may or may not have held one.
  std::size_t Unreadable = 0;
};

// Copies every row of the damaged store at `from` that can still be read (messages with their
// states, jobs with the messages they carry, the id sequences) into a new store at `to`, by
// reading the tables themselves in id order and never an index; a damaged page is skipped
// and the reading goes on past it. The new store gets its indexes and its text index when it
// is next opened (the text index filled a step at a time). `to` is written in one
// transaction and is whole once this returns. Throws EMessageStoreError when `from` cannot be
// read at all (its schema is damaged) or `to` cannot be written.
TCarriedOver CarryOver(const std::string& from, const std::string& to);

// The history's questions asked away from the window: a read-only connection of its own to a
// store file (the write-ahead log lets it read while the store writes). One thread at a time.
class THistoryReader {
 public:
  // Throws EMessageStoreError when the file cannot be opened.
  explicit THistoryReader(const std::string& path);
  ~THistoryReader();
  THistoryReader(const THistoryReader&) = delete;
  THistoryReader& operator=(const THistoryReader&) = delete;

  // Asked now and then while a question runs, on its thread: true cuts it short, and it
  // throws EMessageStoreError. Empty: never.
  void StopWhen(std::function<bool()> stop);
  // As TMessageStore::FindMessages.
  std::vector<std::int64_t> FindMessages(const THistoryFilter& filter, std::size_t limit = 0) const;
  // As TMessageStore::BulletinBoard.
  std::vector<TBulletinLine> BulletinBoard(double utcNow, const TBulletinAges& ages) const;
  // The messages kept from `fromUtc` up to, not including, `toUtc`, oldest first.
  std::vector<TLogRow> ReceivedBetween(double fromUtc, double toUtc) const;
  // The messages this desk sent as `ownCall` in the same period, oldest first.
  std::vector<TLogRow> SentBetween(double fromUtc, double toUtc, const std::string& ownCall) const;

 private:
  std::string FPath;
  sqlite3* FDb = nullptr;
  std::function<bool()> FStop;
};

}  // namespace qm
