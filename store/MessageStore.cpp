#include "store/MessageStore.h"

#include <limits>

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <mutex>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "base/PrivateFiles.h"
#include "base/TrustedClock.h"
#include "store/Checkpointer.h"
#include "store/SqliteKit.h"
#include "store/StoreSchema.h"
#include "store/StoreStatements.h"
#include "store/TextIndex.h"

namespace qm {

using namespace sql;

namespace {

TStoredMessage ReadMessage(const TUse& row) {
  TStoredMessage m;
  m.Id = row.Int(0);
  m.LocalTime = row.Real(1);
  m.UtcTime = row.Real(2);
  m.Source = row.Text(3);
  m.Destination = row.Text(4);
  m.Path = row.Text(5);
  m.Addressee = row.Text(6);
  m.MessageText = row.Text(7);
  m.MessageId = row.Text(8);
  m.Kind = static_cast<int>(row.Int(9));
  m.State = row.Text(10);
  m.RawText = row.Text(11);
  m.Line1 = row.Text(12);
  m.Line2 = row.Text(13);
  m.Line3 = row.Text(14);
  m.PrintState = static_cast<TPrintState>(row.Int(15));
  m.JobId = row.Int(16);
  m.FullTextPrinted = row.Int(17) == kFullTextPrinted;
  m.FullTextWanted = !row.IsNull(18);
  m.FullText = row.Text(18);
  m.SpoolerJob = row.Int(19);
  m.Answered = row.Text(20);
  m.Alarm = static_cast<TAlarmState>(row.Int(21));
  m.AlarmKind = static_cast<int>(row.Int(22));
  m.AcknowledgedBy = row.Text(23);
  m.AcknowledgedWhere = row.Text(24);
  m.AcknowledgedUtc = row.Real(25);
  m.NwsEvent = row.Text(26);
  m.NwsAreas = row.Text(27);
  m.NwsExpiresUtc = row.Real(28);
  m.NwsState = static_cast<TNwsState>(row.Int(29));
  m.NwsWords = row.Text(30);
  return m;
}

}  // namespace

TMessageStore::TMessageStore(const std::string& path) : FPath(path) {
  OpenFile();
}

void TMessageStore::Reopen() {
  const std::lock_guard oneAtATime(FUse);
  Close();
  OpenFile();
}

void TMessageStore::Close() {
  const std::lock_guard oneAtATime(FUse);
  FStatements.reset();
  // The checkpointer's connection goes first: the writer's close, as the last one, copies the
  // whole log into the store and removes it.
  if (FDb) sqlite3_wal_hook(FDb, nullptr, nullptr);
  FCheckpointer.reset();
  sqlite3_close(FDb);  // rolls back an open transaction
  FDb = nullptr;
  FDbFile = FWalFile = {};
}

TMessageStore::TStatements& TMessageStore::S() const {
  if (!FStatements)
    throw EMessageStoreError(StoreError(FPath, "the store is not open"), EMessageStoreError::ekStorage);
  return *FStatements;
}

void TMessageStore::OpenFile() {
  const std::string& path = FPath;
  // SQLite makes its log and index with the store's mode; an empty file counts as a new store.
  CreatePrivateFile(path);
  // The last connection's close folds the write-ahead log into the store and removes it: a
  // log still there means the last run did not close the store.
  std::error_code noLog;
  const bool unclean = std::filesystem::exists(path + "-wal", noLog);
  FDb = OpenConnection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
  try {
    // Only reads until the file is known to be ours (or empty): nothing else is ever changed.
    const std::int64_t appId = QueryInt(FDb, FPath, "PRAGMA application_id");
    const std::int64_t version = QueryInt(FDb, FPath, "PRAGMA user_version");
    const std::int64_t objects = QueryInt(FDb, FPath, "SELECT count(*) FROM sqlite_schema");
    const bool empty = appId == 0 && version == 0 && objects == 0;
    if (!empty && (appId != kApplicationId || version < 1))
      throw EMessageStoreError(StoreError(path, "not a message store"), EMessageStoreError::ekDamaged);
    if (version > kSchemaVersion)
      throw EMessageStoreError(StoreError(path, "a message store of a later version (" +
                                                    std::to_string(version) + "), this program reads " +
                                                    std::to_string(kSchemaVersion)));
    if (!empty && unclean) {
      // A file damaged by a crash of the disk or the system fails here rather than on some
      // later write. After a clean end the start reads no more than it needs: damage found
      // later is repaired then (TMessageStore::RepairInPlace, CarryOver).
      const std::string check = QueryText(FDb, FPath, "PRAGMA quick_check(1)");
      if (check != "ok")
        throw EMessageStoreError(StoreError(path, "fails its integrity check: " + check),
                                 EMessageStoreError::ekDamaged);
    }

    // FULL: in WAL mode every commit syncs the WAL, so an accepted message survives a power cut.
    if (sqlite3_db_readonly(FDb, "main") == 1)
      throw EMessageStoreError(StoreError(path, "attempt to write a readonly database"),
                               EMessageStoreError::ekStorage);
    if (QueryText(FDb, FPath, "PRAGMA journal_mode = WAL") != "wal")
      throw EMessageStoreError(StoreError(path, "cannot keep a write-ahead log here"),
                               EMessageStoreError::ekStorage);
    Exec(FDb, FPath, "PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON");
    // A log that grew past its usual size (a reader holding it, a backlog) is cut back to it
    // when it starts over.
    Exec(FDb, FPath,
         ("PRAGMA journal_size_limit = " + std::to_string(TCheckpointer::kLogLimitBytes)).c_str());
    // No mapped pages here: every page an insert touched stayed resident, so the program grew
    // with the file. The history's search maps the file on its own connection (THistoryReader).

    if (empty) {
      Exec(FDb, FPath, "BEGIN IMMEDIATE");
      // Another program may have made the store between the check and the lock.
      if (QueryInt(FDb, FPath, "SELECT count(*) FROM sqlite_schema") == 0) {
        Exec(FDb, FPath, kSchema);
        Exec(FDb, FPath,
             ("PRAGMA application_id = " + std::to_string(kApplicationId) +
              "; PRAGMA user_version = " + std::to_string(kSchemaVersion))
                 .c_str());
      }
      Exec(FDb, FPath, "COMMIT");
    }
    // Later versions migrate here, one step per version inside a transaction.
    Exec(FDb, FPath, "BEGIN IMMEDIATE");
    Exec(FDb, FPath, kHistoryIndexes);
    const bool hadLogged = HasColumn(FDb, FPath, "messages", "logged");
    AddLaterColumns(FDb, FPath);
    MakeLoggedUpto(FDb, FPath, !hadLogged);
    // The text index: made at once, however many messages there are; those already kept are
    // added later, a few at a time.
    MakeTextIndex(FDb, FPath);
    Exec(FDb, FPath, "COMMIT");
    LeaveUnreadableTextIndex(FDb, FPath);
    FNotIndexed = TextNotIndexed(FDb, FPath);
    RememberFiles();
    // Checkpoints leave the committing thread; without a second connection the writer keeps
    // SQLite's automatic checkpoint.
    FCheckpointer = std::make_unique<TCheckpointer>(path);
    if (FCheckpointer->Ready())
      sqlite3_wal_hook(FDb, &TCheckpointer::AfterCommit, FCheckpointer.get());
    else
      FCheckpointer.reset();
    try {
      FStatements = std::make_unique<TStatements>(FDb, FPath);
      FLoggedCheckAt = QueryInt(FDb, FPath, "SELECT id FROM logged_upto") + kLoggedUptoStep;
    } catch (const EMessageStoreError& e) {
      // A store that says it is ours but lacks its tables.
      if (e.Kind() != EMessageStoreError::ekRefused) throw;
      throw EMessageStoreError(e.what(), EMessageStoreError::ekDamaged);
    }
  } catch (...) {
    Close();
    throw;
  }
}

TMessageStore::~TMessageStore() {
  Close();
}

std::int64_t TMessageStore::Add(const TStoredMessage& m, const TNwsEnding& ending) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  const std::int64_t id = InsertMessage(m);
  EndEarlierAlerts(m, id, ending);
  t.Commit();
  ++FNotIndexed;
  IndexWhenDue();
  return id;
}

std::int64_t TMessageStore::InsertMessage(const TStoredMessage& m) {
  TUse use(S().AddMessage);
  use.Bind(m.LocalTime).Bind(m.UtcTime).Bind(m.Source).Bind(m.Destination).Bind(m.Path).Bind(m.Addressee);
  use.Bind(m.MessageText).Bind(m.MessageId).Bind(m.Kind).Bind(m.State).Bind(m.RawText);
  use.Bind(m.Line1).Bind(m.Line2).Bind(m.Line3);
  if (m.FullTextWanted)
    use.Bind(m.FullText);
  else
    use.BindNull();
  use.Bind(m.Answered);
  use.Bind(StoredNumber(m.Alarm)).Bind(m.Alarm == asNone ? 0 : m.AlarmKind);
  // Messages that are no alert leave the words' columns empty (NULL), as older builds do.
  const auto textOrNull = [&use](const std::string& text) -> TUse& {
    return text.empty() ? use.BindNull() : use.Bind(text);
  };
  textOrNull(m.NwsEvent);
  textOrNull(m.NwsAreas);
  if (m.NwsExpiresUtc != 0)
    use.Bind(m.NwsExpiresUtc);
  else
    use.BindNull();
  textOrNull(m.NwsWords);
  use.Run();
  return sqlite3_last_insert_rowid(FDb);
}

void TMessageStore::EndEarlierAlerts(const TStoredMessage& m, std::int64_t before, const TNwsEnding& ending) {
  if (ending.Makes == nsLive || m.NwsEvent.empty()) return;
  TUse end(S().EndNwsAlerts);
  end.Bind(StoredNumber(ending.Makes)).Bind(kStoredNwsAlert).Bind(m.UtcTime - kNwsEndingDays).Bind(before);
  end.Bind(m.Source).Bind(m.NwsEvent).Bind(m.NwsAreas).Bind(m.MessageId).Bind(ending.Category);
  end.Bind(ending.Spared).Run();
}

void TMessageStore::EndNwsAlerts(const TStoredMessage& by, const TNwsEnding& ending) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  EndEarlierAlerts(by, std::numeric_limits<std::int64_t>::max(), ending);
  t.Commit();
}

void TMessageStore::SetFullText(std::int64_t id, const std::string& text, bool toPrint) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TUse use(S().SetFullText);
  use.Bind(text)
      .Bind(static_cast<std::int64_t>(toPrint ? kFullTextUnprinted : kFullTextNotPrinted))
      .Bind(id)
      .Run();
  if (use.Changes() == 0) throw EMessageStoreError(StoreError(FPath, "no message " + std::to_string(id)));
  t.Commit();
}

void TMessageStore::SetAnswered(std::int64_t id, const std::string& answered) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TUse use(S().SetAnswered);
  use.Bind(answered).Bind(id).Run();
  if (use.Changes() == 0) throw EMessageStoreError(StoreError(FPath, "no message " + std::to_string(id)));
  t.Commit();
}

int TMessageStore::AcknowledgeAlarms(const std::vector<std::int64_t>& ids, const std::string& by,
                                     const std::string& where, double utc) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  int acknowledged = 0;
  for (const std::int64_t id : ids) {
    TUse use(S().AcknowledgeAlarm);
    use.Bind(StoredNumber(asAcknowledged))
        .Bind(by)
        .Bind(where)
        .Bind(utc)
        .Bind(id)
        .Bind(StoredNumber(asSounding));
    use.Run();
    acknowledged += use.Changes();
  }
  t.Commit();
  return acknowledged;
}

std::vector<TStoredMessage> TMessageStore::Sounding() const {
  const std::lock_guard oneAtATime(FUse);
  std::vector<TStoredMessage> result;
  TUse use(S().Sounding);
  use.Bind(StoredNumber(asSounding));
  while (use.Step()) result.push_back(ReadMessage(use));
  return result;
}

std::vector<TStoredMessage> TMessageStore::Listed() const {
  const std::lock_guard oneAtATime(FUse);
  std::vector<TStoredMessage> result;
  TUse use(S().Listed);
  while (use.Step()) result.push_back(ReadMessage(use));
  return result;
}

std::vector<TStoredMessage> TMessageStore::FullTextsUnprinted() const {
  const std::lock_guard oneAtATime(FUse);
  std::vector<TStoredMessage> result;
  TUse use(S().FullTextsUnprinted);
  while (use.Step()) result.push_back(ReadMessage(use));
  return result;
}

std::vector<TStoredMessage> TMessageStore::Messages(const std::vector<std::int64_t>& ids) const {
  const std::lock_guard oneAtATime(FUse);
  std::vector<TStoredMessage> result;
  TTransaction t(S(), false);
  for (const std::int64_t id : ids) {
    TUse use(S().Message);
    if (use.Bind(id).Step()) result.push_back(ReadMessage(use));
  }
  t.Commit();
  return result;
}

TStoredMessage TMessageStore::Message(std::int64_t id) const {
  const std::lock_guard oneAtATime(FUse);
  TUse use(S().Message);
  if (!use.Bind(id).Step()) throw EMessageStoreError(StoreError(FPath, "no message " + std::to_string(id)));
  return ReadMessage(use);
}

std::int64_t TMessageStore::BeginJob(TJobKind kind, const std::vector<std::int64_t>& messages,
                                     const std::string& printer, double utcTime, const std::string& document,
                                     const std::string& token) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  {
    TUse use(S().AddJob);
    use.Bind(static_cast<int>(kind)).Bind(utcTime).Bind(printer).Bind(document).Bind(token).Run();
  }
  const std::int64_t job = sqlite3_last_insert_rowid(FDb);
  std::int64_t position = 0;
  for (const std::int64_t id : messages) {
    // The foreign key refuses an unknown message.
    TUse(S().AddJobMessage).Bind(job).Bind(position++).Bind(id).Run();
    if (kind == jkList) TUse(S().PutInJob).Bind(job).Bind(id).Run();
  }
  t.Commit();
  return job;
}

void TMessageStore::AddToJob(std::int64_t job, const std::vector<std::int64_t>& messages,
                             std::int64_t position) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  for (const std::int64_t id : messages) {
    TUse(S().AddJobMessage).Bind(job).Bind(position++).Bind(id).Run();
    TUse(S().PutInJob).Bind(job).Bind(id).Run();
  }
  t.Commit();
}

void TMessageStore::SetJobDocument(std::int64_t job, const std::string& document) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TUse use(S().SetJobDocument);
  use.Bind(document).Bind(job).Run();
  if (use.Changes() == 0) throw EMessageStoreError(StoreError(FPath, "no job " + std::to_string(job)));
  t.Commit();
}

void TMessageStore::SetSpoolerJob(std::int64_t job, std::int64_t spoolerJob) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TUse use(S().SetSpoolerJob);
  use.Bind(spoolerJob).Bind(job).Run();
  if (use.Changes() == 0) throw EMessageStoreError(StoreError(FPath, "no job " + std::to_string(job)));
  t.Commit();
}

namespace {

std::pair<TJobKind, TJobState> JobKindAndState(TStoreStatements& s, std::int64_t job) {
  TUse use(s.JobState);
  if (!use.Bind(job).Step()) throw EMessageStoreError(StoreError(s.Path, "no job " + std::to_string(job)));
  return {static_cast<TJobKind>(use.Int(0)), static_cast<TJobState>(use.Int(1))};
}

void FailOne(TStoreStatements& s, std::int64_t job, const std::string& failure) {
  const auto [kind, state] = JobKindAndState(s, job);
  if (state == jsCompleted)
    throw EMessageStoreError(StoreError(s.Path, "job " + std::to_string(job) + " was completed"));
  TUse(s.SetJobState).Bind(static_cast<int>(jsFailed)).Bind(failure).Bind(job).Run();
  if (kind == jkList) TUse(s.ReturnList).Bind(job).Run();
}

}  // namespace

void TMessageStore::CompleteJob(std::int64_t job) {
  CompleteJob(job, 0);
}

void TMessageStore::PrintJobPiece(std::int64_t job, std::int64_t from, std::int64_t to) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TUse(S().PrintListPiece).Bind(job).Bind(from).Bind(to).Run();
  t.Commit();
}

void TMessageStore::CompleteJob(std::int64_t job, std::int64_t from) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  const TJobKind kind = JobKindAndState(S(), job).first;
  TUse(S().SetJobState).Bind(static_cast<int>(jsCompleted)).BindNull().Bind(job).Run();
  if (kind == jkList && from > 0)
    TUse(S().PrintListPiece).Bind(job).Bind(from).Bind(std::numeric_limits<std::int64_t>::max()).Run();
  else
    TUse(kind == jkList ? S().PrintList : S().PrintFullText).Bind(job).Run();
  t.Commit();
}

void TMessageStore::FailJob(std::int64_t job, const std::string& failure) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  FailOne(S(), job, failure);
  t.Commit();
}

namespace {

TStoredJob ReadJob(TStoreStatements& s, const TUse& row) {
  TStoredJob job;
  job.Id = row.Int(0);
  job.Kind = static_cast<TJobKind>(row.Int(1));
  job.UtcTime = row.Real(2);
  job.Printer = row.Text(3);
  job.SpoolerJob = row.Int(4);
  job.State = static_cast<TJobState>(row.Int(5));
  job.Failure = row.Text(6);
  job.Document = row.Text(7);
  job.Token = row.Text(8);
  TUse messages(s.JobMessages);
  messages.Bind(job.Id);
  while (messages.Step()) job.Messages.push_back(messages.Int(0));
  return job;
}

}  // namespace

std::vector<TStoredJob> TMessageStore::PendingJobs() const {
  const std::lock_guard oneAtATime(FUse);
  std::vector<TStoredJob> result;
  TTransaction t(S(), false);
  {
    TUse use(S().PendingJobs);
    while (use.Step()) result.push_back(ReadJob(S(), use));
  }
  t.Commit();
  return result;
}

TStoredJob TMessageStore::Job(std::int64_t id) const {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), false);
  TStoredJob job;
  {
    TUse use(S().Job);
    if (!use.Bind(id).Step()) throw EMessageStoreError(StoreError(FPath, "no job " + std::to_string(id)));
    job = ReadJob(S(), use);
  }
  t.Commit();
  return job;
}

std::optional<TStoredJob> TMessageStore::JobByNumber(std::int64_t number) const {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), false);
  std::optional<TStoredJob> job;
  {
    TUse use(S().JobByNumber);
    if (use.Bind(number).Step()) job = ReadJob(S(), use);
  }
  t.Commit();
  return job;
}

int TMessageStore::ClearListed(std::int64_t fromId, std::int64_t keep) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TUse use(S().Clear);
  use.Bind(fromId).Bind(keep).Run();
  const int cleared = use.Changes();
  TUse(S().ClearInJob).Bind(fromId).Bind(keep).Run();
  t.Commit();
  return cleared;
}

std::int64_t TMessageStore::LastMessageId() const {
  const std::lock_guard oneAtATime(FUse);
  S();
  // AUTOINCREMENT never gives an id again, so the sequence rather than the largest kept id.
  return QueryInt(FDb, FPath,
                  "SELECT coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'messages'), 0)");
}

bool TMessageStore::HasRepeatSince(const TStoredMessage& m, bool byNumber, double utcFrom,
                                   double utcBefore) const {
  const std::lock_guard oneAtATime(FUse);
  if (byNumber && m.MessageId.empty()) return false;
  // upper(source) takes the history's index; few rows share a sender.
  TStmt stmt(FDb, FPath,
             byNumber
                 ? "SELECT 1 FROM messages WHERE upper(source) = upper(?1) AND message_no = ?2"
                   " AND utc_time >= ?3 AND utc_time < ?4 AND sent_id = 0 LIMIT 1"
                 : "SELECT 1 FROM messages WHERE upper(source) = upper(?1) AND trim(addressee) = trim(?2)"
                   " AND message_text = ?5 AND utc_time >= ?3 AND utc_time < ?4 AND sent_id = 0 LIMIT 1");
  S();
  TUse use(stmt);
  use.Bind(m.Source).Bind(byNumber ? m.MessageId : m.Addressee).Bind(utcFrom).Bind(utcBefore);
  if (!byNumber) use.Bind(m.MessageText);
  return use.Step();
}

int TMessageStore::FailPendingWithoutSpooler(const std::string& failure) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  std::vector<std::int64_t> jobs;
  {
    TUse use(S().PendingWithoutSpooler);
    while (use.Step()) jobs.push_back(use.Int(0));
  }
  for (const std::int64_t job : jobs) FailOne(S(), job, failure);
  t.Commit();
  return static_cast<int>(jobs.size());
}

std::vector<TStoredMessage> TMessageStore::Unlogged() const {
  const std::lock_guard oneAtATime(FUse);
  std::vector<TStoredMessage> result;
  TUse use(S().Unlogged);
  while (use.Step()) result.push_back(ReadMessage(use));
  return result;
}

void TMessageStore::MarkLogged(const std::vector<std::int64_t>& ids) {
  const std::lock_guard oneAtATime(FUse);
  if (ids.empty()) return;
  TTransaction t(S(), true);
  std::int64_t last = 0;
  for (const std::int64_t id : ids) {
    TUse(S().MarkLogged).Bind(id).Run();
    last = std::max(last, id);
  }
  if (last >= FLoggedCheckAt) {
    // From the mark to the first message still unlogged: one page written every
    // kLoggedUptoStep messages, and a scan of as many.
    TUse ask(S().LoggedUpto);
    ask.Step();
    const std::int64_t upto = ask.Int(0);
    TUse(S().MoveLoggedUpto).Bind(upto).Run();
    FLoggedCheckAt = std::max(upto, last) + kLoggedUptoStep;
  }
  t.Commit();
}

int TMessageStore::Purge(double utcCutoff) {
  const std::lock_guard oneAtATime(FUse);
  utcCutoff -= TTrustedClock::Shared().AheadDays();
  TTransaction t(S(), true);
  TUse messages(S().PurgeMessages);
  messages.Bind(utcCutoff).Run();
  const int purged = messages.Changes();
  TUse(S().PurgeJobs).Bind(utcCutoff).Run();
  // The desk's own messages go with the traffic of their days, but never one still being sent.
  TStmt sent(FDb, FPath, "DELETE FROM sent_messages WHERE created_utc < ?1 AND state <> ?2");
  TUse(sent).Bind(utcCutoff).Bind(StoredNumber(ssSending)).Run();
  t.Commit();
  return purged;
}

TMessageStore::TFileId TMessageStore::FileIdOf(const std::string& path) {
#ifndef _WIN32
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0)
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
#else
  (void)path;
#endif
  return {};
}

void TMessageStore::RememberFiles() {
  // The log exists from the first write on and keeps its file while the store is open.
  FDbFile = FileIdOf(FPath);
  FWalFile = FileIdOf(FPath + "-wal");
}

std::string TMessageStore::Displaced() const {
  const std::lock_guard oneAtATime(FUse);
  const auto check = [](const TFileId& open, const std::string& path) -> std::string {
    if (open == TFileId{}) return {};
    const TFileId now = FileIdOf(path);
    if (now == open) return {};
    return now == TFileId{} ? "deleted" : "replaced";
  };
  if (std::string db = check(FDbFile, FPath); !db.empty()) return db;
  if (const std::string wal = check(FWalFile, FPath + "-wal"); !wal.empty())
    return "its write-ahead log " + wal;
  return {};
}

void TMessageStore::CopyTo(const std::string& target) const {
  const std::lock_guard oneAtATime(FUse);
  S();
  sqlite3* dest = nullptr;
  CreatePrivateFile(target);
  int rc = sqlite3_open_v2(target.c_str(), &dest, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_backup* backup = sqlite3_backup_init(dest, "main", FDb, "main");
    if (backup == nullptr) {
      rc = sqlite3_extended_errcode(dest);
    } else {
      rc = sqlite3_backup_step(backup, -1);
      const int finish = sqlite3_backup_finish(backup);
      rc = rc == SQLITE_DONE ? finish : rc;
    }
  }
  sqlite3_close(dest);
  if (rc != SQLITE_OK) throw EMessageStoreError(StoreError(target, sqlite3_errstr(rc)), KindOfCode(rc));
}

void TMessageStore::Batch(const std::function<void()>& changes) {
  const std::lock_guard oneAtATime(FUse);
  sqlite3* db = S().Db;
  Exec(db, FPath, "BEGIN IMMEDIATE");
  try {
    changes();
    Exec(db, FPath, "COMMIT");
  } catch (...) {
    if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::uint64_t TMessageStore::Checkpoints() const {
  return FCheckpointer ? FCheckpointer->Done() : 0;
}

TMessageStore::TCheckpointsAsked TMessageStore::CheckpointsAsked() const {
  if (!FCheckpointer) return {};
  return {FCheckpointer->Requests(), FCheckpointer->WriterCheckpoints()};
}

bool TMessageStore::TruncateLog() {
  const std::lock_guard oneAtATime(FUse);
  return FDb && sqlite3_get_autocommit(FDb) &&
         sqlite3_wal_checkpoint_v2(FDb, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace qm
